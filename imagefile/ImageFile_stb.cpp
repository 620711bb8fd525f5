// The Windows build's image files: stb_image reads, stb_image_write writes.
#include "imagefile/ImageFile.h"
#include "imagefile/StbCodec.h"

// The one format table of this build. PNM is not read (STBI_NO_PNM in
// StbImplementation.cpp).
const std::vector<ImageFormatInfo>& ImageFormats() {
  static const std::vector<ImageFormatInfo> formats = {
      {"jpg", "jpg jpeg", true, true, true, false, false},
      {"png", "png", true, true, false, true, false},
      {"bmp", "bmp", true, true, false, true, false},
      {"tga", "tga", true, true, false, true, false},
      {"gif", "gif (single-frame)", true, false, false, true, false},
      {"psd", "psd (composite)", true, false, false, true, false},
  };
  return formats;
}

std::string ImageLibraryVersions() {
  return "stb_image, stb_image_write";
}

bool DecodeImage(const std::string& bytes, const std::string& name, const LoadOptions& options,
                 ImageFile* file, std::string* error) {
  *file = ImageFile{};
  if (bytes.empty()) {
    *error = name + " is empty";
    return false;
  }
  return StbDecode(bytes, name, options.maxPixels ? options.maxPixels : DefaultPixelLimit(), file,
                   error);
}

bool EncodeImage(const ImageFile& file, const std::string& format, const SaveOptions& options,
                 std::string* bytes, std::string* error) {
  if (file.frames.empty()) {
    *error = "there is no image to write";
    return false;
  }
  if (!HoldsFrames(format, file.frames.size(), error)) return false;
  return StbEncode(file.frames.front(), format, options.quality, bytes, error);
}
