// The renders the speed goals are stated for, shared by the Google Benchmark program and
// the plain timing program that runs where Google Benchmark is not to be had (Windows).
#pragma once

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine/Engine.h"
#include "tests/oracle/Oracle.h"

namespace bench {

struct Case {
  std::string name;
  oracle::Image image;
  EffectSettings settings;
  bool previewing = false;
};

// Dense: three quarters of the pixels near the colour, the rest noise. Sparse: dark noise
// with 0.2 % bright lights.
struct Colour {
  int red, green, blue;
};
constexpr Colour kAmber{200, 170, 90};
// Stars keep bright pixels in their window, so that they stay candidates for more stars.
constexpr Colour kPale{230, 220, 200};
// Nothing matches: no pixel of the noise is exactly this colour.
constexpr Colour kNone{1, 2, 3};
constexpr Colour kLight{255, 200, 90};

// An RGB image of that size, every sample 0.
inline oracle::Image Blank(int width, int height) {
  oracle::Image im;
  im.width = width;
  im.height = height;
  im.planes = 3;
  im.samples.resize(size_t(width) * height * 3);
  return im;
}

inline oracle::Image Scene(int width, int height, bool dense, Colour near = kAmber) {
  oracle::Image im = Blank(width, height);
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> byte(0, 255), dark(0, 60), pct(0, 999), jitter(-12, 12),
      bright(245, 255);
  const int centre[3] = {near.red, near.green, near.blue};
  for (size_t i = 0; i < im.samples.size(); i += 3) {
    const int roll = pct(rng);
    for (int k = 0; k < 3; ++k) {
      int v;
      if (dense)
        v = roll < 750 ? centre[k] + jitter(rng) : byte(rng);
      else
        v = roll < 2 ? bright(rng) : dark(rng);
      im.samples[i + k] = uint8_t(v);
    }
  }
  return im;
}

// Uniform noise on every sample, as busy as an image gets, with no pixel equal to `avoid`.
inline oracle::Image Noise(int width, int height, Colour avoid) {
  oracle::Image im = Blank(width, height);
  std::mt19937 rng(11);
  for (uint8_t& v : im.samples) v = uint8_t(rng() >> 24);
  for (size_t i = 0; i < im.samples.size(); i += 3)
    if (im.samples[i] == avoid.red && im.samples[i + 1] == avoid.green &&
        im.samples[i + 2] == avoid.blue)
      im.samples[i] = uint8_t(avoid.red ^ 1);
  return im;
}

// A few lights over noise: `pixels` pixels near `light` (within 3 of it on each sample) in
// clusters of about ten (3 x 3 and a little more), spread at random.
inline oracle::Image LightsOverNoise(int width, int height, Colour light, int pixels) {
  oracle::Image im = Noise(width, height, light);
  std::mt19937 rng(13);
  std::uniform_int_distribution<int> xs(0, width - 4), ys(0, height - 4), jitter(-3, 3), cell(0, 3);
  const int centre[3] = {light.red, light.green, light.blue};
  auto set = [&](int x, int y) {
    for (int k = 0; k < 3; ++k)
      im.At(x, y, k) = uint8_t(std::clamp(centre[k] + jitter(rng), 0, 255));
  };
  for (int placed = 0; placed < pixels; placed += 10) {
    const int x = xs(rng), y = ys(rng);
    for (int dy = 0; dy < 3; ++dy)
      for (int dx = 0; dx < 3; ++dx) set(x + dx, y + dy);
    set(x + cell(rng), y + 3);
  }
  return im;
}

inline EffectSettings Glow(int threshold, int radius, float scale = 1.0f) {
  return {kAmber.red, kAmber.green, kAmber.blue, threshold, radius, 45, 4, 0, scale};
}

// Noise against colour 1, 2, 3 at threshold 0: the copy and one test of each pixel.
inline EffectSettings NothingMatches() {
  return {kNone.red, kNone.green, kNone.blue, 0, 30, 45, 4, 0, 1.0f};
}
inline EffectSettings LightsGlow() {
  return {kLight.red, kLight.green, kLight.blue, 5, 30, 45, 4, 0, 1.0f};
}

inline std::vector<Case> Cases() {
  const EffectSettings sparse{255, 255, 255, 10, 30, 45, 4, 0, 1.0f};
  const EffectSettings sparkle{kPale.red, kPale.green, kPale.blue, 100, 60, 30, 4, 1, 1.0f};
  EffectSettings sparklePreview = sparkle;
  sparklePreview.scale = 6.0f;
  return {
      {"Glow r30 1600x1200 nothing matches", Noise(1600, 1200, kNone), NothingMatches()},
      {"Glow r30 1600x1200 lights over noise", LightsOverNoise(1600, 1200, kLight, 1000),
       LightsGlow()},
      {"Glow r30 1600x1200 dense", Scene(1600, 1200, true), Glow(30, 30)},
      {"Glow r100 800x600 dense", Scene(800, 600, true), Glow(30, 100)},
      {"Glow r30 1600x1200 sparse", Scene(1600, 1200, false), sparse},
      {"Sparkle r60 t100 800x600 dense", Scene(800, 600, true, kPale), sparkle},
      // The dialog's preview of a 1600 x 1200 image, reduced by 6.
      {"preview Glow r30 267x200 dense", Scene(267, 200, true), Glow(30, 30, 6.0f), true},
      {"preview Sparkle r60 267x200 dense", Scene(267, 200, true, kPale), sparklePreview, true},
  };
}

// One context for all the timed renders, as the plug-in keeps one for a run's renders.
inline RenderContext& Context() {
  static const RenderContextPtr context = NewRenderContext();
  return *context;
}

inline void RenderShipped(const Case& c, std::vector<uint8_t>& out,
                          const EngineTuning& tuning = {}) {
  out.resize(c.image.samples.size());
  const int stride = c.image.width * 3;
  const PixelBuffers buffers{c.image.samples.data(), stride,         out.data(), stride,
                             c.image.width,          c.image.height, 3};
  RenderOptions options;
  options.previewing = c.previewing;
  options.tuning = tuning;
  RenderPixels(Context(), buffers, c.settings, options, HostPolling{nullptr, nullptr, nullptr});
}

// The same case on the image converted to 16 bits, and the plain 16-bit rules.
inline void RenderShippedSixteen(const Case& c, const oracle::Image& wide,
                                 std::vector<uint8_t>& out, const EngineTuning& tuning = {}) {
  out.resize(wide.samples.size());
  const int stride = wide.width * wide.planes * 2;
  const PixelBuffers buffers{wide.samples.data(), stride,      out.data(),  stride,
                             wide.width,          wide.height, wide.planes, 16};
  RenderOptions options;
  options.previewing = c.previewing;
  options.tuning = tuning;
  RenderPixels(Context(), buffers, c.settings, options, HostPolling{nullptr, nullptr, nullptr});
}

inline std::vector<uint8_t> RenderPlainSixteen(const Case& c, const oracle::Image& wide) {
  oracle::ScriptedHost host;
  oracle::FrameFlags flags;
  flags.previewing = c.previewing;
  return oracle::Render(wide, c.settings, flags, host).samples;
}

inline std::vector<uint8_t> RenderPlain(const Case& c) {
  oracle::ScriptedHost host;
  oracle::FrameFlags flags;
  flags.previewing = c.previewing;
  return oracle::Render(c.image, c.settings, flags, host).samples;
}

struct Timing {
  std::string name;
  double plainMs = 0, shippedMs = 0;
  bool identical = false;
};

inline void PrintRatios(const std::vector<Timing>& timings) {
  std::printf("\n| case | plain | shipped | ratio | same bytes |\n|---|---|---|---|---|\n");
  for (const Timing& t : timings)
    std::printf("| %s | %.0f ms | %.1f ms | %.1fx | %s |\n", t.name.c_str(), t.plainMs, t.shippedMs,
                t.plainMs / t.shippedMs, t.identical ? "yes" : "NO");
}

}  // namespace bench
