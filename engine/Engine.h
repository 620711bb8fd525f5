// The effect engine's entry: plain buffers and settings in, pixels out. It never sees the
// host's record or its callback types, and reads nothing it is not handed: two renders with
// two contexts may run at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

struct EffectSettings {
  int32_t red, green, blue;
  int32_t threshold;
  int32_t radius;
  int32_t angle;
  int32_t streaks;
  int32_t mode;
  float scale;
};

// Input and output cover the same rectangle; rows may be padded (rowBytes at least
// width * planes * bytes per sample). The input is never written. At depth 16 each sample
// is a 16-bit word in the machine's byte order (little-endian, as hosts hand them), 0 to
// kFullSixteen for no light to full intensity: a 16-bit render selects, draws and polls
// exactly as the 8-bit render of the samples' nearest 8-bit values, and moves each sample by
// the steps its 8-bit value gained (SixteenBitResult). Depth 32 (float samples) is copied
// through unchanged, with no host calls; any other depth is rendered as 8 bits.
struct PixelBuffers {
  const uint8_t* input;
  int32_t inRowBytes;
  uint8_t* output;
  int32_t outRowBytes;
  int32_t width;
  int32_t height;
  int32_t planes;
  int32_t depth = 8;
};

// Full intensity of a 16-bit sample. Hosts may hand values above it: they count as full
// intensity, select as 255 and are never changed by the effect.
constexpr int32_t kFullSixteen = 32768;

// The 8-bit value nearest a 16-bit sample, round(v * 255 / 32768) with halves up; 255 above
// full intensity. Settings stay 8-bit: 16-bit pixels are selected and picked through this.
constexpr uint8_t NearestEightBit(uint32_t v) {
  return v >= uint32_t(kFullSixteen) ? 255 : uint8_t((v * 255 + kFullSixteen / 2) >> 15);
}

// The 16-bit sample of an 8-bit value, round(v * 32768 / 255); NearestEightBit undoes it.
constexpr uint16_t SixteenOfEightBit(uint8_t v) {
  return uint16_t((uint32_t(v) * kFullSixteen + 127) / 255);
}

// The nearest 8-bit value of each of `samples` 16-bit words, which need not be aligned.
// `narrow` may be `words` itself: the values are written over the words' first half.
void NarrowToEightBits(const uint8_t* words, uint8_t* narrow, size_t samples);

// What a 16-bit render makes of sample c, whose nearest 8-bit value the 8-bit render of the
// same pixels took to `rendered`: c moved up by the 16-bit size of those 8-bit steps, at
// most to full intensity. A sample whose 8-bit value did not change keeps its value: the
// fourth plane, and samples above full intensity (255, which nothing brightens).
constexpr uint16_t SixteenBitResult(uint16_t c, uint8_t rendered) {
  const uint8_t n = NearestEightBit(c);
  if (rendered <= n) return c;
  const int32_t moved = int32_t(c) + SixteenOfEightBit(rendered) - SixteenOfEightBit(n);
  return uint16_t(moved < kFullSixteen ? moved : kFullSixteen);
}

// The host's abort and progress callbacks, polled once per row. Either may be null.
struct HostPolling {
  void* context;
  bool (*abort)(void* context);
  void (*progress)(void* context, int32_t done, int32_t total);
};

// The colour the dialog's Set Color chose. While `use` is set both effects draw with it
// instead of the colour window's midpoint; the window still selects by the stored colour.
struct CustomColour {
  uint8_t use = 0;
  int32_t red = 0, green = 0, blue = 0;
};

// How renders are carried out. Every choice gives the same bytes and the same host calls;
// tests pin them to compare each with the plain rules, renders leave them automatic.
enum class GlowPath {
  Automatic,  // by the share of centres among the pixels
  Stamps,     // each centre's stamp in raster order
  Gather,     // each output pixel from the centres that reach it
};
struct EngineTuning {
  GlowPath glow = GlowPath::Automatic;
  // The most threads a render uses, the calling thread among them; 0: one for each core.
  // Fewer where the work is too little to be worth sharing.
  int32_t threads = 0;
  bool noWorkMemory = false;  // behave as if the gather's centre map could not be had
  // Tests: every part of every render shared among all the threads, each of them at work
  // from the start, however small the image.
  bool shareAll = false;
};

// What a render takes besides the stored settings.
struct RenderOptions {
  CustomColour colour;
  bool previewing = false;  // the dialog's preview: Glow on four planes leaves the host unpolled
  EngineTuning tuning;
};

// The tables one render prepares and works in: the glow kernel, its stamp layout, the
// streak directions, the random state and the render's bounds. Reused from render to render
// by one thread at a time; it keeps nothing that changes what the next render draws.
struct RenderContext;
struct RenderContextDeleter {
  void operator()(RenderContext* context) const;
};
using RenderContextPtr = std::unique_ptr<RenderContext, RenderContextDeleter>;
// Null when its memory (about 1 MB) cannot be had.
RenderContextPtr NewRenderContext();

// A render starts the threads it shares its work with and joins them before it returns. While
// a scope lives, the renders in its context keep them waiting between renders instead (the
// dialog's previews, one after another, start none), and the scope joins them as it ends:
// a host may unload the plug-in after any call, so a scope must end within the host's call.
class RenderThreadScope {
 public:
  explicit RenderThreadScope(RenderContext& context);
  ~RenderThreadScope();
  RenderThreadScope(const RenderThreadScope&) = delete;
  RenderThreadScope& operator=(const RenderThreadScope&) = delete;

 private:
  RenderContext& context_;
};

// Copies the input to the output, then draws the effect of the settings. Settings outside
// the dialog's ranges render safely: radius as the nearest of 0 and 100, a scale that is not
// positive as 1 (the effective radius never exceeds 100), no streaks as stars that draw
// nothing. Null buffers for a non-empty image render nothing and poll nothing.
void RenderPixels(RenderContext& context, const PixelBuffers& buffers,
                  const EffectSettings& settings, const RenderOptions& options,
                  const HostPolling& polling);

// The inclusive window of one colour component: c - threshold .. c + threshold, clamped
// to 0..255. Empty (low > high) for a negative threshold or a colour outside 0..255.
struct ColourWindow {
  int32_t lowRed, highRed, lowGreen, highGreen, lowBlue, highBlue;
};
ColourWindow MakeColourWindow(int32_t red, int32_t green, int32_t blue, int32_t threshold);

// Whether a pixel's red, green and blue (its first three samples) lie in the window.
inline bool Matches(const ColourWindow& w, const uint8_t* pixel) {
  return pixel[0] >= w.lowRed && pixel[0] <= w.highRed && pixel[1] >= w.lowGreen &&
         pixel[1] <= w.highGreen && pixel[2] >= w.lowBlue && pixel[2] <= w.highBlue;
}
