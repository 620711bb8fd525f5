#include <cstdlib>
#include <cstring>

#include "platform/Environment.h"

namespace platform {

bool EnvironmentValue(const char* name, char* text, size_t size) {
  const char* value = std::getenv(name);
  if (!value || std::strlen(value) >= size) return false;
  std::strcpy(text, value);
  return true;
}

bool UserSettingsFolder(std::filesystem::path* folder) {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && *config) {
    *folder = std::filesystem::path(config) / "corvanel";
    return true;
  }
  const char* home = std::getenv("HOME");
  if (!home || !*home) return false;
  *folder = std::filesystem::path(home) / ".config" / "corvanel";
  return true;
}

}  // namespace platform
