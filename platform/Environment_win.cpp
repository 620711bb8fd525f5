#include <windows.h>

#include <string>

#include "platform/Environment.h"

namespace platform {

bool EnvironmentValue(const char* name, char* text, size_t size) {
  const DWORD length = GetEnvironmentVariableA(name, text, DWORD(size));
  return length > 0 && length < size;
}

bool UserSettingsFolder(std::filesystem::path* folder) {
  // Wide, so that a user name outside the system's code page still makes a valid path.
  std::wstring appData(MAX_PATH, L'\0');
  DWORD length = GetEnvironmentVariableW(L"APPDATA", appData.data(), DWORD(appData.size()));
  if (length >= appData.size()) {
    appData.resize(length);
    length = GetEnvironmentVariableW(L"APPDATA", appData.data(), DWORD(appData.size()));
  }
  if (length == 0 || length >= appData.size()) return false;
  appData.resize(length);
  *folder = std::filesystem::path(appData) / L"Tessory" / L"Corvanel";
  return true;
}

}  // namespace platform
