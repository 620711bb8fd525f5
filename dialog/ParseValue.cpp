#include "dialog/ParseValue.h"

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

int32_t ParseLeadingInt(const char* text) {
  const char* p = text;
  while (IsBlank(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  // Accumulated as a magnitude that stops one past the largest int32, so that both
  // signs saturate at their own end.
  constexpr int64_t kLimit = int64_t(INT32_MAX) + 1;
  int64_t magnitude = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    magnitude = magnitude * 10 + (*p - '0');
    if (magnitude > kLimit) magnitude = kLimit;
  }
  if (negative) return int32_t(-magnitude);
  return magnitude > INT32_MAX ? INT32_MAX : int32_t(magnitude);
}

int32_t ClampToRange(int32_t value, const ParamRange& range) {
  if (value < range.min) return range.min;
  if (value > range.max) return range.max;
  return value;
}

int32_t ValueFromText(const char* text, const ParamRange& range) {
  char buffer[kValueTextSize] = {};
  for (int i = 0; i < kValueTextSize - 1 && text[i]; ++i) buffer[i] = text[i];
  return ClampToRange(ParseLeadingInt(buffer), range);
}
