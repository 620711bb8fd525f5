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

HWND WaitForOwnedWindow(const char* title, HWND owner, DWORD timeoutMs) {
  for (DWORD waited = 0; waited < timeoutMs; waited += 20) {
    // Shown, so that its controls exist and it has been initialised.
    HWND found = FindWindowExA(nullptr, nullptr, nullptr, title);
    while (found && (GetWindow(found, GW_OWNER) != owner || !IsWindowVisible(found)))
      found = FindWindowExA(nullptr, found, nullptr, title);
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

void PostClick(HWND dialog, int id) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void MouseMove(HWND dialog, POINT client) {
  SendMessageA(dialog, WM_MOUSEMOVE, 0, MAKELPARAM(client.x, client.y));
}

void LeftClick(HWND dialog, POINT client) {
  SendMessageA(dialog, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(client.x, client.y));
  SendMessageA(dialog, WM_LBUTTONUP, 0, MAKELPARAM(client.x, client.y));
}

namespace {

void SendMove(LONG dx, LONG dy, DWORD flags) {
  INPUT input{};
  input.type = INPUT_MOUSE;
  input.mi.dx = dx;
  input.mi.dy = dy;
  input.mi.dwFlags = MOUSEEVENTF_MOVE | flags;
  SendInput(1, &input, sizeof input);
}

}  // namespace

void MovePointer(HWND dialog, POINT client) {
  POINT screen = client;
  ClientToScreen(dialog, &screen);
  SendMove(LONG((int64_t(screen.x) * 65535 + GetSystemMetrics(SM_CXSCREEN) / 2) /
                (GetSystemMetrics(SM_CXSCREEN) - 1)),
           LONG((int64_t(screen.y) * 65535 + GetSystemMetrics(SM_CYSCREEN) / 2) /
                (GetSystemMetrics(SM_CYSCREEN) - 1)),
           MOUSEEVENTF_ABSOLUTE);
  for (int i = 0; i < 50; ++i) {
    POINT now{};
    GetCursorPos(&now);
    if (now.x == screen.x && now.y == screen.y) break;
    Sleep(5);
  }
  // The moves reach the dialog through its queue; let it handle them.
  Sleep(30);
  SendMessageA(dialog, WM_NULL, 0, 0);
}

HCURSOR ShownCursor() {
  CURSORINFO info{};
  info.cbSize = sizeof info;
  GetCursorInfo(&info);
  return info.hCursor;
}

void Repaint(HWND dialog) {
  UpdateWindow(dialog);
}

void ForceRepaint(HWND dialog) {
  InvalidateRect(dialog, nullptr, FALSE);
  UpdateWindow(dialog);
}

COLORREF PixelAt(HWND dialog, POINT client) {
  HDC dc = GetDC(dialog);
  COLORREF colour = GetPixel(dc, client.x, client.y);
  ReleaseDC(dialog, dc);
  return colour;
}

RECT ControlRect(HWND dialog, int id) {
  RECT r{};
  GetWindowRect(GetDlgItem(dialog, id), &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return r;
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
