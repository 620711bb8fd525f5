// Image loading as the command does it, on arbitrary file bytes: either an image of three
// or four planes whose pixels fill it exactly, or a refusal with a reason.
#include "fuzz/FuzzSupport.h"
#include "imagefile/ImageFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A small decode limit, as --max-megapixels gives, keeps every decoder inside the
  // fuzzer's memory limit; refusing before decoding is part of what is tested.
  LoadOptions options;
  options.maxPixels = 4 * 1000 * 1000;
  ImageFile file;
  std::string error;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  if (!DecodeImage(bytes, "fuzz input", options, &file, &error)) {
    FUZZ_CHECK(!error.empty());
    return 0;
  }
  FUZZ_CHECK(!file.frames.empty());
  for (const Image& image : file.frames) {
    FUZZ_CHECK(image.width >= 1 && image.height >= 1);
    FUZZ_CHECK(uint64_t(image.width) * uint64_t(image.height) <= options.maxPixels);
    FUZZ_CHECK(image.planes == 3 || image.planes == 4);
    FUZZ_CHECK(image.pixels.size() == image.rowBytes() * size_t(image.height));
  }
  return 0;
}
