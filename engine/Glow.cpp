#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/Effects.h"
#include "engine/GlowPaths.h"
#include "engine/Lanes.h"
#include "engine/RenderFrame.h"

GlowKernelTable GlowKernel;

namespace {

// Pixels blended side by side by the gather.
constexpr int32_t kGroup = 16;
// Zero weights on both sides of each stamp row, so that a group of pixels at the edge of a
// stamp reads zeros (which change nothing) past it.
constexpr int32_t kPad = kGroup;
constexpr int32_t kSide = 2 * kMaxRadius + 1;
constexpr int32_t kRowSamples = (kSide + 2 * kPad) * 4;
// Weights are at most 25 (2 * 255 * 0.05); an 8-bit weight could be at most 255.
constexpr int32_t kWeights = 256;

// The kernel as one render's stamps read it: one row of weights per row offset dy, laid out
// along dx like the pixels of an image row (planes samples each, zero for the fourth), so
// that a run of target pixels finds its weights in a run of memory.
struct GlowStamp {
  int32_t e = -1;  // -1: not prepared
  int32_t planes = 0;
  uint16_t rows[kSide][kRowSamples];
  // farthest[k][w]: the largest dx^2 + dy^2 of an offset whose weight for sample k is at
  // least w, or -1. Weights only fall with dx^2 + dy^2 (the formula is monotonic in it, and
  // offsets outside the filled square weigh 0), so offsets farther out weigh less than w.
  int32_t farthest[3][kWeights + 1];

  const uint16_t* At(int32_t dx, int32_t dy) const {
    return &rows[dy + e][(dx + e + kPad) * planes];
  }
};

GlowStamp g_stamp;

int32_t FloorSqrt(int32_t v) {
  int32_t r = int32_t(std::sqrt(double(v)));
  while (r * r > v) --r;
  while ((r + 1) * (r + 1) <= v) ++r;
  return r;
}

void EnsureStamp(int32_t e, int32_t planes) {
  if (g_stamp.e != e || g_stamp.planes != planes) PrepareGlowStamp(e, planes);
}

}  // namespace

void BuildGlowKernel(double radius, uint32_t colour) {
  std::memset(GlowKernel, 0, sizeof(GlowKernel));
  g_stamp.e = -1;
  // Beyond the table's reach (or a NaN) there is nothing safe to build.
  if (!(radius >= 0)) radius = 0;
  if (radius > kMaxRadius) radius = kMaxRadius;

  const int32_t n = int32_t(radius);
  const double r2 = radius * radius;
  const int32_t components[3] = {int32_t(colour & 0xFF), int32_t((colour >> 8) & 0xFF),
                                 int32_t((colour >> 16) & 0xFF)};
  for (int32_t i = -n; i < n; ++i) {
    for (int32_t j = -n; j < n; ++j) {
      const int32_t d = i * i + j * j;
      const double w = 2.0 / ((d / r2) * 15.0 + 1.0);
      int32_t* entry = GlowKernel[i + kMaxRadius][j + kMaxRadius];
      for (int k = 0; k < 3; ++k) entry[k] = int32_t((components[k] * w) * 0.05) & 0xFF;
    }
  }
}

void PrepareGlowStamp(int32_t e, int32_t planes) {
  GlowStamp& s = g_stamp;
  s.e = std::clamp(e, 0, kMaxRadius);
  s.planes = planes;
  std::memset(s.rows, 0, sizeof(s.rows));
  int32_t nearest[3][kWeights + 1];
  for (auto& k : nearest) std::fill(k, k + kWeights + 1, -1);
  for (int32_t dy = -s.e; dy <= s.e; ++dy) {
    for (int32_t dx = -s.e; dx <= s.e; ++dx) {
      // Offset +100 lies past the table and weighs nothing.
      if (dx == kMaxRadius || dy == kMaxRadius) continue;
      const int32_t* weights = GlowKernel[dx + kMaxRadius][dy + kMaxRadius];
      uint16_t* target = const_cast<uint16_t*>(s.At(dx, dy));
      for (int k = 0; k < 3; ++k) {
        target[k] = uint16_t(weights[k]);
        int32_t& far = nearest[k][weights[k]];
        far = std::max(far, dx * dx + dy * dy);
      }
    }
  }
  for (int k = 0; k < 3; ++k) {
    s.farthest[k][kWeights] = -1;
    for (int32_t w = kWeights - 1; w >= 0; --w)
      s.farthest[k][w] = std::max(s.farthest[k][w + 1], nearest[k][w]);
  }
}

void StampGlow(int32_t x, int32_t y, int32_t e) {
  EnsureStamp(std::clamp(e, 0, kMaxRadius), g_renderFrame.planes);
  StampGlowParity(x, y, -1);
}

void StampGlowParity(int32_t x, int32_t y, int32_t parity) {
  const RenderFrame& f = g_renderFrame;
  const GlowStamp& s = g_stamp;
  const int32_t e = s.e;
  const int32_t planes = s.planes;
  // Weights of 0 and 1 never change a sample ((255 - c) * 1 < 256), so each row of the stamp
  // is blended only where some sample weighs 2 or more.
  const int32_t reach = std::max({s.farthest[0][2], s.farthest[1][2], s.farthest[2][2]});
  for (int32_t dy = -e; dy <= e; ++dy) {
    const int32_t row = y + dy;
    if (row <= f.firstRow || row >= f.endRow) continue;
    if (parity >= 0 && (row & 1) != parity) continue;
    const int32_t rest = reach - dy * dy;
    if (rest < 0) continue;
    const int32_t half = std::min(e, FloorSqrt(rest));
    const int32_t first = std::max(x - half, f.firstColumn + 1);
    const int32_t last = std::min(x + half, f.width - 1);
    if (first > last) continue;
    // Within one stamp every target sample is blended once, so the order among them is free.
    uint8_t* pixels = f.output + size_t(row) * size_t(f.outRowBytes) + size_t(first) * planes;
    lanes::Brighten(pixels, s.At(first - x, dy), (last - first + 1) * planes);
  }
}

namespace {

// The largest dx^2 + dy^2 of a centre that can still change one of the pixels whose
// samples are this far from 255 at most (per sample k), or -1 when none can. A blend with
// weight K leaves a sample with gap g unchanged when g * K < 256, that is below
// ceil(256 / g); gaps only shrink, so what cannot change a sample now never will.
int32_t LiveReach(const int32_t gaps[3]) {
  int32_t reach = -1;
  for (int k = 0; k < 3; ++k) {
    if (gaps[k] == 0) continue;
    const int32_t least = std::min((255 + gaps[k]) / gaps[k], kWeights);
    reach = std::max(reach, g_stamp.farthest[k][least]);
  }
  return reach;
}

// The samples of kGroup pixels as gaps to 255, Planes per pixel, in 2 * Planes lanes of 8.
template <int Planes>
struct Gaps {
  static constexpr int kRegisters = 2 * Planes;
  lanes::U16x8 lane[kRegisters];

  // Largest gap of each colour sample over the group.
  int32_t Reach() const {
    // Registers r and r + Planes hold the same sample pattern (8 * Planes is a whole number
    // of pixels), so folding them keeps each sample in its place.
    lanes::U16x8 folded[Planes];
    for (int r = 0; r < Planes; ++r) folded[r] = lanes::Max(lane[r], lane[r + Planes]);
    alignas(16) uint16_t v[8 * Planes];
    for (int r = 0; r < Planes; ++r) lanes::Store(v + 8 * r, folded[r]);
    int32_t gaps[3] = {0, 0, 0};
    for (int i = 0; i < 8 * Planes; ++i)
      if (i % Planes < 3) gaps[i % Planes] = std::max<int32_t>(gaps[i % Planes], v[i]);
    return LiveReach(gaps);
  }

  void Blend(const uint16_t* weights) {
    for (int r = 0; r < kRegisters; ++r)
      lane[r] = lanes::Fade(lane[r], lanes::Load(weights + 8 * r));
  }
};

// One group of kGroup pixels of row y, from column x0. Each output sample is its copied
// value folded with the blends of the centres that reach it, in raster order of the
// centres: that is what the stamps leave, because stamps touch each sample at most once and
// no blend reads another sample. The centres are visited in raster order here too; those
// skipped change nothing (weight too small for every gap of the group, see LiveReach).
template <int Planes>
void GatherGroup(const CentreMap& centres, uint8_t* line, int32_t x0, int32_t y,
                 int32_t centreEnd) {
  const RenderFrame& f = g_renderFrame;
  const GlowStamp& s = g_stamp;
  const int32_t e = s.e;
  const int32_t count = std::min(kGroup, f.width - x0);

  // Column 0, the fourth sample and pixels past the row's end never change: gap 0.
  alignas(16) uint16_t samples[kGroup * Planes];
  for (int32_t i = 0; i < kGroup; ++i)
    for (int k = 0; k < Planes; ++k) {
      const bool live = i < count && x0 + i > f.firstColumn && k < 3;
      samples[i * Planes + k] = live ? uint16_t(255 - line[(x0 + i) * Planes + k]) : 0;
    }
  Gaps<Planes> gaps;
  for (int r = 0; r < gaps.kRegisters; ++r) gaps.lane[r] = lanes::Load(samples + 8 * r);

  int32_t reach = gaps.Reach();
  const int32_t last = std::min(y + e, centreEnd - 1);
  for (int32_t cy = std::max(0, y - e); cy <= last && reach >= 0; ++cy) {
    const int32_t dy = y - cy;
    const int32_t rest = reach - dy * dy;
    if (rest < 0) {
      if (dy < 0) break;  // below the pixels, rows only get farther
      continue;
    }
    const int32_t half = std::min(e, FloorSqrt(rest));
    const int32_t lo = std::max(0, x0 - half);
    const int32_t hi = std::min(f.width - 1, x0 + count - 1 + half);
    bool blended = false;
    centres.ForEach(cy, lo, hi, [&](int32_t cx) {
      gaps.Blend(s.At(x0 - cx, dy));
      blended = true;
    });
    if (blended) reach = gaps.Reach();
  }

  for (int r = 0; r < gaps.kRegisters; ++r) lanes::Store(samples + 8 * r, gaps.lane[r]);
  for (int32_t i = std::max(0, f.firstColumn + 1 - x0); i < count; ++i)
    for (int k = 0; k < 3; ++k)
      line[(x0 + i) * Planes + k] = uint8_t(255 - samples[i * Planes + k]);
}

}  // namespace

void GatherGlowRow(const CentreMap& centres, int32_t y, int32_t centreEnd) {
  const RenderFrame& f = g_renderFrame;
  if (y <= f.firstRow) return;  // the first row never receives glow
  uint8_t* line = f.output + size_t(y) * size_t(f.outRowBytes);
  for (int32_t x0 = 0; x0 < f.width; x0 += kGroup) {
    if (g_stamp.planes == 3)
      GatherGroup<3>(centres, line, x0, y, centreEnd);
    else
      GatherGroup<4>(centres, line, x0, y, centreEnd);
  }
}
