#include <windows.h>

#include "platform/Memory.h"

namespace platform {

void* AllocLockedZeroed(size_t size) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
  if (!block) return nullptr;
  return GlobalLock(block);
}

}  // namespace platform
