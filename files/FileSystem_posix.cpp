#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "files/FileSystem.h"
#include "files/TempRegistry.h"

namespace {

std::string Identity(const struct stat& s) {
  return std::to_string(s.st_dev) + ":" + std::to_string(s.st_ino);
}

mode_t CurrentUmask() {
  static const mode_t mask = [] {
    mode_t m = umask(022);
    umask(m);
    return m;
  }();
  return mask;
}

}  // namespace

PathInfo InspectPath(const std::string& path) {
  PathInfo info;
  struct stat s;
  if (lstat(path.c_str(), &s) != 0) {
    if (errno != ENOENT) info.reason = std::strerror(errno);
    return info;
  }
  info.isLink = S_ISLNK(s.st_mode);
  if (info.isLink && stat(path.c_str(), &s) != 0) {
    info.dangling = errno == ENOENT;
    if (!info.dangling) info.reason = std::strerror(errno);
    return info;
  }
  info.kind = S_ISREG(s.st_mode)   ? PathInfo::kFile
              : S_ISDIR(s.st_mode) ? PathInfo::kDirectory
                                   : PathInfo::kOther;
  // No write bit at all counts as read-only even for root, as rm and cp treat it.
  info.readOnly = (s.st_mode & 0222) == 0 || access(path.c_str(), W_OK) != 0;
  info.links = uint32_t(s.st_nlink);
  info.identity = Identity(s);
  return info;
}

std::string ResolveLinks(const std::string& path) {
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved)) return resolved;
  return path;
}

bool CreateTempBeside(const std::string& path, TempFile* temp, std::string* error) {
  std::string name = FolderOf(path) + "/." + BaseName(path) + ".corvanel-XXXXXX";
  int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    *error = std::strerror(errno);
    return false;
  }
  temp->name = name;
  temp->handle = fd;
  temp->slot = RegisterTempName(name);
  return true;
}

bool WriteAll(TempFile& temp, const std::string& bytes, std::string* error) {
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = write(int(temp.handle), p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = std::strerror(n < 0 ? errno : EIO);
      return false;
    }
    p += n;
    left -= size_t(n);
  }
  return true;
}

bool CloseTemp(TempFile& temp, const std::string& like, std::string* error) {
  const int fd = int(temp.handle);
  struct stat s;
  mode_t mode = 0666 & ~CurrentUmask();  // what a new file would get
  if (!like.empty() && stat(like.c_str(), &s) == 0) {
    mode = s.st_mode & 07777;
    if (fchown(fd, s.st_uid, s.st_gid) != 0) {
      // Only root may give a file away; the group at least, where we are in it.
      if (fchown(fd, uid_t(-1), s.st_gid) != 0) mode &= ~mode_t(S_ISUID | S_ISGID);
    }
  }
  bool ok = fchmod(fd, mode) == 0 && fsync(fd) == 0;
  if (!ok) *error = std::strerror(errno);
  if (close(fd) != 0 && ok) {
    *error = std::strerror(errno);
    ok = false;
  }
  temp.handle = -1;
  return ok;
}

void DiscardTemp(TempFile& temp) {
  if (temp.handle >= 0) close(int(temp.handle));
  temp.handle = -1;
  if (!temp.name.empty()) unlink(temp.name.c_str());
  ForgetTemp(temp);
}

bool ReplaceWith(TempFile& temp, const std::string& path, std::string* error) {
  if (std::rename(temp.name.c_str(), path.c_str()) != 0) {
    *error = std::strerror(errno);
    return false;
  }
  ForgetTemp(temp);
  return true;
}

bool OverwriteInPlace(const std::string& path, const std::string& bytes, std::string* error) {
  int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = std::strerror(errno);
    return false;
  }
  // Room first, so that a full disk leaves the old contents whole.
  int err = bytes.empty() ? 0 : posix_fallocate(fd, 0, off_t(bytes.size()));
  if (err == EOPNOTSUPP || err == EINVAL) err = 0;  // file systems without it
  size_t done = 0;
  while (err == 0 && done < bytes.size()) {
    ssize_t n = pwrite(fd, bytes.data() + done, bytes.size() - done, off_t(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      err = n < 0 ? errno : EIO;
    else
      done += size_t(n);
  }
  if (err == 0 && (ftruncate(fd, off_t(bytes.size())) != 0 || fsync(fd) != 0)) err = errno;
  close(fd);
  if (err != 0) *error = std::strerror(err);
  return err == 0;
}

void RemoveTempFilesNow() {
  ForEachTempName([](const char* name) { unlink(name); });
}

bool WriteStandardOutput(const std::string& bytes, std::string* error) {
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = write(STDOUT_FILENO, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error =
          std::string("cannot write to standard output: ") + std::strerror(n < 0 ? errno : EIO);
      return false;
    }
    p += n;
    left -= size_t(n);
  }
  return true;
}

bool ReadStandardInput(std::string* bytes, std::string* error) {
  bytes->clear();
  char buffer[1 << 16];
  for (;;) {
    ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = std::string("cannot read standard input: ") + std::strerror(errno);
      return false;
    }
    if (n == 0) return true;
    bytes->append(buffer, size_t(n));
  }
}
