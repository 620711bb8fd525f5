#include "dialog/EffectDialog.h"

#include <windowsx.h>

#include <cstdio>
#include <iterator>

#include "dialog/EffectDialogRows.h"
#include "dialog/ParseValue.h"
#include "dialog/Preview.h"
#include "resources/ResourceIds.h"
#include "ui/ColorDialog.h"

namespace {

// The host that cannot show a preview of a masked selection: 'PPUB'.
constexpr OSType kHostWithoutMaskedPreview = 0x50505542;
constexpr char kMaskErrorText[] =
    "This program does not support a masked preview window.\n\nThe effect will still be "
    "applied to the selected area, but\nno preview will be available unless the mask is "
    "removed.";

// The edge rule of the preview: top and left belong to a rectangle, bottom and right do not.
bool Inside(const RECT& r, int x, int y) {
  return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

}  // namespace

// The message map.
struct EffectDialogMap {
  using D = CEffectDialog;
  static constexpr ui::MessageMapEntry<D> kMap[] = {
      ui::OnMessage(WM_PAINT, &D::OnPaint),
      ui::OnMessage(WM_QUERYDRAGICON, &D::OnQueryDragIcon),
      ui::OnMessage(WM_HSCROLL, &D::OnHScroll),
      ui::OnMessage(WM_MOUSEMOVE, &D::OnMouseMove),
      ui::OnMessage(WM_LBUTTONDOWN, &D::OnLButtonDown),
      ui::OnMessage(WM_MOVE, &D::OnMove),
      ui::OnMessage(WM_ACTIVATE, &D::OnActivate),
      ui::OnMessage(WM_DPICHANGED, &D::OnDpiChanged),
      ui::OnCommand(IDC_EDIT_RED, EN_KILLFOCUS, &D::OnKillFocusRed),
      ui::OnCommand(IDC_EDIT_GREEN, EN_KILLFOCUS, &D::OnKillFocusGreen),
      ui::OnCommand(IDC_EDIT_BLUE, EN_KILLFOCUS, &D::OnKillFocusBlue),
      ui::OnCommand(IDC_EDIT_THRESHOLD, EN_KILLFOCUS, &D::OnKillFocusThreshold),
      ui::OnCommand(IDC_EDIT_RADIUS, EN_KILLFOCUS, &D::OnKillFocusRadius),
      ui::OnCommand(IDC_EDIT_STREAKS, EN_KILLFOCUS, &D::OnKillFocusStreaks),
      ui::OnCommand(IDC_EDIT_ANGLE, EN_KILLFOCUS, &D::OnKillFocusAngle),
      ui::OnCommand(IDC_RADIO_GLOW, BN_CLICKED, &D::OnGlow),
      ui::OnCommand(IDC_RADIO_SPARKLE, BN_CLICKED, &D::OnSparkle),
      ui::OnCommand(IDC_SET_COLOR, BN_CLICKED, &D::OnSetColor),
      ui::OnCommand(IDC_USE_COLOR, BN_CLICKED, &D::OnUseColor),
      ui::OnNotify(IDC_SLIDER_RED, NM_RELEASEDCAPTURE, &D::OnReleasedCaptureRed),
      ui::OnNotify(IDC_SLIDER_GREEN, NM_RELEASEDCAPTURE, &D::OnReleasedCaptureGreen),
      ui::OnNotify(IDC_SLIDER_BLUE, NM_RELEASEDCAPTURE, &D::OnReleasedCaptureBlue),
      ui::OnNotify(IDC_SLIDER_THRESHOLD, NM_RELEASEDCAPTURE, &D::OnReleasedCaptureThreshold),
      ui::OnNotify(IDC_SLIDER_RADIUS, NM_RELEASEDCAPTURE, &D::OnReleasedCaptureRadius),
      ui::OnNotify(IDC_SLIDER_STREAKS, NM_RELEASEDCAPTURE, &D::OnReleasedCaptureStreaks),
      ui::OnNotify(IDC_SLIDER_ANGLE, NM_RELEASEDCAPTURE, &D::OnReleasedCaptureAngle),
  };
};

CEffectDialog::CEffectDialog(HWND parent) : CDialog(IDD_EFFECT, parent) {}

bool CEffectDialog::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  return ui::DispatchMessageMap(*this, EffectDialogMap::kMap, std::size(EffectDialogMap::kMap),
                                message, wParam, lParam, result) ||
         CDialog::OnWndMsg(message, wParam, lParam, result);
}

void CEffectDialog::DoDataExchange(ui::CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  ui::DDX_Control(dx, IDC_USE_COLOR, m_checkUseColor);
  ui::DDX_Control(dx, IDC_LABEL_ANGLE, m_labelAngle);
  ui::DDX_Control(dx, IDC_LABEL_STREAKS, m_labelStreaks);
  ui::DDX_Control(dx, IDC_LABEL_RADIUS, m_labelRadius);
  ui::DDX_Control(dx, IDC_LABEL_BLUE, m_labelBlue);
  ui::DDX_Control(dx, IDC_LABEL_THRESHOLD, m_labelThreshold);
  ui::DDX_Control(dx, IDC_LABEL_GREEN, m_labelGreen);
  ui::DDX_Control(dx, IDC_LABEL_RED, m_labelRed);
  ui::DDX_Control(dx, IDC_EDIT_ANGLE, m_editAngle);
  ui::DDX_Control(dx, IDC_EDIT_STREAKS, m_editStreaks);
  ui::DDX_Control(dx, IDC_EDIT_RADIUS, m_editRadius);
  ui::DDX_Control(dx, IDC_EDIT_THRESHOLD, m_editThreshold);
  ui::DDX_Control(dx, IDC_EDIT_BLUE, m_editBlue);
  ui::DDX_Control(dx, IDC_EDIT_GREEN, m_editGreen);
  ui::DDX_Control(dx, IDC_EDIT_RED, m_editRed);
  ui::DDX_Control(dx, IDC_SLIDER_ANGLE, m_sliderAngle);
  ui::DDX_Control(dx, IDC_SLIDER_STREAKS, m_sliderStreaks);
  ui::DDX_Control(dx, IDC_SLIDER_RADIUS, m_sliderRadius);
  ui::DDX_Control(dx, IDC_SLIDER_THRESHOLD, m_sliderThreshold);
  ui::DDX_Control(dx, IDC_SLIDER_BLUE, m_sliderBlue);
  ui::DDX_Control(dx, IDC_SLIDER_GREEN, m_sliderGreen);
  ui::DDX_Control(dx, IDC_SLIDER_RED, m_sliderRed);
  ui::DDX_Control(dx, IDC_RADIO_GLOW, m_radioGlow);
  ui::DDX_Control(dx, IDC_RADIO_SPARKLE, m_radioSparkle);
}

BOOL CEffectDialog::OnInitDialog() {
  CDialog::OnInitDialog();
  SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

  // Every slider takes its range from the table the clamps use, so the two never part.
  for (int i = 0; i < kParamCount; ++i) {
    const ui::CSliderCtrl& slider = this->*EffectDialogRows::kRows[i].slider;
    slider.SetRangeMin(kParamRanges[i].min, FALSE);
    slider.SetRangeMax(kParamRanges[i].max, FALSE);
  }

  EffectParams* params = Params();
  if (!params) {
    EndDialog(IDCANCEL);
    return TRUE;
  }

  // Opening commits every box once, which clamps what the host stored; one preview
  // afterwards is enough.
  m_bSuspendPreview = 1;
  const bool stepColour = m_pHost->State().openOnEffectColour && Colour().use;
  m_pHost->State().openOnEffectColour = 0;
  if (stepColour) {
    m_swatchColor = RGB(Colour().red & 0xFF, Colour().green & 0xFF, Colour().blue & 0xFF);
    m_checkUseColor.SetCheck(BST_CHECKED);
  } else {
    m_swatchColor = RGB(params->red & 0xFF, params->green & 0xFF, params->blue & 0xFF);
    Colour().red = params->red;
    Colour().green = params->green;
    Colour().blue = params->blue;
    // "Use Color" opens without its tick; the flag goes with it, so what the box shows is
    // what renders. A custom colour from an earlier dialog is gone by now anyway.
    Colour().use = 0;
  }
  for (int i = 0; i < kParamCount; ++i) {
    SetDlgItemInt(m_hWnd, EffectDialogRows::kRows[i].editId, UINT(params->*kParamRanges[i].field),
                  TRUE);
    CommitValue(i);
  }
  m_bSuspendPreview = 0;

  ShowMode(params->mode);
  RememberOpening();
  SetUpConventions();

  PreviewDisabled() = 0;
  CheckMaskedSelection();
  GetPreviewFrame(m_pHost->PreviewRect());
  AcquirePreview();
  UpdatePreview();
  return TRUE;  // the focus goes to the first tab stop, the Red slider
}

LRESULT CEffectDialog::OnPaint(WPARAM wParam, LPARAM lParam) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(m_hWnd, &paint);

  RECT swatch;
  ::GetWindowRect(GetDlgItem(IDC_SWATCH), &swatch);
  ScreenToClient(&swatch);
  HBRUSH brush = CreateSolidBrush(m_swatchColor);
  FillRect(dc, &swatch, brush);

  PaintPreview();
  Default(WM_PAINT, wParam, lParam);
  DeleteObject(brush);
  EndPaint(m_hWnd, &paint);
  return 0;
}

LRESULT CEffectDialog::OnQueryDragIcon(WPARAM, LPARAM) {
  return reinterpret_cast<LRESULT>(m_hIcon);
}

LRESULT CEffectDialog::OnHScroll(WPARAM wParam, LPARAM lParam) {
  // Only the box follows the thumb; the value commits on release or when the box loses
  // the focus, so a drag never renders.
  auto slider = reinterpret_cast<HWND>(lParam);
  if (slider) {
    int id = ::GetDlgCtrlID(slider);
    for (const EffectDialogRows::Row& row : EffectDialogRows::kRows) {
      if (row.sliderId != id) continue;
      char text[16];
      std::snprintf(text, sizeof text, "%d", int(::SendMessageA(slider, TBM_GETPOS, 0, 0)));
      SetDlgItemTextA(m_hWnd, row.editId, text);
      break;
    }
  }
  return Default(WM_HSCROLL, wParam, lParam);
}

void CEffectDialog::CommitValue(int param) {
  EffectParams* params = Params();
  if (!params) return;
  const EffectDialogRows::Row& row = EffectDialogRows::kRows[param];
  const ParamRange& range = kParamRanges[param];

  char text[kValueTextSize] = {};
  GetDlgItemTextA(m_hWnd, row.editId, text, kValueTextSize);
  int32_t value = ValueFromText(text, range);

  params->*range.field = value;
  (this->*row.slider).SetPos(value, TRUE);
  char canonical[16];
  std::snprintf(canonical, sizeof canonical, "%d", int(value));
  SetDlgItemTextA(m_hWnd, row.editId, canonical);
  UpdatePreview();
}

void CEffectDialog::OnKillFocusRed() {
  CommitValue(kParamRed);
}
void CEffectDialog::OnKillFocusGreen() {
  CommitValue(kParamGreen);
}
void CEffectDialog::OnKillFocusBlue() {
  CommitValue(kParamBlue);
}
void CEffectDialog::OnKillFocusThreshold() {
  CommitValue(kParamThreshold);
}
void CEffectDialog::OnKillFocusRadius() {
  CommitValue(kParamRadius);
}
void CEffectDialog::OnKillFocusStreaks() {
  CommitValue(kParamStreaks);
}
void CEffectDialog::OnKillFocusAngle() {
  CommitValue(kParamAngle);
}

// Letting go of the thumb commits what OnHScroll left in the box.
void CEffectDialog::OnReleasedCaptureRed(NMHDR*, LRESULT* result) {
  OnKillFocusRed();
  *result = 0;
}
void CEffectDialog::OnReleasedCaptureGreen(NMHDR*, LRESULT* result) {
  OnKillFocusGreen();
  *result = 0;
}
void CEffectDialog::OnReleasedCaptureBlue(NMHDR*, LRESULT* result) {
  OnKillFocusBlue();
  *result = 0;
}
void CEffectDialog::OnReleasedCaptureThreshold(NMHDR*, LRESULT* result) {
  OnKillFocusThreshold();
  *result = 0;
}
void CEffectDialog::OnReleasedCaptureRadius(NMHDR*, LRESULT* result) {
  OnKillFocusRadius();
  *result = 0;
}
void CEffectDialog::OnReleasedCaptureStreaks(NMHDR*, LRESULT* result) {
  OnKillFocusStreaks();
  *result = 0;
}
void CEffectDialog::OnReleasedCaptureAngle(NMHDR*, LRESULT* result) {
  OnKillFocusAngle();
  *result = 0;
}

// Streaks and Angle mean something to Sparkle only. Their values stay as they are while
// the rows are greyed.
void CEffectDialog::EnableSparkleControls(BOOL enable) {
  m_editStreaks.EnableWindow(enable);
  m_editAngle.EnableWindow(enable);
  m_sliderStreaks.EnableWindow(enable);
  m_sliderAngle.EnableWindow(enable);
  m_labelStreaks.EnableWindow(enable);
  m_labelAngle.EnableWindow(enable);
}

void CEffectDialog::ShowMode(int32_t mode) {
  m_radioGlow.SetCheck(mode == kModeGlow ? BST_CHECKED : BST_UNCHECKED);
  m_radioSparkle.SetCheck(mode == kModeGlow ? BST_UNCHECKED : BST_CHECKED);
  if (mode == kModeGlow)
    OnGlow();
  else
    OnSparkle();
}

void CEffectDialog::OnGlow() {
  EnableSparkleControls(FALSE);
  if (EffectParams* params = Params()) params->mode = kModeGlow;
  UpdatePreview();
}

void CEffectDialog::OnSparkle() {
  EnableSparkleControls(TRUE);
  if (EffectParams* params = Params()) params->mode = kModeSparkle;
  UpdatePreview();
}

void CEffectDialog::OnSetColor() {
  ui::CColorDialog chooser(0, 0, m_hWnd);
  if (chooser.DoModal() == IDOK) {
    const COLORREF chosen = chooser.GetColor();
    m_swatchColor = chosen;
    Colour() = {1, GetRValue(chosen), GetGValue(chosen), GetBValue(chosen)};
    m_checkUseColor.SetCheck(BST_CHECKED);
    Invalidate(TRUE);
  }
  UpdatePreview();
}

void CEffectDialog::OnUseColor() {
  Colour().use = m_checkUseColor.GetCheck() == BST_CHECKED ? 1 : 0;
  UpdatePreview();
}

void CEffectDialog::CheckMaskedSelection() {
  const FilterRecord* record = Record();
  if (!record->haveMask || record->hostSig != kHostWithoutMaskedPreview) return;
  MessageBoxA(m_hWnd, kMaskErrorText, "Mask Error", MB_OK | MB_ICONWARNING);
  PreviewDisabled() = 1;
}

Rect& CEffectDialog::GetPreviewFrame(Rect& out) const {
  RECT frame;
  ::GetWindowRect(GetDlgItem(IDC_PREVIEW), &frame);
  ScreenToClient(&frame);
  out.top = int16_t(frame.top);
  out.left = int16_t(frame.left);
  out.bottom = int16_t(frame.bottom);
  out.right = int16_t(frame.right);
  return out;
}

void CEffectDialog::AcquirePreview() {
  FilterRecord* record = Record();
  int32_t factor = 1;
  // The part of the image asked for, in the coordinates of the reduced image.
  Rect part = record->filterRect;
  if (m_pHost->ReducesPreview()) {
    FitPreview(record->filterRect, m_pHost->PreviewRect(), factor);
    RectScale(part, 1, int16_t(factor));
  } else {
    CropPreview(record->filterRect, m_pHost->PreviewRect());
    part = m_pHost->PreviewRect();
  }
  Params()->scale = float(factor);
  RectCopy(record->inRect, part);
  RectCopy(record->outRect, part);
  record->outLoPlane = 0;
  record->inLoPlane = 0;
  record->outHiPlane = int16_t(record->planes - 1);
  record->inHiPlane = record->outHiPlane;
  const bool floatingMask = record->haveMask && record->isFloating;
  if (floatingMask) RectCopy(record->maskRect, part);
  record->inputRate = IntToFixed(factor);
  if (record->haveMask) record->maskRate = IntToFixed(factor);
  record->inputPadding = kWantsEdgeReplication;
  record->outputPadding = kWantsEdgeReplication;
  if (floatingMask) record->maskPadding = kWantsEdgeReplication;

  const int16_t result = m_pHost->AdvanceState();
  // A host that reports success without both buffers has delivered nothing to render.
  m_bHavePreviewBuffers = result == kNoErr && record->inData && record->outData;
}

void CEffectDialog::UpdatePreview() {
  if (m_bSuspendPreview || PreviewDisabled() || !m_bHavePreviewBuffers) return;
  HCURSOR previous = SetCursor(LoadCursor(nullptr, IDC_WAIT));
  // The host renders it as a preview, with the custom colour of the state.
  if (!m_pHost->RenderPreview(m_previewPixels)) m_previewPixels = PixelBuffers{};
  m_bPreviewRendered = 1;
  // Painting is left to WM_PAINT; the background stays, the image covers its own place.
  RECT whole;
  GetWindowRect(&whole);
  ScreenToClient(&whole);
  InvalidateRect(m_hWnd, &whole, FALSE);
  SetCursor(previous);
}

RECT CEffectDialog::PreviewImageRect() const {
  const FilterRecord* record = Record();
  RECT frame;
  ::GetWindowRect(GetDlgItem(IDC_PREVIEW), &frame);
  POINT origin{0, 0};
  ClientToScreen(m_hWnd, &origin);
  const int32_t w = int32_t(record->outRect.right) - record->outRect.left;
  const int32_t h = int32_t(record->outRect.bottom) - record->outRect.top;
  const PreviewSpot spot = CentreInFrame(VRect{frame.top, frame.left, frame.bottom, frame.right},
                                         origin.x, origin.y, w, h);
  return RECT{spot.left, spot.top, spot.left + w, spot.top + h};
}

void CEffectDialog::PaintPreview() {
  if (PreviewDisabled() || !m_bPreviewRendered) return;
  const FilterRecord* record = Record();
  if (!record->outData) return;
  const RECT image = PreviewImageRect();
  const int32_t planes = int32_t(record->outHiPlane) - record->outLoPlane + 1;

  // The display takes 8 bits: a deeper preview is shown through its nearest 8-bit values.
  void* pixels = record->outData;
  int32_t rowBytes = record->outRowBytes;
  const int32_t depth = DocumentDepth(*record);
  if (depth != 8) {
    const int32_t width = int32_t(record->outRect.right) - record->outRect.left;
    const int32_t height = int32_t(record->outRect.bottom) - record->outRect.top;
    if (!EightBitsForDisplay(static_cast<const uint8_t*>(record->outData), rowBytes, width, height,
                             planes, depth, m_displayPixels))
      return;
    pixels = m_displayPixels.data();
    rowBytes = width * planes;
  }

  PSPixelMap map{};
  map.version = 1;
  map.bounds = VRect{record->outRect.top, record->outRect.left, record->outRect.bottom,
                     record->outRect.right};
  map.imageMode = EightBitMode(record->imageMode);
  map.rowBytes = rowBytes;
  map.colBytes = planes;
  map.planeBytes = 1;
  map.baseAddr = pixels;
  map.mat = nullptr;
  map.masks = nullptr;
  map.maskPhaseRow = 0;
  map.maskPhaseCol = 0;

  // A floating selection is drawn through the host's mask only when the host delivered
  // one; otherwise the layer's transparency plane serves, where there is one.
  PSPixelMask mask{};
  if (record->isFloating && record->haveMask && record->maskData) {
    mask.maskData = record->maskData;
    mask.rowBytes = record->maskRowBytes;
    mask.colBytes = 1;
    map.masks = &mask;
  } else if (record->inLayerPlanes && record->inTransparencyMask) {
    mask.maskData = static_cast<uint8_t*>(pixels) + (planes - 1);
    mask.rowBytes = rowBytes;
    mask.colBytes = planes;
    map.masks = &mask;
  }

  HDC dc = ::GetDC(m_hWnd);
  record->displayPixels(&map, &map.bounds, image.top, image.left, dc);
  ::ReleaseDC(m_hWnd, dc);
}

LRESULT CEffectDialog::OnMouseMove(WPARAM wParam, LPARAM lParam) {
  const int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
  if (Inside(PreviewImageRect(), x, y)) {
    HCURSOR dropper = LoadCursor(ui::ModuleOfThisCode(), MAKEINTRESOURCE(IDC_EYEDROPPER));
    SetCapture(m_hWnd);
    m_bDropperCapture = 1;
    SetCursor(dropper);
  } else if (m_bDropperCapture) {
    ReleaseCapture();
    m_bDropperCapture = 0;
  }
  return Default(WM_MOUSEMOVE, wParam, lParam);
}

LRESULT CEffectDialog::OnLButtonDown(WPARAM wParam, LPARAM lParam) {
  const int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
  RECT frame;
  ::GetWindowRect(GetDlgItem(IDC_PREVIEW), &frame);
  ScreenToClient(&frame);
  // Only a render of this dialog's buffers describes pixels that are still there.
  int32_t red = 0, green = 0, blue = 0;
  if (Inside(frame, x, y) && m_bPreviewRendered && !PreviewDisabled()) {
    const RECT image = PreviewImageRect();
    if (GetSourcePixel(m_previewPixels, x - image.left, y - image.top, &red, &green, &blue)) {
      m_bSuspendPreview = 1;
      SetDlgItemInt(m_hWnd, IDC_EDIT_RED, UINT(red), TRUE);
      OnKillFocusRed();
      SetDlgItemInt(m_hWnd, IDC_EDIT_GREEN, UINT(green), TRUE);
      OnKillFocusGreen();
      SetDlgItemInt(m_hWnd, IDC_EDIT_BLUE, UINT(blue), TRUE);
      m_bSuspendPreview = 0;
      OnKillFocusBlue();  // stores blue and renders once with all three
    }
  }
  return Default(WM_LBUTTONDOWN, wParam, lParam);
}
