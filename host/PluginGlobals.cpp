#include "host/PluginGlobals.h"

EffectParams* ParamsOf(const PluginGlobals& globals) {
  return globals.filterRecord ? ParamsFromHandle(globals.filterRecord->parameters) : nullptr;
}

DialogState& LoadedDialogState() {
  static DialogState state;
  return state;
}
