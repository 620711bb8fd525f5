#include "tests/support/DialogDriver.h"

#include <commctrl.h>

#include "tests/support/ProcessWindows_win.h"

namespace dialog_driver {

HWND WaitForWindow(const char* title, DWORD timeoutMs) {
  for (DWORD waited = 0; waited < timeoutMs; waited += 20) {
    HWND found = FindVisibleWindowOfThisProcess([title](HWND window) {
      char text[256] = {};
      GetWindowTextA(window, text, sizeof text);
      return strcmp(text, title) == 0;
    });
    if (found) return found;
    Sleep(20);
  }
  return nullptr;
}

void Focus(HWND dialog, int id) {
  SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, id)), TRUE);
}

HWND FocusedWindow(HWND dialog) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

void SetText(HWND dialog, int id, const std::string& text) {
  SetDlgItemTextA(dialog, id, text.c_str());
}

std::string Text(HWND dialog, int id) {
  char text[256] = {};
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}

void Click(HWND dialog, int id) {
  SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

bool Checked(HWND dialog, int id) {
  return SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool Enabled(HWND dialog, int id) {
  return IsWindowEnabled(GetDlgItem(dialog, id)) != 0;
}

int SliderPos(HWND dialog, int id) {
  return int(SendDlgItemMessageA(dialog, id, TBM_GETPOS, 0, 0));
}
int SliderMin(HWND dialog, int id) {
  return int(SendDlgItemMessageA(dialog, id, TBM_GETRANGEMIN, 0, 0));
}
int SliderMax(HWND dialog, int id) {
  return int(SendDlgItemMessageA(dialog, id, TBM_GETRANGEMAX, 0, 0));
}

void SliderKey(HWND dialog, int id, UINT virtualKey) {
  HWND slider = GetDlgItem(dialog, id);
  SendMessageA(slider, WM_KEYDOWN, virtualKey, 1);
  SendMessageA(slider, WM_KEYUP, virtualKey, 0xC0000001);
}

void SliderDrag(HWND dialog, int id, int position) {
  HWND slider = GetDlgItem(dialog, id);
  auto report = [&](int code) {
    SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(code, position), reinterpret_cast<LPARAM>(slider));
  };
  SendMessageA(slider, TBM_SETPOS, TRUE, position);
  report(TB_THUMBTRACK);
  report(TB_THUMBPOSITION);
  NMHDR released{slider, UINT_PTR(id), UINT(NM_RELEASEDCAPTURE)};
  SendMessageA(dialog, WM_NOTIFY, WPARAM(id), reinterpret_cast<LPARAM>(&released));
  report(TB_ENDTRACK);
}

}  // namespace dialog_driver
