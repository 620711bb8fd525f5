#include <windows.h>

#include "platform/Environment.h"

namespace platform {

bool EnvironmentValue(const char* name, char* text, size_t size) {
  const DWORD length = GetEnvironmentVariableA(name, text, DWORD(size));
  return length > 0 && length < size;
}

}  // namespace platform
