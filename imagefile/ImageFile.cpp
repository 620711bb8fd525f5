#include "imagefile/ImageFile.h"

#include <algorithm>

#include "files/FileSystem.h"
#include "files/SafeWrite.h"
#include "imagefile/StbCodec.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

bool KnownBy(const ImageFormatInfo& format, const std::string& ext) {
  const std::string list = std::string(" ") + format.extensions + " ";
  return list.find(" " + ext + " ") != std::string::npos;
}

}  // namespace

uint64_t DefaultPixelLimit() {
  // 256 megapixels (1 GiB for one RGBA copy); less where the runner's few copies of the
  // image (about 24 bytes a pixel in all) would not fit in memory.
  constexpr uint64_t kMost = 256ull * 1000 * 1000;
#ifdef _WIN32
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  const uint64_t memory = GlobalMemoryStatusEx(&status) ? status.ullTotalPhys : 0;
#else
  const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
  const uint64_t memory = pages > 0 && pageSize > 0 ? uint64_t(pages) * uint64_t(pageSize) : 0;
#endif
  if (memory == 0) return kMost;
  return std::max<uint64_t>(16ull * 1000 * 1000, std::min(kMost, memory / 24));
}

bool SaysOutOfMemory(const std::string& message) {
  const std::string m = Lower(message);
  for (const char* says : {"out of memory", "insufficient memory", "not enough memory",
                           "cannot allocate", "failed to allocate", "memory allocation fail"})
    if (m.find(says) != std::string::npos) return true;
  return false;
}

std::string Megapixels(uint64_t pixels) {
  const uint64_t tenths = (pixels + 50000) / 100000;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " megapixels";
}

const ImageFormatInfo* FindImageFormat(const std::string& name) {
  for (const ImageFormatInfo& info : ImageFormats())
    if (name == info.name) return &info;
  return nullptr;
}

bool HoldsFrames(const std::string& format, size_t frames, std::string* error) {
  if (frames <= 1) return true;
  for (const ImageFormatInfo& info : ImageFormats())
    if (format == info.name && info.frames) return true;
  std::string which;
  for (const ImageFormatInfo& info : ImageFormats())
    if (info.writes && info.frames)
      which += std::string(which.empty() ? "" : ", ") + "." + info.name;
  *error = "the image has " + std::to_string(frames) + " frames and ." + format + " holds one" +
           (which.empty() ? std::string() : "; write " + which + " to keep them all");
  return false;
}

bool OutputFormatFor(const std::string& nameOrExtension, std::string* format, std::string* error) {
  const std::string& s = nameOrExtension;
  const size_t dot = s.find_last_of('.');
  const size_t slash = s.find_last_of("/\\");
  std::string ext;
  if (dot == std::string::npos)
    ext = slash == std::string::npos ? Lower(s) : "";  // a bare extension
  else if (slash == std::string::npos || dot > slash)
    ext = Lower(s.substr(dot + 1));
  std::string writable;
  for (const ImageFormatInfo& info : ImageFormats()) {
    if (!info.writes) continue;
    if (KnownBy(info, ext)) {
      *format = info.name;
      return true;
    }
    writable += std::string(writable.empty() ? "" : ", ") + "." + info.name;
  }
  *error = "unknown output format" + (ext.empty() ? std::string() : " '." + ext + "'") +
           " (this build writes " + writable + ")";
  return false;
}

bool LoadImageFile(const std::string& path, const LoadOptions& options, ImageFile* file,
                   std::string* error) {
  std::string bytes;
  if (!ReadInputFile(path, path, &bytes, error)) return false;
  return DecodeImage(bytes, path == "-" ? "standard input" : path, options, file, error);
}

bool LoadImageFile(const std::string& path, Image* image, std::string* error) {
  ImageFile file;
  if (!LoadImageFile(path, LoadOptions{}, &file, error)) return false;
  *image = std::move(file.frames.front());
  return true;
}

bool SaveImageFile(const std::string& path, const Image& image, std::string* error) {
  std::string format, bytes;
  OutputFile out;
  if (!OutputFormatFor(path, &format, error)) {
    *error = "cannot write " + path + ": " + *error;
    return false;
  }
  if (!CheckOutput(path, path, &out, error)) return false;
  ImageFile file;
  file.frames.push_back(image);
  if (!EncodeImage(file, format, SaveOptions{}, &bytes, error)) return false;
  return WriteOutput(out, bytes, path, nullptr, error);
}
