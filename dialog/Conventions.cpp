// The conventions users of Photoshop-compatible editors know from every filter dialog: Alt
// turns Cancel into Reset, Up and Down (Shift: by 10) and the mouse wheel step a setting,
// each setting's controls explain it in a tooltip, the dialog opens where it was last left
// and follows a change of resolution while it is open. None of them changes what a control stores
// or when the preview renders: a step is a value typed into the box and committed.
#include "dialog/EffectDialog.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <string>

#include "dialog/EffectDialogRows.h"
#include "dialog/ParseValue.h"

namespace {

// The dialog whose modal loop runs on this thread; one at a time.
thread_local CEffectDialog* t_open = nullptr;

constexpr int kShiftStep = 10;

bool ShiftHeld() {
  return GetKeyState(VK_SHIFT) < 0;
}

// The setting of a box or slider, or -1.
int SettingOf(HWND dialog, HWND control) {
  for (int i = 0; i < kParamCount; ++i) {
    const EffectDialogRows::Row& row = EffectDialogRows::kRows[i];
    if (control &&
        (control == GetDlgItem(dialog, row.editId) || control == GetDlgItem(dialog, row.sliderId)))
      return i;
  }
  return -1;
}

// "Threshold (0 to 100 levels): how far ...": the range first, where a glance finds it.
std::string TipText(const ParamRange& range) {
  std::string text = std::string(range.label) + " (" + std::to_string(range.min) + " to " +
                     std::to_string(range.max);
  if (*range.unit) text += std::string(" ") + range.unit;
  return text + "): " + range.description;
}

LRESULT CALLBACK MessageFilter(int code, WPARAM wParam, LPARAM lParam) {
  if (code == MSGF_DIALOGBOX && t_open && lParam &&
      t_open->FilterMessage(*reinterpret_cast<const MSG*>(lParam)))
    return 1;
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// The resolution of the monitor the window is on, for a host aware of each monitor's; the
// system's otherwise.
UINT WindowDpi(HWND window) {
  using GetDpiForWindowProc = UINT(WINAPI*)(HWND);
  // Only from Windows 10 on: looked up, so that the plug-in still loads on older systems.
  static const auto getDpi = reinterpret_cast<GetDpiForWindowProc>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
  if (getDpi)
    if (const UINT dpi = getDpi(window)) return dpi;
  HDC dc = GetDC(window);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(window, dc);
  return dpi > 0 ? UINT(dpi) : 96;
}

RECT RectInParent(HWND parent, HWND child) {
  RECT r{};
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

}  // namespace

void CEffectDialog::SetUpConventions() {
  t_open = this;
  m_dpi = WindowDpi(m_hWnd);
  // Every message of the modal loop passes here before the dialog manager sees it.
  m_messageFilter = SetWindowsHookExA(WH_MSGFILTER, MessageFilter, nullptr, GetCurrentThreadId());

  m_tooltips = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_hWnd,
                               nullptr, nullptr, nullptr);
  if (m_tooltips) {
    ::SendMessageA(m_tooltips, TTM_SETMAXTIPWIDTH, 0, 320);
    for (int i = 0; i < kParamCount; ++i) {
      std::string text = TipText(kParamRanges[i]);
      for (int id : {EffectDialogRows::kRows[i].sliderId, EffectDialogRows::kRows[i].editId}) {
        TTTOOLINFOA tool{};
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = m_hWnd;
        tool.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(id));
        tool.lpszText = text.data();  // copied by the control
        ::SendMessageA(m_tooltips, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
      }
    }
  }
  PlaceAsLastLeft();
}

void CEffectDialog::RememberOpening() {
  if (EffectParams* params = Params()) m_opened = *params;
  m_openedColour = Colour();
  m_openedSwatch = m_swatchColor;
}

void CEffectDialog::ResetToOpening() {
  EffectParams* params = Params();
  if (!params) return;
  m_bSuspendPreview = 1;
  for (int i = 0; i < kParamCount; ++i) {
    SetDlgItemInt(m_hWnd, EffectDialogRows::kRows[i].editId, UINT(m_opened.*kParamRanges[i].field),
                  TRUE);
    CommitValue(i);
  }
  Colour() = m_openedColour;
  m_swatchColor = m_openedSwatch;
  m_checkUseColor.SetCheck(m_openedColour.use ? BST_CHECKED : BST_UNCHECKED);
  ShowMode(m_opened.mode);
  params->mode = m_opened.mode;
  m_bSuspendPreview = 0;
  Invalidate(TRUE);
  UpdatePreview();
}

void CEffectDialog::ShowReset(bool reset) {
  m_bAltDown = reset ? 1 : 0;
  SetDlgItemTextA(m_hWnd, IDCANCEL, reset ? "Reset" : "Cancel");
}

void CEffectDialog::OnCancel() {
  // Alt held turns the button into Reset; Esc always cancels.
  const bool reset = m_bAltDown && !m_bEscape;
  m_bEscape = 0;
  if (!reset) {
    CDialog::OnCancel();
    return;
  }
  ResetToOpening();
}

bool CEffectDialog::StepSetting(HWND control, int steps) {
  const int param = SettingOf(m_hWnd, control);
  if (param < 0 || !::IsWindowEnabled(control)) return param >= 0;
  const ParamRange& range = kParamRanges[param];
  char text[kValueTextSize] = {};
  GetDlgItemTextA(m_hWnd, EffectDialogRows::kRows[param].editId, text, kValueTextSize);
  // What the box holds, clamped as a commit would, then moved and clamped again.
  const int32_t value = ClampToRange(ValueFromText(text, range) + steps, range);
  SetDlgItemInt(m_hWnd, EffectDialogRows::kRows[param].editId, UINT(value), TRUE);
  CommitValue(param);
  return true;
}

bool CEffectDialog::FilterMessage(const MSG& message) {
  const bool ours = message.hwnd == m_hWnd || IsChild(m_hWnd, message.hwnd);
  if (!ours) return false;
  switch (message.message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      if (message.wParam == VK_MENU && !m_bAltDown) ShowReset(true);
      if (message.wParam == VK_ESCAPE) m_bEscape = 1;
      if (message.wParam == VK_UP || message.wParam == VK_DOWN) {
        // The boxes only: a slider moves on its own arrows as it always has.
        const int param = SettingOf(m_hWnd, message.hwnd);
        if (param < 0 || message.hwnd != GetDlgItem(EffectDialogRows::kRows[param].editId))
          return false;
        const int step = ShiftHeld() ? kShiftStep : 1;
        return StepSetting(message.hwnd, message.wParam == VK_UP ? step : -step);
      }
      return false;
    case WM_KEYUP:
    case WM_SYSKEYUP:
      if (message.wParam == VK_MENU && m_bAltDown) ShowReset(false);
      return false;
    case WM_MOUSEWHEEL: {
      // The control under the pointer, or else the one with the focus that was sent it.
      POINT at{GET_X_LPARAM(message.lParam), GET_Y_LPARAM(message.lParam)};
      HWND under = WindowFromPoint(at);
      HWND target = SettingOf(m_hWnd, under) >= 0 ? under : message.hwnd;
      if (SettingOf(m_hWnd, target) < 0) return false;
      const int delta = GET_WHEEL_DELTA_WPARAM(message.wParam);
      const int notches = delta / WHEEL_DELTA ? delta / WHEEL_DELTA : (delta > 0 ? 1 : -1);
      const int step = (GET_KEYSTATE_WPARAM(message.wParam) & MK_SHIFT) ? kShiftStep : 1;
      return StepSetting(target, notches * step);
    }
    default:
      return false;
  }
}

LRESULT CEffectDialog::OnActivate(WPARAM wParam, LPARAM lParam) {
  // Alt released in another window never reaches this one.
  if (LOWORD(wParam) == WA_INACTIVE && m_bAltDown) ShowReset(false);
  return Default(WM_ACTIVATE, wParam, lParam);
}

void CEffectDialog::PlaceAsLastLeft() {
  const DialogState& state = m_pHost->State();
  if (!state.placed) return;
  // Moving it below records the new place: keep the old one.
  const int32_t left = state.left, top = state.top;
  RECT now{};
  ::GetWindowRect(m_hWnd, &now);
  const LONG width = now.right - now.left, height = now.bottom - now.top;
  RECT last{left, top, left + width, top + height};
  // On the monitor it was on, inside what that monitor shows; a monitor since gone leaves
  // the dialog where the host's window puts it.
  HMONITOR monitor = MonitorFromRect(&last, MONITOR_DEFAULTTONULL);
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (!monitor || !GetMonitorInfoA(monitor, &info)) return;
  const RECT& work = info.rcWork;
  LONG x = last.left, y = last.top;
  if (x + width > work.right) x = work.right - width;
  if (y + height > work.bottom) y = work.bottom - height;
  if (x < work.left) x = work.left;
  if (y < work.top) y = work.top;
  SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CEffectDialog::RememberPlace() {
  RECT now{};
  if (!m_pHost || !::GetWindowRect(m_hWnd, &now)) return;
  DialogState& state = m_pHost->State();
  state.placed = 1;
  state.left = now.left;
  state.top = now.top;
}

LRESULT CEffectDialog::OnMove(WPARAM wParam, LPARAM lParam) {
  RememberPlace();
  return Default(WM_MOVE, wParam, lParam);
}

// A host aware of each monitor's resolution moves the dialog to a monitor of another. Where
// the system scales dialogs itself, the controls have their new size once the default
// handling is done; elsewhere the dialog scales them. Either way the preview is asked for
// again, reduced to fit its new frame, and drawn at the new size.
LRESULT CEffectDialog::OnDpiChanged(WPARAM wParam, LPARAM lParam) {
  const UINT dpi = HIWORD(wParam);
  RECT client{};
  ::GetClientRect(m_hWnd, &client);
  HWND frame = GetDlgItem(IDC_PREVIEW);
  const RECT before = RectInParent(m_hWnd, frame);
  const LRESULT result = Default(WM_DPICHANGED, wParam, lParam);
  const RECT after = RectInParent(m_hWnd, frame);
  const bool scaled = after.right - after.left != before.right - before.left ||
                      after.bottom - after.top != before.bottom - before.top;
  const UINT from = m_dpi;
  if (dpi && dpi != from && !scaled) ScaleControls(from, dpi);
  if (dpi) m_dpi = dpi;
  if (const RECT* suggested = reinterpret_cast<const RECT*>(lParam)) {
    LONG width = suggested->right - suggested->left, height = suggested->bottom - suggested->top;
    SetWindowPos(m_hWnd, nullptr, suggested->left, suggested->top, width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    // A frame that keeps its old thickness (a system that does not scale it) leaves less
    // room inside than the controls now take: the window grows by what is missing.
    RECT now{};
    ::GetClientRect(m_hWnd, &now);
    const LONG needW = MulDiv(client.right, int(m_dpi), int(from));
    const LONG needH = MulDiv(client.bottom, int(m_dpi), int(from));
    if (now.right < needW || now.bottom < needH) {
      width += std::max(needW - now.right, 0L);
      height += std::max(needH - now.bottom, 0L);
      SetWindowPos(m_hWnd, nullptr, 0, 0, width, height,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  GetPreviewFrame(m_pHost->PreviewRect());
  AcquirePreview();
  UpdatePreview();
  InvalidateRect(m_hWnd, nullptr, TRUE);
  return result;
}

void CEffectDialog::ScaleControls(UINT from, UINT to) {
  // The labels' font is the controls' font: the dialog's own stays as the template made it.
  HFONT font = reinterpret_cast<HFONT>(::SendMessageA(GetDlgItem(IDC_LABEL_RED), WM_GETFONT, 0, 0));
  LOGFONTA face{};
  HFONT scaledFont = nullptr;
  if (font && GetObjectA(font, sizeof face, &face)) {
    face.lfHeight = MulDiv(face.lfHeight, int(to), int(from));
    scaledFont = CreateFontIndirectA(&face);
  }
  auto scale = [&](LONG v) { return MulDiv(v, int(to), int(from)); };
  for (HWND child = ::GetWindow(m_hWnd, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    const RECT r = RectInParent(m_hWnd, child);
    MoveWindow(child, scale(r.left), scale(r.top), scale(r.right) - scale(r.left),
               scale(r.bottom) - scale(r.top), FALSE);
    if (scaledFont) ::SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(scaledFont), FALSE);
  }
  if (scaledFont) {
    if (m_scaledFont) DeleteObject(m_scaledFont);
    m_scaledFont = scaledFont;
  }
}

// The modal loop has ended by now: nothing of the dialog's may stay behind in the host's
// thread.
CEffectDialog::~CEffectDialog() {
  if (m_messageFilter) UnhookWindowsHookEx(m_messageFilter);
  if (m_scaledFont) DeleteObject(m_scaledFont);
  if (t_open == this) t_open = nullptr;
}
