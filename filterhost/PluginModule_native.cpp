#include "host/Entry.h"
#include "filterhost/PluginModule.h"

std::unique_ptr<PluginModule> PluginModule::Load(const std::string&, std::string*) {
  std::unique_ptr<PluginModule> plugin(new PluginModule);
  plugin->entry_ = ENTRYPOINT;
  plugin->pipl_.entryName = "ENTRYPOINT";
  // The plug-in linked in is this project's, whose list (resources/Corvanel.rc) enables it in
  // 16-bit RGB documents.
  plugin->pipl_.enablesRGB48 = true;
  return plugin;
}

PluginModule::~PluginModule() = default;
