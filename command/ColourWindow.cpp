#include "command/ColourWindow.h"

#include "engine/Effects.h"

uint64_t CountWindowPixels(const Image& image, const EffectParams& params) {
  if (image.planes < 3) return 0;
  const ColourWindow w = MakeColourWindow(params.red, params.green, params.blue, params.threshold);
  uint64_t count = 0;
  const size_t step = size_t(image.planes);
  for (size_t i = 0; i + step <= image.pixels.size(); i += step) {
    const uint8_t* p = &image.pixels[i];
    count += p[0] >= w.lowRed && p[0] <= w.highRed && p[1] >= w.lowGreen && p[1] <= w.highGreen &&
             p[2] >= w.lowBlue && p[2] <= w.highBlue;
  }
  return count;
}
