#include "files/SafeWrite.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "files/FileSystem.h"

namespace {
std::atomic<int> g_hardExitDeferred{0};
}  // namespace

HardExitGuard::HardExitGuard() {
  ++g_hardExitDeferred;
}
HardExitGuard::~HardExitGuard() {
  --g_hardExitDeferred;
}
bool HardExitDeferred() {
  return g_hardExitDeferred.load() > 0;
}

namespace {

// Where a new file of this name would be: the same string for two names of one place.
std::string NewFileIdentity(const std::string& path) {
  std::string where = ResolveLinks(FolderOf(path)) + "/" + BaseName(path);
#ifdef _WIN32
  where = Lower(where);  // names ignore case
#endif
  return "new:" + where;
}

}  // namespace

bool CheckInput(const std::string& name, const std::string& what, std::string* identity,
                std::string* error) {
  if (name == "-") {
    *identity = "stdin";
    return true;
  }
  const PathInfo info = InspectPath(name);
  if (!info.reason.empty()) {
    *error = "cannot open " + what + ": " + info.reason;
    return false;
  }
  if (info.kind == PathInfo::kMissing) {
    *error = "cannot open " + what + ": " +
             (info.dangling ? "it is a symbolic link to a missing file" : "no such file");
    return false;
  }
  if (info.kind == PathInfo::kDirectory) {
    *error = what + " is a directory, not a file";
    return false;
  }
  *identity = info.identity;
  return true;
}

bool CheckOutput(const std::string& name, const std::string& what, OutputFile* out,
                 std::string* error) {
  *out = OutputFile{};
  out->name = name;
  if (name == "-") {
    out->identity = "stdout";
    return true;
  }
  const std::string cannot = "cannot write " + what + ": ";
  if (name.empty()) {
    *error = cannot + "the name is empty";
    return false;
  }
  const PathInfo info = InspectPath(name);
  if (!info.reason.empty()) {
    *error = cannot + info.reason;
    return false;
  }
  if (info.dangling) {
    *error = cannot + "it is a symbolic link to a missing file (not writing through it)";
    return false;
  }
  if (info.kind == PathInfo::kDirectory) {
    *error = cannot + "it is a directory; name a file to write";
    return false;
  }
  if (info.kind == PathInfo::kOther) {
    *error = cannot + "it is not a regular file (use - for standard output)";
    return false;
  }
  out->exists = info.kind == PathInfo::kFile;
  if (out->exists && info.readOnly) {
    *error = cannot + "it is read-only; not overwriting it";
    return false;
  }
  out->path = out->exists && info.isLink ? ResolveLinks(name) : name;
  out->inPlace = out->exists && info.links > 1;

  const std::string folder = FolderOf(out->path);
  const PathInfo place = InspectPath(folder);
  if (place.kind != PathInfo::kDirectory) {
    *error = cannot + "the folder " + folder +
             (place.kind == PathInfo::kMissing ? " does not exist" : " is not a folder");
    return false;
  }
  // The one sure test that a new file can be made there is to make one.
  TempFile probe;
  std::string why;
  if (!CreateTempBeside(out->path, &probe, &why)) {
    *error = cannot + "cannot create files in " + folder + " (" + why + ")";
    return false;
  }
  DiscardTemp(probe);
  out->identity = out->exists ? info.identity : NewFileIdentity(out->path);
  return true;
}

bool WriteOutput(const OutputFile& out, const std::string& bytes, const std::string& what,
                 bool (*stop)(), std::string* error) {
  const std::string cannot = "cannot write " + what + ": ";
  const std::string stopped = "stopped; " + what + " not written";
  if (out.isStdout()) {
    if (stop && stop()) {
      *error = stopped;
      return false;
    }
    return WriteStandardOutput(bytes, error);
  }
  std::string why;
  if (out.inPlace) {
    if (stop && stop()) {
      *error = stopped;
      return false;
    }
    HardExitGuard guard;  // a second Ctrl-C must not cut the overwrite short
    if (!OverwriteInPlace(out.path, bytes, &why)) {
      *error = cannot + why;
      return false;
    }
    return true;
  }
  TempFile temp;
  if (!CreateTempBeside(out.path, &temp, &why)) {
    *error = cannot + why;
    return false;
  }
  const bool written =
      WriteAll(temp, bytes, &why) && CloseTemp(temp, out.exists ? out.path : std::string(), &why);
  if (!written) {
    DiscardTemp(temp);
    *error = cannot + why;
    return false;
  }
  if (stop && stop()) {
    DiscardTemp(temp);
    *error = stopped;
    return false;
  }
  if (!ReplaceWith(temp, out.path, &why)) {
    DiscardTemp(temp);
    *error = cannot + why;
    return false;
  }
  return true;
}

bool ReadInputFile(const std::string& path, const std::string& what, std::string* bytes,
                   std::string* error) {
  if (path == "-") return ReadStandardInput(bytes, error);
  std::string identity;
  if (!CheckInput(path, what, &identity, error)) return false;
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot open " + what + ": " + (errno ? std::strerror(errno) : "unreadable");
    return false;
  }
  // In large blocks, into room for the whole file: a character at a time took 30 ms for a
  // 5 MB photograph. Read to the end, so a file still growing is whole.
  bytes->clear();
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size > 0) bytes->reserve(size_t(size));
  in.clear();  // a pipe cannot seek, and is read from where it is
  in.seekg(0, std::ios::beg);
  in.clear();
  constexpr size_t kBlock = size_t(1) << 20;
  while (in) {
    const size_t have = bytes->size();
    if (have == bytes->capacity() && in.peek() == std::char_traits<char>::eof()) break;
    bytes->resize(have + std::max(kBlock, bytes->capacity() - have));
    in.read(bytes->data() + have, std::streamsize(bytes->size() - have));
    bytes->resize(have + size_t(in.gcount()));
  }
  if (in.bad()) {
    *error = "cannot read " + what;
    return false;
  }
  return true;
}
