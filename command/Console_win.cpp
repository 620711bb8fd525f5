#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>

#include "command/Console.h"
#include "files/FileSystem.h"
#include "files/SafeWrite.h"
#include "filterhost/FilterHost.h"

namespace {
BOOL WINAPI OnConsoleEvent(DWORD event) {
  const bool interrupt = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
  if ((interrupt && !FilterHost::AbortRequested()) || HardExitDeferred()) {
    FilterHost::RequestAbort();
    return TRUE;
  }
  RemoveTempFilesNow();
  return FALSE;  // the default handler ends the program
}
}  // namespace

void LimitAllocatorReserve() {}

void InstallInterruptHandler() {
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool StderrIsTerminal() {
  return _isatty(_fileno(stderr)) != 0;
}

bool CanShowWindows() {
  HWND probe = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
  if (!probe) return false;
  DestroyWindow(probe);
  return true;
}

std::string ProgramDirectory() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string s(path);
  return s.substr(0, s.find_last_of("\\/") + 1);
}
