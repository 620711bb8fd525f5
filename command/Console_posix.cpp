#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "command/Console.h"
#include "files/FileSystem.h"
#include "files/SafeWrite.h"
#include "filterhost/FilterHost.h"

namespace {
void OnSignal(int signal) {
  if ((signal == SIGINT && !FilterHost::AbortRequested()) || HardExitDeferred()) {
    FilterHost::RequestAbort();
    return;
  }
  RemoveTempFilesNow();
  _exit(128 + signal);
}
}  // namespace

void LimitAllocatorReserve() {
#ifdef __GLIBC__
  // Each thread's own malloc arena reserves 64 MB of address space; under a ulimit -v that
  // would leave less for the image than the default --max-megapixels counts on.
  mallopt(M_ARENA_MAX, 2);
#endif
}

void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

bool StderrIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

bool CanShowWindows() {
  return false;
}

std::string ProgramDirectory() {
  char path[4096] = {};
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "./";
  std::string s(path, size_t(n));
  return s.substr(0, s.find_last_of('/') + 1);
}
