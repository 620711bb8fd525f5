#include "command/ColourWindow.h"

#include "engine/Engine.h"

uint64_t CountWindowPixels(const Image& image, const EffectParams& params) {
  if (image.planes < 3) return 0;
  const ColourWindow w = MakeColourWindow(params.red, params.green, params.blue, params.threshold);
  uint64_t count = 0;
  const size_t step = size_t(image.planes) * image.sampleBytes();
  for (size_t i = 0; i + step <= image.pixels.size(); i += step) {
    if (image.depth != 16) {
      count += Matches(w, &image.pixels[i]);
      continue;
    }
    // Selected as the filter selects 16-bit pixels: by their nearest 8-bit values.
    uint8_t rgb[3];
    for (int c = 0; c < 3; ++c)
      rgb[c] = NearestEightBit(uint32_t(image.pixels[i + 2 * size_t(c)]) |
                               uint32_t(image.pixels[i + 2 * size_t(c) + 1]) << 8);
    count += Matches(w, rgb);
  }
  return count;
}
