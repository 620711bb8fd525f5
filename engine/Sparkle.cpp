#include <cmath>

#include "engine/Effects.h"
#include "engine/RenderFrame.h"

namespace {

constexpr double kDegreesToRadians = 0.0174533;  // as the effect has always drawn it
constexpr double kInverseRandomMax = 1.0 / 32767.0;

inline void Deposit(uint8_t* pixel, double w, const int32_t colour[3]) {
  for (int k = 0; k < 3; ++k) {
    const int32_t v = int32_t(colour[k] * w);
    const int32_t c = pixel[k];
    pixel[k] = uint8_t(c + ((v * (255 - c)) >> 8));
  }
}

inline uint8_t* PixelAt(int32_t x, int32_t y) {
  const RenderFrame& f = g_renderFrame;
  return f.output + size_t(y) * size_t(f.outRowBytes) + size_t(x) * size_t(f.planes);
}

// One half of a streak: from the centre along (sx, sy) until the squared distance reaches S.
void WalkStreak(int32_t x, int32_t y, double sx, double sy, double S, const int32_t colour[3]) {
  const RenderFrame& f = g_renderFrame;
  double px = x;
  double py = y;
  for (;;) {
    const double dxc = px - x;
    const double dyc = py - y;
    const int32_t D = int32_t(dxc * dxc + dyc * dyc);
    if (!(D < S)) break;
    if (px > f.firstColumn && px < f.width - 1 && py > f.firstRow && py < f.endRow - 1) {
      const double fade = 1 - D / S;
      SplatPoint(px, py, int32_t(colour[0] * fade), int32_t(colour[1] * fade),
                 int32_t(colour[2] * fade));
    }
    px = px + sx;
    py = py + sy;
  }
}

}  // namespace

void SplatPoint(double px, double py, int32_t c0, int32_t c1, int32_t c2) {
  const int32_t colour[3] = {c0 & 0xFF, c1 & 0xFF, c2 & 0xFF};
  const int32_t ix = int32_t(px);
  const int32_t iy = int32_t(py);
  const double fx = px - ix;
  const double fy = py - iy;
  const double gx = px - (ix + 1);
  const double gy = py - (iy + 1);
  Deposit(PixelAt(ix, iy), std::exp(-0.5 * (fx * fx + fy * fy)), colour);
  Deposit(PixelAt(ix + 1, iy), std::exp(-0.5 * (gx * gx + fy * fy)), colour);
  Deposit(PixelAt(ix + 1, iy + 1), std::exp(-0.5 * (gx * gx + gy * gy)), colour);
  Deposit(PixelAt(ix, iy + 1), std::exp(-0.5 * (fx * fx + gy * gy)), colour);
}

void DrawSparkle(int32_t x, int32_t y, int32_t red, int32_t green, int32_t blue, int32_t length,
                 double angle, int32_t streaks) {
  // No streaks means no directions: nothing to draw and no lengths to draw for.
  if (streaks <= 0) return;
  // More than 360 streaks would give a step of 0 and never end; one per degree is the most.
  const int64_t step = streaks > 360 ? 1 : 360 / streaks;
  // Far outside any angle in use the truncation would not fit; such an angle counts as 0.
  const int64_t a0 = std::fabs(angle) < 1e15 ? int64_t(angle) : 0;
  const int32_t colour[3] = {red & 0xFF, green & 0xFF, blue & 0xFF};
  for (int64_t a = a0; a < a0 + 360; a += step) {
    const int32_t r = NextRandom();
    double L = (r * kInverseRandomMax) * double(length);
    L = L + L;
    const double S = L * L;
    const double theta = double(a) * kDegreesToRadians;
    const double sx = std::cos(theta);
    const double sy = std::sin(theta);
    WalkStreak(x, y, sx, sy, S, colour);
    WalkStreak(x, y, -sx, -sy, S, colour);
  }
}
