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

}  // namespace platform
