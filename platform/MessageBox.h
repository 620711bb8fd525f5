#pragma once

namespace platform {

enum class MessageIcon { Information, Warning };

// A modal message box with one OK button. owner is a window handle or null.
void ShowMessage(void* owner, const char* text, const char* title, MessageIcon icon);

}  // namespace platform
