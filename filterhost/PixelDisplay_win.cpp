#include <windows.h>

#include <algorithm>

#include "filterhost/PixelDisplay.h"

bool DrawDisplayedPixels(const DisplayedPixels& shown, void* platformContext) {
  HDC dc = static_cast<HDC>(platformContext);
  if (!dc) return false;
  if (shown.width == 0 || shown.height == 0) return true;
  // A top-down 24-bit DIB: rows are BGR and padded to whole words.
  const size_t stride = (size_t(shown.width) * 3 + 3) & ~size_t(3);
  std::vector<uint8_t> bits(stride * size_t(shown.height));
  for (int32_t y = 0; y < shown.height; ++y) {
    const uint8_t* from = shown.rgb.data() + size_t(y) * size_t(shown.width) * 3;
    uint8_t* to = bits.data() + size_t(y) * stride;
    for (int32_t x = 0; x < shown.width; ++x, from += 3, to += 3) {
      to[0] = from[2];
      to[1] = from[1];
      to[2] = from[0];
    }
  }
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = shown.width;
  info.bmiHeader.biHeight = -shown.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  // dstRow, dstCol place srcRect's corner; the part clipped off the map is not drawn.
  const int32_t col =
      shown.dstCol + (std::max(shown.srcRect.left, shown.map.bounds.left) - shown.srcRect.left);
  const int32_t row =
      shown.dstRow + (std::max(shown.srcRect.top, shown.map.bounds.top) - shown.srcRect.top);
  return SetDIBitsToDevice(dc, col, row, DWORD(shown.width), DWORD(shown.height), 0, 0, 0,
                           UINT(shown.height), bits.data(), &info, DIB_RGB_COLORS) != 0;
}
