#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/internal/Context.h"
#include "engine/internal/Effects.h"
#include "engine/internal/GlowPaths.h"
#include "engine/internal/Lanes.h"

namespace {

constexpr int32_t kGroup = kGlowGroup;
constexpr int32_t kPad = kStampPad;
// Groups of pixels the gather blends side by side (kStampPad leaves room for them).
constexpr int kGatherGroups = 2;
constexpr int32_t kGatherPixels = kGroup * kGatherGroups;
constexpr int32_t kWeights = kStampWeights;
// dx^2 + dy^2 within the stamp square
constexpr int32_t kMaxDistance2 = 2 * kMaxRadius * kMaxRadius;

// floor(sqrt(v)) for every dx^2 + dy^2 a stamp can have: a constant of the program.
struct FloorSqrtTable {
  uint8_t root[kMaxDistance2 + 1] = {};
  constexpr FloorSqrtTable() {
    for (int32_t r = 0; r * r <= kMaxDistance2; ++r)
      for (int32_t v = r * r; v <= kMaxDistance2 && v < (r + 1) * (r + 1); ++v)
        root[v] = uint8_t(r);
  }
};
constexpr FloorSqrtTable kFloorSqrt;

// How far from the centre column a stamp row dy reaches for the squared reach `reach`.
inline int32_t HalfWidth(int32_t reach, int32_t dy, int32_t e) {
  const int32_t rest = reach - dy * dy;
  if (rest < 0) return -1;
  return std::min<int32_t>(e, kFloorSqrt.root[rest]);
}

void EnsureStamp(RenderContext& context, int32_t e, int32_t planes) {
  if (context.stamp.e != e || context.stamp.planes != planes) PrepareGlowStamp(context, e, planes);
}

}  // namespace

void BuildGlowKernel(RenderContext& context, double radius, uint32_t colour) {
  GlowKernelTable& kernel = context.kernel;
  context.stamp.e = -1;
  // Beyond the table's reach (or a NaN) there is nothing safe to build.
  if (!(radius >= 0)) radius = 0;
  if (radius > kMaxRadius) radius = kMaxRadius;

  const int32_t n = int32_t(radius);
  // Only what the last kernel wrote needs clearing: the whole table is 480 KB.
  const int32_t span = context.kernelSpan;
  for (int32_t i = kMaxRadius - span; i < kMaxRadius + span; ++i)
    std::memset(kernel[i][kMaxRadius - span], 0, sizeof(kernel[0][0]) * 2 * size_t(span));
  context.kernelSpan = n;
  const double r2 = radius * radius;
  const int32_t components[3] = {int32_t(colour & 0xFF), int32_t((colour >> 8) & 0xFF),
                                 int32_t((colour >> 16) & 0xFF)};
  for (int32_t i = -n; i < n; ++i) {
    for (int32_t j = -n; j < n; ++j) {
      const int32_t d = i * i + j * j;
      const double w = 2.0 / ((d / r2) * 15.0 + 1.0);
      int32_t* entry = kernel[i + kMaxRadius][j + kMaxRadius];
      for (int k = 0; k < 3; ++k) entry[k] = int32_t((components[k] * w) * 0.05) & 0xFF;
    }
  }
}

void PrepareGlowStamp(RenderContext& context, int32_t e, int32_t planes) {
  GlowStamp& s = context.stamp;
  s.e = std::clamp(e, 0, kMaxRadius);
  s.planes = planes;
  // Only what the last layout wrote needs clearing; the rest is 0 already.
  std::memset(s.pixelRows, 0, sizeof(s.pixelRows[0]) * size_t(s.pixelsWritten));
  for (auto& sample : s.sampleRows)
    std::memset(sample, 0, sizeof(sample[0]) * size_t(s.samplesWritten));
  const int32_t span = 2 * (s.e + kPad) + 1;
  s.pixelStride = span * std::clamp(planes, 3, 4);  // the layout is for 3 or 4 planes
  s.sampleStride = span;
  s.pixelsWritten = (2 * s.e + 1) * s.pixelStride;
  s.samplesWritten = (2 * s.e + 1) * s.sampleStride;
  int32_t nearest[3][kWeights + 1];
  for (auto& k : nearest) std::fill(k, k + kWeights + 1, -1);
  for (int32_t dy = -s.e; dy <= s.e; ++dy) {
    for (int32_t dx = -s.e; dx <= s.e; ++dx) {
      // Offset +100 lies past the table and weighs nothing.
      if (dx == kMaxRadius || dy == kMaxRadius) continue;
      const int32_t* weights = context.kernel[dx + kMaxRadius][dy + kMaxRadius];
      uint16_t* pixel = &s.pixelRows[(dy + s.e) * s.pixelStride + (dx + s.e + kPad) * planes];
      for (int k = 0; k < 3; ++k) {
        pixel[k] = uint16_t(weights[k] << 8);  // as the lanes take them
        s.sampleRows[k][(dy + s.e) * s.sampleStride + dx + s.e + kPad] = uint16_t(weights[k] << 8);
        int32_t& far = nearest[k][weights[k]];
        far = std::max(far, dx * dx + dy * dy);
      }
    }
  }
  for (int k = 0; k < 3; ++k) {
    s.farthest[k][kWeights] = -1;
    for (int32_t w = kWeights - 1; w >= 0; --w)
      s.farthest[k][w] = std::max(s.farthest[k][w + 1], nearest[k][w]);
    s.reachOfGap[k][0] = -1;
    for (int32_t g = 1; g < 256; ++g) s.reachOfGap[k][g] = s.farthest[k][(255 + g) / g];
  }
  s.stampReach = std::max({s.farthest[0][2], s.farthest[1][2], s.farthest[2][2]});
}

int32_t GlowStampHalf(const RenderContext& context) {
  const GlowStamp& s = context.stamp;
  return HalfWidth(s.stampReach, 0, s.e);
}

int64_t GlowStampArea(const RenderContext& context) {
  const int32_t half = GlowStampHalf(context);
  if (half < 0) return 0;
  return (2 * int64_t(half) + 1) * (2 * int64_t(half) + 1);
}

void StampGlow(RenderContext& context, int32_t x, int32_t y, int32_t e) {
  EnsureStamp(context, std::clamp(e, 0, kMaxRadius), context.frame.planes);
  StampGlowRows(context, x, y, context.frame.firstRow, context.frame.endRow);
}

void StampGlowRows(const RenderContext& context, int32_t x, int32_t y, int32_t firstRow,
                   int32_t endRow) {
  // The frame in locals: the blends' byte stores could otherwise alias it.
  const Frame f = context.frame;
  const GlowStamp& s = context.stamp;
  const int32_t planes = s.planes;
  const int32_t top = std::max({y - s.e, f.firstRow + 1, firstRow});
  const int32_t bottom = std::min({y + s.e, f.endRow - 1, endRow - 1});
  for (int32_t row = top; row <= bottom; ++row) {
    const int32_t dy = row - y;
    // Each row of the stamp is blended only where some sample weighs 2 or more.
    const int32_t half = HalfWidth(s.stampReach, dy, s.e);
    const int32_t first = std::max(x - half, f.firstColumn + 1);
    const int32_t last = std::min(x + half, f.width - 1);
    if (first > last) continue;
    // Within one stamp every target sample is blended once, so the order among them is
    // free. Past `last` the weights are 0 or 1 (or padding), so blocks may run on to the
    // end of the row.
    uint8_t* pixels = f.output + size_t(row) * size_t(f.outRowBytes) + size_t(first) * planes;
    lanes::Brighten(pixels, s.PixelWeights(first - x, dy), (last - first + 1) * planes,
                    std::min(f.width - first, last - first + 1 + kPad) * planes);
  }
}

void StampGlowGroup(const RenderContext& context, const int32_t* xs, const int32_t* ys,
                    int32_t count, int32_t firstRow, int32_t endRow) {
  const Frame f = context.frame;
  const GlowStamp& s = context.stamp;
  const int32_t planes = s.planes;
  // The blocks run on past the last column by kRunOn pixels at most (enough for every block
  // of 16 samples to be whole); with the members kGroupColumns apart at most, every member's
  // weights are then read within its row's zero padding.
  constexpr int32_t kRunOn = 6;
  static_assert(kGroupColumns - 1 + kRunOn <= kPad);
  const uint16_t* weights[kGroupMembers];
  const int32_t top = std::max({ys[0] - s.e, f.firstRow + 1, firstRow});
  const int32_t bottom = std::min({ys[count - 1] + s.e, f.endRow - 1, endRow - 1});
  for (int32_t row = top; row <= bottom; ++row) {
    // The members whose stamps reach this row, and the columns any of them changes; the
    // others' weights there are 0 or 1, which change nothing.
    int32_t active[kGroupMembers];
    int32_t live = 0, lo = f.width, hi = -1;
    for (int32_t m = 0; m < count; ++m) {
      const int32_t dy = row - ys[m];
      if (dy < -s.e || dy > s.e) continue;
      const int32_t half = HalfWidth(s.stampReach, dy, s.e);
      if (half < 0) continue;
      active[live++] = m;
      lo = std::min(lo, xs[m] - half);
      hi = std::max(hi, xs[m] + half);
    }
    const int32_t first = std::max(lo, f.firstColumn + 1);
    const int32_t last = std::min(hi, f.width - 1);
    if (live == 0 || first > last) continue;
    for (int32_t a = 0; a < live; ++a)
      weights[a] = s.PixelWeights(first - xs[active[a]], row - ys[active[a]]);
    uint8_t* pixels = f.output + size_t(row) * size_t(f.outRowBytes) + size_t(first) * planes;
    lanes::BrightenEach(pixels, weights, live, (last - first + 1) * planes,
                        std::min(f.width - first, last - first + 1 + kRunOn) * planes);
  }
}

namespace {

// The samples of kGatherGroups runs of kGroup pixels as their gaps to 255: for run g and
// colour sample k, lanes 6g + 2k and 6g + 2k + 1 hold its 16 pixels in order.
struct Gaps {
  lanes::U16x8 lane[6 * kGatherGroups];
  // For each colour sample, the largest dx^2 + dy^2 of a centre that can still change it in
  // one of the pixels, or -1 when none can. Gaps only shrink, so what cannot change a
  // sample now never will.
  int32_t reach[3];

  // The largest of the three.
  int32_t Update(const GlowStamp& s) {
    for (int k = 0; k < 3; ++k) {
      lanes::U16x8 most = lanes::Max(lane[2 * k], lane[2 * k + 1]);
      for (int g = 1; g < kGatherGroups; ++g)
        most = lanes::Max(most, lanes::Max(lane[6 * g + 2 * k], lane[6 * g + 2 * k + 1]));
      reach[k] = s.reachOfGap[k][lanes::MaxLane(most)];
    }
    return std::max({reach[0], reach[1], reach[2]});
  }

  // The colour samples (bit k for sample k) that centres dy rows away can still change.
  int32_t LiveSamples(int32_t dy) const {
    const int32_t d = dy * dy;
    return (reach[0] >= d ? 1 : 0) | (reach[1] >= d ? 2 : 0) | (reach[2] >= d ? 4 : 0);
  }

  // One centre dx columns left of the pixels; rows[k] points at sample k's weights for dx = 0
  // in the centre's stamp row. Each run's weights follow the one before in the row; a centre
  // beyond a run's reach blends it with weights that change nothing (or the row's zero
  // padding).
  template <int Samples>
  void Blend(const uint16_t* const rows[3], int32_t dx) {
    for (int k = 0; k < 3; ++k) {
      if (!(Samples & (1 << k))) continue;
      const uint16_t* weights = rows[k] + dx;
      for (int g = 0; g < kGatherGroups; ++g) {
        lanes::U16x8& a = lane[6 * g + 2 * k];
        lanes::U16x8& b = lane[6 * g + 2 * k + 1];
        a = lanes::Fade(a, lanes::Load(weights + kGroup * g));
        b = lanes::Fade(b, lanes::Load(weights + kGroup * g + 8));
      }
    }
  }
};

// The blends of the centres of row cy between columns lo and hi into the samples that
// can still change; false when there were none.
template <int Samples>
bool BlendRow(const GlowStamp& s, Gaps& gaps, const CentreMap& centres, int32_t cy, int32_t lo,
              int32_t hi, int32_t x0, int32_t dy) {
  const uint16_t* const rows[3] = {s.SampleWeights(0, 0, dy), s.SampleWeights(1, 0, dy),
                                   s.SampleWeights(2, 0, dy)};
  // A copy the loop keeps in registers: the lanes' loads of weights could otherwise alias
  // the gaps, which would be stored back after every blend.
  Gaps local = gaps;
  bool blended = false;
  centres.ForEach(cy, lo, hi, [&](int32_t cx) {
    local.Blend<Samples>(rows, x0 - cx);
    blended = true;
  });
  if (blended) gaps = local;
  return blended;
}

// BlendRow for each set of live samples; none live blends nothing.
using RowBlend = bool (*)(const GlowStamp&, Gaps&, const CentreMap&, int32_t, int32_t, int32_t,
                          int32_t, int32_t);
constexpr RowBlend kBlendRow[8] = {[](const GlowStamp&, Gaps&, const CentreMap&, int32_t, int32_t,
                                      int32_t, int32_t, int32_t) { return false; },
                                   BlendRow<1>,
                                   BlendRow<2>,
                                   BlendRow<3>,
                                   BlendRow<4>,
                                   BlendRow<5>,
                                   BlendRow<6>,
                                   BlendRow<7>};

// kGatherPixels pixels of row y, from column x0. Each output sample is its copied
// value folded with the blends of the centres that reach it, in raster order of the
// centres: that is what the stamps leave, because stamps touch each sample at most once and
// no blend reads another sample. The centres are visited in raster order here too; those
// skipped change nothing (weight too small for every gap of the runs, see Gaps). Runs side by
// side share the walk over the centres and give the blends independent chains.
template <int Planes>
void GatherGroup(const RenderContext& context, const CentreMap& centres, uint8_t* line, int32_t x0,
                 int32_t y, int32_t centreEnd) {
  const Frame& f = context.frame;
  const GlowStamp& s = context.stamp;
  const int32_t e = s.e;
  const int32_t count = std::min(kGatherPixels, f.width - x0);
  const int32_t live = std::max(0, f.firstColumn + 1 - x0);  // column 0 never changes

  // Column 0 and pixels past the row's end have gap 0: they never change.
  alignas(16) uint16_t samples[3 * kGatherPixels] = {};
  auto slot = [](int32_t i, int k) { return (i / kGroup) * 3 * kGroup + k * kGroup + i % kGroup; };
  for (int32_t i = live; i < count; ++i)
    for (int k = 0; k < 3; ++k)
      samples[slot(i, k)] = uint16_t(255 - line[size_t(x0 + i) * Planes + k]);
  Gaps gaps;
  for (int r = 0; r < 6 * kGatherGroups; ++r) gaps.lane[r] = lanes::Load(samples + 8 * r);

  int32_t reach = gaps.Update(s);
  const int32_t last = std::min(y + e, centreEnd - 1);
  for (int32_t cy = std::max(0, y - e); cy <= last && reach >= 0; ++cy) {
    const int32_t dy = y - cy;
    const int32_t half = HalfWidth(reach, dy, e);
    if (half < 0) {
      if (dy < 0) break;  // below the pixels, rows only get farther
      continue;
    }
    const int32_t lo = std::max(0, x0 - half);
    const int32_t hi = std::min(f.width - 1, x0 + count - 1 + half);
    const bool blended = kBlendRow[gaps.LiveSamples(dy)](s, gaps, centres, cy, lo, hi, x0, dy);
    if (blended) reach = gaps.Update(s);
  }

  for (int r = 0; r < 6 * kGatherGroups; ++r) lanes::Store(samples + 8 * r, gaps.lane[r]);
  for (int32_t i = live; i < count; ++i)
    for (int k = 0; k < 3; ++k)
      line[size_t(x0 + i) * Planes + k] = uint8_t(255 - samples[slot(i, k)]);
}

}  // namespace

void GatherGlowRow(const RenderContext& context, const CentreMap& centres, int32_t y,
                   int32_t centreEnd, const ColumnTiles& tiles) {
  static_assert(kColumnTileUnit % kGatherPixels == 0);
  const Frame& f = context.frame;
  if (y <= f.firstRow) return;  // the first row never receives glow
  uint8_t* line = f.output + size_t(y) * size_t(f.outRowBytes);
  for (int32_t x0 = 0; x0 < f.width; x0 += kGatherPixels) {
    if (!tiles.Holds(x0)) continue;
    if (context.stamp.planes == 3)
      GatherGroup<3>(context, centres, line, x0, y, centreEnd);
    else
      GatherGroup<4>(context, centres, line, x0, y, centreEnd);
  }
}
