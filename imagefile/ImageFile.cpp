#include "imagefile/ImageFile.h"

#include <algorithm>

#include "files/FileSystem.h"
#include "files/SafeWrite.h"
#include "imagefile/StbCodec.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <cstdio>

namespace {

bool KnownBy(const ImageFormatInfo& format, const std::string& ext) {
  const std::string list = std::string(" ") + format.extensions + " ";
  return list.find(" " + ext + " ") != std::string::npos;
}

}  // namespace

// What one run of the command takes per pixel of the image at most, measured as the peak
// of 24-megapixel runs (address space natively, with two malloc arenas: 16 bytes for RGB,
// 18 for RGBA to PNG, 29 for RGBA to WebP; the 64-bit corvanel.exe under Wine, resident:
// 13 for RGB, 17 for RGBA), with a margin (on Windows for a fragmented address space). The
// host serves the whole image from its own memory since (12-megapixel RGB, resident: 14
// bytes 8-bit, 22 to 27 16-bit, PNG and TIFF), so 16-bit runs count twice.
#ifdef _WIN32
constexpr uint64_t kBytesPerPixel = 24;
#else
constexpr uint64_t kBytesPerPixel = 32;
#endif
// The program itself, its libraries and its threads.
constexpr uint64_t kBaseBytes = 256ull << 20;

namespace {

// All the memory this program may address: physical memory, and the process's address
// space (a 32-bit Windows program: 2 GB, or 4 GB large-address-aware on 64-bit Windows;
// natively any ulimit -v).
uint64_t AddressableBytes() {
  uint64_t memory = UINT64_MAX;
#ifdef _WIN32
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (GlobalMemoryStatusEx(&status)) {
    memory = status.ullTotalPhys;
    // A 32-bit address space is fragmented by the libraries: the image's large blocks find
    // room in about three quarters of it.
    const uint64_t space =
        sizeof(void*) == 4 ? status.ullTotalVirtual / 4 * 3 : status.ullTotalVirtual;
    memory = std::min(memory, space);
  }
#else
  const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
  if (pages > 0 && pageSize > 0) memory = uint64_t(pages) * uint64_t(pageSize);
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    memory = std::min<uint64_t>(memory, limit.rlim_cur);
#endif
  return memory;
}

// The address space this process has left, where it is limited: UINT64_MAX elsewhere.
uint64_t AddressSpaceLeft() {
#ifdef _WIN32
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  return GlobalMemoryStatusEx(&status) ? status.ullAvailVirtual : UINT64_MAX;
#else
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return UINT64_MAX;
  unsigned long long size = 0;  // in pages, the first number of statm
  FILE* statm = std::fopen("/proc/self/statm", "r");
  const bool read = statm && std::fscanf(statm, "%llu", &size) == 1;
  if (statm) std::fclose(statm);
  const uint64_t used = read ? uint64_t(size) * uint64_t(sysconf(_SC_PAGESIZE)) : 0;
  return limit.rlim_cur > used ? limit.rlim_cur - used : 0;
#endif
}

std::string MegabytesOf(uint64_t bytes) {
  return std::to_string((bytes + (1u << 19)) >> 20) + " MB";
}

}  // namespace

uint64_t DefaultPixelLimit() {
  // 256 megapixels at most (1 GiB for one RGBA copy); less where a run's peak would not fit.
  constexpr uint64_t kMost = 256ull * 1000 * 1000, kLeast = 1000 * 1000;
  const uint64_t memory = AddressableBytes();
  if (memory == UINT64_MAX) return kMost;
  const uint64_t usable = memory > kBaseBytes ? memory - kBaseBytes : 0;
  return std::clamp<uint64_t>(usable / kBytesPerPixel, kLeast, kMost);
}

uint64_t PeakBytesPerPixel() {
  return kBytesPerPixel;
}

void EnsureMemoryFor(uint64_t pixels, int depth) {
  if (depth == 16) pixels *= 2;
  // A libvips thread that cannot have a few bytes ends the program, so an image that could
  // not be finished in the address space left is refused before it is decoded.
  const uint64_t left = AddressSpaceLeft();
  if (left == UINT64_MAX) return;
  const uint64_t needed = pixels * kBytesPerPixel + (64ull << 20);
  if (needed > left)
    throw OutOfMemory("about " + MegabytesOf(needed) + " are needed and " + MegabytesOf(left) +
                      " of address space are left");
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
