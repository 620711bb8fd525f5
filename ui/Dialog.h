// A dialog built from a template in the module that holds this code, with a message map
// that routes messages and control notifications to member handlers.
#pragma once

#include <cstddef>

#include "ui/Wnd.h"

namespace ui {

// Passed to DoDataExchange: which dialog, and which way values would move.
class CDataExchange {
 public:
  CDataExchange(HWND dialog, BOOL saveAndValidate)
      : m_hDialog(dialog), m_bSaveAndValidate(saveAndValidate) {}
  HWND m_hDialog;
  BOOL m_bSaveAndValidate;
};

// Binds a wrapper to the dialog's control of that id.
void DDX_Control(CDataExchange* dx, int id, CWnd& control);

// One row of a message map. Make rows with OnMessage, OnCommand and OnNotify.
template <class T>
struct MessageMapEntry {
  enum class Kind { Message, Command, Notify };
  Kind kind;
  UINT message;  // Message rows
  UINT id;       // Command and Notify rows: the control
  UINT code;     // Command and Notify rows: the notification
  LRESULT (T::*onMessage)(WPARAM, LPARAM);
  void (T::*onCommand)();
  void (T::*onNotify)(NMHDR*, LRESULT*);
};

// Any window message sent to the dialog itself; the handler's value is the message's result.
template <class T>
constexpr MessageMapEntry<T> OnMessage(UINT message, LRESULT (T::*handler)(WPARAM, LPARAM)) {
  return {MessageMapEntry<T>::Kind::Message, message, 0, 0, handler, nullptr, nullptr};
}

// WM_COMMAND from control id with notification code (BN_CLICKED, EN_KILLFOCUS, ...).
template <class T>
constexpr MessageMapEntry<T> OnCommand(UINT id, UINT code, void (T::*handler)()) {
  return {MessageMapEntry<T>::Kind::Command, WM_COMMAND, id, code, nullptr, handler, nullptr};
}

// WM_NOTIFY from control id with notification code; the handler sets the result.
template <class T>
constexpr MessageMapEntry<T> OnNotify(UINT id, UINT code, void (T::*handler)(NMHDR*, LRESULT*)) {
  return {MessageMapEntry<T>::Kind::Notify, WM_NOTIFY, id, code, nullptr, nullptr, handler};
}

// Runs the first row that matches; false when none does.
template <class T>
bool DispatchMessageMap(T& target, const MessageMapEntry<T>* map, size_t count, UINT message,
                        WPARAM wParam, LPARAM lParam, LRESULT* result) {
  using Kind = typename MessageMapEntry<T>::Kind;
  for (size_t i = 0; i < count; ++i) {
    const MessageMapEntry<T>& row = map[i];
    if (row.message != message) continue;
    switch (row.kind) {
      case Kind::Message:
        *result = (target.*row.onMessage)(wParam, lParam);
        return true;
      case Kind::Command:
        if (LOWORD(wParam) != row.id || HIWORD(wParam) != row.code) break;
        (target.*row.onCommand)();
        *result = 0;
        return true;
      case Kind::Notify: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (!header || header->idFrom != row.id || header->code != row.code) break;
        *result = 0;
        (target.*row.onNotify)(header, result);
        return true;
      }
    }
  }
  return false;
}

class CDialog : public CWnd {
 public:
  CDialog(UINT templateId, HWND parent);
  ~CDialog() override;

  // Creates the dialog, runs it until it ends and destroys it: IDOK or IDCANCEL, or -1
  // when it could not be created.
  virtual INT_PTR DoModal();

  // Binds (or, with save, would read) the controls.
  BOOL UpdateData(BOOL saveAndValidate = TRUE);
  HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
  void EndDialog(INT_PTR result) const { ::EndDialog(m_hWnd, result); }

 protected:
  virtual void DoDataExchange(CDataExchange* dx);
  // Binds the controls; TRUE lets the system focus the first tab stop.
  virtual BOOL OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();
  // A derived class routes messages through its map here; false sends them on to the
  // standard handling.
  virtual bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
  // The standard handling of a message, for handlers that add to it.
  LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam) const;

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  UINT m_templateId;
  HWND m_hParent;
  // Cleared once the window starts to go away: controls dying then still report focus
  // changes, which must not reach handlers that write through them.
  bool m_bRouting = false;
};

// The module that holds this code: a plug-in's own resources live there, not in the host.
HINSTANCE ModuleOfThisCode();

}  // namespace ui
