// The parameters dialog: seven settings as slider and edit-box pairs, the mode radios, the
// effect colour controls and the preview. It keeps no copy of the settings: every commit
// goes straight into the host's parameter record.
#pragma once

#include <cstdint>
#include <vector>

#include "dialog/DialogHost.h"
#include "engine/Engine.h"
#include "ui/Controls.h"
#include "ui/Dialog.h"

class CEffectDialog : public ui::CDialog {
 public:
  explicit CEffectDialog(HWND parent = nullptr);
  ~CEffectDialog() override;

  DialogHost* m_pHost = nullptr;

  // A key or wheel message on its way through the dialog's loop; true when it was used.
  bool FilterMessage(const MSG& message);

 protected:
  void DoDataExchange(ui::CDataExchange* dx) override;
  BOOL OnInitDialog() override;
  bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 private:
  friend struct EffectDialogMap;
  friend struct EffectDialogRows;

  LRESULT OnPaint(WPARAM wParam, LPARAM lParam);
  LRESULT OnQueryDragIcon(WPARAM wParam, LPARAM lParam);
  LRESULT OnHScroll(WPARAM wParam, LPARAM lParam);
  LRESULT OnMouseMove(WPARAM wParam, LPARAM lParam);
  LRESULT OnLButtonDown(WPARAM wParam, LPARAM lParam);

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
  void OnSetColor();
  void OnUseColor();
  LRESULT OnMove(WPARAM wParam, LPARAM lParam);
  LRESULT OnActivate(WPARAM wParam, LPARAM lParam);
  LRESULT OnDpiChanged(WPARAM wParam, LPARAM lParam);

  // What users of such dialogs expect (Conventions.cpp): Alt turns Cancel into Reset, the
  // arrow keys and the wheel step a setting, each box and slider has a tooltip, the dialog
  // opens where it was last left and is laid out again when the resolution changes.
  void OnCancel() override;
  void SetUpConventions();
  void RememberOpening();
  void ResetToOpening();
  void ShowReset(bool reset);
  // Steps the setting of a box or slider by `steps` as typing the new value would; false
  // for any other control.
  bool StepSetting(HWND control, int steps);
  void PlaceAsLastLeft();
  // Moves and sizes every control, and sets their font, for a resolution of `to` dots per
  // inch where they were laid out for `from`.
  void ScaleControls(UINT from, UINT to);
  void RememberPlace();
  void ShowMode(int32_t mode);
  // Reads the box of one setting, clamps, stores, moves the slider, rewrites the box in
  // canonical form and asks for a new preview.
  void CommitValue(int param);
  void EnableSparkleControls(BOOL enable);
  EffectParams* Params() const { return m_pHost ? m_pHost->Params() : nullptr; }
  FilterRecord* Record() const { return &m_pHost->Record(); }
  // The custom colour and its flag, which outlive the dialog.
  CustomColour& Colour() const { return m_pHost->State().customColour; }
  // While nonzero, the dialog neither renders nor paints its preview. Decided afresh each
  // time a dialog opens; it keeps its value after the dialog has closed.
  int32_t& PreviewDisabled() const { return m_pHost->State().previewDisabled; }

  // The preview frame's window rectangle in client coordinates, narrowed to 16 bits.
  Rect& GetPreviewFrame(Rect& out) const;
  // Asks the host once for the filter rectangle reduced to fit the frame.
  void AcquirePreview();
  // Renders the preview at the current settings and has the dialog repainted; nothing
  // while m_bSuspendPreview is set, the preview is disabled or the host has delivered no
  // preview buffers.
  void UpdatePreview();
  // Hands the last rendered preview to the host's displayPixels, centred on the frame.
  void PaintPreview();
  // Where PaintPreview draws the image, in client coordinates.
  RECT PreviewImageRect() const;
  // Warns once and disables the preview where the host cannot show a masked preview.
  void CheckMaskedSelection();

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
  // The host delivered this dialog's preview buffers, and they have been rendered into:
  // nothing is rendered from, painted from or picked from buffers the host did not deliver.
  uint8_t m_bHavePreviewBuffers = 0;
  uint8_t m_bPreviewRendered = 0;
  // The buffers of the last preview render, which the colour pick reads.
  PixelBuffers m_previewPixels{};
  std::vector<uint8_t> m_displayPixels;  // a deeper preview as the display takes it

  // The settings, the effect colour and the swatch the dialog opened with, for Reset.
  EffectParams m_opened{};
  CustomColour m_openedColour{};
  COLORREF m_openedSwatch = 0;
  uint8_t m_bAltDown = 0;  // Alt is held: Cancel reads Reset
  uint8_t m_bEscape = 0;   // the Cancel under way came from Esc, which always cancels
  HWND m_tooltips = nullptr;
  HHOOK m_messageFilter = nullptr;
  UINT m_dpi = 96;               // the resolution the controls are laid out for
  HFONT m_scaledFont = nullptr;  // the controls' font at that resolution, once scaled
};
