#include "dialog/Preview.h"

#include <algorithm>
#include <cstddef>

void RectCopy(Rect& dst, const Rect& src) {
  dst.top = src.top;
  dst.left = src.left;
  dst.bottom = src.bottom;
  dst.right = src.right;
}

void RectInset(Rect& r, int16_t dh, int16_t dv) {
  r.left = int16_t(r.left + dh);
  r.top = int16_t(r.top + dv);
  r.right = int16_t(r.right - dh);
  r.bottom = int16_t(r.bottom - dv);
}

void RectScale(Rect& r, int16_t num, int16_t den) {
  auto scale = [&](int16_t c) { return int16_t(int32_t(c) * num / int32_t(den)); };
  r.top = scale(r.top);
  r.left = scale(r.left);
  r.bottom = scale(r.bottom);
  r.right = scale(r.right);
}

void FitPreview(const Rect& filterRect, Rect& frame, int32_t& factor) {
  RectInset(frame, 1, 1);
  const int16_t frameW = int16_t(frame.right - frame.left);
  const int16_t frameH = int16_t(frame.bottom - frame.top);
  const int16_t imageW = int16_t(filterRect.right - filterRect.left);
  const int16_t imageH = int16_t(filterRect.bottom - filterRect.top);
  int32_t limitW = frameW < imageW ? frameW : imageW;
  int32_t limitH = frameH < imageH ? frameH : imageH;
  // An empty filter rectangle or frame would divide by zero; it gets factor 1.
  if (limitW < 1) limitW = 1;
  if (limitH < 1) limitH = 1;
  const int32_t factorW = (imageW + limitW - 1) / limitW;
  const int32_t factorH = (imageH + limitH - 1) / limitH;
  factor = factorW > factorH ? factorW : factorH;
  if (factor < 1) factor = 1;
  RectCopy(frame, filterRect);
  RectScale(frame, 1, int16_t(factor));
}

PreviewSpot CentreInFrame(const VRect& frame, int32_t originX, int32_t originY, int32_t w,
                          int32_t h) {
  return {(frame.left + frame.right - w) / 2 - originX,
          (frame.top + frame.bottom - h) / 2 - originY};
}

bool GetSourcePixel(const PixelBuffers& rendered, int32_t col, int32_t row, int32_t* red,
                    int32_t* green, int32_t* blue) {
  const int32_t planes = rendered.planes;
  if (planes != 3 && planes != 4) return false;
  // The bounds and the stride as the render took them.
  const int32_t width = std::max(rendered.width, 0);
  const int32_t height = std::max(rendered.height, 0);
  const int32_t stride = std::max(rendered.inRowBytes, width * planes);
  // The lower bounds are strict: the first row and column count as outside.
  if (col >= width || col <= 0 || row <= 0 || row >= height || !rendered.input) {
    *red = *green = *blue = 0;
    return true;
  }
  const uint8_t* pixel =
      rendered.input + size_t(row) * size_t(stride) + size_t(col) * size_t(planes);
  *red = pixel[0];
  *green = pixel[1];
  *blue = pixel[2];
  return true;
}
