// The effect engine's entry: plain buffers and settings in, pixels out. It never sees the
// host's record or its callback types.
#pragma once

#include <cstdint>

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
// width * planes). The input is never written.
struct PixelBuffers {
  const uint8_t* input;
  int32_t inRowBytes;
  uint8_t* output;
  int32_t outRowBytes;
  int32_t width;
  int32_t height;
  int32_t planes;
};

// The host's abort and progress callbacks, polled once per row. Either may be null.
struct HostPolling {
  void* context;
  bool (*abort)(void* context);
  void (*progress)(void* context, int32_t done, int32_t total);
};

// Copies the input to the output, then draws the effect of the settings. Settings outside
// the dialog's ranges render safely: radius as the nearest of 0 and 100, a scale that is not
// positive as 1 (the effective radius never exceeds 100), no streaks as stars that draw
// nothing. Null buffers for a non-empty image render nothing and poll nothing.
void RenderPixels(const PixelBuffers& buffers, const EffectSettings& settings,
                  const HostPolling& polling);
