// The settings of the last run, kept in a file of the plug-in's own for hosts that forget
// the parameter record between runs (see KnownHosts.h).
#pragma once

#include "engine/Engine.h"
#include "host/EffectParams.h"

// The settings of the file, every one in its range, into params (the colour to match, the
// numbers and the mode) and colour; false, and nothing changed, when there is no such file
// or it is not one this plug-in wrote.
bool RecallSettings(EffectParams* params, CustomColour* colour);

// Replaces the file whole, or leaves it as it was: a run never fails for it.
void RememberSettings(const EffectParams& params, const CustomColour& colour);
