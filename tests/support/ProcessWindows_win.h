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

// Under Wine with no window manager, each top-level window that closes waits two seconds
// for a manager to withdraw it. Unmanaged windows close at once; test processes and the
// test prefixes have no manager anyway.
inline void CloseWindowsWithoutWaiting() {
  if (!GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")) return;
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\X11 Driver", 0, nullptr, 0, KEY_SET_VALUE,
                      nullptr, &key, nullptr) == ERROR_SUCCESS) {
    RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
    RegCloseKey(key);
  }
}
