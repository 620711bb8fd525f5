// stb_image and stb_image_write behind the image-file interface: the whole codec of the
// Windows build, and BMP and TGA in the native one.
#pragma once

#include <cstdint>
#include <string>

#include "imagefile/ImageFile.h"

bool StbDecode(const std::string& bytes, const std::string& name, uint64_t maxPixels,
               ImageFile* file, std::string* error);
// "png", "jpg", "bmp" or "tga"; 1 to 4 planes.
bool StbEncode(const Image& image, const std::string& format, int quality, std::string* bytes,
               std::string* error);

// The message for an image too large to decode, shared by every codec.
std::string TooLargeMessage(const std::string& name, uint64_t width, uint64_t height,
                            uint64_t frames, uint64_t maxPixels);
// Turns grey, grey with alpha, RGB or RGBA 8-bit pixels into the filter's RGB or RGBA.
Image ToFilterPlanes(const uint8_t* pixels, int width, int height, int channels);
