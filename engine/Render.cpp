#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "engine/Engine.h"
#include "engine/internal/Context.h"
#include "engine/internal/Deep.h"
#include "engine/internal/Effects.h"
#include "engine/internal/RowLoop.h"
#include "engine/internal/Team.h"

namespace {

// Glow copies each row of the input as it looks for centres in it, so that the input is
// read from memory once; the other paths copy the whole image first. Nothing of the copy can
// be seen before the render's first host call.
bool GlowCopies(const EffectSettings& s, int32_t planes) {
  return s.mode != 1 && (planes == 3 || planes == 4);
}

// False, with nothing drawn, when Glow cannot render `deep` (engine/internal/RowLoop.h).
bool ApplyEffect(RenderContext& context, const EffectSettings& s, const RenderOptions& options,
                 const HostPolling& polling, int32_t planes, const DeepRows* deep) {
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
  if (planes != 3 && planes != 4) return true;

  if (s.mode == 1) {
    RenderSparkle(context, SparkleJob{window, colour, s.threshold, e, s.angle, s.streaks},
                  options.tuning, loop);
  } else {
    // Glow on four planes leaves the host unpolled while previewing.
    const GlowJob job{window, e, radius,
                      uint32_t(colour.red & 0xFF) | (uint32_t(colour.green & 0xFF) << 8) |
                          (uint32_t(colour.blue & 0xFF) << 16),
                      GlowCopies(s, planes)};
    return RenderGlow(context, job, options.tuning, loop, planes == 3 || !options.previewing, deep);
  }
  return true;
}

}  // namespace

void RenderContextDeleter::operator()(RenderContext* context) const {
  if (!context) return;
  delete context->team;
  for (WorkMemory* memory : {&context->centreMap, &context->rowTables, &context->narrowRows})
    std::free(memory->data);
  std::free(context);
}

void* WorkMemory::Zeroed(size_t size) {
  size = std::max<size_t>(size, 1);
  if (size <= bytes) return data;
  std::free(data);
  data = std::calloc(size, 1);
  bytes = data ? size : 0;
  return data;
}

// From calloc: the tables start out 0 without their pages being touched, so that a run's
// first render touches only the parts of them it draws with (a new context every run, and
// under Windows every page of it fresh). The context is an aggregate of integers and
// doubles, which zero bytes make zeros; only the members that do not start at 0 are set.
RenderContextPtr NewRenderContext() {
  static_assert(std::is_aggregate_v<RenderContext> &&
                std::is_trivially_destructible_v<RenderContext>);
  auto* context = static_cast<RenderContext*>(std::calloc(1, sizeof(RenderContext)));
  if (context) {
    context->kernelSpan = 0;
    context->stamp.e = -1;
    context->stamp.pixelsWritten = 0;
    context->stamp.samplesWritten = 0;
    context->stamp.stampReach = -1;
    context->directions.count = -1;
  }
  return RenderContextPtr(context);
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

namespace {

// Calls row(y) for each row of the image, shared among the render's threads when the rows
// hold `work` pixels' worth of copying.
template <typename Row>
void ForEachRow(RenderContext& context, const EngineTuning& tuning, int32_t height, int64_t work,
                const Row& row) {
  Team* team = TeamOf(context);
  const int32_t members = MembersFor(team, tuning, work);
  ShareRowRuns(team, members, tuning.shareAll, height, RunRowsFor(height, members),
               [&](int32_t first, int32_t end, int32_t) {
                 for (int32_t y = first; y < end; ++y) row(y);
               });
}

// With `copied` the output holds the input already; with `deep` see ApplyEffect.
bool RenderEightBit(RenderContext& context, const PixelBuffers& b, const EffectSettings& settings,
                    const RenderOptions& options, const HostPolling& polling, bool copied = false,
                    const DeepRows* deep = nullptr) {
  const int32_t width = std::max(b.width, 0);
  const int32_t height = std::max(b.height, 0);
  const size_t rowSize = b.planes > 0 ? size_t(width) * size_t(b.planes) : 0;
  // Nothing to read from or write to: a host that delivered no buffers gets nothing drawn.
  if (rowSize > 0 && height > 0 && (!b.input || !b.output)) return true;

  Frame& f = context.frame;
  f.input = b.input;
  f.output = b.output;
  f.width = width;
  f.endRow = height;
  f.firstRow = 0;
  f.firstColumn = 0;
  f.inRowBytes = std::max<int32_t>(b.inRowBytes, int32_t(rowSize));
  f.outRowBytes = std::max<int32_t>(b.outRowBytes, int32_t(rowSize));

  if (rowSize > 0 && !copied && !GlowCopies(settings, b.planes))
    ForEachRow(context, options.tuning, height, int64_t(width) * height, [&](int32_t y) {
      std::memcpy(b.output + size_t(y) * size_t(f.outRowBytes),
                  b.input + size_t(y) * size_t(f.inRowBytes), rowSize);
    });
  return ApplyEffect(context, settings, options, polling, b.planes, deep);
}

// A 16-bit render is the 8-bit render of the samples' nearest 8-bit values, each sample then
// moved up by what its 8-bit value gained. It is carried out in the output buffer, whose rows
// hold twice the bytes of an 8-bit row. Glow copies the input's words and narrows each row as
// it looks for centres in it; only where stamps can change a row do its 8-bit values go into
// the second half of its bytes to be drawn on and widened again. Sparkle, whose stars change
// what later rows select, draws on every row narrowed into the first half of its bytes.
void RenderSixteenBit(RenderContext& context, const PixelBuffers& b, size_t samples,
                      const EffectSettings& settings, const RenderOptions& options,
                      const HostPolling& polling) {
  const int32_t height = std::max(b.height, 0);
  const size_t inStride = std::max<size_t>(size_t(std::max(b.inRowBytes, 0)), 2 * samples);
  const size_t outStride = std::max<size_t>(size_t(std::max(b.outRowBytes, 0)), 2 * samples);
  const int64_t work = 3 * int64_t(samples / size_t(b.planes)) * height;
  // The 8-bit render's rows, drawn `outputOffset` bytes into each row's bytes and read from
  // `inputOffset` bytes into it.
  auto eightBit = [&](size_t inputOffset, size_t outputOffset = 0) {
    return PixelBuffers{samples > 0 ? b.output + inputOffset : nullptr,
                        int32_t(outStride),
                        b.output + outputOffset,
                        int32_t(outStride),
                        std::max(b.width, 0),
                        height,
                        b.planes,
                        8};
  };
  const PixelBuffers output = eightBit(0);
  auto widen = [&] {
    ForEachRow(context, options.tuning, height, work, [&](int32_t y) {
      WidenRow(b.input + size_t(y) * inStride, b.output + size_t(y) * outStride, samples);
    });
  };
  if (settings.mode == 1) {
    ForEachRow(context, options.tuning, height, work, [&](int32_t y) {
      NarrowToEightBits(b.input + size_t(y) * inStride, b.output + size_t(y) * outStride, samples);
    });
    RenderEightBit(context, output, settings, options, polling, true);
    widen();
    return;
  }
  const DeepRows deep{b.input, inStride, samples, b.output, outStride};
  if (RenderEightBit(context, eightBit(samples, samples), settings, options, polling, false, &deep))
    return;
  // Without the work memory of the centre pass, the 8-bit render reads its input from the
  // second half of each row's bytes (the two halves never overlap) and draws in the first.
  ForEachRow(context, options.tuning, height, work, [&](int32_t y) {
    NarrowToEightBits(b.input + size_t(y) * inStride, b.output + size_t(y) * outStride + samples,
                      samples);
  });
  RenderEightBit(context, eightBit(samples), settings, options, polling);
  widen();
}

void RenderAtDepth(RenderContext& context, const PixelBuffers& b, const EffectSettings& settings,
                   const RenderOptions& options, const HostPolling& polling) {
  if (b.depth != 16 && b.depth != 32) {
    RenderEightBit(context, b, settings, options, polling);
    return;
  }
  const size_t sampleBytes = b.depth == 16 ? 2 : 4;
  const size_t samples = b.planes > 0 ? size_t(std::max(b.width, 0)) * size_t(b.planes) : 0;
  const int32_t height = std::max(b.height, 0);
  // Nothing to read from or write to, or rows no host record can describe.
  if (samples * sampleBytes > size_t(INT32_MAX)) return;
  if (samples > 0 && height > 0 && (!b.input || !b.output)) return;
  if (b.depth == 16 && (b.planes == 3 || b.planes == 4)) {
    RenderSixteenBit(context, b, samples, settings, options, polling);
    return;
  }
  // Float samples, and other plane counts at 16 bits, pass through unchanged.
  const size_t rowSize = samples * sampleBytes;
  const size_t inStride = std::max<size_t>(size_t(std::max(b.inRowBytes, 0)), rowSize);
  const size_t outStride = std::max<size_t>(size_t(std::max(b.outRowBytes, 0)), rowSize);
  if (rowSize > 0)
    ForEachRow(context, options.tuning, height, int64_t(rowSize / 3) * height, [&](int32_t y) {
      std::memcpy(b.output + size_t(y) * outStride, b.input + size_t(y) * inStride, rowSize);
    });
}

}  // namespace

void RenderPixels(RenderContext& context, const PixelBuffers& b, const EffectSettings& settings,
                  const RenderOptions& options, const HostPolling& polling) {
  RenderAtDepth(context, b, settings, options, polling);
  EndRender(context);
}
