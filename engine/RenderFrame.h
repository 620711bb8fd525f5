// The engine's process-wide working state. It keeps the values of the last render, which
// the dialog's colour pick reads, and the custom effect colour, which the dialog sets.
#pragma once

#include <cstdint>

struct RenderFrame {
  const uint8_t* input;
  uint8_t* output;
  int32_t width;
  int32_t firstRow;
  int32_t endRow;
  int32_t firstColumn;
  int32_t planes;
  int32_t inRowBytes;
  int32_t outRowBytes;
  int32_t previewing;
  uint8_t useCustomColor;
  int32_t customRed;
  int32_t customGreen;
  int32_t customBlue;
};

extern RenderFrame g_renderFrame;
