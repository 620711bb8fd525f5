#include "dialog/EffectDialog.h"
#include "dialog/ParametersDialog.h"

DialogOutcome RunParametersDialog(DialogHost& host, void* ownerWindow) {
  // A handle that is no window would keep the dialog from opening at all; it gets none.
  HWND owner = static_cast<HWND>(ownerWindow);
  if (owner && !IsWindow(owner)) owner = nullptr;
  CEffectDialog dialog(owner);
  dialog.m_pHost = &host;
  const INT_PTR result = dialog.DoModal();
  if (result == -1) return DialogOutcome::kFailed;
  return result == IDCANCEL ? DialogOutcome::kCancelled : DialogOutcome::kConfirmed;
}
