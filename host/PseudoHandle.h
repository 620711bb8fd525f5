// The plug-in's movable handle: a two-word block holding the address of a zero-filled data
// block and the signature 'OTOF'. Hosts that store and restore parameters know this form.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t kPseudoHandleSignature = 0x464F544F;  // bytes in memory: "OTOF"

// Packed like the host record: 8 bytes in 32-bit builds, 12 in 64-bit ones (the signature
// right after the pointer), as hosts that recognise the form expect.
#pragma pack(push, 4)
struct PseudoHandle {
  void* data;
  uint32_t signature;
};
#pragma pack(pop)

#if INTPTR_MAX == INT32_MAX
static_assert(offsetof(PseudoHandle, signature) == 4);
static_assert(sizeof(PseudoHandle) == 8);
#else
static_assert(offsetof(PseudoHandle, signature) == 8);
static_assert(sizeof(PseudoHandle) == 12);
#endif

// Allocates both blocks as locked movable zero-filled memory that is never freed.
// Null if either allocation fails.
PseudoHandle* NewPseudoHandle(size_t size);

// The data block behind a handle, whichever side allocated it; null for a null handle.
inline void* PseudoHandleData(void* handle) {
  return handle ? static_cast<PseudoHandle*>(handle)->data : nullptr;
}
