// Image loading as the command does it, on arbitrary file bytes: either an image of three
// or four planes whose pixels fill it exactly, or a refusal with a reason.
#include "fuzz/FuzzSupport.h"
#include "runner/ImageFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Image image;
  std::string error;
  if (!LoadImageFile(WriteFuzzFile(data, size), &image, &error)) {
    FUZZ_CHECK(!error.empty());
    return 0;
  }
  FUZZ_CHECK(image.width >= 1 && image.width <= INT16_MAX);
  FUZZ_CHECK(image.height >= 1 && image.height <= INT16_MAX);
  FUZZ_CHECK(image.planes == 3 || image.planes == 4);
  FUZZ_CHECK(image.pixels.size() == image.rowBytes() * size_t(image.height));
  return 0;
}
