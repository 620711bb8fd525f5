#include <cstring>

#include "engine/Effects.h"
#include "engine/RenderFrame.h"

GlowKernelTable GlowKernel;

void BuildGlowKernel(double radius, uint32_t colour) {
  std::memset(GlowKernel, 0, sizeof(GlowKernel));
  // Beyond the table's reach (or a NaN) there is nothing safe to build.
  if (!(radius >= 0)) radius = 0;
  if (radius > kMaxRadius) radius = kMaxRadius;

  const int32_t n = int32_t(radius);
  const double r2 = radius * radius;
  const int32_t components[3] = {int32_t(colour & 0xFF), int32_t((colour >> 8) & 0xFF),
                                 int32_t((colour >> 16) & 0xFF)};
  for (int32_t i = -n; i < n; ++i) {
    for (int32_t j = -n; j < n; ++j) {
      const int32_t d = i * i + j * j;
      const double w = 2.0 / ((d / r2) * 15.0 + 1.0);
      int32_t* entry = GlowKernel[i + kMaxRadius][j + kMaxRadius];
      for (int k = 0; k < 3; ++k) entry[k] = int32_t((components[k] * w) * 0.05) & 0xFF;
    }
  }
}

namespace {

inline void Screen(uint8_t* sample, int32_t weight) {
  const int32_t c = *sample;
  *sample = uint8_t(c + (((255 - c) * weight) >> 8));
}

}  // namespace

void StampGlow(int32_t x, int32_t y, int32_t e) {
  const RenderFrame& f = g_renderFrame;
  if (e < 0) e = 0;
  if (e > kMaxRadius) e = kMaxRadius;
  for (int32_t dy = -e; dy <= e; ++dy) {
    const int32_t row = y + dy;
    if (row <= f.firstRow || row >= f.endRow) continue;
    uint8_t* line = f.output + size_t(row) * size_t(f.outRowBytes);
    for (int32_t dx = -e; dx <= e; ++dx) {
      const int32_t column = x + dx;
      if (column <= f.firstColumn || column >= f.width) continue;
      // Offset +100 lies past the table and weighs nothing.
      if (dx == kMaxRadius || dy == kMaxRadius) continue;
      const int32_t* weights = GlowKernel[dx + kMaxRadius][dy + kMaxRadius];
      uint8_t* pixel = line + size_t(column) * size_t(f.planes);
      Screen(pixel + 0, weights[0]);
      Screen(pixel + 1, weights[1]);
      Screen(pixel + 2, weights[2]);
    }
  }
}
