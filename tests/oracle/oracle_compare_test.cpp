// Whole renders of the engine against the plain rules, over seeded random cases.
#include <gtest/gtest.h>

#include "tests/EngineTestSupport.h"

namespace {

struct Case {
  oracle::Image image;
  EffectSettings settings;
  oracle::FrameFlags flags;
  int abortAtCall;
};

Case MakeCase(uint32_t seed) {
  std::mt19937 rng(seed);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  Case c;
  const int planes = pick(0, 1) ? 4 : 3;
  const int width = pick(1, 36);
  const int height = pick(1, 30);
  const int red = pick(0, 255), green = pick(0, 255), blue = pick(0, 255);
  c.image = SceneImage(rng, width, height, planes, red, green, blue, pick(0, 90));
  const int mode = pick(0, 1);
  // Sparkle walks cost about the radius per step; big radii stay fast on small images.
  c.settings = Settings(red, green, blue, pick(0, 100), pick(0, 100), mode, pick(0, 180),
                        pick(0, 40), float(pick(1, 4)));
  if (pick(0, 9) == 0) c.settings.mode = pick(2, 9);  // any other mode is Glow
  c.flags.previewing = pick(0, 3) == 0;
  c.flags.useCustomColor = pick(0, 3) == 0;
  c.flags.customRed = pick(0, 255);
  c.flags.customGreen = pick(0, 255);
  c.flags.customBlue = pick(0, 255);
  // Abort before a random row in a third of the cases.
  c.abortAtCall = pick(0, 2) == 0 ? pick(0, height) : -1;
  return c;
}

TEST(OracleComparison, HundredsOfSeededRendersAreByteIdentical) {
  int drawn = 0;
  for (uint32_t seed = 1; seed <= 400; ++seed) {
    const Case c = MakeCase(seed);
    oracle::ScriptedHost engineHost, oracleHost;
    engineHost.abortAtCall = oracleHost.abortAtCall = c.abortAtCall;
    const oracle::Image out = EngineRender(c.image, c.settings, c.flags, engineHost);
    const oracle::Image plain = oracle::Render(c.image, c.settings, c.flags, oracleHost);
    ASSERT_EQ(out.samples, plain.samples) << "seed " << seed;
    ASSERT_EQ(engineHost.calls, oracleHost.calls) << "seed " << seed;
    drawn += out.samples != c.image.samples;
  }
  SetFrameFlags({});
  EXPECT_GT(drawn, 200);  // the cases must exercise the effects, not just the copy
}

}  // namespace
