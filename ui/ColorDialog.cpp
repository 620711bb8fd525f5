#include "ui/ColorDialog.h"

#include <commdlg.h>

namespace ui {

COLORREF CColorDialog::s_customColors[16] = {
    RGB(255, 255, 255), RGB(255, 255, 255), RGB(255, 255, 255), RGB(255, 255, 255),
    RGB(255, 255, 255), RGB(255, 255, 255), RGB(255, 255, 255), RGB(255, 255, 255),
    RGB(255, 255, 255), RGB(255, 255, 255), RGB(255, 255, 255), RGB(255, 255, 255),
    RGB(255, 255, 255), RGB(255, 255, 255), RGB(255, 255, 255), RGB(255, 255, 255)};

CColorDialog::CColorDialog(COLORREF initial, DWORD flags, HWND parent) : m_cc{} {
  m_cc.lStructSize = sizeof m_cc;
  m_cc.hwndOwner = parent;
  m_cc.rgbResult = initial;
  m_cc.lpCustColors = s_customColors;
  m_cc.Flags = flags;
}

INT_PTR CColorDialog::DoModal() {
  return ChooseColorA(&m_cc) ? IDOK : IDCANCEL;
}

}  // namespace ui
