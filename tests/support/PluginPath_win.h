// The plug-in under test: the Corvanel.8bf built beside the test program.
#pragma once

#include <windows.h>

#include <string>

inline std::string PluginBesideThisProgram() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string s(path);
  return s.substr(0, s.find_last_of("\\/") + 1) + "Corvanel.8bf";
}
