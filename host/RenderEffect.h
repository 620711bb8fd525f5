#pragma once

#include "engine/Engine.h"
#include "host/PluginGlobals.h"

// Renders the delivered buffers of the call's host record with its parameter record and
// `options`, in `context`: copies the input to the output and draws the effect. Reads the
// host record once and hands the engine plain data. False when there was nothing to render
// (no parameters, or buffers the host did not deliver); otherwise `rendered`, when given,
// holds the buffers drawn.
bool RenderEffect(PluginGlobals* globals, RenderContext& context, const RenderOptions& options,
                  PixelBuffers* rendered = nullptr);
