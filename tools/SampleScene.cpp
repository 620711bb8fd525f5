// Draws the demo's sample picture: a small night street with coloured lights. The same
// picture every time, so the demo and the tests never need a file from elsewhere.
//   corvanel_sample OUTPUT [WIDTH HEIGHT] [--alpha | --grey]
#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "imagefile/ImageFile.h"

namespace {

uint32_t g_state = 12345;
int Random(int n) {  // a fixed generator, so the picture never changes
  g_state = g_state * 1103515245u + 12345u;
  return int((g_state >> 16) % uint32_t(n));
}

struct Canvas {
  Image image;
  void Set(int x, int y, int r, int g, int b) {
    if (x < 0 || y < 0 || x >= image.width || y >= image.height) return;
    uint8_t* p = &image.pixels[(size_t(y) * size_t(image.width) + size_t(x)) * 3];
    p[0] = uint8_t(r);
    p[1] = uint8_t(g);
    p[2] = uint8_t(b);
  }
  void Fill(int x0, int y0, int x1, int y1, int r, int g, int b) {
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) Set(x, y, r, g, b);
  }
};

struct Light {
  int r, g, b;
};
constexpr Light kLamps[] = {{255, 200, 90}, {255, 60, 80}, {60, 220, 255}, {120, 255, 120}};

// The street at night, in RGB.
Image DrawScene(int width, int height) {
  Canvas c;
  c.image.width = width;
  c.image.height = height;
  c.image.planes = 3;
  c.image.pixels.resize(size_t(width) * size_t(height) * 3);
  const int horizon = height * 7 / 10;
  for (int y = 0; y < height; ++y) {  // sky darkening upward, then the street
    int t = y * 255 / horizon;
    if (y < horizon)
      c.Fill(0, y, width, y + 1, 4 + t * 14 / 255, 6 + t * 18 / 255, 24 + t * 40 / 255);
    else
      c.Fill(0, y, width, y + 1, 14, 13, 18);
  }
  for (int i = 0; i < width * height / 400; ++i)  // stars
    c.Set(Random(width), Random(horizon / 2), 255, 255, 255);

  for (int x = 0; x < width;) {  // houses with lit windows
    int w = width / 12 + Random(width / 10 + 1), h = height / 5 + Random(height / 3);
    int shade = 16 + Random(10);
    c.Fill(x, horizon - h, x + w, horizon, shade, shade, shade + 8);
    for (int wy = horizon - h + 4; wy + 4 < horizon; wy += 7)
      for (int wx = x + 3; wx + 3 < x + w; wx += 6)
        if (Random(3) == 0) c.Fill(wx, wy, wx + 3, wy + 4, 255, 210, 120);
    x += w + 1 + Random(4);
  }
  for (int x = width / 10; x < width; x += width / 5) {  // street lamps, each its colour
    const Light& light = kLamps[(x / (width / 5)) % 4];
    c.Fill(x, horizon - height / 8, x + 1, horizon + 6, 40, 40, 46);
    c.Fill(x - 1, horizon - height / 8 - 2, x + 2, horizon - height / 8 + 1, light.r, light.g,
           light.b);
  }

  return c.image;
}

// The picture with an alpha channel fading left to right, or as one grey channel.
Image WithPlanes(const Image& rgb, bool alpha, bool grey) {
  const int width = rgb.width, height = rgb.height;
  Image out = rgb;
  if (alpha || grey) {
    out.planes = alpha ? 4 : 3;
    out.pixels.assign(size_t(width) * size_t(height) * size_t(out.planes), 0);
    for (size_t i = 0; i < size_t(width) * size_t(height); ++i) {
      const uint8_t* p = &rgb.pixels[i * 3];
      uint8_t* q = &out.pixels[i * size_t(out.planes)];
      if (grey)
        q[0] = q[1] = q[2] = uint8_t((p[0] * 3 + p[1] * 6 + p[2]) / 10);
      else
        std::memcpy(q, p, 3);
      if (alpha)
        q[3] = uint8_t(255 - (i % size_t(width)) * 128 / size_t(width));  // fading left to right
    }
  }
  if (grey) {
    // Written as a one-channel file, so readers see a real grey image.
    Image g = out;
    g.planes = 1;
    g.pixels.resize(size_t(width) * size_t(height));
    for (size_t i = 0; i < g.pixels.size(); ++i) g.pixels[i] = out.pixels[i * 3];
    out = g;
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Draws the sample picture, a night street with coloured lights: the same "
      "picture every time.",
      "corvanel_sample"};
  app.allow_windows_style_options(false);
  app.option_defaults()->take_last();
  std::string output;
  std::vector<int> size;
  bool alpha = false, grey = false;
  app.add_option("OUTPUT", output, "the image to write, in the format its extension names")
      ->required();
  app.add_option("SIZE", size, "WIDTH HEIGHT in pixels, 8-4096 each (default 320 200)")
      ->expected(2)
      ->type_name("WIDTH HEIGHT")
      ->check(CLI::Range(8, 4096));
  auto* alphaFlag = app.add_flag("--alpha", alpha, "add an alpha channel fading left to right");
  app.add_flag("--grey", grey, "write a one-channel grey image")->excludes(alphaFlag);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "corvanel_sample: %s (see corvanel_sample --help)\n", e.what());
    return 2;
  }
  const int width = size.empty() ? 320 : size[0], height = size.empty() ? 200 : size[1];

  std::string error;
  if (!SaveImageFile(output, WithPlanes(DrawScene(width, height), alpha, grey), &error)) {
    std::fprintf(stderr, "corvanel_sample: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
