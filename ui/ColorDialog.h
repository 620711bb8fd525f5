// The system colour chooser, run modally.
#pragma once

#include <windows.h>

namespace ui {

class CColorDialog {
 public:
  // With CC_RGBINIT in flags the chooser opens on initial; otherwise on black.
  explicit CColorDialog(COLORREF initial = 0, DWORD flags = 0, HWND parent = nullptr);

  // IDOK when the user chose a colour, IDCANCEL otherwise.
  INT_PTR DoModal();
  COLORREF GetColor() const { return m_cc.rgbResult; }

  CHOOSECOLORA m_cc;

 private:
  // The sixteen custom colour wells, shared by every chooser of the module for as long as
  // it stays loaded, so the user finds them as they were left.
  static COLORREF s_customColors[16];
};

}  // namespace ui
