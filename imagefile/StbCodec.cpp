#include "imagefile/StbCodec.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "imagefile/StbFrame.h"
#include "stb_image.h"
#include "stb_image_write.h"

namespace {

void AppendBytes(void* context, void* data, int size) {
  static_cast<std::string*>(context)->append(static_cast<const char*>(data), size_t(size));
}

// stb_image as Debian ships it trusts the code counts of a JPEG's Huffman tables and writes
// past its tables when a table counts more than 256 codes. Such a file is damaged: it is
// found here, walking the markers as stb does, before stb reads it.
bool JpegHuffmanTablesFit(const std::string& bytes) {
  const auto* b = reinterpret_cast<const uint8_t*>(bytes.data());
  const size_t n = bytes.size();
  size_t start = 0;  // stb lets fill bytes come before the start marker too
  while (start < n && b[start] == 0xFF) ++start;
  if (start == 0 || start == n || b[start] != 0xD8) return true;  // not a JPEG
  auto at = [&](size_t i) { return i < n ? b[i] : uint8_t(0); };  // stb reads 0 at the end
  for (size_t i = start + 1; i + 1 < n;) {
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

bool StbDecode(const std::string& bytes, const std::string& name, uint64_t maxPixels,
               ImageFile* file, std::string* error) {
  if (!JpegHuffmanTablesFit(bytes)) {
    *error = name + " is damaged (a JPEG Huffman table with more than 256 codes)";
    return false;
  }
  int channels = 0;
  if (!StbReadHeader(bytes, name, maxPixels, file, &channels, error)) return false;
  const auto* data = reinterpret_cast<const stbi_uc*>(bytes.data());
  const int size = int(bytes.size());
  const bool gif = size >= 6 && std::memcmp(data, "GIF8", 4) == 0;
  if (gif) {
    // stb gives every frame of an animation, but this build writes no animation format.
    int* delays = nullptr;
    int frames = 0, w = 0, h = 0, c = 0;
    stbi_uc* all = stbi_load_gif_from_memory(data, size, &delays, &w, &h, &frames, &c, 4);
    if (all) {
      stbi_image_free(all);
      stbi_image_free(delays);
      if (frames > 1) {
        *error = name + " is an animation of " + std::to_string(frames) +
                 " frames; this build reads only single-frame images";
        return false;
      }
    }
  }
  if (!StbDecodeFrame(bytes, name, channels, file, error)) return false;
  if (stbi_is_16_bit_from_memory(data, size))
    file->notes.push_back("16-bit samples are filtered as 8-bit samples (the plug-in's format)");
  if (channels <= 2) file->notes.push_back("grey images are filtered as RGB");
  return true;
}

bool StbEncode(const Image& image, const std::string& format, int quality, std::string* bytes,
               std::string* error) {
  bytes->clear();
  const int w = image.width, h = image.height, c = image.planes;
  const void* px = image.pixels.data();
  int ok = 0;
  if (format == "png")
    ok = stbi_write_png_to_func(AppendBytes, bytes, w, h, c, px, int(image.rowBytes()));
  else if (format == "jpg")
    ok = stbi_write_jpg_to_func(AppendBytes, bytes, w, h, c, px, quality > 0 ? quality : 90);
  else if (format == "bmp")
    ok = stbi_write_bmp_to_func(AppendBytes, bytes, w, h, c, px);
  else if (format == "tga")
    ok = stbi_write_tga_to_func(AppendBytes, bytes, w, h, c, px);
  if (!ok || bytes->empty()) {
    *error = "cannot encode the image as " + format;
    return false;
  }
  return true;
}
