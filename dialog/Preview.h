// The preview's arithmetic on host rectangles, and the pixel a pick reads: plain code
// that knows no window system, so every build can test it.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/Engine.h"
#include "host/HostTypes.h"

void RectCopy(Rect& dst, const Rect& src);
// left and top move in, right and bottom move back, in 16-bit arithmetic.
void RectInset(Rect& r, int16_t dh, int16_t dv);
// Each coordinate becomes (c * num) / den in 32 bits, truncated toward zero.
void RectScale(Rect& r, int16_t num, int16_t den);

// The smallest whole factor that brings the filter rectangle inside the frame less its
// one-pixel border (1 when it already fits). frame is left holding the filter rectangle
// reduced by that factor.
void FitPreview(const Rect& filterRect, Rect& frame, int32_t& factor);

// For a host that cannot reduce the image: the middle of the filter rectangle at full size,
// as much of it as fits the frame less its border. frame is left holding that part.
void CropPreview(const Rect& filterRect, Rect& frame);

// Where an image of width w and height h is drawn centred on the frame: frame in screen
// coordinates, origin the screen position of the client area's corner; the result in
// client coordinates.
struct PreviewSpot {
  int32_t left;
  int32_t top;
};
PreviewSpot CentreInFrame(const VRect& frame, int32_t originX, int32_t originY, int32_t w,
                          int32_t h);

// The unfiltered colour at (col, row) of the input of the buffers a preview rendered, in
// 8-bit values (16-bit samples give their nearest). Row and column 0, and everything past
// the buffer, give black. False, with nothing written,
// when those pixels have no colour samples to read (other than 3 or 4 planes).
bool GetSourcePixel(const PixelBuffers& rendered, int32_t col, int32_t row, int32_t* red,
                    int32_t* green, int32_t* blue);

// The samples of a rendered buffer as the host's display takes them: 8 bits, packed rows
// of width * planes. 16-bit samples become their nearest 8-bit values. False (out left
// empty) for other depths, or when the memory cannot be had.
bool EightBitsForDisplay(const uint8_t* samples, int32_t rowBytes, int32_t width, int32_t height,
                         int32_t planes, int32_t depth, std::vector<uint8_t>& out);
