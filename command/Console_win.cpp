#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "command/Console.h"
#include "command/Console_stop.h"
#include "files/FileSystem.h"
#include "files/SafeWrite.h"
#include "filterhost/FilterHost.h"

namespace {

[[noreturn]] void EndNow() {
  RemoveTempFilesNow();
  const char* message = StopMessage();
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), message, DWORD(strlen(message)), &written, nullptr);
  // Never the default handler: under Wine it ends the program with status 0.
  ExitProcess(130);
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
  const double now = NowMilliseconds();  // the handler runs on a thread of its own
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
    if (!FilterHost::AbortRequested()) NoteFirstInterrupt(now);
    if (!IsSecondInterrupt(now) || HardExitDeferred()) {
      FilterHost::RequestAbort();
      return TRUE;
    }
    EndNow();
  }
  // Closing the console, logging off, shutting down: the system ends the program some
  // seconds after this returns, so the run is stopped and given most of that time to say
  // what was not written and exit with 130 itself.
  FilterHost::RequestAbort();
  for (int i = 0; i < 40; ++i) Sleep(100);
  EndNow();
}

}  // namespace

void LimitAllocatorReserve() {}

void InstallInterruptHandler() {
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool StderrIsTerminal() {
  return _isatty(_fileno(stderr)) != 0;
}

bool StdoutIsTerminal() {
  return _isatty(_fileno(stdout)) != 0;
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
