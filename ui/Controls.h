// Thin wrappers of the standard and common controls: a handle and typed messages.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include "ui/Wnd.h"

namespace ui {

class CSliderCtrl : public CWnd {
 public:
  void SetRangeMin(int minimum, BOOL redraw = FALSE) const {
    SendMessage(TBM_SETRANGEMIN, redraw, minimum);
  }
  void SetRangeMax(int maximum, BOOL redraw = FALSE) const {
    SendMessage(TBM_SETRANGEMAX, redraw, maximum);
  }
  int GetRangeMin() const { return int(SendMessage(TBM_GETRANGEMIN)); }
  int GetRangeMax() const { return int(SendMessage(TBM_GETRANGEMAX)); }
  // Moving the thumb from code sends no scroll message back.
  void SetPos(int position, BOOL redraw = TRUE) const { SendMessage(TBM_SETPOS, redraw, position); }
  int GetPos() const { return int(SendMessage(TBM_GETPOS)); }
};

class CEdit : public CWnd {};

class CButton : public CWnd {
 public:
  void SetCheck(int state) const { SendMessage(BM_SETCHECK, WPARAM(state)); }
  int GetCheck() const { return int(SendMessage(BM_GETCHECK)); }
};

class CStatic : public CWnd {};

}  // namespace ui
