#include <algorithm>
#include <atomic>
#include <bit>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "engine/internal/Context.h"
#include "engine/internal/Effects.h"
#include "engine/internal/RowLoop.h"
#include "engine/internal/Team.h"

#if defined(CORVANEL_SSE2)
#include <emmintrin.h>
#endif

namespace {

constexpr double kDegreesToRadians = 0.0174533;  // as the effect has always drawn it
constexpr double kInverseRandomMax = 1.0 / 32767.0;

// exp(x) for x in [-1, 0] within 1e-12 of the exact value: exp(-n/512) from a table
// (the library's exp, good to a few units in the last place) times exp(r) for the rest
// r = x + n/512 in (-1/512, 0], by its Taylor series to degree 3, whose remainder is below
// (1/512)^4 / 4! < 7e-13.
class FastExp {
 public:
  FastExp() {
    for (int32_t n = 0; n <= kSteps; ++n) table_[n] = std::exp(-n / double(kSteps));
  }
  double operator()(double x) const {
    const int32_t n = int32_t(x * -kSteps);  // 0..512 for x in [-1, 0]
    const double r = x + n * (1.0 / kSteps);
    double p = 1.0 / 6.0;
    p = p * r + 0.5;
    p = p * r + 1.0;
    p = p * r + 1.0;
    return table_[n] * p;
  }

  // The same for four values at once, two to a register where SSE2 is at hand: the same
  // operations in the same order, so the same results.
  void Four(const double in[4], double out[4]) const {
#if defined(CORVANEL_SSE2)
    for (int h = 0; h < 4; h += 2) {
      // From the two values rather than from memory: they were just stored one by one,
      // and one 16-byte load of two 8-byte stores waits for both to retire.
      const __m128d x = _mm_set_pd(in[h + 1], in[h]);
      const __m128i n = _mm_cvttpd_epi32(_mm_mul_pd(x, _mm_set1_pd(-kSteps)));
      const __m128d r = _mm_add_pd(x, _mm_mul_pd(_mm_cvtepi32_pd(n), _mm_set1_pd(1.0 / kSteps)));
      __m128d p = _mm_set1_pd(1.0 / 6.0);
      p = _mm_add_pd(_mm_mul_pd(p, r), _mm_set1_pd(0.5));
      p = _mm_add_pd(_mm_mul_pd(p, r), _mm_set1_pd(1.0));
      p = _mm_add_pd(_mm_mul_pd(p, r), _mm_set1_pd(1.0));
      const int32_t n0 = _mm_cvtsi128_si32(n);
      const int32_t n1 = _mm_cvtsi128_si32(_mm_srli_si128(n, 4));
      _mm_storeu_pd(out + h, _mm_mul_pd(_mm_set_pd(table_[n1], table_[n0]), p));
    }
#else
    for (int i = 0; i < 4; ++i) out[i] = (*this)(in[i]);
#endif
  }

 private:
  static constexpr int32_t kSteps = 512;
  double table_[kSteps + 1];
};

// A constant of the program, filled before main.
const FastExp kFastExp;

// The splat values trunc(colour[k] * w) for w = exp(x), exactly as with the library's exp,
// in 32-bit integers: W = floor(fast * 2^23), so that colour * fast lies in
// [P, P + colour) / 2^23 for P = colour * W (below 2^31). The fast value lies within 1e-12
// of exp(x) and the library's within a few units in the last place, so the plain product
// colour * w (rounded) lies within 3e-10 (below 1 / 2^23) of colour * fast. Where the low 23
// bits of P keep that far from both ends of their range, the plain product truncates to
// P >> 23 as well. False where they do not (rarely, and always at w = 1): there the library
// must decide.
inline bool FastSplatValues(const int32_t colour[3], double fast, int32_t v[3]) {
  constexpr int32_t kOne = int32_t(1) << 23;
  bool clear = true;
  const int32_t W = int32_t(fast * kOne);  // fast is at most 1 + 1e-12
  for (int k = 0; k < 3; ++k) {
    const int32_t P = colour[k] * W;
    v[k] = P >> 23;
    const int32_t low = P & (kOne - 1);
    clear &= (colour[k] == 0) | (uint32_t(low - 1) <= uint32_t(kOne - 258));  // 1..2^23 - 257
  }
  return clear;
}

inline void LibrarySplatValues(const int32_t colour[3], double x, int32_t v[3]) {
  const double w = std::exp(x);
  for (int k = 0; k < 3; ++k) v[k] = int32_t(colour[k] * w);
}

inline void Deposit(uint8_t* pixel, const int32_t v[3]) {
  for (int k = 0; k < 3; ++k) {
    const int32_t c = pixel[k];
    pixel[k] = uint8_t(c + ((v[k] * (255 - c)) >> 8));
  }
}

// Most splats of a dense star land on samples that can no longer change: a sample p moves
// only if v * (255 - p) >= 256, and v never exceeds the colour value c, since w = exp(x) <= 1
// for x <= 0 (the library's exp, and the fast one's W <= 2^23). So where every sample of
// the four pixels lies at or above OpenBelow(c) of its colour value, the splat changes
// nothing and needs no weights. A fainter colour opens no more samples than a brighter one.
constexpr int32_t OpenBelow(int32_t c) {
  return c <= 0 ? 0 : 256 - (256 + c - 1) / c;
}

constexpr bool OpenBelowIsExact() {
  for (int32_t c = 0; c < 256; ++c)
    for (int32_t p = 0; p < 256; ++p)
      if ((c * (255 - p) >= 256) != (p < OpenBelow(c))) return false;
  return true;
}
static_assert(OpenBelowIsExact());

struct OpenBelowTable {
  uint8_t value[256];
  constexpr OpenBelowTable() : value() {
    for (int32_t c = 0; c < 256; ++c) value[c] = uint8_t(OpenBelow(c));
  }
};
constexpr OpenBelowTable kOpenBelow;

// Whether a splat of `colour` could change any sample of the four pixels around a point,
// the first of them at `first`, with kPlanes samples per pixel.
template <int32_t kPlanes>
class Gate {
 public:
  explicit Gate(const int32_t colour[3]) {
    const uint32_t o0 = kOpenBelow.value[colour[0]], o1 = kOpenBelow.value[colour[1]],
                   o2 = kOpenBelow.value[colour[2]];
#if defined(CORVANEL_SSE2)
    // The bounds by lane of Row for both rows; 0 (nothing open) on unused and fourth samples.
    const uint32_t low =
        kPlanes == 3 ? o0 | o1 << 8 | o2 << 16 | o0 << 24 : o0 | o1 << 8 | o2 << 16;
    const uint32_t high = kPlanes == 3 ? o1 | o2 << 8 : low;
    open_ = _mm_set_epi32(int32_t(high), int32_t(low), int32_t(high), int32_t(low));
#else
    open_[0] = o0;
    open_[1] = o1;
    open_[2] = o2;
#endif
  }

  bool Open(const uint8_t* first, size_t stride) const {
#if defined(CORVANEL_SSE2)
    const __m128i samples = _mm_unpacklo_epi64(Row(first), Row(first + stride));
    const __m128i shut = _mm_cmpeq_epi8(_mm_subs_epu8(open_, samples), _mm_setzero_si128());
    return _mm_movemask_epi8(shut) != 0xFFFF;
#else
    const uint8_t* const rows[2] = {first, first + stride};
    for (const uint8_t* row : rows)
      for (int32_t n = 0; n < 2 * kPlanes; n += kPlanes)
        for (int32_t k = 0; k < 3; ++k)
          if (row[n + k] < open_[k]) return true;
    return false;
#endif
  }

 private:
#if defined(CORVANEL_SSE2)
  // Pixels ix and ix + 1 of one row in the low eight bytes (with three planes, two zeros
  // after them), reading no byte beyond the second pixel.
  static __m128i Row(const uint8_t* p) {
    if constexpr (kPlanes == 4) {
      return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    } else {
      uint32_t four;
      uint16_t two;
      std::memcpy(&four, p, 4);
      std::memcpy(&two, p + 4, 2);
      return _mm_insert_epi16(_mm_cvtsi32_si128(int32_t(four)), two, 2);
    }
  }
  __m128i open_;
#else
  uint32_t open_[3];
#endif
};

// The output as the splats write it, read from the frame once: the splats' byte stores
// could otherwise alias the frame and have it read again at every point.
struct Canvas {
  uint8_t* output;
  size_t stride;
  size_t planes;

  static Canvas Of(const Frame& f) { return {f.output, size_t(f.outRowBytes), size_t(f.planes)}; }
};

// The four pixels around a point at or right of column 0 and at or below row 0, whose
// truncated position is (ix, iy), in the order the splat visits them.
struct Corners {
  uint8_t* pixel[4];

  Corners(const Canvas& canvas, size_t planes, int32_t ix, int32_t iy) {
    uint8_t* const first = canvas.output + size_t(iy) * canvas.stride + size_t(ix) * planes;
    pixel[0] = first;
    pixel[1] = first + planes;
    pixel[2] = first + canvas.stride + planes;
    pixel[3] = first + canvas.stride;
  }
};

// SplatPoint with its colour values already masked, for a point (px, py) at or right of
// column 0 and at or below row 0, truncated to (ix, iy). Then fx and fy lie in [0, 1) and
// gx and gy in [-1, 0] (each difference is exact or rounds towards a representable bound),
// so every exponent lies in [-1, 0], where the fast exponential holds.
inline void Splat(const Corners& corners, double px, double py, int32_t ix, int32_t iy,
                  const int32_t colour[3], int32_t cornerMask = 0xF) {
  const double fx = px - ix;
  const double fy = py - iy;
  const double gx = px - (ix + 1);
  const double gy = py - (iy + 1);
  // All four weights before any deposit, so that the four exponentials overlap.
  const double x[4] = {-0.5 * (fx * fx + fy * fy), -0.5 * (gx * gx + fy * fy),
                       -0.5 * (gx * gx + gy * gy), -0.5 * (fx * fx + gy * gy)};
  double fast[4];
  kFastExp.Four(x, fast);
  int32_t v[4][3];
  bool clear = true;
  for (int n = 0; n < 4; ++n) clear &= FastSplatValues(colour, fast[n], v[n]);
  if (!clear) {
    for (int n = 0; n < 4; ++n)
      if (!FastSplatValues(colour, fast[n], v[n])) LibrarySplatValues(colour, x[n], v[n]);
  }
  for (int n = 0; n < 4; ++n)
    if (cornerMask >> n & 1) Deposit(corners.pixel[n], v[n]);
}

// One point of a streak inside the frame: (px, py), truncated to (ix, iy), D its squared
// distance from the centre, truncated. `rows`: bit 0 to draw on row iy, bit 1 on row iy + 1
// (a band of rows drawn by one thread may hold only one of them).
template <int32_t kPlanes>
inline void StreakPoint(const Canvas& canvas, const Gate<kPlanes>& full, double px, double py,
                        int32_t ix, int32_t iy, int32_t D, double S, const int32_t colour[3],
                        int32_t rows = 3) {
  const Corners corners(canvas, kPlanes, ix, iy);
  // The gates look at the rows drawn on only: one row twice where there is one.
  const uint8_t* first = rows == 2 ? corners.pixel[3] : corners.pixel[0];
  const size_t stride = rows == 3 ? canvas.stride : 0;
  if (!full.Open(first, stride)) return;
  const double fade = 1 - D / S;
  // Faded colours stay within 0..255: no masking needed.
  const int32_t faded[3] = {int32_t(colour[0] * fade), int32_t(colour[1] * fade),
                            int32_t(colour[2] * fade)};
  if (Gate<kPlanes>(faded).Open(first, stride))
    Splat(corners, px, py, ix, iy, faded, rows == 3 ? 0xF : rows == 1 ? 0x3 : 0xC);
}

// The rows a streak may draw on: every row, or rows first to end - 1 of a band.
struct StreakRows {
  int32_t first, end;
  bool band;

  // Whether a half streak from row y along sy can reach the band at all (its points' rows
  // never move against sy).
  bool Reached(int32_t y, double sy) const {
    if (!band) return true;
    if (sy > 0) return end > y;
    if (sy < 0) return first <= y + 1;
    return first <= y + 1 && end > y;
  }
  // The steps from row y along sy that surely stay short of the band, for a half streak of
  // squared length S = root^2, or -1 where it cannot reach the band. Points lie less than
  // root + 1 steps from the centre (the squared distance, truncated, below S); the band's
  // nearest row less two over |sy| steps surely stay short of it.
  int32_t Lead(int32_t y, double sy, double root) const {
    if (!band) return 0;
    if (!Reached(y, sy)) return -1;
    const double gap = sy > 0 ? first - 2 - y : sy < 0 ? y - end - 1 : 0;
    if (!(gap > 0)) return 0;
    const double steps = gap / std::fabs(sy) - 2;
    if (steps > root + 1) return -1;
    const double lead = std::min(steps, root);
    return lead > 0 ? int32_t(lead) : 0;
  }
  // The last step from row y along sy that may still lie on the band (its points' heights
  // move by sy a step, and by far less than a step's rounding from one to the next).
  int32_t LastStep(int32_t y, double sy) const {
    if (!band || sy == 0) return INT32_MAX;
    const double steps = (sy > 0 ? end - y : y - first + 1) / std::fabs(sy) + 2;
    return steps < 2e9 ? int32_t(steps) : INT32_MAX;
  }
  // The heights a point may have to draw on the band inside the frame's (top, bottom): at or
  // below first - 1, whose row below is the band's first, and above end.
  double Top(double top) const {
    return band && first - 1 > top ? std::nextafter(double(first - 1), -1.0) : top;
  }
  double Bottom(double bottom) const { return band && end < bottom ? double(end) : bottom; }
};

// One half of a streak: from the centre along (sx, sy) until the squared distance reaches S,
// on an output of kPlanes samples per pixel, its first `lead` points (StreakRows::Lead) not
// looked at. `full` is the gate of the colour itself: faded colours never exceed it, so where
// it can change nothing, neither can they.
template <int32_t kPlanes>
void WalkStreak(const Frame& f, const Gate<kPlanes>& full, int32_t x, int32_t y, double sx,
                double sy, double S, const int32_t colour[3], const StreakRows& rows,
                int32_t lead) {
  // The frame in locals, its rows cut to the band's: the splats' byte stores could otherwise
  // alias it.
  const double left = f.firstColumn, right = f.width - 1;
  const double top = rows.Top(f.firstRow), bottom = rows.Bottom(f.endRow - 1);
  const Canvas canvas = Canvas::Of(f);
  const int32_t last = rows.LastStep(y, sy);
  // Which of rows iy and iy + 1 a point draws on (bits 0 and 1), from locals: the bounds
  // above keep its row from the band's first less one to its last, so only those two draw
  // on one row alone. Read from `rows` at every point, this cost a band's walk a third more.
  const int32_t firstRow = rows.band ? rows.first : INT32_MIN;
  const int32_t lastRow = rows.band ? rows.end - 1 : INT32_MAX;
  auto rowsOf = [&](int32_t iy) { return (iy >= firstRow ? 1 : 0) | (iy < lastRow ? 2 : 0); };
#if defined(CORVANEL_SSE2)
  // Both coordinates in one register: each lane's sums, differences and products are the
  // scalar ones, and the frame's four bounds take one test. Most points of a dense image end
  // at the first gate, so the walk itself is most of the cost.
  const __m128d step = _mm_set_pd(sy, sx);
  const __m128d origin = _mm_set_pd(double(y), double(x));
  const __m128d low = _mm_set_pd(top, left), high = _mm_set_pd(bottom, right);
  __m128d p = origin;
  // Up to the band without looking at the points: the same points (AfterSteps). The squared
  // distance never falls along a streak, so a streak that ended before the band is found to
  // have ended at its first point looked at.
  if (lead > 0) p = _mm_set_pd(AfterSteps(double(y), sy, lead), AfterSteps(double(x), sx, lead));
  for (int32_t n = lead;; ++n, p = _mm_add_pd(p, step)) {
    const __m128d d = _mm_sub_pd(p, origin);
    const __m128d squares = _mm_mul_pd(d, d);
    const int32_t D = _mm_cvttsd_si32(_mm_add_sd(squares, _mm_unpackhi_pd(squares, squares)));
    if (!(D < S) || n > last) break;
    if (_mm_movemask_pd(_mm_and_pd(_mm_cmpgt_pd(p, low), _mm_cmplt_pd(p, high))) != 3) continue;
    const __m128i at = _mm_cvttpd_epi32(p);
    const int32_t iy = _mm_cvtsi128_si32(_mm_srli_si128(at, 4));
    const int32_t in = rowsOf(iy);
    StreakPoint(canvas, full, _mm_cvtsd_f64(p), _mm_cvtsd_f64(_mm_unpackhi_pd(p, p)),
                _mm_cvtsi128_si32(at), iy, D, S, colour, in);
  }
#else
  double px = x;
  double py = y;
  if (lead > 0) {
    px = AfterSteps(px, sx, lead);
    py = AfterSteps(py, sy, lead);
  }
  for (int32_t n = lead;; ++n, px = px + sx, py = py + sy) {
    const double dxc = px - x;
    const double dyc = py - y;
    const int32_t D = int32_t(dxc * dxc + dyc * dyc);
    if (!(D < S) || n > last) break;
    if (!(px > left && px < right && py > top && py < bottom)) continue;
    const int32_t in = rowsOf(int32_t(py));
    StreakPoint(canvas, full, px, py, int32_t(px), int32_t(py), D, S, colour, in);
  }
#endif
}

}  // namespace

double AfterSteps(double v, double s, int32_t n) {
  while (n > 0) {
    const double a = std::fabs(v);
    int32_t k = 0;
    double r = 0;
    if (n > 1 && a >= 1.0 && a < 0x1p52) {
      // Every double of a's binade [lo, 2 lo) is a multiple of its unit u, so while the exact
      // sums stay inside it, each addition adds s rounded to a multiple of u: the same r at
      // every step, unless s lies halfway between two multiples (then the rounding goes to
      // the even one and alternates). The multiples of r then add exactly.
      const double lo = std::bit_cast<double>(std::bit_cast<uint64_t>(a) & (uint64_t(0x7FF) << 52));
      const double u = lo * 0x1p-52;
      r = (v + s) - v;
      const double tail = std::fabs(s - r);
      if (tail < 0.5 * u) {
        if (r == 0) return v;  // s below half a unit: v never moves again
        const bool growing = (v > 0) == (r > 0);
        const double room = growing ? 2 * lo - u - a : a - lo - u;
        const double fit = room > 0 ? room / std::fabs(r) : 0;  // may be far beyond n
        k = fit - 1 >= n ? n : int32_t(fit) - 1;
      }
    }
    if (k < 1) {
      v = v + s;
      --n;
    } else {
      v = v + k * r;
      n -= k;
    }
  }
  return v;
}

void Directions::Take(int64_t a0, int64_t by) {
  if (count >= 0 && first == a0 && step == by) return;
  first = a0;
  step = by;
  count = 0;
  for (int64_t a = a0; a < a0 + 360; a += by, ++count) {
    const double theta = double(a) * kDegreesToRadians;
    cosine[count] = std::cos(theta);
    sine[count] = std::sin(theta);
  }
}

double SplatExp(double x) {
  const double in[4] = {x, x, x, x};
  double out[4];
  kFastExp.Four(in, out);
  return out[0] == kFastExp(x) ? out[3] : -1.0;  // the two forms must agree
}

void SplatPoint(const RenderContext& context, double px, double py, int32_t c0, int32_t c1,
                int32_t c2) {
  // The streaks' bounds keep every point they splat right of column 0 and below row 0; a
  // point elsewhere would touch pixels outside the frame.
  if (!(px >= 0 && py >= 0)) return;
  const int32_t colour[3] = {c0 & 0xFF, c1 & 0xFF, c2 & 0xFF};
  const int32_t ix = int32_t(px);
  const int32_t iy = int32_t(py);
  const Canvas canvas = Canvas::Of(context.frame);
  Splat(Corners(canvas, canvas.planes, ix, iy), px, py, ix, iy, colour);
}

namespace {

template <int32_t kPlanes>
void StarStreaksOn(const Frame& f, const Gate<kPlanes>& full, const Directions& directions,
                   int32_t x, int32_t y, Random& random, int32_t length, const int32_t colour[3],
                   const StreakRows& rows) {
  for (int32_t n = 0; n < directions.count; ++n) {
    const int32_t r = random.Next();
    double L = (r * kInverseRandomMax) * double(length);
    L = L + L;
    const double S = L * L;
    const double sx = directions.cosine[n];
    const double sy = directions.sine[n];
    // Most halves of a star drawn on a band far from it never reach it.
    const double root = rows.band ? std::sqrt(S) : 0;
    const int32_t forward = rows.Lead(y, sy, root), back = rows.Lead(y, -sy, root);
    if (forward >= 0) WalkStreak(f, full, x, y, sx, sy, S, colour, rows, forward);
    if (back >= 0) WalkStreak(f, full, x, y, -sx, -sy, S, colour, rows, back);
  }
}

// The streaks of one star whose lengths `random` draws, on `rows`.
void StarStreaks(const Frame& f, const Directions& directions, int32_t x, int32_t y,
                 Random& random, int32_t length, const int32_t colour[3], const StreakRows& rows) {
  // Sparkle draws on three or four samples per pixel.
  if (f.planes == 4)
    StarStreaksOn(f, Gate<4>(colour), directions, x, y, random, length, colour, rows);
  else
    StarStreaksOn(f, Gate<3>(colour), directions, x, y, random, length, colour, rows);
}

// The directions of a render's stars, or false for none (no streaks: nothing drawn, no
// lengths drawn for).
bool TakeDirections(Directions& directions, double angle, int32_t streaks) {
  if (streaks <= 0) return false;
  // More than 360 streaks would give a step of 0 and never end; one per degree is the most.
  const int64_t step = streaks > 360 ? 1 : 360 / streaks;
  // Far outside any angle in use the truncation would not fit; such an angle counts as 0.
  const int64_t a0 = std::fabs(angle) < 1e15 ? int64_t(angle) : 0;
  directions.Take(a0, step);
  return true;
}

}  // namespace

void DrawSparkle(RenderContext& context, int32_t x, int32_t y, int32_t red, int32_t green,
                 int32_t blue, int32_t length, double angle, int32_t streaks) {
  if (!TakeDirections(context.directions, angle, streaks)) return;
  const int32_t colour[3] = {red & 0xFF, green & 0xFF, blue & 0xFF};
  StarStreaks(context.frame, context.directions, x, y, context.random, length, colour,
              {0, 0, false});
}

namespace {

constexpr double kCentreChanceScale = 0.002;
constexpr double kCentreDrawScale = 3.0518509447574615e-05;  // nearest float to 1/32767

// Each matching pixel of output row y, in order, draws a random number and may start a star.
// The output is tested: streaks drawn so far can move later pixels into or out of the window.
template <int Planes, typename Star>
void SparkleRow(RenderContext& context, const SparkleJob& job, int32_t y, const Star& star) {
  const Frame& f = context.frame;
  const uint8_t* line = f.output + size_t(y) * size_t(f.outRowBytes);
  const double chance = job.threshold * kCentreChanceScale;
  for (int32_t x = f.firstColumn; x < f.width; ++x) {
    if (!Matches(job.window, line + size_t(x) * Planes)) continue;
    const int32_t r = context.random.Next();
    if (chance > r * kCentreDrawScale) star(x);
  }
}

template <typename Star>
void SparkleRowIn(RenderContext& context, const SparkleJob& job, int32_t y, const Star& star) {
  if (context.frame.planes == 3)
    SparkleRow<3>(context, job, y, star);
  else
    SparkleRow<4>(context, job, y, star);
}

// The rows whose stars the calling thread has decided, as idle members wait for more.
class DecidedRows {
 public:
  void Advance(int32_t rows) {
    rows_.store(rows);
    if (waiters_.load()) Wake();
  }
  void Finish() {
    over_.store(true);
    Wake();
  }
  bool Over() const { return over_.load(); }
  // Waits until `need` rows are decided or the decisions are over; the rows decided.
  int32_t Wait(int32_t need) {
    std::unique_lock lock(mutex_);
    waiters_.fetch_add(1);  // before the rows are looked at: Advance looks in the other order
    while (!over_.load() && rows_.load() < need) changed_.wait(lock);
    waiters_.fetch_sub(1);
    return rows_.load();
  }

 private:
  void Wake() {
    { std::lock_guard lock(mutex_); }
    changed_.notify_all();
  }
  std::atomic<int32_t> rows_{0}, waiters_{0};
  std::atomic<bool> over_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
};

// A star the calling thread decided on: its centre and the random state its lengths are drawn
// from.
struct StarRecord {
  int32_t x, y;
  uint32_t state;
};

// The stars of a render in the order they were decided, written by the calling thread alone
// and read by every thread below the count it published. Segments are had as they fill.
class StarList {
 public:
  static constexpr int32_t kShift = 14;
  explicit StarList(int64_t most) : size_(size_t(most >> kShift) + 1) {
    segments_.reset(new (std::nothrow) StarRecord*[size_]());
  }
  ~StarList() {
    for (size_t i = 0; segments_ && i < size_; ++i) delete[] segments_[i];
  }
  bool Usable() const { return bool(segments_); }
  int32_t Count() const { return count_.load(std::memory_order_acquire); }
  const StarRecord& operator[](int32_t i) const {
    return segments_[size_t(i) >> kShift][size_t(i) & ((size_t(1) << kShift) - 1)];
  }
  // False when no memory for it could be had.
  bool Append(const StarRecord& star) {
    const int32_t n = count_.load(std::memory_order_relaxed);
    StarRecord*& segment = segments_[size_t(n) >> kShift];
    if (!segment) segment = new (std::nothrow) StarRecord[size_t(1) << kShift];
    if (!segment) return false;
    segment[size_t(n) & ((size_t(1) << kShift) - 1)] = star;
    count_.store(n + 1, std::memory_order_release);
    return true;
  }

 private:
  size_t size_;
  std::unique_ptr<StarRecord*[]> segments_;
  std::atomic<int32_t> count_{0};
};

// Sparkle shared among the members. A star changes only pixels within its streaks' reach,
// and each pixel must receive the stars' splats in the order the stars were decided. The
// rows are cut into bands, each drawn by one member at a time with the stars in order: the
// stars it has not drawn yet, walked from their centres but drawn on the band's rows only.
// The calling thread decides every star in order, as the rules do, on rows whose band it
// holds: before it tests a row, the band has every star decided before, and it draws each
// new star on its band at once. The other members draw the stars on the other bands.
class SharedSparkle {
 public:
  SharedSparkle(RenderContext& context, const SparkleJob& job, int32_t members)
      : context_(context),
        job_(job),
        f_(context.frame),
        rows_(f_.endRow),
        reach_(2 * int64_t(std::max(job.length, 0)) + 2),
        bandRows_(int32_t(std::clamp<int64_t>(reach_ / (2 * members), 8, 32))),
        bands_((rows_ + bandRows_ - 1) / bandRows_),
        runBands_(std::max(1, (bands_ + members - 2) / std::max(1, members - 1))),
        stars_(int64_t(f_.width) * rows_ + 1),
        drawn_(new (std::nothrow) std::atomic<int32_t>[size_t(bands_)]),
        busy_(new (std::nothrow) std::atomic<bool>[size_t(bands_)]) {
    for (int32_t b = 0; drawn_ && busy_ && b < bands_; ++b) {
      drawn_[b].store(0);
      busy_[b].store(false);
    }
    colour_[0] = job.colour.red & 0xFF;
    colour_[1] = job.colour.green & 0xFF;
    colour_[2] = job.colour.blue & 0xFF;
  }

  bool Usable() const { return stars_.Usable() && drawn_ && busy_; }

  // The rows and the stars; member 0 is the calling thread.
  void Run(RowLoop& loop, int32_t member) {
    if (member == 0) Decide(loop);
    Draw();
  }

 private:
  int32_t First(int32_t band) const { return band * bandRows_; }
  int32_t End(int32_t band) const { return std::min(rows_, (band + 1) * bandRows_); }

  void Hold(int32_t band) {
    wanted_.store(band);
    for (bool idle = false; !busy_[band].compare_exchange_weak(idle, true); idle = false)
      std::this_thread::yield();
    wanted_.store(-1);
    DrawPending(band, band + 1, false);
  }
  // The band for a member other than the calling thread, unless that thread wants it.
  bool Claim(int32_t band) {
    bool idle = false;
    return wanted_.load() != band && busy_[band].compare_exchange_strong(idle, true);
  }
  void Release(int32_t band) { busy_[band].store(false, std::memory_order_release); }

  // The stars not drawn yet on bands first to end - 1, which have all drawn as many, in
  // order and in one walk over their rows; with `yielding`, stops after a star when the
  // calling thread wants one of the bands.
  void DrawPending(int32_t first, int32_t end, bool yielding) {
    const int32_t count = stars_.Count();
    const StreakRows rows{First(first), End(end - 1), true};
    int32_t i = drawn_[first].load();
    // Stars too far above to reach the bands draw nothing on them: the first that may, found
    // by halves (the stars lie in raster order).
    for (int32_t hi = count; i < hi;) {
      const int32_t mid = i + (hi - i) / 2;
      if (stars_[mid].y + reach_ < rows.first)
        i = mid + 1;
      else
        hi = mid;
    }
    for (; i < count; ++i) {
      const StarRecord& s = stars_[i];
      if (s.y >= rows.end + reach_) {  // this star and every later one lie below its reach
        i = count;
        break;
      }
      DrawStar(s, rows);
      if (yielding) {
        const int32_t wanted = wanted_.load();
        if (wanted >= first && wanted < end) {
          ++i;
          break;
        }
      }
    }
    for (int32_t b = first; b < end; ++b) drawn_[b].store(i);
  }

  void DrawStar(const StarRecord& s, const StreakRows& rows) {
    Random random;
    random.Seed(s.state);
    StarStreaks(f_, context_.directions, s.x, s.y, random, job_.length, colour_, rows);
  }

  // The calling thread: the polls and every star's decision, in order.
  void Decide(RowLoop& loop) {
    int32_t held = -1;
    for (int32_t y = 0; y < rows_; ++y) {
      if (!loop.Poll()) break;
      const int32_t band = y / bandRows_;
      if (band != held) {
        deciding_.store(band, std::memory_order_relaxed);
        if (held >= 0) Release(held);
        Hold(band);
        held = band;
      }
      const StreakRows rows{First(band), End(band), true};
      const int32_t before = stars_.Count();
      SparkleRowIn(context_, job_, y, [&](int32_t x) {
        const StarRecord star{x, y, context_.random.state};
        for (int32_t n = 0; n < context_.directions.count; ++n) context_.random.Next();
        if (!alone_ && !stars_.Append(star)) GoAlone(held);
        if (alone_) {
          Random random;
          random.Seed(star.state);
          StarStreaks(f_, context_.directions, x, y, random, job_.length, colour_,
                      {0, 0, false});
        } else {
          DrawStar(star, rows);
        }
      });
      // The band has every star: said once a row, as the others only skip a band held.
      if (stars_.Count() != before) {
        drawn_[band].store(stars_.Count());
        decided_.Advance(y + 1);
      }
    }
    if (held >= 0) Release(held);
    decided_.Finish();
  }

  // No memory for more stars: every band is brought up to date, after which the calling
  // thread draws the rest of the stars alone, on every row (the others find nothing to do).
  void GoAlone(int32_t held) {
    for (int32_t b = 0; b < bands_; ++b)
      if (b != held) {
        Hold(b);
        Release(b);
      }
    alone_ = true;
  }

  // Draws pending stars on bands until no band has any and the decisions are over. A member
  // with nothing to draw waits for more rows to be decided; only at the end does it look
  // again for bands that others were drawing on.
  void Draw() {
    int32_t seen = 0;
    for (;;) {
      const int32_t count = stars_.Count();
      bool drew = false, busy = false;
      // The bands the calling thread comes to next first: it brings each up to date itself
      // before it tests a row in it, a band at a time. Those it has left after.
      const int32_t next = deciding_.load(std::memory_order_relaxed) + 1;
      for (int32_t i = 0; i < bands_; ++i) {
        const int32_t b = i < bands_ - next ? next + i : i - (bands_ - next);
        const int32_t drawn = drawn_[b].load();
        if (drawn >= count) continue;
        if (!Claim(b)) {
          busy = true;
          continue;
        }
        // The bands after it that have drawn as many stars join it, up to a share of the
        // bands: each star walked once for all of them.
        int32_t end = b + 1;
        const int32_t last = b < next ? next - 1 : bands_;  // a run does not wrap round
        while (end < last && end - b < runBands_ && drawn_[end].load() == drawn && Claim(end)) {
          if (drawn_[end].load() != drawn) {
            Release(end);
            break;
          }
          ++end;
        }
        DrawPending(b, end, true);
        for (int32_t e = b; e < end; ++e) Release(e);
        i += end - b - 1;
        drew = true;
      }
      if (drew) continue;
      if (!decided_.Over()) {
        seen = decided_.Wait(seen + 1);
        continue;
      }
      if (!busy && stars_.Count() == count) return;
      std::this_thread::yield();
    }
  }

  RenderContext& context_;
  const SparkleJob& job_;
  const Frame& f_;
  const int32_t rows_;
  const int64_t reach_;  // rows from its centre beyond which no star draws
  const int32_t bandRows_, bands_;
  const int32_t runBands_;  // the most bands a member draws in one walk
  int32_t colour_[3];
  StarList stars_;
  std::unique_ptr<std::atomic<int32_t>[]> drawn_;  // stars drawn on each band
  std::unique_ptr<std::atomic<bool>[]> busy_;      // a member draws on the band
  std::atomic<int32_t> wanted_{-1};                // the band the calling thread waits for
  std::atomic<int32_t> deciding_{-1};              // the band of the row it decides
  bool alone_ = false;
  DecidedRows decided_;
};

}  // namespace

void RenderSparkle(RenderContext& context, const SparkleJob& job, const EngineTuning& tuning,
                   RowLoop& loop) {
  const Frame& f = context.frame;
  const bool drawing = TakeDirections(context.directions, double(job.angle), job.streaks);
  // The work of the stars if every pixel matched: the reach of each streak's steps.
  const double chance = std::min(1.0, std::max(0.0, job.threshold * kCentreChanceScale));
  const int64_t work =
      drawing ? int64_t(double(f.width) * f.endRow * chance * context.directions.count * 4 *
                        std::max(job.length, 1))
              : 0;
  Team* team = TeamOf(context);
  // Stars without streaks draw nothing (and no lengths): nothing to share.
  const int32_t members = drawing ? MembersFor(team, tuning, work) : 1;
  if (members > 1) {
    SharedSparkle shared(context, job, members);
    if (shared.Usable()) {
      auto work = [&](int32_t member) { shared.Run(loop, member); };
      team->Run(members, work, tuning.shareAll);
      return;
    }
  }
  for (int32_t y = f.firstRow; y < f.endRow; ++y) {
    if (!loop.Poll()) return;
    SparkleRowIn(context, job, y, [&](int32_t x) {
      DrawSparkle(context, x, y, job.colour.red, job.colour.green, job.colour.blue, job.length,
                  double(job.angle), job.streaks);
    });
  }
}
