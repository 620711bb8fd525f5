// What the command asks of the file system: what a path is, which file it really names,
// and writing a file in one step. POSIX and Windows each have their own implementation.
#pragma once

#include <cstdint>
#include <string>

struct PathInfo {
  enum Kind { kMissing, kFile, kDirectory, kOther };
  Kind kind = kMissing;   // of what the path leads to, symbolic links followed
  bool isLink = false;    // the name itself is a symbolic link
  bool dangling = false;  // ... whose target does not exist
  bool readOnly = false;  // an existing file that may not be written
  uint32_t links = 0;     // hard links of an existing file
  std::string identity;   // equal for two paths exactly when they name the same file
  std::string reason;     // why it could not be looked at, when it could not
};

PathInfo InspectPath(const std::string& path);

// The file a path really names: a symbolic link's final target, or the path itself.
std::string ResolveLinks(const std::string& path);

// The folder a path lies in ("." for a bare name).
std::string FolderOf(const std::string& path);

// The last component of a path.
std::string BaseName(const std::string& path);

// ASCII letters made lower case: for names that ignore case (extensions, settings names).
std::string Lower(std::string s);

// A file opened for writing under a name that did not exist before, beside `path`.
// Registered, so that an interruption that ends the program still removes it.
struct TempFile {
  std::string name;
  intptr_t handle = -1;
  int slot = -1;
};
bool CreateTempBeside(const std::string& path, TempFile* temp, std::string* error);
bool WriteAll(TempFile& temp, const std::string& bytes, std::string* error);
// Closes the file; with `like` an existing file, it takes on that file's permissions.
bool CloseTemp(TempFile& temp, const std::string& like, std::string* error);
void DiscardTemp(TempFile& temp);
// Puts the finished temporary file in place of `path` in one step; the temporary's name
// is released.
bool ReplaceWith(TempFile& temp, const std::string& path, std::string* error);
// Overwrites an existing file in place (so that every hard link to it sees the new
// contents), with the room for the new contents ensured first.
bool OverwriteInPlace(const std::string& path, const std::string& bytes, std::string* error);

// Removes every registered temporary file; safe inside an interrupt handler.
void RemoveTempFilesNow();

// Writes bytes to standard output, switched to binary on Windows.
bool WriteStandardOutput(const std::string& bytes, std::string* error);
// Reads all of standard input.
bool ReadStandardInput(std::string* bytes, std::string* error);
