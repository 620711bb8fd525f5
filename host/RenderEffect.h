#pragma once

#include "host/PluginGlobals.h"

// Renders the delivered buffers of the call's host record with its parameter record:
// copies the input to the output and draws the effect. Reads the host record once and
// hands the engine plain data.
void RenderEffect(PluginGlobals* globals);
