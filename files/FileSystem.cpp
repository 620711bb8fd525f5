#include "files/FileSystem.h"

#include <atomic>
#include <cctype>
#include <cstring>

#include "files/TempRegistry.h"

namespace {

bool IsSeparator(char c) {
#ifdef _WIN32
  return c == '/' || c == '\\';
#else
  return c == '/';
#endif
}

// A few slots are enough: one image and one settings file are written at a time. Each
// slot holds a name while its flag is set; the interrupt handler reads only set slots.
constexpr int kSlots = 8;
constexpr size_t kNameBytes = 4096;
char g_names[kSlots][kNameBytes];
std::atomic<bool> g_used[kSlots];

}  // namespace

std::string FolderOf(const std::string& path) {
  size_t end = path.size();
  while (end > 0 && !IsSeparator(path[end - 1])) --end;
  if (end == 0) return ".";
  std::string folder = path.substr(0, end);
  while (folder.size() > 1 && IsSeparator(folder.back())) folder.pop_back();
#ifdef _WIN32
  if (folder.size() == 2 && folder[1] == ':')
    folder += '\\';  // "C:" alone is a drive's current folder
#endif
  return folder;
}

std::string BaseName(const std::string& path) {
  size_t end = path.size();
  while (end > 0 && IsSeparator(path[end - 1])) --end;
  size_t start = end;
  while (start > 0 && !IsSeparator(path[start - 1])) --start;
#ifdef _WIN32
  if (start == 0 && end >= 2 && path[1] == ':') start = 2;
#endif
  return path.substr(start, end - start);
}

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

int RegisterTempName(const std::string& name) {
  if (name.size() >= kNameBytes) return -1;
  for (int i = 0; i < kSlots; ++i) {
    if (g_used[i].load()) continue;
    std::memcpy(g_names[i], name.c_str(), name.size() + 1);
    g_used[i].store(true);
    return i;
  }
  return -1;
}

void ReleaseTempName(int slot) {
  if (slot >= 0) g_used[slot].store(false);
}

void ForEachTempName(void (*remove)(const char*)) {
  for (int i = 0; i < kSlots; ++i)
    if (g_used[i].load()) remove(g_names[i]);
}

void ForgetTemp(TempFile& temp) {
  ReleaseTempName(temp.slot);
  temp.slot = -1;
  temp.name.clear();
}
