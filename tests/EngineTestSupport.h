// Runs the engine on oracle images, with the host's side scripted and recorded.
#pragma once

#include <cstring>
#include <random>

#include "engine/Engine.h"
#include "host/HostTypes.h"
#include "tests/oracle/Oracle.h"

inline HostPolling PollingFor(oracle::ScriptedHost& host) {
  return {&host, [](void* c) { return static_cast<oracle::ScriptedHost*>(c)->Abort(); },
          [](void* c, int32_t done, int32_t total) {
            static_cast<oracle::ScriptedHost*>(c)->Progress(done, total);
          }};
}

inline RenderOptions OptionsOf(const oracle::FrameFlags& flags, const EngineTuning& tuning = {}) {
  RenderOptions options;
  options.colour = {uint8_t(flags.useCustomColor ? 1 : 0), flags.customRed, flags.customGreen,
                    flags.customBlue};
  options.previewing = flags.previewing;
  options.tuning = tuning;
  return options;
}

// The context of this thread's renders, when a test does not bring its own.
inline RenderContext& ThreadContext() {
  thread_local const RenderContextPtr context = NewRenderContext();
  return *context;
}

// Renders with rows padded by the given number of bytes; the padding of the output must
// come back as it went in (0xA5).
inline oracle::Image EngineRender(const oracle::Image& in, const EffectSettings& settings,
                                  const oracle::FrameFlags& flags, oracle::ScriptedHost& host,
                                  int inPad = 0, int outPad = 0, bool* paddingKept = nullptr,
                                  const EngineTuning& tuning = {},
                                  RenderContext* context = nullptr) {
  const int rowSize = in.width * in.planes * in.SampleBytes();
  const int inStride = rowSize + inPad;
  const int outStride = rowSize + outPad;
  std::vector<uint8_t> input(size_t(inStride) * in.height + 1, 0x5A);
  std::vector<uint8_t> output(size_t(outStride) * in.height + 1, 0xA5);
  for (int y = 0; y < in.height; ++y)
    if (rowSize > 0)
      std::memcpy(&input[size_t(y) * inStride], &in.samples[size_t(y) * rowSize], rowSize);

  PixelBuffers buffers{input.data(), inStride,  output.data(), outStride,
                       in.width,     in.height, in.planes,     in.depth};
  RenderPixels(context ? *context : ThreadContext(), buffers, settings, OptionsOf(flags, tuning),
               PollingFor(host));

  oracle::Image out = in;
  bool kept = output.back() == 0xA5;
  for (int y = 0; y < in.height; ++y) {
    if (rowSize > 0)
      std::memcpy(&out.samples[size_t(y) * rowSize], &output[size_t(y) * outStride], rowSize);
    for (int p = rowSize; p < outStride; ++p)
      kept = kept && output[size_t(y) * outStride + p] == 0xA5;
  }
  if (paddingKept) *paddingKept = kept;
  return out;
}

inline oracle::Image SolidImage(int width, int height, int planes, uint8_t value) {
  oracle::Image image;
  image.width = width;
  image.height = height;
  image.planes = planes;
  image.samples.assign(size_t(width) * height * planes, value);
  return image;
}

inline EffectSettings Settings(int32_t red, int32_t green, int32_t blue, int32_t threshold,
                               int32_t radius, int32_t mode, int32_t angle = 45,
                               int32_t streaks = 4, float scale = 1.0f) {
  return {red, green, blue, threshold, radius, angle, streaks, mode, scale};
}

// Mostly pixels near (r, g, b) so that the window selects a fair share, the rest noise.
inline oracle::Image SceneImage(std::mt19937& rng, int width, int height, int planes, int r, int g,
                                int b, int nearShare) {
  oracle::Image image = SolidImage(width, height, planes, 0);
  std::uniform_int_distribution<int> byte(0, 255), pct(0, 99), jitter(-12, 12);
  auto clampByte = [](int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); };
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const bool near = pct(rng) < nearShare;
      // Three colour samples are drawn for every pixel, so the sequence does not depend on
      // the plane count, but only the planes the image has are written.
      const int centre[3] = {r, g, b};
      for (int k = 0; k < 3; ++k) {
        const uint8_t v = near ? clampByte(centre[k] + jitter(rng)) : uint8_t(byte(rng));
        if (k < planes) image.At(x, y, k) = v;
      }
      for (int k = 3; k < planes; ++k) image.At(x, y, k) = uint8_t(byte(rng));
    }
  return image;
}

// The document with the filter rectangle replaced by the plain rules' render of it.
inline oracle::Image ExpectedDocument(const oracle::Image& document, Rect r,
                                      const EffectSettings& s, oracle::ScriptedHost& calls,
                                      int abortAtCall = -1) {
  const size_t pixelBytes = size_t(document.planes) * size_t(document.SampleBytes());
  oracle::Image area{r.right - r.left, r.bottom - r.top, document.planes, {}, document.depth};
  const size_t rowBytes = size_t(area.width) * pixelBytes;
  auto at = [&](const oracle::Image& image, int y) {
    return (size_t(r.top + y) * size_t(image.width) + size_t(r.left)) * pixelBytes;
  };
  area.samples.resize(rowBytes * size_t(area.height));
  for (int y = 0; y < area.height; ++y)
    std::memcpy(&area.samples[size_t(y) * rowBytes], &document.samples[at(document, y)], rowBytes);
  EffectSettings full = s;
  full.scale = 1.0f;
  calls.abortAtCall = abortAtCall;
  const oracle::Image done = oracle::Render(area, full, {}, calls);
  oracle::Image result = document;
  for (int y = 0; y < area.height; ++y)
    std::memcpy(&result.samples[at(result, y)], &done.samples[size_t(y) * rowBytes], rowBytes);
  return result;
}
