// Observable stand-ins for the native build, where there is no window system: message
// boxes are written to stderr and recorded, and allocations can be made to fail.
#pragma once

#include <string>
#include <vector>

#include "platform/MessageBox.h"

namespace platform {

struct ShownMessage {
  bool owned;
  std::string text;
  std::string title;
  MessageIcon icon;
};

// Every message shown since the last clear, oldest first.
std::vector<ShownMessage>& ShownMessages();

// The next `count` allocations fail (0 restores normal behaviour).
void FailNextAllocations(int count);

// The next allocation calls `thrower` instead, which throws (null restores normal behaviour):
// how tests reach the entry's guard against exceptions.
void ThrowFromNextAllocation(void (*thrower)());

}  // namespace platform
