#include <windows.h>

#include "tests/support/MessageBoxWatcher.h"

struct MessageBoxWatcher::State {
  HANDLE thread = nullptr;
  volatile LONG stop = 0;
  CRITICAL_SECTION lock;
  std::vector<SeenMessageBox> seen;
};

namespace {

struct Search {
  DWORD process;
  HWND found;
};

BOOL CALLBACK FindBox(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  char cls[64] = {};
  GetClassNameA(window, cls, sizeof cls);
  if (process == search->process && IsWindowVisible(window) && strcmp(cls, "#32770") == 0 &&
      GetDlgItem(window, 0xFFFF)) {  // a message box's text control
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

DWORD WINAPI Watch(void* param) {
  auto* state = static_cast<MessageBoxWatcher::State*>(param);
  while (!state->stop) {
    Search search{GetCurrentProcessId(), nullptr};
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
    if (search.found) {
      char title[256] = {}, text[1024] = {};
      GetWindowTextA(search.found, title, sizeof title);
      GetDlgItemTextA(search.found, 0xFFFF, text, sizeof text);
      SeenMessageBox box{title, text, GetWindow(search.found, GW_OWNER) != nullptr};
      EnterCriticalSection(&state->lock);
      state->seen.push_back(box);
      LeaveCriticalSection(&state->lock);
      SendMessageA(search.found, WM_COMMAND, IDOK, 0);
      // Wait until it is gone, so one box is never counted twice.
      for (int i = 0; i < 500 && IsWindow(search.found) && IsWindowVisible(search.found); ++i)
        Sleep(10);
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
