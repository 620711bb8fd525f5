#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "command/Console.h"
#include "command/Console_stop.h"
#include "files/FileSystem.h"
#include "files/SafeWrite.h"
#include "filterhost/FilterHost.h"

namespace {

// steady_clock is not async-signal-safe; clock_gettime is.
double SignalMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6;
}

void OnSignal(int signal) {
  const int saved = errno;
  if (signal == SIGINT) {
    const double now = SignalMilliseconds();
    if (!FilterHost::AbortRequested()) NoteFirstInterrupt(now);
    if (!IsSecondInterrupt(now) || HardExitDeferred()) {
      FilterHost::RequestAbort();
      errno = saved;
      return;
    }
  } else if (HardExitDeferred()) {
    FilterHost::RequestAbort();
    errno = saved;
    return;
  }
  RemoveTempFilesNow();
  const char* message = StopMessage();
  if (write(STDERR_FILENO, message, strlen(message)) < 0) {
  }
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

bool StdoutIsTerminal() {
  return isatty(STDOUT_FILENO) == 1;
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
