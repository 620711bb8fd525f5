// Image files in and out: PNG, JPEG, BMP, TGA, GIF (first frame) and the other formats
// stb_image reads; PNG, JPEG, BMP and TGA written, chosen by the file's extension.
#pragma once

#include <string>

#include "runner/FilterHost.h"

enum class ImageFormat { kPng, kJpeg, kBmp, kTga };

// The format the output's extension names (case ignored); false, with a reason, for others.
bool OutputFormatFor(const std::string& path, ImageFormat* format, std::string* error);

// Reads an image as 8-bit RGB (grey expanded) or RGBA (any alpha kept as the fourth plane).
bool LoadImageFile(const std::string& path, Image* image, std::string* error);

// Encodes the image (3 or 4 planes) and puts it in place of `path` in one step: written
// beside it first, then renamed, so an existing file is never left half-written. JPEG
// has no alpha and drops the fourth plane. When stop() says so just before the rename, the
// new file is thrown away and `path` left as it was.
bool SaveImageFile(const std::string& path, const Image& image, std::string* error,
                   bool (*stop)() = nullptr);
