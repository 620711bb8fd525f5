#include "dialog/EffectDialog.h"
#include "dialog/ParametersDialog.h"

bool RunParametersDialog(PluginGlobals* globals) {
  CEffectDialog dialog(nullptr);
  dialog.m_pGlobals = globals;
  return dialog.DoModal() != IDCANCEL;
}
