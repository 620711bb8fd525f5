// A loaded filter plug-in: its property list and its entry point, found by the name the
// list gives. On Windows the .8bf is loaded as an image editor loads it; natively the
// plug-in code is linked in and reached through the same entry.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "filterhost/Pipl.h"

// The machine field of a Windows image's PE header.
constexpr uint16_t kMachineX86 = 0x014C;
constexpr uint16_t kMachineX64 = 0x8664;
constexpr uint16_t kMachineOfThisBuild = sizeof(void*) == 8 ? kMachineX64 : kMachineX86;

// Reads the machine a DLL is built for without loading it. False, with the reason, when the
// file cannot be read or is no Windows image.
bool ReadPeMachine(const std::string& path, uint16_t* machine, std::string* error);
// True when a process of this build can load the DLL; otherwise says why, naming the
// bitness of both when that is what differs.
bool CheckPluginMachine(const std::string& path, std::string* error);

class PluginModule {
 public:
  // Null on failure, with the reason in *error.
  static std::unique_ptr<PluginModule> Load(const std::string& path, std::string* error);
  ~PluginModule();

  PluginEntryProc entry() const { return entry_; }
  const PiplInfo& pipl() const { return pipl_; }
  const std::vector<uint8_t>& piplBytes() const { return piplBytes_; }
  void* nativeHandle() const { return module_; }

 private:
  PluginModule() = default;
  void* module_ = nullptr;
  PluginEntryProc entry_ = nullptr;
  PiplInfo pipl_;
  std::vector<uint8_t> piplBytes_;
};
