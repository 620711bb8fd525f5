// How the host shows a plug-in's pixel map: composed to RGB first (portable, so tests can
// look at it), then drawn into the platform's device context.
#pragma once

#include "filterhost/FilterHost.h"

// Composes srcRect of the map (in the map's own coordinates, clipped to its bounds) into
// out->rgb. Samples are colBytes apart within a row and rowBytes between rows; the planes
// of an RGB map are planeBytes apart. Any other mode, and interleaved pixels of fewer than
// three samples, are drawn as grey from the first plane. A mask record blends the pixels
// over a light checkerboard, as editors show transparency. False for a map that cannot be
// read (no pixels, bad strides).
bool ComposePixelMap(const PSPixelMap& map, const VRect& srcRect, DisplayedPixels* out);

// Draws the composed pixels into the context (an HDC on Windows) at dstRow, dstCol.
// Natively there is nothing to draw into and the composed copy is all that is kept.
bool DrawDisplayedPixels(const DisplayedPixels& shown, void* platformContext);
