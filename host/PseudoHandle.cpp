#include "host/PseudoHandle.h"

#include "platform/Memory.h"

PseudoHandle* NewPseudoHandle(size_t size) {
  auto* handle = static_cast<PseudoHandle*>(platform::AllocLockedZeroed(sizeof(PseudoHandle)));
  if (!handle) return nullptr;
  void* data = platform::AllocLockedZeroed(size);
  if (!data) return nullptr;  // the two-word block is never freed, like every handle
  handle->data = data;
  handle->signature = kPseudoHandleSignature;
  return handle;
}
