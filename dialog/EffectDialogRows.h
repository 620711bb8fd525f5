// The seven settings' controls, in the order of the ranges table: the dialog's own files
// (EffectDialog.cpp, Conventions.cpp) find a setting's box and slider here.
#pragma once

#include "dialog/EffectDialog.h"
#include "resources/ResourceIds.h"

struct EffectDialogRows {
  struct Row {
    int sliderId;
    int editId;
    ui::CSliderCtrl CEffectDialog::*slider;
  };
  static constexpr Row kRows[kParamCount] = {
      {IDC_SLIDER_RED, IDC_EDIT_RED, &CEffectDialog::m_sliderRed},
      {IDC_SLIDER_GREEN, IDC_EDIT_GREEN, &CEffectDialog::m_sliderGreen},
      {IDC_SLIDER_BLUE, IDC_EDIT_BLUE, &CEffectDialog::m_sliderBlue},
      {IDC_SLIDER_THRESHOLD, IDC_EDIT_THRESHOLD, &CEffectDialog::m_sliderThreshold},
      {IDC_SLIDER_RADIUS, IDC_EDIT_RADIUS, &CEffectDialog::m_sliderRadius},
      {IDC_SLIDER_STREAKS, IDC_EDIT_STREAKS, &CEffectDialog::m_sliderStreaks},
      {IDC_SLIDER_ANGLE, IDC_EDIT_ANGLE, &CEffectDialog::m_sliderAngle},
  };
};
