// The parameters dialog: seven settings as slider and edit-box pairs, the mode radios, the
// effect colour controls and the preview. It keeps no copy of the settings: every commit
// goes straight into the host's parameter record.
#pragma once

#include <cstdint>

#include "host/PluginGlobals.h"
#include "ui/Controls.h"
#include "ui/Dialog.h"

class CEffectDialog : public ui::CDialog {
 public:
  explicit CEffectDialog(HWND parent = nullptr);

  PluginGlobals* m_pGlobals = nullptr;

 protected:
  void DoDataExchange(ui::CDataExchange* dx) override;
  BOOL OnInitDialog() override;
  bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 private:
  friend struct EffectDialogMap;

  LRESULT OnPaint(WPARAM wParam, LPARAM lParam);
  LRESULT OnQueryDragIcon(WPARAM wParam, LPARAM lParam);
  LRESULT OnHScroll(WPARAM wParam, LPARAM lParam);

  void OnKillFocusRed();
  void OnKillFocusGreen();
  void OnKillFocusBlue();
  void OnKillFocusThreshold();
  void OnKillFocusRadius();
  void OnKillFocusStreaks();
  void OnKillFocusAngle();

  void OnReleasedCaptureRed(NMHDR* header, LRESULT* result);
  void OnReleasedCaptureGreen(NMHDR* header, LRESULT* result);
  void OnReleasedCaptureBlue(NMHDR* header, LRESULT* result);
  void OnReleasedCaptureThreshold(NMHDR* header, LRESULT* result);
  void OnReleasedCaptureRadius(NMHDR* header, LRESULT* result);
  void OnReleasedCaptureStreaks(NMHDR* header, LRESULT* result);
  void OnReleasedCaptureAngle(NMHDR* header, LRESULT* result);

  void OnGlow();
  void OnSparkle();

  // Reads the box of one setting, clamps, stores, moves the slider, rewrites the box in
  // canonical form and asks for a new preview.
  void CommitValue(int param);
  void EnableSparkleControls(BOOL enable);
  EffectParams* Params() const;

  // Renders the preview at the current settings; nothing while m_bSuspendPreview is set.
  void UpdatePreview();
  void PaintPreview(HDC dc);

  ui::CButton m_checkUseColor;
  ui::CStatic m_labelAngle;
  ui::CStatic m_labelStreaks;
  ui::CStatic m_labelRadius;
  ui::CStatic m_labelBlue;
  ui::CStatic m_labelThreshold;
  ui::CStatic m_labelGreen;
  ui::CStatic m_labelRed;
  ui::CEdit m_editAngle;
  ui::CEdit m_editStreaks;
  ui::CEdit m_editRadius;
  ui::CEdit m_editThreshold;
  ui::CEdit m_editBlue;
  ui::CEdit m_editGreen;
  ui::CEdit m_editRed;
  ui::CSliderCtrl m_sliderAngle;
  ui::CSliderCtrl m_sliderStreaks;
  ui::CSliderCtrl m_sliderRadius;
  ui::CSliderCtrl m_sliderThreshold;
  ui::CSliderCtrl m_sliderBlue;
  ui::CSliderCtrl m_sliderGreen;
  ui::CSliderCtrl m_sliderRed;
  ui::CButton m_radioGlow;
  ui::CButton m_radioSparkle;
  HICON m_hIcon = nullptr;  // the plug-in has no icon of its own
  uint8_t m_bSuspendPreview = 0;
  uint8_t m_bDropperCapture = 0;
  COLORREF m_swatchColor = 0;
};
