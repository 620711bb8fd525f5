#include <io.h>
#include <windows.h>

#include <cstdio>

#include "runner/Console.h"
#include "runner/FilterHost.h"

namespace {
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  if (FilterHost::AbortRequested()) return FALSE;  // the second one ends the program
  FilterHost::RequestAbort();
  return TRUE;
}
}  // namespace

void InstallInterruptHandler() {
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool StderrIsTerminal() {
  return _isatty(_fileno(stderr)) != 0;
}

bool MoveIntoPlace(const std::string& from, const std::string& to, std::string* error) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  *error = "error " + std::to_string(GetLastError());
  return false;
}

std::string ProgramDirectory() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string s(path);
  return s.substr(0, s.find_last_of("\\/") + 1);
}
