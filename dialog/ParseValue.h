// The conversion of an edit box's text into a setting, free of any window system.
#pragma once

#include <cstdint>

#include "host/EffectParams.h"

// The room the dialog reads a box's text into: 19 characters and the terminating zero.
constexpr int kValueTextSize = 20;

// Leading white space, one optional sign, then decimal digits up to the first other
// character; no digits give 0. A number beyond 32 bits saturates instead of wrapping.
int32_t ParseLeadingInt(const char* text);

// The value clamped into the setting's range.
int32_t ClampToRange(int32_t value, const ParamRange& range);

// What a box holding text commits: its first 19 characters converted and clamped.
int32_t ValueFromText(const char* text, const ParamRange& range);
