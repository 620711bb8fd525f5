// How many pixels of an image lie in the filter's colour window: what the effect starts
// from, said to the user after a run.
#pragma once

#include <cstdint>

#include "filterhost/FilterHost.h"
#include "host/EffectParams.h"

// The window is the plug-in's: each of red, green and blue within Threshold of the colour
// to match, the bounds clamped to 0 and 255, both inclusive.
uint64_t CountWindowPixels(const Image& image, const EffectParams& params);
