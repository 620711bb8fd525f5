// The parameter record the host keeps from run to run. Its layout is fixed: hosts store it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/HostTypes.h"
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

// One number setting: its dialog label, field, range, default, its name in settings files
// and on the command line, its unit and what it does. The dialog's sliders and boxes, the
// command's options, help and checks, the settings files and the new-record defaults all
// read this table.
struct ParamRange {
  const char* label;
  int32_t EffectParams::*field;
  int32_t min;
  int32_t max;
  int32_t defaultValue;
  const char* name;
  const char* unit;  // "" for a count
  const char* description;
  // Its key in a scripting descriptor, written and read as an integer; 0 for the three
  // channels, which travel together as one colour.
  OSType key = 0;
};

inline constexpr ParamRange kParamRanges[] = {
    {"Red", &EffectParams::red, 0, 255, 255, "red", "levels", "red of the colour to match"},
    {"Green", &EffectParams::green, 0, 255, 255, "green", "levels", "green of the colour to match"},
    {"Blue", &EffectParams::blue, 0, 255, 255, "blue", "levels", "blue of the colour to match"},
    {"Threshold", &EffectParams::threshold, 0, 100, 5, "threshold", "levels",
     "how far each of a pixel's red, green and blue may lie from the colour to match, in "
     "levels, for the pixel to be lit (0: exactly that colour). Sparkle: also how many of those "
     "pixels become stars (the higher, the more, and the further stars spread)",
     FourCC('t', 'h', 'r', 'H')},
    {"Radius", &EffectParams::radius, 0, 100, 30, "radius", "pixels",
     "Glow: the halo's radius in pixels. Sparkle: streaks reach up to twice it",
     FourCC('r', 'a', 'D', 's')},
    {"Streaks", &EffectParams::streaks, 0, 40, 4, "streaks", "", "Sparkle: streaks per star",
     FourCC('s', 't', 'R', 'k')},
    {"Angle", &EffectParams::angle, 0, 180, 45, "angle", "degrees",
     "Sparkle: direction of the first streak in degrees (the rest are spread evenly)",
     FourCC('a', 'n', 'G', 'l')},
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

// Red, green and blue at once, "R,G,B": one option and one settings-file name.
struct ParamTriple {
  const char* name;
  ParamIndex first;  // and the two after it
  const char* description;
  const char* label;  // as a script and the host's list of recorded steps name it
  OSType key;         // in a scripting descriptor: a colour object
};
inline constexpr ParamTriple kMatchParam = {"match", kParamRed, "the colour to match",
                                            "Color to Match", FourCC('m', 't', 'C', 'h')};

// The one choice setting: the value is the index of its name.
struct ParamChoice {
  const char* label;
  int32_t EffectParams::*field;
  const char* const* names;
  int32_t count;
  int32_t defaultValue;
  const char* name;
  const char* description;
  // In a scripting descriptor: an enumeration of this type, one value per name.
  OSType key;
  OSType enumType;
  const OSType* valueKeys;
  const char* const* valueLabels;
};
inline constexpr const char* kModeNames[] = {"glow", "sparkle"};
inline constexpr const char* kModeLabels[] = {"Glow", "Sparkle"};
inline constexpr OSType kModeValueKeys[] = {FourCC('g', 'l', 'O', 'w'), FourCC('s', 'p', 'K', 'l')};
static_assert(kModeGlow == 0 && kModeSparkle == 1);
inline constexpr ParamChoice kModeParam = {
    "Mode",
    &EffectParams::mode,
    kModeNames,
    2,
    kModeGlow,
    "mode",
    "glow: a soft halo around each lit pixel; sparkle: stars of straight streaks",
    FourCC('m', 'o', 'D', 'e'),
    FourCC('c', 'r', 'M', 'd'),
    kModeValueKeys,
    kModeLabels};

// The effect colour of Set Color and its Use Color flag: not in the stored record (they last
// as long as the plug-in stays loaded), but in a scripting descriptor, so that a recorded
// step draws what it drew when it was recorded.
struct ScriptOnlyParam {
  const char* label;
  OSType key;
  const char* description;
};
inline constexpr ScriptOnlyParam kEffectColourParam = {
    "Effect Color", FourCC('e', 'f', 'C', 'l'),
    "the colour the effect draws with when Use Color is on"};
inline constexpr ScriptOnlyParam kUseColourParam = {
    "Use Color", FourCC('u', 's', 'C', 'l'),
    "on: draw with Effect Color; off: with a colour taken from the colour to match"};

// Every default lies in its range, so a new record needs no clamping.
constexpr bool ParamDefaultsInRange() {
  for (const ParamRange& r : kParamRanges)
    if (r.defaultValue < r.min || r.defaultValue > r.max) return false;
  return kModeParam.defaultValue >= 0 && kModeParam.defaultValue < kModeParam.count &&
         sizeof(kModeNames) / sizeof(kModeNames[0]) == size_t(kModeParam.count) &&
         sizeof(kModeLabels) / sizeof(kModeLabels[0]) == size_t(kModeParam.count) &&
         sizeof(kModeValueKeys) / sizeof(kModeValueKeys[0]) == size_t(kModeParam.count);
}
static_assert(ParamDefaultsInRange());

// A record as Parameters creates it: the defaults, mode Glow, scale 0, showDialog 0.
inline EffectParams DefaultEffectParams() {
  EffectParams params{};
  for (const ParamRange& range : kParamRanges) params.*range.field = range.defaultValue;
  params.*kModeParam.field = kModeParam.defaultValue;
  return params;
}

// The record behind the host's parameters handle, or null when there is none.
inline EffectParams* ParamsFromHandle(void* parametersHandle) {
  return static_cast<EffectParams*>(PseudoHandleData(parametersHandle));
}
