#include "filterhost/PixelDisplay.h"

#include <algorithm>

bool ComposePixelMap(const PSPixelMap& map, const VRect& srcRect, DisplayedPixels* out) {
  out->map = map;
  out->srcRect = srcRect;
  out->hadMask = map.masks != nullptr;
  if (map.masks) out->mask = *map.masks;
  out->width = out->height = 0;
  out->rgb.clear();
  if (!map.baseAddr || map.colBytes < 1 || map.rowBytes < 1) return false;
  if (map.masks && (!map.masks->maskData || map.masks->colBytes < 0 || map.masks->rowBytes < 0))
    return false;

  const int64_t top = std::max(srcRect.top, map.bounds.top);
  const int64_t left = std::max(srcRect.left, map.bounds.left);
  const int64_t bottom = std::min(srcRect.bottom, map.bounds.bottom);
  const int64_t right = std::min(srcRect.right, map.bounds.right);
  if (bottom <= top || right <= left) return true;  // nothing to draw is no error
  out->width = int32_t(right - left);
  out->height = int32_t(bottom - top);
  out->rgb.resize(size_t(out->width) * size_t(out->height) * 3);

  // Interleaved pixels with fewer than three samples (an RGB-mode image of one or two
  // planes) have no green and blue to read: they are drawn as grey.
  const bool rgb = map.imageMode == kImageModeRGB && (map.planeBytes > 1 || map.colBytes >= 3);
  const auto* base = static_cast<const uint8_t*>(map.baseAddr);
  uint8_t* to = out->rgb.data();
  for (int64_t y = top; y < bottom; ++y) {
    for (int64_t x = left; x < right; ++x) {
      const int64_t row = y - map.bounds.top, col = x - map.bounds.left;
      const uint8_t* pixel = base + row * map.rowBytes + col * map.colBytes;
      uint8_t c[3];
      for (int p = 0; p < 3; ++p) c[p] = rgb ? pixel[p * map.planeBytes] : pixel[0];
      if (map.masks) {
        const PSPixelMask& mask = *map.masks;
        const int32_t alpha =
            static_cast<const uint8_t*>(mask.maskData)[row * mask.rowBytes + col * mask.colBytes];
        // 8-pixel squares of white and light grey, fixed to the image's own corner.
        const int32_t checker = (((y - top) / 8 + (x - left) / 8) % 2) ? 0xCC : 0xFF;
        for (uint8_t& s : c) s = uint8_t((s * alpha + checker * (255 - alpha) + 127) / 255);
      }
      std::copy(c, c + 3, to);
      to += 3;
    }
  }
  return true;
}
