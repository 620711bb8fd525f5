#include "tests/oracle/Oracle.h"

#include <cmath>
#include <cstdint>

namespace oracle {

namespace {

int64_t Max(int64_t a, int64_t b) {
  return a > b ? a : b;
}
int64_t Min(int64_t a, int64_t b) {
  return a < b ? a : b;
}

// A stored radius outside 0..100 is taken as the nearest of those bounds.
int32_t UsableRadius(int32_t radius) {
  if (radius < 0) return 0;
  if (radius > 100) return 100;
  return radius;
}

// radius / scale truncated; no more than 100; a scale that is not positive counts as 1.
int32_t EffectiveRadiusOf(int32_t radius, float scale) {
  if (!(scale > 0)) return radius;
  double e = double(radius) / double(scale);
  if (e > 100) return 100;
  return int32_t(e);
}

struct Random {
  uint32_t state = 0;
  int32_t Next() {
    state = state * 214013u + 2531011u;
    return int32_t((state >> 16) & 0x7FFF);
  }
};

// Full intensity: 255 at 8 bits, kFullSixteen at 16.
int32_t FullOf(const Image& image) {
  return image.depth == 16 ? kFullSixteen : 255;
}

// Samples at or above full intensity have no gap and never change.
int32_t Gap(int32_t full, int32_t c) {
  return c < full ? full - c : 0;
}

int32_t Brighten(int32_t full, int32_t c, int32_t k) {
  return c + ((Gap(full, c) * k) >> 8);
}

struct Renderer {
  Image out;
  const Image& in;
  EffectSettings s;
  FrameFlags flags;
  ScriptedHost& host;
  Random random;
  Kernel kernel;

  // colour window, inclusive
  int64_t low[3];
  int64_t high[3];
  // effect colour, already reduced to its low 8 bits
  int32_t colour[3];
  int32_t radius;
  int32_t effectiveRadius;

  Renderer(const Image& input, const EffectSettings& settings, const FrameFlags& f, ScriptedHost& h)
      : out(input), in(input), s(settings), flags(f), host(h) {}

  // Selection is 8-bit: a 16-bit sample is compared through its nearest 8-bit value.
  bool Matches(const Image& image, int x, int y) const {
    for (int k = 0; k < 3; ++k) {
      uint32_t v = image.Sample(x, y, k);
      if (image.depth == 16) v = NearestEightBit(v);
      if (v < low[k] || v > high[k]) return false;
    }
    return true;
  }

  void Setup() {
    const int32_t stored[3] = {s.red, s.green, s.blue};
    for (int k = 0; k < 3; ++k) {
      low[k] = Max(int64_t(stored[k]) - s.threshold, 0);
      high[k] = Min(int64_t(stored[k]) + s.threshold, 255);
    }
    random.state = 666;
    const int32_t custom[3] = {flags.customRed, flags.customGreen, flags.customBlue};
    for (int k = 0; k < 3; ++k) {
      int32_t c = flags.useCustomColor ? custom[k] : int32_t((low[k] + high[k]) / 2);
      colour[k] = c & 0xFF;
    }
    radius = UsableRadius(s.radius);
    kernel = BuildKernel(radius, colour[0], colour[1], colour[2]);
    effectiveRadius = EffectiveRadiusOf(radius, s.scale);
  }

  void Stamp(int x, int y) {
    int e = effectiveRadius;
    for (int dy = -e; dy <= e; ++dy) {
      for (int dx = -e; dx <= e; ++dx) {
        int tx = x + dx;
        int ty = y + dy;
        if (!(ty > 0 && ty < out.height && tx > 0 && tx < out.width)) continue;
        for (int k = 0; k < 3; ++k) {
          int32_t w = (dx == 100 || dy == 100) ? 0 : kernel.Weight(dx, dy, k);
          out.SetSample(tx, ty, k, Brighten(FullOf(out), out.Sample(tx, ty, k), w));
        }
      }
    }
  }

  void Splat(double px, double py, int32_t c0, int32_t c1, int32_t c2) {
    int32_t c[3] = {c0 & 0xFF, c1 & 0xFF, c2 & 0xFF};
    int ix = int(px);
    int iy = int(py);
    double fx = px - ix;
    double fy = py - iy;
    struct Corner {
      int x, y;
      double d2;
    };
    Corner corners[4] = {
        {ix, iy, fx * fx + fy * fy},
        {ix + 1, iy, (px - (ix + 1)) * (px - (ix + 1)) + fy * fy},
        {ix + 1, iy + 1, (px - (ix + 1)) * (px - (ix + 1)) + (py - (iy + 1)) * (py - (iy + 1))},
        {ix, iy + 1, fx * fx + (py - (iy + 1)) * (py - (iy + 1))},
    };
    for (const Corner& corner : corners) {
      double w = std::exp(-0.5 * corner.d2);
      for (int k = 0; k < 3; ++k) {
        int32_t v = int32_t(c[k] * w);
        out.SetSample(corner.x, corner.y, k,
                      Brighten(FullOf(out), out.Sample(corner.x, corner.y, k), v));
      }
    }
  }

  void Walk(int x, int y, double sx, double sy, double S, bool backward) {
    double px = x;
    double py = y;
    int32_t D = int32_t((px - x) * (px - x) + (py - y) * (py - y));
    while (D < S) {
      if (px > 0 && px < out.width - 1 && py > 0 && py < out.height - 1) {
        double f = 1 - D / S;
        Splat(px, py, int32_t(colour[0] * f), int32_t(colour[1] * f), int32_t(colour[2] * f));
      }
      if (backward) {
        px = px - sx;
        py = py - sy;
      } else {
        px = px + sx;
        py = py + sy;
      }
      D = int32_t((px - x) * (px - x) + (py - y) * (py - y));
    }
  }

  void Star(int x, int y) {
    if (s.streaks <= 0) return;  // no directions
    int64_t step = 360 / s.streaks;
    if (step < 1) step = 1;
    int64_t a0 = s.angle;
    for (int64_t a = a0; a < a0 + 360; a += step) {
      int32_t r = random.Next();
      double L = ((r * (1.0 / 32767.0)) * double(effectiveRadius)) * 2;
      double S = L * L;
      double theta = double(a) * 0.0174533;
      double sx = std::cos(theta);
      double sy = std::sin(theta);
      Walk(x, y, sx, sy, S, false);
      Walk(x, y, sx, sy, S, true);
    }
  }

  void Run() {
    Setup();
    if (in.planes != 3 && in.planes != 4) return;
    if (in.depth == 32) return;
    const bool sparkle = s.mode == 1;
    const bool poll = sparkle || in.planes == 3 || !flags.previewing;
    int32_t count = 0;
    bool skipNext = false;
    for (int y = 0; y < in.height; ++y) {
      if (poll) {
        if (host.Abort()) return;
        host.Progress(count, in.height);
        count++;
      }
      for (int x = 0; x < in.width; ++x) {
        if (sparkle) {
          if (!Matches(out, x, y)) continue;
          int32_t r = random.Next();
          if (s.threshold * 0.002 > r * 3.0518509447574615e-05) Star(x, y);
        } else if (skipNext) {
          skipNext = false;
        } else if (Matches(in, x, y)) {
          Stamp(x, y);
          skipNext = true;
        }
      }
    }
  }
};

}  // namespace

Kernel BuildKernel(int32_t radius, int32_t red, int32_t green, int32_t blue) {
  Kernel kernel;
  double r = UsableRadius(radius);
  int n = int(r);
  int32_t components[3] = {red & 0xFF, green & 0xFF, blue & 0xFF};
  for (int i = -n; i <= n - 1; ++i) {
    for (int j = -n; j <= n - 1; ++j) {
      int d = i * i + j * j;
      double w = 2.0 / ((d / (r * r)) * 15.0 + 1.0);
      for (int k = 0; k < 3; ++k)
        kernel.weights[((size_t(i) + 100) * 200 + (size_t(j) + 100)) * 3 + k] =
            int32_t((components[k] * w) * 0.05) & 0xFF;
    }
  }
  return kernel;
}

Image Widen(const Image& image) {
  Image wide = image;
  wide.depth = 16;
  wide.samples.resize(image.samples.size() * 2);
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x)
      for (int k = 0; k < image.planes; ++k)
        wide.SetSample(x, y, k, SixteenOfEightBit(image.At(x, y, k)));
  return wide;
}

Image Narrow(const Image& image) {
  Image narrow = image;
  narrow.depth = 8;
  narrow.samples.resize(image.samples.size() / 2);
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x)
      for (int k = 0; k < image.planes; ++k)
        narrow.At(x, y, k) = NearestEightBit(image.Sample(x, y, k));
  return narrow;
}

Image Render(const Image& input, const EffectSettings& settings, const FrameFlags& flags,
             ScriptedHost& host) {
  Renderer renderer(input, settings, flags, host);
  renderer.Run();
  return renderer.out;
}

}  // namespace oracle
