#include "imagefile/ImageSupport.h"

#include <cstring>

#include "engine/Engine.h"
#include "imagefile/ImageFile.h"

std::string TooLargeMessage(const std::string& name, uint64_t width, uint64_t height,
                            uint64_t frames, uint64_t maxPixels) {
  std::string size = std::to_string(width) + " x " + std::to_string(height) + " pixels";
  if (frames > 1) size += " in " + std::to_string(frames) + " frames";
  return name + " is " + size + " (" + Megapixels(width * height * frames) +
         "), more than the limit of " + Megapixels(maxPixels) + "; --max-megapixels raises it";
}

namespace {

template <typename Sample>
Image FilterPlanesOf(const Sample* pixels, int width, int height, int channels) {
  Image image;
  image.width = width;
  image.height = height;
  image.planes = (channels == 2 || channels == 4) ? 4 : 3;
  image.depth = int32_t(sizeof(Sample) * 8);
  const size_t count = size_t(width) * size_t(height);
  image.pixels.resize(count * image.sampleBytes() * size_t(image.planes));
  // Little-endian words at 16 bits, as every build's machine keeps them.
  Sample* out = reinterpret_cast<Sample*>(image.pixels.data());
  for (size_t i = 0; i < count; ++i, pixels += channels, out += image.planes) {
    const bool grey = channels <= 2;
    out[0] = pixels[0];
    out[1] = grey ? pixels[0] : pixels[1];
    out[2] = grey ? pixels[0] : pixels[2];
    if (image.planes == 4) out[3] = pixels[channels - 1];
  }
  return image;
}

}  // namespace

Image ToFilterPlanes(const uint8_t* pixels, int width, int height, int channels) {
  return FilterPlanesOf(pixels, width, height, channels);
}

Image ToFilterPlanes(const uint16_t* pixels, int width, int height, int channels) {
  return FilterPlanesOf(pixels, width, height, channels);
}

uint8_t EightBitOfFileSample(uint16_t v) {
  return NearestEightBit(HostOfFileSample(v));
}

std::unique_ptr<Image> EightBitCopy(const Image& image) {
  if (image.depth != 16) return nullptr;
  auto narrow = std::make_unique<Image>();
  narrow->width = image.width;
  narrow->height = image.height;
  narrow->planes = image.planes;
  const size_t samples = size_t(image.width) * size_t(image.height) * size_t(image.planes);
  narrow->pixels.resize(samples);
  NarrowToEightBits(image.pixels.data(), narrow->pixels.data(), samples);
  return narrow;
}

void ConvertDepth(Image* image, int depth) {
  if (image->depth == depth || (depth != 8 && depth != 16)) return;
  const size_t samples = size_t(image->width) * size_t(image->height) * size_t(image->planes);
  std::vector<uint8_t>& p = image->pixels;
  if (depth == 8) {
    NarrowToEightBits(p.data(), p.data(), samples);
    p.resize(samples);
    p.shrink_to_fit();
  } else {
    std::vector<uint8_t> wide(samples * 2);
    for (size_t i = 0; i < samples; ++i) {
      const uint16_t v = SixteenOfEightBit(p[i]);
      std::memcpy(&wide[2 * i], &v, 2);
    }
    p.swap(wide);
  }
  image->depth = depth;
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
