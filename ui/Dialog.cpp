#include "ui/Dialog.h"

#include <commctrl.h>

namespace ui {

HINSTANCE ModuleOfThisCode() {
  HMODULE module = nullptr;
  GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCSTR>(&ModuleOfThisCode), &module);
  return module;
}

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
  control.Attach(::GetDlgItem(dx->m_hDialog, id));
}

CDialog::CDialog(UINT templateId, HWND parent) : m_templateId(templateId), m_hParent(parent) {}

CDialog::~CDialog() {
  if (m_hWnd && IsWindow(m_hWnd)) DestroyWindow(m_hWnd);
}

INT_PTR CDialog::DoModal() {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  INT_PTR result = DialogBoxParamA(ModuleOfThisCode(), MAKEINTRESOURCEA(m_templateId), m_hParent,
                                   DialogProc, reinterpret_cast<LPARAM>(this));
  m_hWnd = nullptr;
  return result;
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
  CDataExchange dx(m_hWnd, saveAndValidate);
  DoDataExchange(&dx);
  return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  // Enter presses the default button without moving the focus. Move it first, so that a
  // control that commits when it loses the focus does so before the dialog ends, just
  // as it does when OK is clicked.
  HWND focus = GetFocus();
  if (focus && IsChild(m_hWnd, focus)) {
    HWND ok = GetDlgItem(IDOK);
    SetFocus(ok && ::IsWindowEnabled(ok) ? ok : m_hWnd);
  }
  if (!UpdateData(TRUE)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() {
  EndDialog(IDCANCEL);
}

bool CDialog::OnWndMsg(UINT message, WPARAM wParam, LPARAM, LRESULT* result) {
  if (message == WM_COMMAND && LOWORD(wParam) == IDOK && HIWORD(wParam) == BN_CLICKED) {
    OnOK();
    *result = 0;
    return true;
  }
  if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL && HIWORD(wParam) == BN_CLICKED) {
    OnCancel();
    *result = 0;
    return true;
  }
  return false;
}

LRESULT CDialog::Default(UINT message, WPARAM wParam, LPARAM lParam) const {
  // The dialog class's own procedure would call back into DialogProc; what it does for
  // the messages handlers pass on is the plain window default.
  return DefWindowProcA(m_hWnd, message, wParam, lParam);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* dialog = reinterpret_cast<CDialog*>(lParam);
    SetWindowLongPtrA(window, DWLP_USER, lParam);
    dialog->m_hWnd = window;
    dialog->m_bRouting = true;
    return dialog->OnInitDialog();
  }
  auto* dialog = reinterpret_cast<CDialog*>(GetWindowLongPtrA(window, DWLP_USER));
  if (!dialog) return FALSE;
  if (message == WM_DESTROY) dialog->m_bRouting = false;
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrA(window, DWLP_USER, 0);
    dialog->m_hWnd = nullptr;
    return FALSE;
  }
  if (!dialog->m_bRouting) return FALSE;

  LRESULT result = 0;
  if (!dialog->OnWndMsg(message, wParam, lParam, &result)) return FALSE;
  switch (message) {
    // These hand their result back as the procedure's value.
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
      return INT_PTR(result);
    default:
      SetWindowLongPtrA(window, DWLP_MSGRESULT, result);
      return TRUE;
  }
}

}  // namespace ui
