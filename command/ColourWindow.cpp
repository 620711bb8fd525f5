#include "command/ColourWindow.h"

#include "engine/Engine.h"

uint64_t CountWindowPixels(const Image& image, const EffectParams& params) {
  if (image.planes < 3) return 0;
  const ColourWindow w = MakeColourWindow(params.red, params.green, params.blue, params.threshold);
  uint64_t count = 0;
  const size_t step = size_t(image.planes);
  for (size_t i = 0; i + step <= image.pixels.size(); i += step) {
    count += Matches(w, &image.pixels[i]);
  }
  return count;
}
