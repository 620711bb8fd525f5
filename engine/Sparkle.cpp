#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/Effects.h"
#include "engine/RenderFrame.h"

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
#if defined(__SSE2__)
    for (int h = 0; h < 4; h += 2) {
      const __m128d x = _mm_loadu_pd(in + h);
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

const FastExp g_fastExp;

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

// Whether any sample of the four pixels could take a deposit of up to `colour`.
inline bool CanChange(uint8_t* const pixels[4], const int32_t colour[3]) {
  int32_t most = 0;
  for (int n = 0; n < 4; ++n)
    for (int k = 0; k < 3; ++k) most |= colour[k] * (255 - pixels[n][k]);
  return most >= 256;
}

// The output as the splats write it, read from the frame once: the splats' byte stores
// could otherwise alias the frame and have it read again at every point.
struct Canvas {
  uint8_t* output;
  size_t stride;
  size_t planes;

  static Canvas OfFrame() {
    const RenderFrame& f = g_renderFrame;
    return {f.output, size_t(f.outRowBytes), size_t(f.planes)};
  }
};

// SplatPoint with its colour values already masked, for a point at or right of column 0
// and at or below row 0. Then fx and fy lie in [0, 1) and gx and gy in [-1, 0] (each
// difference is exact or rounds towards a representable bound), so every exponent lies in
// [-1, 0], where the fast exponential holds.
inline void Splat(const Canvas& canvas, double px, double py, const int32_t colour[3]) {
  const int32_t ix = int32_t(px);
  const int32_t iy = int32_t(py);
  const double fx = px - ix;
  const double fy = py - iy;
  const double gx = px - (ix + 1);
  const double gy = py - (iy + 1);
  // The four pixels around the point, in their order.
  uint8_t* const first = canvas.output + size_t(iy) * canvas.stride + size_t(ix) * canvas.planes;
  uint8_t* const pixels[4] = {first, first + canvas.planes, first + canvas.stride + canvas.planes,
                              first + canvas.stride};
  // Most splats of a dense star land on samples that can no longer change: a sample c moves
  // only if v * (255 - c) >= 256, and v never exceeds the colour, since w = exp(x) <= 1 for
  // x <= 0 (the library's exp, and the fast one's W <= 2^23). Such splats need no weights.
  if (!CanChange(pixels, colour)) return;
  // All four weights before any deposit, so that the four exponentials overlap.
  const double x[4] = {-0.5 * (fx * fx + fy * fy), -0.5 * (gx * gx + fy * fy),
                       -0.5 * (gx * gx + gy * gy), -0.5 * (fx * fx + gy * gy)};
  double fast[4];
  g_fastExp.Four(x, fast);
  int32_t v[4][3];
  bool clear = true;
  for (int n = 0; n < 4; ++n) clear &= FastSplatValues(colour, fast[n], v[n]);
  if (!clear) {
    for (int n = 0; n < 4; ++n)
      if (!FastSplatValues(colour, fast[n], v[n])) LibrarySplatValues(colour, x[n], v[n]);
  }
  for (int n = 0; n < 4; ++n) Deposit(pixels[n], v[n]);
}

// One half of a streak: from the centre along (sx, sy) until the squared distance reaches S.
void WalkStreak(int32_t x, int32_t y, double sx, double sy, double S, const int32_t colour[3]) {
  // The frame in locals: the splats' byte stores could otherwise alias it.
  const RenderFrame& f = g_renderFrame;
  const double left = f.firstColumn, right = f.width - 1, top = f.firstRow, bottom = f.endRow - 1;
  const Canvas canvas = Canvas::OfFrame();
  double px = x;
  double py = y;
  for (;;) {
    const double dxc = px - x;
    const double dyc = py - y;
    const int32_t D = int32_t(dxc * dxc + dyc * dyc);
    if (!(D < S)) break;
    if (px > left && px < right && py > top && py < bottom) {
      const double fade = 1 - D / S;
      // Faded colours stay within 0..255: no masking needed.
      const int32_t faded[3] = {int32_t(colour[0] * fade), int32_t(colour[1] * fade),
                                int32_t(colour[2] * fade)};
      Splat(canvas, px, py, faded);
    }
    px = px + sx;
    py = py + sy;
  }
}

// The directions of the last star: the same for every star of a render, so their sines
// and cosines are taken once. The same function on the same argument gives the same value.
struct Directions {
  int64_t first = 0, step = 0;
  int32_t count = -1;  // -1: none taken yet
  double cosine[360], sine[360];

  void Take(int64_t a0, int64_t by) {
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
};

Directions g_directions;

}  // namespace

double SplatExp(double x) {
  const double in[4] = {x, x, x, x};
  double out[4];
  g_fastExp.Four(in, out);
  return out[0] == g_fastExp(x) ? out[3] : -1.0;  // the two forms must agree
}

void SplatPoint(double px, double py, int32_t c0, int32_t c1, int32_t c2) {
  // The streaks' bounds keep every point they splat right of column 0 and below row 0; a
  // point elsewhere would touch pixels outside the frame.
  if (!(px >= 0 && py >= 0)) return;
  const int32_t colour[3] = {c0 & 0xFF, c1 & 0xFF, c2 & 0xFF};
  Splat(Canvas::OfFrame(), px, py, colour);
}

void DrawSparkle(int32_t x, int32_t y, int32_t red, int32_t green, int32_t blue, int32_t length,
                 double angle, int32_t streaks) {
  // No streaks means no directions: nothing to draw and no lengths to draw for.
  if (streaks <= 0) return;
  // More than 360 streaks would give a step of 0 and never end; one per degree is the most.
  const int64_t step = streaks > 360 ? 1 : 360 / streaks;
  // Far outside any angle in use the truncation would not fit; such an angle counts as 0.
  const int64_t a0 = std::fabs(angle) < 1e15 ? int64_t(angle) : 0;
  const int32_t colour[3] = {red & 0xFF, green & 0xFF, blue & 0xFF};
  g_directions.Take(a0, step);
  for (int32_t n = 0; n < g_directions.count; ++n) {
    const int32_t r = NextRandom();
    double L = (r * kInverseRandomMax) * double(length);
    L = L + L;
    const double S = L * L;
    const double sx = g_directions.cosine[n];
    const double sy = g_directions.sine[n];
    WalkStreak(x, y, sx, sy, S, colour);
    WalkStreak(x, y, -sx, -sy, S, colour);
  }
}
