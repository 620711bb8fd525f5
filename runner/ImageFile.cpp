#include "runner/ImageFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "runner/SafeWrite.h"
#include "stb_image.h"
#include "stb_image_write.h"

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

void AppendBytes(void* context, void* data, int size) {
  auto* out = static_cast<std::vector<uint8_t>*>(context);
  auto* bytes = static_cast<const uint8_t*>(data);
  out->insert(out->end(), bytes, bytes + size);
}

// stb_image as Debian ships it trusts the code counts of a JPEG's Huffman tables and writes
// past its tables when a table counts more than 256 codes. Such a file is damaged: it is
// found here, walking the markers as stb does, before stb reads it.
bool JpegHuffmanTablesFit(const std::vector<uint8_t>& b) {
  size_t start = 0;  // stb lets fill bytes come before the start marker too
  while (start < b.size() && b[start] == 0xFF) ++start;
  if (start == 0 || start == b.size() || b[start] != 0xD8) return true;  // not a JPEG
  auto at = [&](size_t i) { return i < b.size() ? b[i] : uint8_t(0); };  // stb reads 0 at the end
  for (size_t i = start + 1; i + 1 < b.size();) {
    const uint8_t m = b[i + 1];
    if (b[i] != 0xFF || m == 0xFF) {  // entropy-coded data and fill bytes
      ++i;
    } else if (m == 0x00 || m == 0x01 || (m >= 0xD0 && m <= 0xD9)) {  // no length
      i += 2;
    } else {
      const size_t length = size_t(at(i + 2)) << 8 | at(i + 3);
      if (m == 0xC4) {
        long left = long(length) - 2;
        for (size_t t = i + 4; left > 0;) {
          size_t codes = 0;
          for (size_t k = 1; k <= 16; ++k) codes += at(t + k);
          if (codes > 256) return false;
          t += 17 + codes;
          left -= long(17 + codes);
        }
      }
      i += 2 + std::max<size_t>(length, 2);
    }
  }
  return true;
}

}  // namespace

bool OutputFormatFor(const std::string& path, ImageFormat* format, std::string* error) {
  const size_t dot = path.find_last_of('.');
  const size_t slash = path.find_last_of("/\\");
  std::string ext = dot == std::string::npos || (slash != std::string::npos && dot < slash)
                        ? std::string()
                        : Lower(path.substr(dot + 1));
  if (ext == "png")
    *format = ImageFormat::kPng;
  else if (ext == "jpg" || ext == "jpeg")
    *format = ImageFormat::kJpeg;
  else if (ext == "bmp")
    *format = ImageFormat::kBmp;
  else if (ext == "tga")
    *format = ImageFormat::kTga;
  else {
    *error = "cannot write " + path + ": unknown output format" +
             (ext.empty() ? std::string() : " '." + ext + "'") +
             " (use .png, .jpg, .jpeg, .bmp or .tga)";
    return false;
  }
  return true;
}

bool LoadImageFile(const std::string& path, Image* image, std::string* error) {
  errno = 0;
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *error = "cannot open " + path + ": " + (errno ? std::strerror(errno) : "unreadable");
    return false;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                             std::istreambuf_iterator<char>());
  if (file.bad()) {
    *error = "cannot read " + path;
    return false;
  }
  if (bytes.empty() || bytes.size() > size_t(INT32_MAX)) {
    *error = path + " is not an image file (" + (bytes.empty() ? "empty" : "too large") + ")";
    return false;
  }
  if (!JpegHuffmanTablesFit(bytes)) {
    *error = path + " is damaged (a JPEG Huffman table with more than 256 codes)";
    return false;
  }
  int width = 0, height = 0, channels = 0;
  const int size = int(bytes.size());
  if (!stbi_info_from_memory(bytes.data(), size, &width, &height, &channels)) {
    *error = path + " is not an image this program reads (" + stbi_failure_reason() + ")";
    return false;
  }
  if (width < 1 || height < 1) {  // stb takes a BMP of height 0, for one
    *error = path + " is damaged (an image of " + std::to_string(width) + " x " +
             std::to_string(height) + " pixels)";
    return false;
  }
  if (width > INT16_MAX || height > INT16_MAX) {
    *error = path + " is " + std::to_string(width) + " x " + std::to_string(height) +
             " pixels; the filter takes at most 32767 in each direction";
    return false;
  }
  // Grey becomes RGB so the effect applies; alpha, with or without colour, stays.
  const int planes = (channels == 2 || channels == 4) ? 4 : 3;
  stbi_uc* pixels = stbi_load_from_memory(bytes.data(), size, &width, &height, &channels, planes);
  if (!pixels) {
    *error = path + " is damaged or unsupported (" + stbi_failure_reason() + ")";
    return false;
  }
  image->width = width;
  image->height = height;
  image->planes = planes;
  image->pixels.assign(pixels, pixels + size_t(width) * size_t(height) * size_t(planes));
  stbi_image_free(pixels);
  return true;
}

bool SaveImageFile(const std::string& path, const Image& image, std::string* error,
                   bool (*stop)()) {
  ImageFormat format;
  if (!OutputFormatFor(path, &format, error)) return false;
  std::vector<uint8_t> encoded;
  const int w = image.width, h = image.height, c = image.planes;
  const void* px = image.pixels.data();
  int ok = 0;
  switch (format) {
    case ImageFormat::kPng:
      ok = stbi_write_png_to_func(AppendBytes, &encoded, w, h, c, px, int(image.rowBytes()));
      break;
    case ImageFormat::kJpeg:
      ok = stbi_write_jpg_to_func(AppendBytes, &encoded, w, h, c, px, 95);
      break;
    case ImageFormat::kBmp:
      ok = stbi_write_bmp_to_func(AppendBytes, &encoded, w, h, c, px);
      break;
    case ImageFormat::kTga:
      ok = stbi_write_tga_to_func(AppendBytes, &encoded, w, h, c, px);
      break;
  }
  if (!ok || encoded.empty()) {
    *error = "cannot encode the image for " + path;
    return false;
  }

  return WriteFileBeside(path, std::string(encoded.begin(), encoded.end()), path, stop, error);
}
