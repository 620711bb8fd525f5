#include "command/ColourWindow.h"

#include "engine/Engine.h"

uint64_t CountWindowPixels(const Image& image, const EffectParams& params) {
  if (image.planes < 3) return 0;
  const ColourWindow w = MakeColourWindow(params.red, params.green, params.blue, params.threshold);
  // Whether each 8-bit value lies in each channel's window: a table, not branches, which
  // noise mispredicts.
  uint8_t in[3][256];
  for (int v = 0; v < 256; ++v) {
    in[0][v] = v >= w.lowRed && v <= w.highRed;
    in[1][v] = v >= w.lowGreen && v <= w.highGreen;
    in[2][v] = v >= w.lowBlue && v <= w.highBlue;
  }
  uint64_t count = 0;
  const size_t step = size_t(image.planes) * image.sampleBytes();
  const uint8_t* p = image.pixels.data();
  const size_t size = image.pixels.size();
  if (image.depth != 16) {
    for (size_t i = 0; i + step <= size; i += step)
      count += in[0][p[i]] & in[1][p[i + 1]] & in[2][p[i + 2]];
    return count;
  }
  // Selected as the filter selects 16-bit pixels: by their nearest 8-bit values.
  auto eight = [p](size_t at) {
    return NearestEightBit(uint32_t(p[at]) | uint32_t(p[at + 1]) << 8);
  };
  for (size_t i = 0; i + step <= size; i += step)
    count += in[0][eight(i)] & in[1][eight(i + 2)] & in[2][eight(i + 4)];
  return count;
}
