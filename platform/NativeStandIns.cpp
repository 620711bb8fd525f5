#include "platform/NativeStandIns.h"

#include <cstdio>
#include <cstdlib>

#include "platform/Memory.h"

namespace platform {

namespace {
int g_failingAllocations = 0;
void (*g_thrower)() = nullptr;
}  // namespace

std::vector<ShownMessage>& ShownMessages() {
  static std::vector<ShownMessage> messages;
  return messages;
}

void FailNextAllocations(int count) {
  g_failingAllocations = count;
}

void ThrowFromNextAllocation(void (*thrower)()) {
  g_thrower = thrower;
}

void* AllocLockedZeroed(size_t size) {
  if (auto thrower = g_thrower) {
    g_thrower = nullptr;
    thrower();
  }
  if (g_failingAllocations > 0) {
    --g_failingAllocations;
    return nullptr;
  }
  void* block = std::calloc(1, size ? size : 1);
  // Like the global memory it stands in for, a block lives until the process ends; the list
  // keeps it reachable, so that leak checkers do not count it.
  static auto* blocks = new std::vector<void*>;
  if (block) blocks->push_back(block);
  return block;
}

void ShowMessage(void* owner, const char* text, const char* title, MessageIcon icon) {
  std::fprintf(stderr, "%s: %s\n", title, text);
  ShownMessages().push_back({owner != nullptr, text, title, icon});
}

}  // namespace platform
