#pragma once

#include "engine/Engine.h"
#include "host/PluginGlobals.h"

// Renders the delivered buffers of the call's host record with its parameter record and
// `options`, in `context`: copies the input to the output and draws the effect. Reads the
// host record once and hands the engine plain data. False when there was nothing to render
// (no parameters, or buffers the host did not deliver); otherwise `rendered`, when given,
// holds the buffers drawn.
// The threads are those CORVANEL_THREADS asks for (see LoadedThreadCount).
bool RenderEffect(PluginGlobals* globals, RenderContext& context, const RenderOptions& options,
                  PixelBuffers* rendered = nullptr);

// The render context of the loaded plug-in, made at the first Start and kept for every later
// one, so that the dialog's previews and the runs after the first touch no fresh pages; null
// when its memory cannot be had (tried again at the next Start).
RenderContext* LoadedRenderContext();

// The most threads a render uses: the environment variable CORVANEL_THREADS, a whole number
// from 1 to 64; unset, 0 or anything else, one for each core. The command's --threads sets it
// in its own process for the plug-in it loads; any host's user may set it too.
int32_t LoadedThreadCount();
