#include "imagefile/StbFrame.h"

#include <climits>
#include <cstring>

#include "imagefile/ImageSupport.h"
#include "stb_image.h"

bool StbReadHeader(const std::string& bytes, const std::string& name, uint64_t limit,
                   ImageFile* file, int* channels, std::string* error) {
  if (bytes.size() > size_t(INT_MAX)) {
    *error = name + " is too large a file for this build to read";
    return false;
  }
  int width = 0, height = 0;
  if (!stbi_info_from_memory(reinterpret_cast<const stbi_uc*>(bytes.data()), int(bytes.size()),
                             &width, &height, channels)) {
    *error = name + " is not an image this program reads (" + stbi_failure_reason() + ")";
    return false;
  }
  if (width < 1 || height < 1) {  // stb takes a BMP of height 0, for one
    *error = name + " is damaged (an image of " + std::to_string(width) + " x " +
             std::to_string(height) + " pixels)";
    return false;
  }
  file->pixels = uint64_t(width) * uint64_t(height);
  if (file->pixels > limit) {
    *error = TooLargeMessage(name, uint64_t(width), uint64_t(height), 1, limit);
    return false;
  }
  EnsureMemoryFor(file->pixels);
  return true;
}

bool StbDecodeFrame(const std::string& bytes, const std::string& name, int channels,
                    ImageFile* file, std::string* error) {
  int width = 0, height = 0, had = 0;
  stbi_uc* pixels = stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(bytes.data()),
                                          int(bytes.size()), &width, &height, &had, channels);
  if (!pixels) {
    if (std::strcmp(stbi_failure_reason(), "outofmem") == 0) throw OutOfMemory("stb_image");
    *error = name + " is damaged or unsupported (" + stbi_failure_reason() + ")";
    return false;
  }
  file->frames.assign(1, ToFilterPlanes(pixels, width, height, channels));
  stbi_image_free(pixels);
  return true;
}
