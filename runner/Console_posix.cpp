#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "runner/Console.h"
#include "runner/FilterHost.h"

namespace {
void OnInterrupt(int) {
  FilterHost::RequestAbort();
}
}  // namespace

void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
}

bool StderrIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

bool MoveIntoPlace(const std::string& from, const std::string& to, std::string* error) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  *error = std::strerror(errno);
  return false;
}

std::string ProgramDirectory() {
  char path[4096] = {};
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "./";
  std::string s(path, size_t(n));
  return s.substr(0, s.find_last_of('/') + 1);
}
