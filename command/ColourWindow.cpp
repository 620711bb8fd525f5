#include "command/ColourWindow.h"

#include <algorithm>

uint64_t CountWindowPixels(const Image& image, const EffectParams& params) {
  if (image.planes < 3) return 0;
  int32_t low[3], high[3];
  const int32_t colour[3] = {params.red, params.green, params.blue};
  for (int c = 0; c < 3; ++c) {
    low[c] = std::max<int32_t>(colour[c] - params.threshold, 0);
    high[c] = std::min<int32_t>(colour[c] + params.threshold, 255);
  }
  uint64_t count = 0;
  const size_t step = size_t(image.planes);
  for (size_t i = 0; i + step <= image.pixels.size(); i += step) {
    const uint8_t* p = &image.pixels[i];
    count += p[0] >= low[0] && p[0] <= high[0] && p[1] >= low[1] && p[1] <= high[1] &&
             p[2] >= low[2] && p[2] <= high[2];
  }
  return count;
}
