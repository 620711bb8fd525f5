#include "imagefile/ImageSupport.h"

#include "imagefile/ImageFile.h"

std::string TooLargeMessage(const std::string& name, uint64_t width, uint64_t height,
                            uint64_t frames, uint64_t maxPixels) {
  std::string size = std::to_string(width) + " x " + std::to_string(height) + " pixels";
  if (frames > 1) size += " in " + std::to_string(frames) + " frames";
  return name + " is " + size + " (" + Megapixels(width * height * frames) +
         "), more than the limit of " + Megapixels(maxPixels) + "; --max-megapixels raises it";
}

Image ToFilterPlanes(const uint8_t* pixels, int width, int height, int channels) {
  Image image;
  image.width = width;
  image.height = height;
  image.planes = (channels == 2 || channels == 4) ? 4 : 3;
  const size_t count = size_t(width) * size_t(height);
  image.pixels.resize(count * size_t(image.planes));
  uint8_t* out = image.pixels.data();
  for (size_t i = 0; i < count; ++i, pixels += channels, out += image.planes) {
    const bool grey = channels <= 2;
    out[0] = pixels[0];
    out[1] = grey ? pixels[0] : pixels[1];
    out[2] = grey ? pixels[0] : pixels[2];
    if (image.planes == 4) out[3] = pixels[channels - 1];
  }
  return image;
}

const char kPlainCmykNote[] =
    "CMYK images without a colour profile are converted to RGB by the plain rule: red = "
    "(255 - C) x (255 - K) / 255, green and blue the same of M and Y";

Image CmykToFilterPlanes(const uint8_t* pixels, int width, int height, int channels) {
  Image image;
  image.width = width;
  image.height = height;
  image.planes = channels > 4 ? 4 : 3;
  const size_t count = size_t(width) * size_t(height);
  image.pixels.resize(count * size_t(image.planes));
  uint8_t* out = image.pixels.data();
  for (size_t i = 0; i < count; ++i, pixels += channels, out += image.planes) {
    const int white = 255 - pixels[3];
    for (int c = 0; c < 3; ++c) out[c] = uint8_t((255 - pixels[c]) * white / 255);
    if (image.planes == 4) out[3] = pixels[4];
  }
  return image;
}
