#include <algorithm>
#include <cstring>
#include <new>

#include "engine/Engine.h"
#include "engine/internal/Context.h"
#include "engine/internal/Effects.h"
#include "engine/internal/RowLoop.h"
#include "engine/internal/Samples.h"

namespace {

constexpr double kCentreChanceScale = 0.002;
constexpr double kCentreDrawScale = 3.0518509447574615e-05;  // nearest float to 1/32767

struct EffectColour {
  int32_t red, green, blue;
};

struct SparkleJob {
  ColourWindow window;
  EffectColour colour;
  int32_t threshold;
  int32_t length;
  int32_t angle;
  int32_t streaks;
};

// job.window in the units of T (SampleWindow).
template <typename T, int Planes>
void SparkleRow(RenderContext& context, const SparkleJob& job, int32_t y) {
  const Frame& f = context.frame;
  // The output is tested: streaks drawn so far can move later pixels into or out of the window.
  const uint8_t* line = f.output + size_t(y) * size_t(f.outRowBytes);
  const double chance = job.threshold * kCentreChanceScale;
  for (int32_t x = f.firstColumn; x < f.width; ++x) {
    if (!MatchesSamples<T>(job.window, line + size_t(x) * Planes * sizeof(T))) continue;
    const int32_t r = context.random.Next();
    if (chance > r * kCentreDrawScale)
      DrawSparkle(context, x, y, job.colour.red, job.colour.green, job.colour.blue, job.length,
                  double(job.angle), job.streaks);
  }
}

// Glow copies each row of the input as it looks for centres in it, so that the input is
// read from memory once; the other paths copy the whole image first. Nothing of the copy can
// be seen before the render's first host call.
bool GlowCopies(const EffectSettings& s, int32_t planes) {
  return s.mode != 1 && (planes == 3 || planes == 4);
}

template <typename Row>
void RunRows(const Frame& f, RowLoop& loop, bool poll, Row row) {
  for (int32_t y = f.firstRow; y < f.endRow; ++y) {
    if (poll && !loop.Poll()) return;
    row(y);
  }
}

void ApplyEffect(RenderContext& context, const EffectSettings& s, const RenderOptions& options,
                 const HostPolling& polling, int32_t planes) {
  Frame& f = context.frame;
  const int32_t radius = ClampRadius(s.radius);
  const ColourWindow window = MakeColourWindow(s.red, s.green, s.blue, s.threshold);
  RowLoop loop{polling, 0, f.endRow - f.firstRow};
  context.random.Seed(666);

  EffectColour colour{WindowMidpoint(s.red, s.threshold), WindowMidpoint(s.green, s.threshold),
                      WindowMidpoint(s.blue, s.threshold)};
  if (options.colour.use) colour = {options.colour.red, options.colour.green, options.colour.blue};
  f.planes = planes;
  const int32_t e = EffectiveRadius(radius, s.scale);
  if (planes != 3 && planes != 4) return;

  if (s.mode == 1) {
    WithSampleType(f.sampleBytes, [&](auto sample) {
      using T = decltype(sample);
      const SparkleJob job{SampleWindow<T>(window), colour, s.threshold, e, s.angle, s.streaks};
      if (planes == 3)
        RunRows(f, loop, true, [&](int32_t y) { SparkleRow<T, 3>(context, job, y); });
      else
        RunRows(f, loop, true, [&](int32_t y) { SparkleRow<T, 4>(context, job, y); });
    });
  } else {
    // Glow on four planes leaves the host unpolled while previewing.
    const GlowJob job{window, e, radius,
                      uint32_t(colour.red & 0xFF) | (uint32_t(colour.green & 0xFF) << 8) |
                          (uint32_t(colour.blue & 0xFF) << 16),
                      GlowCopies(s, planes)};
    RenderGlow(context, job, options.tuning, loop, planes == 3 || !options.previewing);
  }
}

}  // namespace

void RenderContextDeleter::operator()(RenderContext* context) const {
  delete context;
}

RenderContextPtr NewRenderContext() {
  return RenderContextPtr(new (std::nothrow) RenderContext);
}

ColourWindow MakeColourWindow(int32_t red, int32_t green, int32_t blue, int32_t threshold) {
  // In 64 bits so that no stored value can overflow; bounds held just past 0..255 change no
  // match.
  auto low = [&](int32_t c) {
    return int32_t(std::clamp<int64_t>(int64_t(c) - threshold, 0, 256));
  };
  auto high = [&](int32_t c) {
    return int32_t(std::clamp<int64_t>(int64_t(c) + threshold, -1, 255));
  };
  return {low(red), high(red), low(green), high(green), low(blue), high(blue)};
}

int32_t WindowMidpoint(int32_t c, int32_t threshold) {
  const int64_t low = std::max<int64_t>(int64_t(c) - threshold, 0);
  const int64_t high = std::min<int64_t>(int64_t(c) + threshold, 255);
  return int32_t((low + high) / 2);  // only the low 8 bits are drawn with
}

int32_t ClampRadius(int32_t radius) {
  return std::clamp(radius, 0, kMaxRadius);
}

int32_t EffectiveRadius(int32_t radius, float scale) {
  // A record never rendered with holds scale 0; a broken one may hold anything.
  if (!(scale > 0)) return ClampRadius(radius);
  const double e = radius / double(scale);
  if (e >= kMaxRadius) return kMaxRadius;
  if (e <= 0) return 0;
  return int32_t(e);
}

void RenderPixels(RenderContext& context, const PixelBuffers& b, const EffectSettings& settings,
                  const RenderOptions& options, const HostPolling& polling) {
  const int32_t width = std::max(b.width, 0);
  const int32_t height = std::max(b.height, 0);
  const int32_t sampleBytes = b.depth == 16 ? 2 : b.depth == 32 ? 4 : 1;
  const size_t rowSize = b.planes > 0 ? size_t(width) * size_t(b.planes) * size_t(sampleBytes) : 0;
  // Nothing to read from or write to: a host that delivered no buffers gets nothing drawn.
  if (rowSize > 0 && height > 0 && (!b.input || !b.output)) return;

  Frame& f = context.frame;
  f.input = b.input;
  f.output = b.output;
  f.width = width;
  f.endRow = height;
  f.firstRow = 0;
  f.firstColumn = 0;
  f.inRowBytes = std::max<int32_t>(b.inRowBytes, int32_t(rowSize));
  f.outRowBytes = std::max<int32_t>(b.outRowBytes, int32_t(rowSize));
  f.sampleBytes = sampleBytes;

  // Float samples are not drawn on: they pass through.
  const bool drawn = sampleBytes != 4;
  for (int32_t y = 0; y < height && rowSize > 0 && !(drawn && GlowCopies(settings, b.planes)); ++y)
    std::memcpy(b.output + size_t(y) * size_t(f.outRowBytes),
                b.input + size_t(y) * size_t(f.inRowBytes), rowSize);
  if (drawn) ApplyEffect(context, settings, options, polling, b.planes);
}
