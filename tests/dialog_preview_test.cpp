// The preview's arithmetic: the reduction factor, the reduced rectangles, the centring,
// and the pixel a pick reads from the last preview render.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "dialog/Preview.h"

namespace {

bool Same(const Rect& a, const Rect& b) {
  return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
}

TEST(PreviewGeometry, TheFactorIsTheSmallestThatFitsTheInsetFrame) {
  // A frame whose inside (less its one-pixel border) is 270 x 220.
  const Rect frame{10, 20, 232, 292};
  struct Case {
    Rect filter;
    int32_t factor;
    Rect reduced;
  } cases[] = {
      {{0, 0, 600, 1000}, 4, {0, 0, 150, 250}},  // 1269 / 270 = 4 beats 819 / 220 = 3
      {{0, 0, 100, 200}, 1, {0, 0, 100, 200}},
      {{0, 0, 220, 270}, 1, {0, 0, 220, 270}},
      {{0, 0, 220, 271}, 2, {0, 0, 110, 135}},
      {{0, 0, 221, 270}, 2, {0, 0, 110, 135}},
      {{7, 5, 607, 1005}, 4, {1, 1, 151, 251}},
      {{0, 3, 20, 10}, 1, {0, 3, 20, 10}},
      {{0, 3, 440, 10}, 2, {0, 1, 220, 5}},        // each side divided alone: width 4, not 3
      {{-7, -9, 400, 100}, 2, {-3, -4, 200, 50}},  // toward zero
      {{0, 0, 0, 0}, 1, {0, 0, 0, 0}},             // empty: no division by zero
  };
  for (const Case& c : cases) {
    Rect r = frame;
    int32_t factor = 0;
    FitPreview(c.filter, r, factor);
    EXPECT_EQ(factor, c.factor) << c.filter.bottom << " x " << c.filter.right;
    EXPECT_TRUE(Same(r, c.reduced)) << r.top << "," << r.left << "," << r.bottom << "," << r.right;
  }
}

TEST(PreviewGeometry, RectRoutines) {
  Rect r{10, 20, 30, 40};
  RectInset(r, 3, -2);
  EXPECT_TRUE(Same(r, Rect{8, 23, 32, 37}));
  RectScale(r, 3, 2);  // 32-bit products, truncated quotients
  EXPECT_TRUE(Same(r, Rect{12, 34, 48, 55}));
  Rect big{0, 0, 30000, 30000};
  RectScale(big, 2, 3);
  EXPECT_TRUE(Same(big, Rect{0, 0, 20000, 20000}));
  Rect copy{};
  RectCopy(copy, r);
  EXPECT_TRUE(Same(copy, r));
}

TEST(PreviewGeometry, TheImageIsCentredOnTheFrame) {
  // Frame from screen x 500 to 772, client origin at screen x 300: 11 pixels inside.
  const PreviewSpot spot = CentreInFrame(VRect{100, 500, 322, 772}, 300, 50, 250, 150);
  EXPECT_EQ(spot.left, 211);
  EXPECT_EQ(spot.top, 86);
  EXPECT_EQ(CentreInFrame(VRect{0, -11, 0, 0}, 0, 0, 0, 0).left, -5);  // toward zero
}

TEST(PreviewGeometry, APickReadsTheLastRendersInputWithStrictLowerBounds) {
  for (int planes : {3, 4}) {
    SCOPED_TRACE(planes);
    std::vector<uint8_t> input(size_t(5) * 4 * planes);
    for (size_t i = 0; i < input.size(); ++i) input[i] = uint8_t(i + 1);
    // A stride the host left unset is taken as packed rows, as the render takes it.
    const PixelBuffers rendered{input.data(), 0, nullptr, 0, 5, 4, planes};
    struct Case {
      int32_t col, row;
      bool black;
    } cases[] = {{1, 1, false}, {4, 3, false}, {2, 1, false}, {0, 2, true}, {2, 0, true},
                 {5, 2, true},  {2, 4, true},  {-1, 2, true}, {2, -1, true}};
    for (const Case& c : cases) {
      int32_t rgb[3] = {-1, -1, -1};
      ASSERT_TRUE(GetSourcePixel(rendered, c.col, c.row, &rgb[0], &rgb[1], &rgb[2]));
      for (int k = 0; k < 3; ++k) {
        const int32_t expected = c.black ? 0 : input[size_t(c.row * 5 + c.col) * planes + k];
        EXPECT_EQ(rgb[k], expected) << c.col << "," << c.row << " sample " << k;
      }
    }
  }
  // Other plane counts have no colour to give: nothing is written.
  const std::vector<uint8_t> input(100, 1);
  for (int planes : {0, 1, 2, 5}) {
    const PixelBuffers rendered{input.data(), 5 * planes, nullptr, 0, 5, 4, planes};
    int32_t red = 7, green = 8, blue = 9;
    EXPECT_FALSE(GetSourcePixel(rendered, 1, 1, &red, &green, &blue));
    EXPECT_EQ(red + green + blue, 24);
  }
}

// 16-bit words at the given sample positions of a buffer of `bytes` bytes.
std::vector<uint8_t> Words(size_t bytes, const std::vector<std::pair<size_t, uint16_t>>& at) {
  std::vector<uint8_t> buffer(bytes, 0xEE);
  for (const auto& [index, value] : at) std::memcpy(&buffer[2 * index], &value, 2);
  return buffer;
}

TEST(PreviewGeometry, SixteenBitPicksAndTheDisplayGiveTheNearestEightBitValues) {
  // Values by their 8-bit neighbours: 128.5 16-bit steps apart, halves up, full and above.
  const uint16_t values[][2] = {{0, 0},       {64, 0},      {65, 1},      {192, 1},
                                {193, 2},     {16384, 128}, {32704, 255}, {32703, 254},
                                {32768, 255}, {40000, 255}, {65535, 255}};
  const int width = 3, height = 2, planes = 4;
  const int stride = width * planes * 2 + 6;  // padded rows
  for (const auto& [value, expected] : values) {
    SCOPED_TRACE(value);
    // The pixel at (1, 1): red, green and blue of the value, alpha of its neighbour.
    const size_t first = size_t(stride / 2) + planes;
    const std::vector<uint8_t> input = Words(
        size_t(stride) * height,
        {{first, value}, {first + 1, value}, {first + 2, uint16_t(value / 2)}, {first + 3, 1}});
    PixelBuffers rendered{input.data(), stride, nullptr, 0, width, height, planes, 16};
    int32_t rgb[3] = {-1, -1, -1};
    ASSERT_TRUE(GetSourcePixel(rendered, 1, 1, &rgb[0], &rgb[1], &rgb[2]));
    EXPECT_EQ(rgb[0], expected);
    EXPECT_EQ(rgb[1], expected);
    EXPECT_EQ(rgb[2], NearestEightBit(value / 2));

    std::vector<uint8_t> shown;
    ASSERT_TRUE(EightBitsForDisplay(input.data(), stride, width, height, planes, 16, shown));
    ASSERT_EQ(shown.size(), size_t(width * height * planes));
    EXPECT_EQ(shown[size_t(width + 1) * planes], expected);
    EXPECT_EQ(shown[size_t(width + 1) * planes + 3], 0);  // 1 is nearest 0
    EXPECT_EQ(shown[0], 255);                             // the padding's 0xEEEE
  }
  // The display takes 8 bits as they are; 32-bit samples have no 8-bit form here, nor a pick.
  const std::vector<uint8_t> input(64, 1);
  std::vector<uint8_t> shown{1};
  EXPECT_FALSE(EightBitsForDisplay(input.data(), 12, 1, 1, 3, 32, shown));
  EXPECT_TRUE(shown.empty());
  const PixelBuffers floats{input.data(), 12, nullptr, 0, 3, 3, 3, 32};
  int32_t red = 7, green = 8, blue = 9;
  EXPECT_FALSE(GetSourcePixel(floats, 1, 1, &red, &green, &blue));
}

}  // namespace
