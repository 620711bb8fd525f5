// What every image codec of the command shares: the message for an image too large to
// decode, and the filter's RGB or RGBA planes from the library's pixels.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "filterhost/FilterHost.h"

// The message for an image too large to decode.
std::string TooLargeMessage(const std::string& name, uint64_t width, uint64_t height,
                            uint64_t frames, uint64_t maxPixels);
// Turns grey, grey with alpha, RGB or RGBA 8-bit pixels into the filter's RGB or RGBA.
Image ToFilterPlanes(const uint8_t* pixels, int width, int height, int channels);
// The same of 16-bit samples, already in the host's range: a 16-bit image.
Image ToFilterPlanes(const uint16_t* pixels, int width, int height, int channels);

// A file's 16-bit samples (0 to 65535) and the host's (0 to 32768, full intensity) are
// converted exactly: to the host round(v * 32768 / 65535), back round(h * 65535 / 32768),
// above 32768 as 32768. Every host value comes back unchanged from a file.
constexpr uint16_t HostOfFileSample(uint32_t v) {
  return uint16_t((v * 32768 + 32767) / 65535);
}
constexpr uint16_t FileOfHostSample(uint32_t h) {
  return uint16_t(((h < 32768 ? h : 32768) * 65535 + 16384) / 32768);
}
// The 8-bit level of a file's 16-bit sample: the nearest 8-bit value of its host value, as
// the filter selects it.
uint8_t EightBitOfFileSample(uint16_t v);

// The image at that depth (8 or 16): at 8 bits each sample is the nearest 8-bit value of
// the 16-bit one, at 16 round(v * 32768 / 255). Narrowing works in place.
void ConvertDepth(Image* image, int depth);
// An 8-bit copy of a 16-bit image, for an encoder of 8-bit samples only; null for an 8-bit
// image, which serves as it is.
std::unique_ptr<Image> EightBitCopy(const Image& image);

// CMYK without a colour profile, by the plain rule both builds share: red is
// (255 - C) * (255 - K) / 255, truncated, green the same of M and blue of Y. A fifth
// channel is the alpha.
Image CmykToFilterPlanes(const uint8_t* pixels, int width, int height, int channels);
extern const char kPlainCmykNote[];
