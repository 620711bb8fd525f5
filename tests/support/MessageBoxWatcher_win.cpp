#include <windows.h>

#include "tests/support/MessageBoxWatcher.h"
#include "tests/support/ProcessWindows_win.h"

struct MessageBoxWatcher::State {
  HANDLE thread = nullptr;
  volatile LONG stop = 0;
  CRITICAL_SECTION lock;
  std::vector<SeenMessageBox> seen;
};

namespace {

// A message box is a dialog-class window with the box's text control.
bool IsMessageBox(HWND window) {
  char cls[64] = {};
  GetClassNameA(window, cls, sizeof cls);
  return strcmp(cls, "#32770") == 0 && GetDlgItem(window, 0xFFFF);
}

DWORD WINAPI Watch(void* param) {
  auto* state = static_cast<MessageBoxWatcher::State*>(param);
  while (!state->stop) {
    HWND box = FindVisibleWindowOfThisProcess(IsMessageBox);
    if (box) {
      char title[256] = {}, text[1024] = {};
      GetWindowTextA(box, title, sizeof title);
      GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
      SeenMessageBox seen{title, text, GetWindow(box, GW_OWNER) != nullptr};
      EnterCriticalSection(&state->lock);
      state->seen.push_back(seen);
      LeaveCriticalSection(&state->lock);
      SendMessageA(box, WM_COMMAND, IDOK, 0);
      // Wait until it is gone, so one box is never counted twice.
      for (int i = 0; i < 500 && IsWindow(box) && IsWindowVisible(box); ++i) Sleep(10);
    }
    Sleep(20);
  }
  return 0;
}

}  // namespace

MessageBoxWatcher::MessageBoxWatcher() : state_(new State) {
  InitializeCriticalSection(&state_->lock);
  state_->thread = CreateThread(nullptr, 0, Watch, state_, 0, nullptr);
}

MessageBoxWatcher::~MessageBoxWatcher() {
  InterlockedExchange(&state_->stop, 1);
  WaitForSingleObject(state_->thread, INFINITE);
  CloseHandle(state_->thread);
  DeleteCriticalSection(&state_->lock);
  delete state_;
}

std::vector<SeenMessageBox> MessageBoxWatcher::Seen() {
  EnterCriticalSection(&state_->lock);
  std::vector<SeenMessageBox> copy = state_->seen;
  LeaveCriticalSection(&state_->lock);
  return copy;
}
