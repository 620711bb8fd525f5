// What every decode through stb_image does, in both builds: the checks before decoding and
// the decode of one still image into the filter's planes.
#pragma once

#include <cstdint>
#include <string>

#include "imagefile/ImageFile.h"

// The file's size, a header stb reads, a size above zero, the pixel limit and the address
// space left, before a pixel is decoded; sets file->pixels and the file's channels (1 to 4).
// False with the message.
bool StbReadHeader(const std::string& bytes, const std::string& name, uint64_t limit,
                   ImageFile* file, int* channels, std::string* error);

// Decodes the image with those channels into file->frames; out of memory is thrown.
bool StbDecodeFrame(const std::string& bytes, const std::string& name, int channels,
                    ImageFile* file, std::string* error);
