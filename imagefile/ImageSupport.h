// What every image codec of the command shares: the message for an image too large to
// decode, and the filter's RGB or RGBA planes from the library's pixels.
#pragma once

#include <cstdint>
#include <string>

#include "filterhost/FilterHost.h"

// The message for an image too large to decode.
std::string TooLargeMessage(const std::string& name, uint64_t width, uint64_t height,
                            uint64_t frames, uint64_t maxPixels);
// Turns grey, grey with alpha, RGB or RGBA 8-bit pixels into the filter's RGB or RGBA.
Image ToFilterPlanes(const uint8_t* pixels, int width, int height, int channels);

// CMYK without a colour profile, by the plain rule both builds share: red is
// (255 - C) * (255 - K) / 255, truncated, green the same of M and blue of Y. A fifth
// channel is the alpha.
Image CmykToFilterPlanes(const uint8_t* pixels, int width, int height, int channels);
extern const char kPlainCmykNote[];
