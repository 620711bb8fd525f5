#pragma once

#include "dialog/DialogHost.h"
#include "host/EffectParams.h"
#include "host/HostTypes.h"

// The plug-in's state between calls, kept in the host's data word.
struct PluginGlobals {
  int16_t result;
  Rect previewRect;
  FilterRecord* filterRecord;
};

EffectParams* ParamsOf(const PluginGlobals& globals);

// What the dialog leaves for later runs: the custom effect colour with its flag, and the
// preview-disabled flag. One for the loaded library, zero at load; the engine is handed it.
DialogState& LoadedDialogState();
