#pragma once

#include "host/EffectParams.h"
#include "host/HostTypes.h"

// The plug-in's state between calls, kept in the host's data word.
struct PluginGlobals {
  int16_t result;
  Rect previewRect;
  FilterRecord* filterRecord;
};

EffectParams* ParamsOf(const PluginGlobals& globals);
