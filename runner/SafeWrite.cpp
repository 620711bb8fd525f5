#include "runner/SafeWrite.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "runner/Console.h"

bool WriteFileBeside(const std::string& path, const std::string& bytes, const std::string& what,
                     bool (*stop)(), std::string* error) {
  const std::string partial = path + ".part";
  {
    errno = 0;
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    if (out) out.write(bytes.data(), std::streamsize(bytes.size()));
    if (out) out.close();
    if (!out) {
      *error = "cannot write " + what + ": " + (errno ? std::strerror(errno) : "write failed");
      std::remove(partial.c_str());
      return false;
    }
  }
  if (stop && stop()) {
    *error = "stopped; " + what + " not written";
    std::remove(partial.c_str());
    return false;
  }
  std::string why;
  if (!MoveIntoPlace(partial, path, &why)) {
    *error = "cannot write " + what + ": " + why;
    std::remove(partial.c_str());
    return false;
  }
  return true;
}
