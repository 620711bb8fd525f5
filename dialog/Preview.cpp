#include "dialog/Preview.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>

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

void CropPreview(const Rect& filterRect, Rect& frame) {
  RectInset(frame, 1, 1);
  const int32_t imageW = int32_t(filterRect.right) - filterRect.left;
  const int32_t imageH = int32_t(filterRect.bottom) - filterRect.top;
  const int32_t w = std::clamp(int32_t(frame.right) - frame.left, 0, std::max(imageW, 0));
  const int32_t h = std::clamp(int32_t(frame.bottom) - frame.top, 0, std::max(imageH, 0));
  frame.left = int16_t(filterRect.left + (imageW - w) / 2);
  frame.top = int16_t(filterRect.top + (imageH - h) / 2);
  frame.right = int16_t(frame.left + w);
  frame.bottom = int16_t(frame.top + h);
}

PreviewSpot CentreInFrame(const VRect& frame, int32_t originX, int32_t originY, int32_t w,
                          int32_t h) {
  return {(frame.left + frame.right - w) / 2 - originX,
          (frame.top + frame.bottom - h) / 2 - originY};
}

namespace {

// Sample k of the pixel at `pixel`, as an 8-bit value.
uint8_t EightBitSample(const uint8_t* pixel, int32_t k, int32_t depth) {
  if (depth != 16) return pixel[k];
  uint16_t v;
  std::memcpy(&v, pixel + 2 * k, sizeof v);  // host rows need not be aligned
  return NearestEightBit(v);
}

}  // namespace

bool GetSourcePixel(const PixelBuffers& rendered, int32_t col, int32_t row, int32_t* red,
                    int32_t* green, int32_t* blue) {
  const int32_t planes = rendered.planes;
  if (planes != 3 && planes != 4) return false;
  if (rendered.depth == 32) return false;  // no 8-bit value to give
  const int32_t bytes = rendered.depth == 16 ? 2 : 1;
  // The bounds and the stride as the render took them.
  const int32_t width = std::max(rendered.width, 0);
  const int32_t height = std::max(rendered.height, 0);
  const int32_t stride = std::max(rendered.inRowBytes, width * planes * bytes);
  // The lower bounds are strict: the first row and column count as outside.
  if (col >= width || col <= 0 || row <= 0 || row >= height || !rendered.input) {
    *red = *green = *blue = 0;
    return true;
  }
  const uint8_t* pixel =
      rendered.input + size_t(row) * size_t(stride) + size_t(col) * size_t(planes * bytes);
  *red = EightBitSample(pixel, 0, rendered.depth);
  *green = EightBitSample(pixel, 1, rendered.depth);
  *blue = EightBitSample(pixel, 2, rendered.depth);
  return true;
}

bool EightBitsForDisplay(const uint8_t* samples, int32_t rowBytes, int32_t width, int32_t height,
                         int32_t planes, int32_t depth, std::vector<uint8_t>& out) {
  out.clear();
  if (depth != 16 || !samples || width <= 0 || height <= 0 || planes <= 0) return false;
  const size_t packed = size_t(width) * size_t(planes);
  const size_t stride = std::max(size_t(rowBytes > 0 ? rowBytes : 0), packed * 2);
  try {
    out.resize(packed * size_t(height));
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (int32_t y = 0; y < height; ++y)
    NarrowToEightBits(samples + size_t(y) * stride, out.data() + size_t(y) * packed, packed);
  return true;
}
