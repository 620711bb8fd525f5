// Finding this process's own visible top-level windows, for tests that drive them from a
// second thread.
#pragma once

#include <windows.h>

#include <functional>

namespace process_windows {

struct Search {
  const std::function<bool(HWND)>* match;
  HWND found;
};

inline BOOL CALLBACK Visit(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != GetCurrentProcessId() || !IsWindowVisible(window) || !(*search->match)(window))
    return TRUE;
  search->found = window;
  return FALSE;
}

}  // namespace process_windows

inline HWND FindVisibleWindowOfThisProcess(const std::function<bool(HWND)>& match) {
  process_windows::Search search{&match, nullptr};
  EnumWindows(process_windows::Visit, reinterpret_cast<LPARAM>(&search));
  return search.found;
}
