#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "engine/internal/Context.h"
#include "engine/internal/Deep.h"
#include "engine/internal/Effects.h"
#include "engine/internal/GlowPaths.h"
#include "tests/EngineTestSupport.h"

namespace {

using oracle::FrameFlags;
using oracle::HostCall;
using oracle::Image;
using oracle::ScriptedHost;

Image Render(const Image& in, const EffectSettings& s, FrameFlags flags = {}) {
  ScriptedHost host;
  return EngineRender(in, s, flags, host);
}

// A context whose frame is a bare buffer, so that SplatPoint and DrawSparkle can be tried
// alone.
RenderContext& FrameOn(std::vector<uint8_t>& buffer, int width, int height, int planes) {
  RenderContext& context = ThreadContext();
  context.frame = Frame{nullptr, buffer.data(), width, 0, height, 0, planes, 0, width * planes};
  return context;
}

// The kernel of this thread's context, as the last render or build left it.
const GlowKernelTable& Kernel() {
  return ThreadContext().kernel;
}
void BuildKernel(double radius, uint32_t colour) {
  BuildGlowKernel(ThreadContext(), radius, colour);
}

TEST(GlowKernel, Radius30WeightsAlongTheAxisAndTheDiagonal) {
  BuildKernel(30.0, 0xFF | (128 << 8));  // red 255, green 128, blue 0
  auto w = [](int i, int j, int k) { return Kernel()[i + 100][j + 100][k]; };

  const int axis[] = {0, 1, 2, 5, 8, 10, 15, 20, 25, 29};
  const int axis255[] = {25, 25, 23, 18, 12, 9, 5, 3, 2, 1};
  for (int n = 0; n < 10; ++n) {
    EXPECT_EQ(w(axis[n], 0, 0), axis255[n]) << axis[n];
    EXPECT_EQ(w(0, -axis[n], 0), axis255[n]) << axis[n];
  }
  const int diagonal[] = {1, 5, 10, 15, 20, 25, 29};
  const int diagonal255[] = {24, 13, 5, 3, 1, 1, 0};
  for (int n = 0; n < 7; ++n) EXPECT_EQ(w(diagonal[n], diagonal[n], 0), diagonal255[n]);
  const int axis128At[] = {0, 5, 10, 15, 20, 29};
  const int axis128[] = {12, 9, 4, 2, 1, 0};
  for (int n = 0; n < 6; ++n) EXPECT_EQ(w(axis128At[n], 0, 1), axis128[n]);

  // +n is never filled, -n is; blue is zero everywhere.
  EXPECT_EQ(w(30, 0, 0), 0);
  EXPECT_EQ(w(0, 30, 0), 0);
  EXPECT_EQ(w(-30, 0, 0), 1);
  for (int i = -100; i < 100; ++i)
    for (int j = -100; j < 100; ++j) ASSERT_EQ(w(i, j, 2), 0);
}

TEST(GlowKernel, MatchesThePlainBuildForEveryRadiusAndClampsOutOfRange) {
  const int radii[] = {0, 1, 2, 7, 30, 63, 99, 100, 101, 5000, -1, -5000};
  for (int radius : radii) {
    BuildKernel(double(radius), 0xFF | (0x80 << 8) | (0x21 << 16));
    const oracle::Kernel plain = oracle::BuildKernel(radius, 0xFF, 0x80, 0x21);
    for (int i = -100; i < 100; ++i)
      for (int j = -100; j < 100; ++j)
        for (int k = 0; k < 3; ++k)
          ASSERT_EQ(Kernel()[i + 100][j + 100][k], plain.Weight(i, j, k))
              << radius << " " << i << " " << j;
  }
  BuildKernel(1.0, 0xFFFFFF);
  int filled = 0;
  for (auto& row : Kernel())
    for (auto& entry : row) filled += entry[0] != 0;
  EXPECT_EQ(filled, 3);  // (-1,-1) has weight 0
  EXPECT_EQ(Kernel()[99][99][0], 0);
  EXPECT_EQ(Kernel()[99][100][0], 1);
  EXPECT_EQ(Kernel()[100][99][0], 1);
  EXPECT_EQ(Kernel()[100][100][0], 25);
}

TEST(Glow, ALoneWhitePixelOnBlack) {
  Image in = SolidImage(81, 81, 3, 0);
  for (int k = 0; k < 3; ++k) in.At(40, 40, k) = 255;
  const Image out = Render(in, Settings(255, 255, 255, 0, 30, 0));
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(out.At(40, 40, k), 255);
    EXPECT_EQ(out.At(41, 40, k), 24);
    EXPECT_EQ(out.At(50, 40, k), 8);
    EXPECT_EQ(out.At(10, 40, k), 0);
    EXPECT_EQ(out.At(70, 40, k), 0);
    EXPECT_EQ(out.At(40, 69, k), 0);  // +30 below is unfilled too
    EXPECT_EQ(out.At(40, 39, k), 24);
  }
}

TEST(Glow, EdgesOfTheFrameAndTheSkipRule) {
  // A match in row 0 stamps the rows below but never row 0 or column 0.
  Image in = SolidImage(12, 12, 3, 0);
  for (int k = 0; k < 3; ++k) in.At(5, 0, k) = 255;
  Image out = Render(in, Settings(255, 255, 255, 0, 3, 0));
  for (int x = 0; x < 12; ++x)
    if (x != 5) {
      EXPECT_EQ(out.At(x, 0, 0), 0) << x;
    }
  EXPECT_EQ(out.At(5, 0, 0), 255);
  EXPECT_EQ(out.At(5, 1, 0), 8);  // weight 9 at distance 1 for radius 3

  // Matching last pixel of row 1 and first of row 2: the first of row 2 is passed over.
  // Then three matches in a row on row 6: the first and the third stamp. Radius 3 at
  // scale 3 stamps 3 x 3 with weights 20 (centre) and 7 (beside) for component 200.
  in = SolidImage(12, 12, 3, 0);
  auto mark = [&](int x, int y) {
    for (int k = 0; k < 3; ++k) in.At(x, y, k) = 200;
  };
  mark(11, 1);
  mark(0, 2);
  mark(4, 6);
  mark(5, 6);
  mark(6, 6);
  out = Render(in, Settings(200, 200, 200, 0, 0, 0));  // radius 0: nothing drawn
  EXPECT_EQ(out.samples, in.samples);
  out = Render(in, Settings(200, 200, 200, 0, 3, 0, 45, 4, 3.0f));
  EXPECT_EQ(out.At(11, 1, 0), 204);  // 200 + (55 * 20) >> 8
  EXPECT_EQ(out.At(1, 2, 0), 0);     // (0, 2) was passed over
  EXPECT_EQ(out.At(3, 6, 0), 6);
  EXPECT_EQ(out.At(4, 6, 0), 204);
  EXPECT_EQ(out.At(5, 6, 0), 202);  // brightened by both neighbours, never stamped itself
  EXPECT_EQ(out.At(6, 6, 0), 204);
  EXPECT_EQ(out.At(7, 6, 0), 6);
  EXPECT_EQ(out.At(8, 6, 0), 0);
}

TEST(Sparkle, SplatPointOnAnIntegerAndAHalfPosition) {
  for (int planes : {3, 4}) {
    std::vector<uint8_t> buffer(size_t(30) * 30 * planes, 0);
    if (planes == 4)
      for (size_t i = 3; i < buffer.size(); i += 4) buffer[i] = 77;
    const RenderContext& context = FrameOn(buffer, 30, 30, planes);
    auto at = [&](int x, int y, int k) { return buffer[(size_t(y) * 30 + x) * planes + k]; };

    SplatPoint(context, 10.0, 20.0, 255, 255, 255);
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(at(10, 20, k), 254);
      EXPECT_EQ(at(11, 20, k), 153);
      EXPECT_EQ(at(10, 21, k), 153);
      EXPECT_EQ(at(11, 21, k), 92);
    }
    SplatPoint(context, 20.5, 5.0, 0x1FF, 0x2FF, 0xFF);  // colour values are masked to 8 bits
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(at(20, 5, k), 224);
      EXPECT_EQ(at(21, 5, k), 224);
      EXPECT_EQ(at(21, 6, k), 135);
      EXPECT_EQ(at(20, 6, k), 135);
    }
    if (planes == 4) {
      for (size_t i = 3; i < buffer.size(); i += 4) ASSERT_EQ(buffer[i], 77);
    }
  }
}

TEST(Sparkle, TheFastExponentialKeepsItsErrorBound) {
  // Densely over [-1, 0], and on both sides of each step of its table.
  for (int i = 0; i <= 100000; ++i) {
    const double x = -i / 100000.0;
    ASSERT_NEAR(SplatExp(x), std::exp(x), 1e-12) << x;
  }
  for (int n = 0; n <= 512; ++n)
    for (double x : {-n / 512.0, std::nextafter(-n / 512.0, 0.0), std::nextafter(-n / 512.0, -1.0)})
      if (x >= -1.0 && x <= 0.0) {
        ASSERT_NEAR(SplatExp(x), std::exp(x), 1e-12) << x;
      }
}

TEST(Sparkle, StreakCountsOutsideOneTo360StillEnd) {
  std::vector<uint8_t> buffer(size_t(50) * 50 * 3, 0);
  RenderContext& context = FrameOn(buffer, 50, 50, 3);
  Random& random = context.random;
  random.Seed(666);
  DrawSparkle(context, 25, 25, 255, 255, 255, 20, 45.0, 0);
  DrawSparkle(context, 25, 25, 255, 255, 255, 20, 45.0, -7);
  EXPECT_EQ(buffer, std::vector<uint8_t>(buffer.size(), 0));
  random.Seed(666);
  const int32_t first = random.Next();
  random.Seed(666);
  DrawSparkle(context, 25, 25, 255, 255, 255, 20, 45.0, 0);
  EXPECT_EQ(random.Next(), first);  // no lengths drawn for no directions

  // More than 360 streaks: one direction per degree, 360 draws.
  for (int32_t streaks : {361, 100000, std::numeric_limits<int32_t>::max()}) {
    random.Seed(666);
    DrawSparkle(context, 25, 25, 255, 255, 255, 20, 45.0, streaks);
    const int32_t after = random.Next();
    random.Seed(666);
    for (int n = 0; n < 360; ++n) random.Next();
    EXPECT_EQ(after, random.Next()) << streaks;
  }
  DrawSparkle(context, 25, 25, 255, 255, 255, 20, 1e300, 4);
  DrawSparkle(context, 25, 25, 255, 255, 255, 20, double(std::numeric_limits<int32_t>::min()), 4);
}

TEST(Random, TheGeneratorSequenceFrom666) {
  Random random;
  random.Seed(666);
  // state = 666 * 214013 + 2531011 = 145083669; (145083669 >> 16) & 0x7FFF = 2213
  EXPECT_EQ(random.Next(), 2213);
  random.Seed(0xFFFFFFFFu);
  for (int n = 0; n < 1000; ++n) {
    const int32_t r = random.Next();
    ASSERT_GE(r, 0);
    ASSERT_LE(r, 32767);
  }
}

TEST(ColourWindow, ClampingAndTheEffectColour) {
  EXPECT_EQ(WindowMidpoint(250, 10), 247);
  EXPECT_EQ(WindowMidpoint(5, 10), 7);
  EXPECT_EQ(WindowMidpoint(100, 0), 100);
  const ColourWindow w = MakeColourWindow(250, 5, 128, 10);
  EXPECT_EQ(w.lowRed, 240);
  EXPECT_EQ(w.highRed, 255);
  EXPECT_EQ(w.lowGreen, 0);
  EXPECT_EQ(w.highGreen, 15);
  EXPECT_EQ(w.lowBlue, 118);
  EXPECT_EQ(w.highBlue, 138);

  // End to end: 240..255 match, 239 does not; the drawn red is 247 (centre weight 24).
  Image in = SolidImage(8, 3, 3, 0);
  in.At(2, 1, 0) = 240;
  in.At(5, 1, 0) = 239;
  const Image out = Render(in, Settings(250, 5, 5, 10, 1, 0));
  EXPECT_EQ(out.At(2, 1, 0), 240 + (15 * 24 >> 8));
  EXPECT_EQ(out.At(2, 1, 1), 0 + (255 * 0 >> 8));  // green 7 / 10 = 0
  EXPECT_EQ(out.At(5, 1, 0), 239);
  EXPECT_EQ(Kernel()[100][100][0], 24);
  EXPECT_EQ(Kernel()[100][100][1], 0);

  // Threshold 0: only the exact colour matches.
  in = SolidImage(6, 3, 3, 100);
  in.At(2, 1, 2) = 101;
  in.At(4, 1, 0) = 99;
  const Image exact = Render(in, Settings(100, 100, 101, 0, 1, 0));
  EXPECT_GT(exact.At(2, 1, 0), 100);
  EXPECT_EQ(exact.At(4, 1, 0), 99);
  EXPECT_EQ(exact.At(1, 1, 0), 100);
}

TEST(ColourWindow, ACustomColourDrawsWhileTheStoredColourSelects) {
  Image in = SolidImage(9, 9, 3, 0);
  for (int k = 0; k < 3; ++k) in.At(4, 4, k) = 255;
  FrameFlags flags;
  flags.useCustomColor = true;
  flags.customRed = 0;
  flags.customGreen = 0;
  flags.customBlue = 0x1FF;  // drawn as 255
  const Image out = Render(in, Settings(255, 255, 255, 0, 30, 0), flags);
  EXPECT_EQ(out.At(5, 4, 0), 0);
  EXPECT_EQ(out.At(5, 4, 1), 0);
  EXPECT_EQ(out.At(5, 4, 2), 24);
  // A custom colour that matches nothing selects nothing.
  Image black = SolidImage(9, 9, 3, 0);
  flags.customBlue = 0;
  EXPECT_EQ(Render(black, Settings(255, 255, 255, 0, 30, 0), flags).samples, black.samples);
}

TEST(Polling, OneAbortCheckAndOneProgressCallPerRow) {
  const Image in = SolidImage(2, 100, 3, 0);
  ScriptedHost host;
  EngineRender(in, Settings(255, 255, 255, 5, 30, 0), {}, host);
  ASSERT_EQ(host.calls.size(), 200u);
  for (int n = 0; n < 100; ++n) {
    EXPECT_EQ(host.calls[2 * n], (HostCall{true, 0, 0}));
    EXPECT_EQ(host.calls[2 * n + 1], (HostCall{false, n, 100}));
  }

  // Abort at the first call: nothing drawn, no progress.
  Image white = SolidImage(20, 20, 3, 255);
  for (int mode : {0, 1}) {
    ScriptedHost aborting;
    aborting.abortAtCall = 0;
    const Image out = EngineRender(white, Settings(255, 255, 255, 100, 30, mode), {}, aborting);
    EXPECT_EQ(out.samples, white.samples);
    EXPECT_EQ(aborting.calls, (std::vector<HostCall>{{true, 0, 0}}));
  }

  // No rows: no calls. Rows but no columns: still one check and one call per row.
  ScriptedHost empty;
  EngineRender(SolidImage(5, 0, 3, 0), Settings(0, 0, 0, 5, 30, 1), {}, empty);
  EXPECT_TRUE(empty.calls.empty());
  ScriptedHost narrow;
  EngineRender(SolidImage(0, 3, 3, 0), Settings(0, 0, 0, 5, 30, 1), {}, narrow);
  EXPECT_EQ(narrow.calls.size(), 6u);
}

TEST(Polling, PreviewingSilencesOnlyGlowOnFourPlanes) {
  FrameFlags previewing;
  previewing.previewing = true;
  for (int planes : {3, 4})
    for (int mode : {0, 1}) {
      ScriptedHost host;
      host.abortAtCall = 2;
      EngineRender(SolidImage(4, 10, planes, 255), Settings(255, 255, 255, 5, 3, mode), previewing,
                   host);
      const size_t expected = (planes == 4 && mode == 0) ? 0 : 5;  // 2 rows, then the abort
      EXPECT_EQ(host.calls.size(), expected) << planes << " " << mode;
    }
}

// Other plane counts at 8 and 16 bits, and float samples of any plane count, are copied
// (padded rows too) with no host call; the fourth sample is kept at both depths.
TEST(Planes, OtherPlaneCountsAndFloatSamplesPassThroughAndTheFourthSampleIsKept) {
  std::mt19937 rng(5);
  struct Row {
    int planes, depth;
  };
  for (const Row row : {Row{1, 8}, Row{2, 8}, Row{5, 8}, Row{2, 16}, Row{5, 16}, Row{3, 32},
                        Row{4, 32}, Row{1, 32}}) {
    Image in = SceneImage(rng, 16, 16, row.planes, 255, 255, 255, 80);
    if (row.depth == 16) in = oracle::Widen(in);
    if (row.depth == 32) {
      in.depth = 32;  // any bytes: floats are not looked at
      in.samples.resize(in.samples.size() * 4);
      for (uint8_t& b : in.samples) b = uint8_t(rng());
    }
    for (int mode : {0, 1}) {
      ScriptedHost host;
      bool paddingKept = false;
      EXPECT_EQ(
          EngineRender(in, Settings(255, 255, 255, 50, 10, mode), {}, host, 3, 6, &paddingKept)
              .samples,
          in.samples)
          << row.planes << " " << row.depth;
      EXPECT_TRUE(paddingKept);
      EXPECT_TRUE(host.calls.empty());
    }
  }
  const Image in8 = SceneImage(rng, 40, 40, 4, 250, 240, 230, 30);
  for (const Image& in : {in8, oracle::Widen(in8)})
    for (int mode : {0, 1}) {
      const Image out = Render(in, Settings(250, 240, 230, 100, 20, mode));
      EXPECT_NE(out.samples, in.samples);
      for (int y = 0; y < in.height; ++y)
        for (int x = 0; x < in.width; ++x) ASSERT_EQ(out.Sample(x, y, 3), in.Sample(x, y, 3));
    }
}

TEST(Render, RepeatableAndIndependentOfRowPadding) {
  std::mt19937 rng(11);
  for (int planes : {3, 4}) {
    const Image in = SceneImage(rng, 33, 21, planes, 200, 180, 60, 40);
    for (int mode : {0, 1}) {
      const EffectSettings s = Settings(200, 180, 60, 60, 12, mode, 30, 7);
      ScriptedHost packedHost, paddedHost;
      const Image packed = EngineRender(in, s, {}, packedHost);
      EXPECT_EQ(Render(in, s).samples, packed.samples);
      bool paddingKept = false;
      const Image padded = EngineRender(in, s, {}, paddedHost, 5, 13, &paddingKept);
      EXPECT_EQ(padded.samples, packed.samples);
      EXPECT_TRUE(paddingKept);
      ScriptedHost oracleHost;
      EXPECT_EQ(oracle::Render(in, s, {}, oracleHost).samples, packed.samples);
    }
  }
}

TEST(Render, NoBuffersForANonEmptyImageRendersNothing) {
  ScriptedHost host;
  std::vector<uint8_t> output(30, 9);
  PixelBuffers buffers{nullptr, 0, output.data(), 0, 2, 5, 3};
  RenderPixels(ThreadContext(), buffers, Settings(0, 0, 0, 100, 30, 0), {}, PollingFor(host));
  buffers = {output.data(), 0, nullptr, 0, 2, 5, 3};
  RenderPixels(ThreadContext(), buffers, Settings(0, 0, 0, 100, 30, 0), {}, PollingFor(host));
  EXPECT_TRUE(host.calls.empty());
  EXPECT_EQ(output, std::vector<uint8_t>(30, 9));
}

// Stored values that the dialog never lets through: each must end, stay inside the
// buffers, and agree with the plain rules' reading of them.
TEST(Render, StoredValuesOutOfRangeAreSafe) {
  std::mt19937 rng(3);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const int32_t big = std::numeric_limits<int32_t>::max();
  const int32_t small = std::numeric_limits<int32_t>::min();
  const EffectSettings cases[] = {
      Settings(255, 255, 255, 100, 30, 1, 45, 0),
      Settings(255, 255, 255, 100, 30, 1, 45, -4),
      Settings(255, 255, 255, 100, 30, 1, 45, 361),
      Settings(255, 255, 255, 100, 30, 1, 45, big),
      Settings(255, 255, 255, 100, 30, 1, 45, small),
      Settings(255, 255, 255, 100, 30, 1, big, 5),
      Settings(255, 255, 255, 100, 30, 1, small, 5),
      Settings(255, 255, 255, 100, 500, 0),
      Settings(255, 255, 255, 100, 500, 1),
      Settings(255, 255, 255, 100, -20, 0),
      Settings(255, 255, 255, 100, -20, 1),
      Settings(255, 255, 255, 100, big, 0),
      Settings(255, 255, 255, 100, small, 1),
      Settings(255, 255, 255, -5, 30, 0),
      Settings(255, 255, 255, small, 30, 1),
      Settings(255, 255, 255, big, 30, 1),
      Settings(300, -40, 999, 120, 30, 0),
      Settings(big, small, big, big, 30, 1),
      Settings(big, small, 0, small, 30, 0),
      Settings(255, 255, 255, 100, 30, 7),
      Settings(255, 255, 255, 100, 30, -1),
      Settings(255, 255, 255, 100, 60, 0, 45, 4, 0.0f),
      Settings(255, 255, 255, 100, 60, 1, 45, 4, 0.0f),
      Settings(255, 255, 255, 100, 60, 0, 45, 4, nan),
      Settings(255, 255, 255, 100, 60, 1, 45, 4, -2.0f),
      Settings(255, 255, 255, 100, 60, 0, 45, 4, 0.25f),
      Settings(255, 255, 255, 100, 60, 1, 45, 4, 1e-30f),
      Settings(255, 255, 255, 100, 60, 1, 45, 4, inf),
  };
  for (int planes : {3, 4}) {
    const Image in = SceneImage(rng, 24, 18, planes, 255, 255, 255, 50);
    for (const EffectSettings& s : cases) {
      ScriptedHost engineHost, oracleHost;
      const Image out = EngineRender(in, s, {}, engineHost);
      const Image plain = oracle::Render(in, s, {}, oracleHost);
      ASSERT_EQ(out.samples, plain.samples)
          << s.red << " " << s.threshold << " " << s.radius << " " << s.angle << " " << s.streaks
          << " " << s.mode << " " << s.scale;
      ASSERT_EQ(engineHost.calls, oracleHost.calls);
    }
  }
  // Out-of-range radius and scale render as the nearest value in use.
  const Image in = SceneImage(rng, 24, 18, 3, 255, 255, 255, 50);
  EXPECT_EQ(Render(in, Settings(255, 255, 255, 50, 500, 0)).samples,
            Render(in, Settings(255, 255, 255, 50, 100, 0)).samples);
  EXPECT_EQ(Render(in, Settings(255, 255, 255, 50, -3, 1)).samples,
            Render(in, Settings(255, 255, 255, 50, 0, 1)).samples);
  EXPECT_EQ(Render(in, Settings(255, 255, 255, 50, 40, 1, 45, 4, nan)).samples,
            Render(in, Settings(255, 255, 255, 50, 40, 1, 45, 4, 1.0f)).samples);
  EXPECT_EQ(EffectiveRadius(30, 3.0f), 10);
  EXPECT_EQ(EffectiveRadius(30, 4.0f), 7);
  EXPECT_EQ(EffectiveRadius(30, 0.0f), 30);
  EXPECT_EQ(EffectiveRadius(60, 0.25f), 100);
  EXPECT_EQ(EffectiveRadius(60, inf), 0);
}

// A walk reaches a far band by AfterSteps instead of one addition a step: the same doubles,
// across powers of two, on both sides of 0, for steps that round halfway (to even, so not the
// same every step) and steps below half a unit.
TEST(Sparkle, AfterStepsGivesTheAdditionsOneByOne) {
  const double kPi = 3.14159265358979323846;
  struct Row {
    double start, step;
  };
  std::vector<Row> rows = {
      {0, 0.5},         {1, -0.25},           {1023, 0.866025403784438},
      {2047, 0.75},     {4096, -0.5},         {511, std::cos(90 * 0.0174533)},
      {3, -0.999},      {1024, 0x1p-43},      {1024, 0.25 + 0x1p-43},
      {2048, -0x1p-42}, {7.5, 1e-17},         {-600, 0.7071067811865476},
      {1e6, -0.3},      {0x1p52 - 40, 0.375}, {-1, 1},
  };
  for (int a = 0; a < 360; a += 7)
    for (double start : {0.0, 1.0, 15.0, 64.0, 255.0, 799.0, 1200.0, 5999.0})
      for (double sign : {1.0, -1.0}) {
        rows.push_back({start, sign * std::cos(a * kPi / 180)});
        rows.push_back({start, sign * std::sin(a * 0.0174533)});
      }
  for (const Row& row : rows) {
    double v = row.start;
    for (int32_t n = 0; n <= 300; ++n) {
      ASSERT_EQ(AfterSteps(row.start, row.step, n), v)
          << row.start << " + " << row.step << " x " << n;
      v = v + row.step;
    }
  }
}

// Runs `check` with the 16-bit conversions at each lane width: 32 samples at a time where the
// processor can, and 16.
template <typename Check>
void AtEachLaneWidth(const Check& check) {
  for (const bool wide : {true, false}) {
    SetWideLanes(wide);
    check();
  }
  SetWideLanes(true);
}

// A row whose second half holds the rendered 8-bit values and (as the centre pass left it)
// the words in its first half, with one byte more that nothing may write.
std::vector<uint8_t> RenderedRow(const std::vector<uint8_t>& words,
                                 const std::vector<uint8_t>& rendered) {
  const size_t samples = rendered.size();
  std::vector<uint8_t> row(2 * samples + 1, 0xEE);
  std::copy(words.begin(), words.begin() + ptrdiff_t(samples), row.begin());
  std::copy(rendered.begin(), rendered.end(), row.begin() + ptrdiff_t(samples));
  return row;
}

// The fused narrowing and copy, and the widening with the 8-bit values further into the row,
// against the sample-by-sample rules, for lengths around the 16-sample blocks and every kind
// of word (above full intensity too) and rendered value (below, at and above the nearest).
TEST(SixteenBits, TheFusedNarrowingAndTheWideningFromTheLeftMatchTheRules) {
  AtEachLaneWidth([] {
    struct Row {
      size_t samples, first, end;
    };
    const Row rows[] = {{0, 0, 0},      {1, 0, 1},     {15, 0, 15},  {16, 0, 16},
                        {17, 0, 17},    {48, 0, 48},   {100, 3, 97}, {100, 0, 33},
                        {100, 64, 100}, {257, 5, 250}, {33, 32, 33}};
    std::mt19937 rng(26);
    std::uniform_int_distribution<int> word(0, 65535), near(0, 32768), kind(0, 3), lift(0, 9);
    for (const Row& row : rows) {
      std::vector<uint8_t> words(2 * row.samples + 1), copy(2 * row.samples + 1, 0xEE),
          narrow(row.samples + 1, 0xEE);
      std::vector<uint16_t> value(row.samples);
      for (size_t i = 0; i < row.samples; ++i) {
        value[i] = uint16_t(kind(rng) == 0 ? word(rng) : near(rng));
        std::memcpy(&words[2 * i], &value[i], 2);
      }
      NarrowAndCopy(words.data(), narrow.data(), copy.data(), row.samples);
      EXPECT_EQ(copy.back(), 0xEE);
      EXPECT_EQ(narrow.back(), 0xEE);
      for (size_t i = 0; i < row.samples; ++i) {
        ASSERT_EQ(narrow[i], NearestEightBit(value[i])) << row.samples << " " << i;
        ASSERT_EQ(copy[2 * i] | copy[2 * i + 1] << 8, value[i]) << row.samples << " " << i;
      }
      std::vector<uint8_t> rendered(row.samples);
      for (size_t i = 0; i < row.samples; ++i) {
        const int k = kind(rng);
        const int n = NearestEightBit(value[i]);
        rendered[i] = uint8_t(k == 0   ? std::max(0, n - 1)
                              : k == 1 ? n
                                       : std::min(255, n + lift(rng)));
      }
      std::vector<uint8_t> out = RenderedRow(words, rendered);
      WidenSpanAfter(words.data(), out.data(), row.samples, row.first, row.end);
      EXPECT_EQ(out.back(), 0xEE);
      for (size_t i = row.first; i < row.end; ++i)
        ASSERT_EQ(out[2 * i] | out[2 * i + 1] << 8, SixteenBitResult(value[i], rendered[i]))
            << row.samples << " " << i;
    }
  });
}

// Every word, each with rendered values below, at and above its nearest and at the top, through
// the narrowing and both widenings.
TEST(SixteenBits, EveryWordNarrowsAndWidensByTheRules) {
  AtEachLaneWidth([] {
    const size_t samples = 65536;
    std::vector<uint8_t> words(2 * samples), narrow(samples);
    for (size_t v = 0; v < samples; ++v) std::memcpy(&words[2 * v], &v, 2);
    NarrowToEightBits(words.data(), narrow.data(), samples);
    for (size_t v = 0; v < samples; ++v) ASSERT_EQ(narrow[v], NearestEightBit(uint32_t(v))) << v;
    for (const int lift : {-1, 0, 1, 2, 64, 255}) {
      std::vector<uint8_t> rendered(samples);
      for (size_t v = 0; v < samples; ++v)
        rendered[v] = uint8_t(std::clamp(int(narrow[v]) + lift, 0, 255));
      std::vector<uint8_t> left = RenderedRow(words, rendered), right(2 * samples);
      std::copy(rendered.begin(), rendered.end(), right.begin());
      WidenSpanAfter(words.data(), left.data(), samples, 0, samples);
      WidenRow(words.data(), right.data(), samples);
      for (size_t v = 0; v < samples; ++v) {
        const uint16_t want = SixteenBitResult(uint16_t(v), rendered[v]);
        ASSERT_EQ(left[2 * v] | left[2 * v + 1] << 8, want) << v << " lifted " << lift;
        ASSERT_EQ(right[2 * v] | right[2 * v + 1] << 8, want) << v << " lifted " << lift;
      }
    }
  });
}

// The first and the last centre of a range of a map row, which bound the tiles the stamps
// change: ranges within a word and across words, ends in either half of a word (which i686
// takes apart), against a plain look at every bit.
TEST(CentreMap, FirstAndLastCentreOfARange) {
  std::mt19937 rng(26);
  for (int trial = 0; trial < 2000; ++trial) {
    uint64_t words[3] = {};
    for (uint64_t& w : words)
      for (int k = 0; k < 3; ++k) w |= uint64_t(1) << (rng() % 64);
    if (trial % 3 == 0) words[1] = 0;  // a word without centres inside the range
    const CentreMap map{words, 3};
    const int32_t lo = int32_t(rng() % 192), hi = lo + int32_t(rng() % uint32_t(192 - lo));
    int32_t first = -1, last = -1;
    for (int32_t x = lo; x <= hi; ++x)
      if ((words[x >> 6] >> (x & 63)) & 1) {
        if (first < 0) first = x;
        last = x;
      }
    if (first < 0) continue;  // asked only where a centre lies
    EXPECT_EQ(map.First(0, lo, hi), first) << lo << " " << hi;
    EXPECT_EQ(map.Last(0, lo, hi), last) << lo << " " << hi;
  }
  for (int bit = 0; bit < 64; ++bit) EXPECT_EQ(HighestBit(uint64_t(1) << bit | 1), bit);
}

// At 16 bits the 8-bit values of the tiles that stamps change lie over the words of pixels
// half a row further on, which are widened or put back: lights at the row's ends, in its
// middle and in several runs of tiles a row, on odd and even widths, each thread count, run
// through and aborted, give the plain rules' words and host calls.
TEST(SixteenBits, LightsAcrossTheRowOnEveryThreadCount) {
  struct Row {
    int width, height, planes, radius;
    std::vector<int> columns;  // of the lights, each on a few rows
  };
  const Row rows[] = {
      {301, 40, 3, 12, {0, 150, 300}},
      {300, 36, 4, 20, {299, 1, 160}},
      {257, 30, 3, 5, {40, 100, 130, 200, 250}},
      {640, 24, 3, 30, {20, 330, 600}},
      {97, 20, 3, 40, {48}},
      // Lights at nearly every column of a tile of 32, so that some stamp reaches just into,
      // or just short of, the next tile on either side.
      {2048, 24, 3, 12,
       [] {
         std::vector<int> columns;
         for (int i = 0; i < 31; ++i) columns.push_back(20 + 65 * i);
         return columns;
       }()},
  };
  const int32_t threadCounts[] = {1, 2, 3, 7, 16};
  const RenderThreadScope kept(ThreadContext());
  std::mt19937 rng(2603);
  for (const Row& row : rows) {
    Image scene = SceneImage(rng, row.width, row.height, row.planes, 0, 0, 0, 0);
    for (size_t i = 0; i < row.columns.size(); ++i) {
      const int y0 = int(i * 7) % row.height;
      for (int y = y0; y < std::min(y0 + 2, row.height); ++y)
        for (int x = row.columns[i]; x < std::min(row.columns[i] + 2, row.width); ++x)
          for (int k = 0; k < 3; ++k) scene.At(x, y, k) = 250;
    }
    std::mt19937 deepRng(row.width);
    Image deep = oracle::Widen(scene);
    std::uniform_int_distribution<int> jitter(-100, 100);
    for (int y = 0; y < deep.height; ++y)
      for (int x = 0; x < deep.width; ++x)
        for (int k = 0; k < deep.planes; ++k)
          deep.SetSample(
              x, y, k,
              uint32_t(std::clamp(int(deep.Sample(x, y, k)) + jitter(deepRng), 0, kFullSixteen)));
    const EffectSettings s = Settings(250, 250, 250, 6, row.radius, 0, 30, 4);
    for (const int abortAt : {-1, row.height / 2}) {
      ScriptedHost plainHost;
      plainHost.abortAtCall = abortAt;
      const Image plain = oracle::Render(deep, s, {}, plainHost);
      if (abortAt < 0) {
        EXPECT_NE(plain.samples, deep.samples) << row.width;
      }
      for (const GlowPath path : {GlowPath::Automatic, GlowPath::Stamps, GlowPath::Gather})
        for (const int32_t threads : threadCounts) {
          ScriptedHost host;
          host.abortAtCall = abortAt;
          const Image out = EngineRender(deep, s, {}, host, 2, 5, nullptr,
                                         EngineTuning{path, threads, false, true});
          ASSERT_EQ(out.samples, plain.samples)
              << row.width << "x" << row.height << " abort " << abortAt << " path " << int(path)
              << " " << threads << " threads";
          ASSERT_EQ(host.calls, plainHost.calls) << row.width << " " << threads;
        }
    }
  }
}

// Long streaks over many bands of rows: each member draws runs of bands in one walk and skips
// the halves that cannot reach them, and the calling thread decides on its own band. Every
// thread count, run through and aborted before several rows, gives the plain rules' bytes.
TEST(Sparkle, LongStreaksOverManyBandsOnEveryThreadCount) {
  struct Row {
    int width, height, planes, share, threshold, radius, streaks, angle;
  };
  const Row rows[] = {
      {120, 150, 3, 75, 100, 40, 4, 30},  // bands of 32 rows, streaks reaching three of them
      {90, 130, 4, 40, 60, 25, 6, 0},     // horizontal streaks stay on their own band
      {100, 110, 3, 75, 90, 12, 5, 45},
      {60, 200, 3, 10, 100, 60, 2, 90},  // vertical streaks only
  };
  const int32_t threadCounts[] = {1, 2, 3, 7, 16};
  const RenderThreadScope kept(ThreadContext());
  std::mt19937 rng(2604);
  for (const Row& row : rows) {
    const Image scene =
        SceneImage(rng, row.width, row.height, row.planes, 230, 220, 200, row.share);
    const EffectSettings s =
        Settings(230, 220, 200, row.threshold, row.radius, 1, row.angle, row.streaks);
    for (const int abortAt : {-1, 0, row.height / 3, row.height - 1}) {
      ScriptedHost plainHost;
      plainHost.abortAtCall = abortAt;
      const Image plain = oracle::Render(scene, s, {}, plainHost);
      for (const int32_t threads : threadCounts) {
        ScriptedHost host;
        host.abortAtCall = abortAt;
        const Image out = EngineRender(scene, s, {}, host, 1, 3, nullptr,
                                       EngineTuning{GlowPath::Automatic, threads, false, true});
        ASSERT_EQ(out.samples, plain.samples) << row.width << "x" << row.height << " abort "
                                              << abortAt << " " << threads << " threads";
        ASSERT_EQ(host.calls, plainHost.calls) << row.width << " " << threads;
      }
    }
  }
}

}  // namespace
