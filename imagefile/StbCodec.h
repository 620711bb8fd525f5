// stb_image and stb_image_write behind the image-file interface: BMP and TGA in the native
// build.
#pragma once

#include <cstdint>
#include <string>

#include "imagefile/ImageFile.h"
#include "imagefile/ImageSupport.h"

bool StbDecode(const std::string& bytes, const std::string& name, uint64_t maxPixels,
               ImageFile* file, std::string* error);
// "png", "jpg", "bmp" or "tga"; 1 to 4 planes.
bool StbEncode(const Image& image, const std::string& format, int quality, std::string* bytes,
               std::string* error);
