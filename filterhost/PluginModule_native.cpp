#include "host/Entry.h"
#include "filterhost/PluginModule.h"

std::unique_ptr<PluginModule> PluginModule::Load(const std::string&, std::string*) {
  std::unique_ptr<PluginModule> plugin(new PluginModule);
  plugin->entry_ = ENTRYPOINT;
  plugin->pipl_.entryName = "ENTRYPOINT";
  return plugin;
}

PluginModule::~PluginModule() = default;
