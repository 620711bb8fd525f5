// A loaded filter plug-in: its property list and its entry point, found by the name the
// list gives. On Windows the .8bf is loaded as an image editor loads it; natively the
// plug-in code is linked in and reached through the same entry.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "runner/Pipl.h"

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
