// The plug-in's movable handle: a two-word block holding the address of a zero-filled data
// block and the signature 'OTOF'. Hosts that store and restore parameters know this form.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t kPseudoHandleSignature = 0x464F544F;  // bytes in memory: "OTOF"

struct PseudoHandle {
  void* data;
  uint32_t signature;
};

#if INTPTR_MAX == INT32_MAX
static_assert(sizeof(PseudoHandle) == 8);
#endif

// Allocates both blocks as locked movable zero-filled memory that is never freed.
// Null if either allocation fails.
PseudoHandle* NewPseudoHandle(size_t size);

// The data block behind a handle, whichever side allocated it; null for a null handle.
inline void* PseudoHandleData(void* handle) {
  return handle ? static_cast<PseudoHandle*>(handle)->data : nullptr;
}
