#include <windows.h>

#include "filterhost/PluginModule.h"

namespace {
constexpr int kPiplResourceId = 16000;
}

std::unique_ptr<PluginModule> PluginModule::Load(const std::string& path, std::string* error) {
  // LoadLibrary of a DLL of the other bitness fails with a code that does not say so.
  if (!CheckPluginMachine(path, error)) return nullptr;
  std::unique_ptr<PluginModule> plugin(new PluginModule);
  HMODULE module = LoadLibraryA(path.c_str());
  if (!module) {
    *error = "cannot load the plug-in " + path + " (error " + std::to_string(GetLastError()) + ")";
    return nullptr;
  }
  plugin->module_ = module;

  HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(kPiplResourceId), "PIPL");
  HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes) {
    *error = path + " has no property list (PIPL resource 16000)";
    return nullptr;
  }
  auto* first = static_cast<const uint8_t*>(bytes);
  plugin->piplBytes_.assign(first, first + SizeofResource(module, resource));

  std::string why;
  if (!ParsePipl(plugin->piplBytes_.data(), plugin->piplBytes_.size(), &plugin->pipl_, &why)) {
    *error = path + ": " + why;
    return nullptr;
  }
  plugin->entry_ = reinterpret_cast<PluginEntryProc>(
      reinterpret_cast<void*>(GetProcAddress(module, plugin->pipl_.entryName.c_str())));
  if (!plugin->entry_) {
    *error = path + " does not export its entry point " + plugin->pipl_.entryName;
    return nullptr;
  }
  return plugin;
}

PluginModule::~PluginModule() {
  if (module_) FreeLibrary(static_cast<HMODULE>(module_));
}
