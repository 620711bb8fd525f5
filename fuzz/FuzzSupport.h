// What the fuzz targets share. Those that read files as the command does hand each input
// over in a file of their own: one per process, rewritten for every input, removed at exit.
#pragma once

#include <fcntl.h>
#include <sanitizer/common_interface_defs.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

inline const std::string& FuzzFilePath() {
  static const std::string path = [] {
    const char* dir = std::getenv("TMPDIR");
    std::string p =
        std::string(dir && *dir ? dir : "/tmp") + "/corvanel-fuzz-" + std::to_string(getpid());
    std::atexit([] { std::remove(FuzzFilePath().c_str()); });
    return p;
  }();
  return path;
}

// Writes the bytes to the file and returns its path; aborts if it cannot, which is no
// finding about the code under test.
inline const std::string& WriteFuzzFile(const uint8_t* data, size_t size) {
  const std::string& path = FuzzFilePath();
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file || (size && std::fwrite(data, 1, size, file) != size) || std::fclose(file) != 0) {
    std::perror(path.c_str());
    std::abort();
  }
  return path;
}

// Sends stderr to /dev/null while it lives, if asked to; sanitizer reports still go to the
// real stderr.
class QuietStderr {
 public:
  explicit QuietStderr(bool quiet) {
    if (!quiet) return;
    static const int reports = [] {
      const int fd = dup(2);
      __sanitizer_set_report_fd(reinterpret_cast<void*>(intptr_t(fd)));
      return fd;
    }();
    (void)reports;
    std::fflush(stderr);
    saved_ = dup(2);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    close(null);
  }
  ~QuietStderr() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
  }
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;

 private:
  int saved_ = -1;
};

// Stops the run on a broken invariant, with the reason; libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)
