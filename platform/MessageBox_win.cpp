#include <windows.h>

#include "platform/MessageBox.h"

namespace platform {

void ShowMessage(void* owner, const char* text, const char* title, MessageIcon icon) {
  UINT style = MB_OK | (icon == MessageIcon::Warning ? MB_ICONWARNING : MB_ICONINFORMATION);
  MessageBoxA(static_cast<HWND>(owner), text, title, style);
}

}  // namespace platform
