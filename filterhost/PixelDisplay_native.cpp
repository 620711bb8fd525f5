#include "filterhost/PixelDisplay.h"

bool DrawDisplayedPixels(const DisplayedPixels&, void*) {
  return true;
}
