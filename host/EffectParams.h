// The parameter record the host keeps from run to run. Its layout is fixed: hosts store it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/PseudoHandle.h"

struct EffectParams {
  int32_t red;
  int32_t green;
  int32_t blue;
  int32_t threshold;
  int32_t radius;
  int32_t angle;
  int32_t streaks;
  int32_t reserved;
  int32_t mode;  // 0 Glow, 1 Sparkle; any other value renders as Glow
  float scale;   // reduction factor of the image being rendered
  int16_t showDialog;
  uint8_t unused[2];
};

static_assert(sizeof(EffectParams) == 44);
static_assert(offsetof(EffectParams, red) == 0);
static_assert(offsetof(EffectParams, threshold) == 12);
static_assert(offsetof(EffectParams, radius) == 16);
static_assert(offsetof(EffectParams, angle) == 20);
static_assert(offsetof(EffectParams, streaks) == 24);
static_assert(offsetof(EffectParams, mode) == 32);
static_assert(offsetof(EffectParams, scale) == 36);
static_assert(offsetof(EffectParams, showDialog) == 40);

constexpr int32_t kModeGlow = 0;
constexpr int32_t kModeSparkle = 1;

// One user setting: its label, field, range and default. The dialog's sliders and boxes,
// the command line's checks and the new-record defaults all read this table.
struct ParamRange {
  const char* label;
  int32_t EffectParams::*field;
  int32_t min;
  int32_t max;
  int32_t defaultValue;
};

inline constexpr ParamRange kParamRanges[] = {
    {"Red", &EffectParams::red, 0, 255, 255},
    {"Green", &EffectParams::green, 0, 255, 255},
    {"Blue", &EffectParams::blue, 0, 255, 255},
    {"Threshold", &EffectParams::threshold, 0, 100, 5},
    {"Radius", &EffectParams::radius, 0, 100, 30},
    {"Streaks", &EffectParams::streaks, 0, 40, 4},
    {"Angle", &EffectParams::angle, 0, 180, 45},
};

enum ParamIndex {
  kParamRed,
  kParamGreen,
  kParamBlue,
  kParamThreshold,
  kParamRadius,
  kParamStreaks,
  kParamAngle,
  kParamCount
};
static_assert(sizeof(kParamRanges) / sizeof(kParamRanges[0]) == kParamCount);

// A record as Parameters creates it: the defaults, mode Glow, scale 0, showDialog 0.
inline EffectParams DefaultEffectParams() {
  EffectParams params{};
  for (const ParamRange& range : kParamRanges) params.*range.field = range.defaultValue;
  params.mode = kModeGlow;
  return params;
}

// The record behind the host's parameters handle, or null when there is none.
inline EffectParams* ParamsFromHandle(void* parametersHandle) {
  return static_cast<EffectParams*>(PseudoHandleData(parametersHandle));
}
