#pragma once

#include <cstddef>

namespace platform {

// The process environment's value of `name` copied into `text` (at most size - 1
// characters and a terminating zero); false when it is unset or does not fit. On Windows
// this is the process's own environment, whichever C runtime of the host set it.
bool EnvironmentValue(const char* name, char* text, size_t size);

}  // namespace platform
