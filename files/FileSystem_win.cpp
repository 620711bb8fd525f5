#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "files/FileSystem.h"
#include "files/TempRegistry.h"

namespace {

std::string Describe(DWORD code) {
  char text[512] = {};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           code, 0, text, sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == '.')) text[--n] = 0;
  return n ? std::string(text) : "error " + std::to_string(code);
}

HANDLE OpenForQuery(const std::string& path) {
  return CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

PathInfo InspectPath(const std::string& path) {
  PathInfo info;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = GetLastError();
    if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) info.reason = Describe(code);
    return info;
  }
  info.isLink = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  HANDLE h = OpenForQuery(path);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    info.dangling = info.isLink && (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND);
    if (!info.dangling) info.reason = Describe(code);
    return info;
  }
  BY_HANDLE_FILE_INFORMATION data{};
  const bool known = GetFileInformationByHandle(h, &data) != 0;
  const DWORD type = GetFileType(h);
  CloseHandle(h);
  if (!known) {
    info.reason = Describe(GetLastError());
    return info;
  }
  info.kind = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? PathInfo::kDirectory
              : type == FILE_TYPE_DISK                           ? PathInfo::kFile
                                                                 : PathInfo::kOther;
  info.readOnly = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  info.links = data.nNumberOfLinks;
  info.identity = std::to_string(data.dwVolumeSerialNumber) + ":" +
                  std::to_string((uint64_t(data.nFileIndexHigh) << 32) | data.nFileIndexLow);
  return info;
}

std::string ResolveLinks(const std::string& path) {
  HANDLE h = OpenForQuery(path);
  if (h == INVALID_HANDLE_VALUE) return path;
  char resolved[MAX_PATH * 2] = {};
  DWORD n = GetFinalPathNameByHandleA(h, resolved, sizeof resolved, FILE_NAME_NORMALIZED);
  CloseHandle(h);
  if (n == 0 || n >= sizeof resolved) return path;
  std::string s(resolved, n);
  if (s.rfind("\\\\?\\UNC\\", 0) == 0) return "\\\\" + s.substr(8);
  if (s.rfind("\\\\?\\", 0) == 0) return s.substr(4);
  return s;
}

bool CreateTempBeside(const std::string& path, TempFile* temp, std::string* error) {
  static unsigned counter = 0;
  const std::string stem = FolderOf(path) + "\\~" + BaseName(path) + ".corvanel-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    const unsigned tag =
        (GetCurrentProcessId() * 2654435761u) ^ GetTickCount() ^ (++counter * 40503u);
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%08x", tag);
    const std::string name = stem + suffix;
    HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      temp->name = name;
      temp->handle = intptr_t(h);
      temp->slot = RegisterTempName(name);
      return true;
    }
    const DWORD code = GetLastError();
    if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) {
      *error = Describe(code);
      return false;
    }
  }
  *error = "no unused temporary name";
  return false;
}

bool WriteAll(TempFile& temp, const std::string& bytes, std::string* error) {
  size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = DWORD(std::min<size_t>(bytes.size() - done, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(HANDLE(temp.handle), bytes.data() + done, chunk, &written, nullptr) ||
        written == 0) {
      *error = Describe(GetLastError());
      return false;
    }
    done += written;
  }
  return true;
}

bool CloseTemp(TempFile& temp, const std::string&, std::string* error) {
  // ReplaceFile gives the new file the old one's attributes and access rights.
  bool ok = FlushFileBuffers(HANDLE(temp.handle)) != 0;
  if (!ok) *error = Describe(GetLastError());
  CloseHandle(HANDLE(temp.handle));
  temp.handle = -1;
  return ok;
}

void DiscardTemp(TempFile& temp) {
  if (temp.handle != -1) CloseHandle(HANDLE(temp.handle));
  temp.handle = -1;
  if (!temp.name.empty()) DeleteFileA(temp.name.c_str());
  ForgetTemp(temp);
}

std::string FullPath(const std::string& path) {
  char full[MAX_PATH * 2] = {};
  const DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  return n > 0 && n < sizeof full ? std::string(full, n) : path;
}

bool ReplaceWith(TempFile& temp, const std::string& path, std::string* error) {
  const bool exists = GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  // Wine's ReplaceFile wants full paths.
  const bool ok = exists
                      ? ReplaceFileA(FullPath(path).c_str(), FullPath(temp.name).c_str(), nullptr,
                                     REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0
                      : MoveFileExA(temp.name.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
  if (!ok) {
    *error = Describe(GetLastError());
    return false;
  }
  ForgetTemp(temp);
  return true;
}

bool OverwriteInPlace(const std::string& path, const std::string& bytes, std::string* error) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *error = Describe(GetLastError());
    return false;
  }
  LARGE_INTEGER size;
  size.QuadPart = LONGLONG(bytes.size());
  LARGE_INTEGER old{};
  GetFileSizeEx(h, &old);
  // Room first, so that a full disk leaves the old contents whole.
  bool ok = true;
  if (size.QuadPart > old.QuadPart)
    ok = SetFilePointerEx(h, size, nullptr, FILE_BEGIN) && SetEndOfFile(h);
  LARGE_INTEGER start{};
  ok = ok && SetFilePointerEx(h, start, nullptr, FILE_BEGIN);
  TempFile view{path, intptr_t(h), -1};
  std::string why;
  if (ok && !WriteAll(view, bytes, &why)) ok = false;
  ok = ok && SetFilePointerEx(h, size, nullptr, FILE_BEGIN) && SetEndOfFile(h) &&
       FlushFileBuffers(h);
  if (!ok) *error = why.empty() ? Describe(GetLastError()) : why;
  CloseHandle(h);
  return ok;
}

void RemoveTempFilesNow() {
  ForEachTempName([](const char* name) { DeleteFileA(name); });
}

bool WriteStandardOutput(const std::string& bytes, std::string* error) {
  _setmode(_fileno(stdout), _O_BINARY);
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size()) {
    *error = "cannot write to standard output";
    return false;
  }
  if (std::fflush(stdout) != 0) {
    *error = "cannot write to standard output";
    return false;
  }
  return true;
}

bool ReadStandardInput(std::string* bytes, std::string* error) {
  _setmode(_fileno(stdin), _O_BINARY);
  bytes->clear();
  char buffer[1 << 16];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) bytes->append(buffer, n);
  if (std::ferror(stdin)) {
    *error = "cannot read standard input";
    return false;
  }
  return true;
}
