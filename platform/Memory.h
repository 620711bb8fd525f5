#pragma once

#include <cstddef>

namespace platform {

// Movable, zero-filled memory, locked at once and never unlocked or freed: the address
// stays valid until the process ends. Null on failure.
void* AllocLockedZeroed(size_t size);

}  // namespace platform
