// Image files in and out. The native build reads and writes them through libvips (and
// BMP and TGA through stb_image), the Windows build through the Windows Imaging Component
// (and TGA through stb_image); the rest of the runner sees only this interface.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "filterhost/FilterHost.h"

// What an image file held, as the filter takes it: every frame RGB, or RGBA with the alpha
// as the fourth plane, 8-bit, or 16-bit where the file has more than 8 bits a sample (see
// LoadOptions::depth).
struct ImageFile {
  std::vector<Image> frames;  // one for a still image; the frames of an animation or pages
  std::string format;         // what it was read as, by its usual extension: "png", "jpg", ...
  int fileDepth = 8;          // bits a sample in the file: 8, 16, or 32 (float or integer)
  // Conversions worth saying: "grey images are filtered and written as RGB".
  std::vector<std::string> notes;
  std::shared_ptr<const void> source;  // the library's own record: metadata to write again
  // Of all frames, from the header: set before decoding, so that a failure can name it.
  uint64_t pixels = 0;
};

// Memory that a library could not have (libvips' "out of memory"), thrown as the standard
// allocator's failure is, with what the library said: never mistaken for a damaged file.
class OutOfMemory : public std::bad_alloc {
 public:
  explicit OutOfMemory(std::string detail) : detail_(std::move(detail)) {}
  const char* what() const noexcept override { return "out of memory"; }
  const std::string& detail() const { return detail_; }

 private:
  std::string detail_;
};
// Whether a library's message says that memory could not be had.
bool SaysOutOfMemory(const std::string& message);

// "24.0 megapixels"
std::string Megapixels(uint64_t pixels);

struct ImageFormatInfo {
  const char* name;        // "png": the extension --format takes
  const char* extensions;  // every extension it is known by, for --help
  bool reads;
  bool writes;
  bool lossy;   // --quality applies
  bool alpha;   // keeps the fourth plane
  bool frames;  // keeps several frames
  bool deep;    // keeps 16-bit samples
};
// The formats of this build.
const std::vector<ImageFormatInfo>& ImageFormats();
// The format of that ImageFormatInfo::name, or null.
const ImageFormatInfo* FindImageFormat(const std::string& name);
// "libvips 8.14.1", "stb_image": for --version.
std::string ImageLibraryVersions();

// Told how far decoding or encoding has come, 0 to 100, where the library says.
using ProgressFunction = std::function<void(int percent)>;

struct LoadOptions {
  uint64_t maxPixels = 0;    // of all frames together; 0: DefaultPixelLimit()
  bool (*stop)() = nullptr;  // polled while decoding; true ends it
  ProgressFunction progress;
  // The format the image will be written in: one that holds a single image refuses an
  // animation before it is decoded. Empty: any.
  std::string outputFormat;
  // The frames' depth: 8 or 16; 0: 16 where the file has more than 8 bits a sample.
  int depth = 0;
};
// A limit on decoded pixels that suits the memory this program can address here.
uint64_t DefaultPixelLimit();
// Throws OutOfMemory when an image of that many pixels could not be finished in the address
// space this process has left (where that is limited); each backend asks before decoding.
// A 16-bit run takes about twice what an 8-bit one does.
void EnsureMemoryFor(uint64_t pixels, int depth = 8);
// What a run takes at its peak per pixel of the image, as both of the above count it.
uint64_t PeakBytesPerPixel();

// JPEG, WebP, HEIF/AVIF and JPEG XL quality when --quality is not given.
constexpr int kDefaultQuality = 90;

struct SaveOptions {
  int quality = 0;           // 1-100 for lossy formats; 0: the format's default
  bool (*stop)() = nullptr;  // polled while encoding; true ends it
  ProgressFunction progress;
};

// The format that a file name's extension, or a bare extension ("jpeg", ".TIF"), names,
// as ImageFormatInfo::name; false, with the formats this build writes, for others.
bool OutputFormatFor(const std::string& nameOrExtension, std::string* format, std::string* error);

// True when `format` keeps that many frames; false, saying which formats would.
bool HoldsFrames(const std::string& format, size_t frames, std::string* error);

// Decodes a whole file's bytes; `name` names it in messages. Images whose decoded size
// exceeds the limit are refused before they are decoded. Every image comes in here.
bool DecodeImage(const std::string& bytes, const std::string& name, const LoadOptions& options,
                 ImageFile* file, std::string* error);
// Reads a file ("-": standard input) and decodes it.
bool LoadImageFile(const std::string& path, const LoadOptions& options, ImageFile* file,
                   std::string* error);

// Encodes the frames in `format`, keeping what the source file said about itself (EXIF,
// XMP, ICC profile, resolution) where the format holds it. 16-bit frames are written at 16
// bits where the format is `deep`, else as their nearest 8-bit values.
bool EncodeImage(const ImageFile& file, const std::string& format, const SaveOptions& options,
                 std::string* bytes, std::string* error);

// One still image, 1 to 4 planes, written to `path` in the format its extension names.
bool SaveImageFile(const std::string& path, const Image& image, std::string* error);
// The first frame of an image file.
bool LoadImageFile(const std::string& path, Image* image, std::string* error);
