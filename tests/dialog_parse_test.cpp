// What a typed value commits: the conversion and clamp of an edit box's text.
#include <gtest/gtest.h>

#include "dialog/ParseValue.h"

namespace {

const ParamRange& Red() {
  return kParamRanges[kParamRed];
}

TEST(ParseValue, TakesBlanksOneSignAndLeadingDigits) {
  struct Case {
    const char* text;
    int32_t value;
  } cases[] = {
      {"", 0},
      {"abc", 0},
      {"42", 42},
      {" 42", 42},
      {"\t\n\v\f\r 9", 9},
      {"+7", 7},
      {"-5", -5},
      {"007", 7},
      {"12abc", 12},
      {"1e3", 1},
      {"- 5", 0},
      {"+-5", 0},
      {"--5", 0},
      {"4 2", 4},
      {"0x1F", 0},
      {"-0", 0},
      {"\xA0"
       "5",
       0},  // only the six C blanks are skipped
  };
  for (const Case& c : cases) EXPECT_EQ(ParseLeadingInt(c.text), c.value) << '"' << c.text << '"';
}

TEST(ParseValue, SaturatesInsteadOfWrapping) {
  EXPECT_EQ(ParseLeadingInt("2147483647"), INT32_MAX);
  EXPECT_EQ(ParseLeadingInt("2147483648"), INT32_MAX);
  EXPECT_EQ(ParseLeadingInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(ParseLeadingInt("-2147483649"), INT32_MIN);
  // 2^32 + 7 would wrap to 7 in 32 bits, and 2^32 - 1 to -1.
  EXPECT_EQ(ParseLeadingInt("4294967303"), INT32_MAX);
  EXPECT_EQ(ParseLeadingInt("4294967295"), INT32_MAX);
  EXPECT_EQ(ParseLeadingInt("99999999999999999999999999999999"), INT32_MAX);
  EXPECT_EQ(ParseLeadingInt("-99999999999999999999999999999999"), INT32_MIN);
}

TEST(ParseValue, CommitsTheClampedValueOfTheFirst19Characters) {
  EXPECT_EQ(ValueFromText("300", Red()), 255);
  EXPECT_EQ(ValueFromText("-5", Red()), 0);
  EXPECT_EQ(ValueFromText("4294967303", Red()), 255);
  EXPECT_EQ(ValueFromText("-4294967295", Red()), 0);
  EXPECT_EQ(ValueFromText("150", kParamRanges[kParamThreshold]), 100);
  EXPECT_EQ(ValueFromText("41", kParamRanges[kParamStreaks]), 40);
  EXPECT_EQ(ValueFromText("181", kParamRanges[kParamAngle]), 180);
  EXPECT_EQ(ValueFromText("-1", kParamRanges[kParamRadius]), 0);
  // Twenty characters: the 20th, a digit, is never read.
  EXPECT_EQ(ValueFromText("                  12", Red()), 1);
  EXPECT_EQ(ValueFromText("0000000000000000000123", Red()), 0);
  EXPECT_EQ(ValueFromText("000000000000000012345", Red()), 123);
}

}  // namespace
