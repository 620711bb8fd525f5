// Whole renders of the engine against the plain rules, over seeded random cases, for every
// way the engine can carry a render out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "engine/internal/Deep.h"
#include "tests/EngineTestSupport.h"

namespace {

// The thread counts every render must give the same bytes with: one, two, a count that
// shares rows unevenly, and more threads than the machine has cores.
constexpr int32_t kThreadCounts[] = {1, 2, 3, 7, 16};

struct Case {
  oracle::Image image;
  EffectSettings settings;
  oracle::FrameFlags flags;
  int abortAtCall;
  EngineTuning tuning;
  int inPad = 0, outPad = 0;
};

// The 16-bit image of an 8-bit one with samples moved off their 8-bit values by up to about
// two 8-bit steps, so that some cross the window's edges, and a few put at or above full
// intensity, as hosts that use the whole 16-bit range hand them.
oracle::Image Deepen(const oracle::Image& image, std::mt19937& rng) {
  oracle::Image deep = oracle::Widen(image);
  std::uniform_int_distribution<int> jitter(-260, 260), roll(0, 63), above(kFullSixteen, 65535);
  for (int y = 0; y < deep.height; ++y)
    for (int x = 0; x < deep.width; ++x)
      for (int k = 0; k < deep.planes; ++k) {
        const int r = roll(rng);
        const int v = int(deep.Sample(x, y, k)) + jitter(rng);
        deep.SetSample(x, y, k,
                       r == 0   ? uint32_t(above(rng))
                       : r == 1 ? uint32_t(kFullSixteen)
                       : r < 32 ? uint32_t(std::clamp(v, 0, kFullSixteen))
                                : deep.Sample(x, y, k));
      }
  return deep;
}

// Small images by default; `big` allows up to 260 x 200 with sizes drawn towards the small.
Case MakeCase(uint32_t seed, bool big) {
  std::mt19937 rng(seed);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  Case c;
  const int planes = pick(0, 1) ? 4 : 3;
  const int width = big ? pick(40, 260) : pick(1, pick(1, 48));
  const int height = big ? pick(30, 200) : pick(1, pick(1, 40));
  const int red = pick(0, 255), green = pick(0, 255), blue = pick(0, 255);
  // Dense scenes, sparse ones (a few per thousand) and everything between.
  const int share = pick(0, 3) == 0 ? pick(0, 1) : pick(0, 100);
  c.image = SceneImage(rng, width, height, planes, red, green, blue, share);
  const int mode = pick(0, 1);
  // Radii past 100 are stored values the engine must clamp; Sparkle walks cost about the
  // radius per step, so big Sparkle images keep to small radii.
  const int radius = mode == 1 && big ? pick(0, 20) : pick(0, pick(0, 150));
  c.settings = Settings(red, green, blue, pick(0, 100), radius, mode, pick(0, 180), pick(0, 40),
                        float(pick(0, 3) ? 1 : pick(2, 8)));
  if (pick(0, 9) == 0) c.settings.mode = pick(2, 9);  // any other mode is Glow
  c.flags.previewing = pick(0, 3) == 0;
  c.flags.useCustomColor = pick(0, 3) == 0;
  c.flags.customRed = pick(0, 255);
  c.flags.customGreen = pick(0, 255);
  c.flags.customBlue = pick(0, 255);
  // Abort before a random row in a third of the cases.
  c.abortAtCall = pick(0, 2) == 0 ? pick(0, height) : -1;
  const GlowPath paths[] = {GlowPath::Automatic, GlowPath::Stamps, GlowPath::Gather};
  c.tuning.glow = paths[pick(0, 2)];
  c.tuning.threads = kThreadCounts[pick(0, 4)];
  c.tuning.noWorkMemory = pick(0, 9) == 0;
  c.tuning.shareAll = c.tuning.threads > 1;
  return c;
}

// The same case at 16 bits, with rows padded by a few bytes (odd ones too: the engine must
// not count on aligned words).
Case MakeDeepCase(uint32_t seed, bool big) {
  Case c = MakeCase(seed, big);
  std::mt19937 rng(seed ^ 0x16161616u);
  c.image = Deepen(c.image, rng);
  std::uniform_int_distribution<int> pad(0, 7);
  c.inPad = pad(rng) / 2 * 2 + (pad(rng) == 0 ? 1 : 0);
  c.outPad = pad(rng) / 2 * 2 + (pad(rng) == 0 ? 1 : 0);
  return c;
}

// Renders each case with the engine and the plain rules; returns how many drew something.
int CompareCases(uint32_t firstSeed, uint32_t count, bool big, int depth = 8) {
  // The threads are kept from render to render, as the plug-in keeps them through a Start.
  const RenderThreadScope kept(ThreadContext());
  int drawn = 0;
  for (uint32_t seed = firstSeed; seed < firstSeed + count; ++seed) {
    const Case c = depth == 16 ? MakeDeepCase(seed, big) : MakeCase(seed, big);
    oracle::ScriptedHost engineHost, oracleHost;
    engineHost.abortAtCall = oracleHost.abortAtCall = c.abortAtCall;
    bool paddingKept = false;
    const oracle::Image out = EngineRender(c.image, c.settings, c.flags, engineHost, c.inPad,
                                           c.outPad, &paddingKept, c.tuning);
    EXPECT_TRUE(paddingKept) << "seed " << seed;
    const oracle::Image plain = oracle::Render(c.image, c.settings, c.flags, oracleHost);
    EXPECT_EQ(out.samples, plain.samples)
        << "seed " << seed << " mode " << c.settings.mode << " threads " << c.tuning.threads << " "
        << c.image.width << "x" << c.image.height << "x" << c.image.planes << " r "
        << c.settings.radius << " streaks " << c.settings.streaks << " abort " << c.abortAtCall
        << " scale " << c.settings.scale;
    EXPECT_EQ(engineHost.calls, oracleHost.calls) << "seed " << seed;
    if (out.samples != plain.samples || engineHost.calls != oracleHost.calls) break;
    drawn += out.samples != c.image.samples;
  }
  return drawn;
}

// The scalar tree runs a quarter of the cases: its plain loops are slower, and what differs
// from the SIMD paths is reached by the small cases already.
#ifdef CORVANEL_ORACLE_SUBSET
constexpr int kCaseShare = 4;
#else
constexpr int kCaseShare = 1;
#endif

TEST(OracleComparison, ThousandsOfSmallSeededRendersAreByteIdentical) {
  const int cases = 4000 / kCaseShare;
  EXPECT_GT(CompareCases(1, cases, false), cases / 2);  // the effects, not just the copy
}

TEST(OracleComparison, LargerSeededRendersAreByteIdentical) {
  const int cases = 40 / kCaseShare;
  EXPECT_GT(CompareCases(100000, cases, true), cases / 2);
}

TEST(OracleComparison, SixteenBitSeededRendersAreIdentical) {
  const int small = 2000 / kCaseShare, big = 24 / kCaseShare;
  EXPECT_GT(CompareCases(20001, small, false, 16), small / 2);
  EXPECT_GT(CompareCases(120000, big, true, 16), big / 2);
  // The same renders with the conversions 16 samples at a time, where the processor would
  // take 32: the narrower lanes then run in whole renders too.
  if (SetWideLanes(false)) {
    EXPECT_GT(CompareCases(20001, small, false, 16), small / 2);
    EXPECT_GT(CompareCases(120000, big, true, 16), big / 2);
  }
  SetWideLanes(true);
}

// Sparkle on samples that are nearly full: a sample c takes a deposit only while
// colour * (255 - c) reaches 256, so colours on either side of that edge must draw exactly
// what the plain rules draw (on the edge the image changes, below it not at all).
TEST(OracleComparison, SparkleAtTheEdgeOfSaturation) {
  for (const int c : {252, 253, 254})
    for (const int edge : {86, 128, 256})
      for (const int colour : {edge - 1, edge}) {
        if (colour > 255) continue;
        const oracle::Image in = SolidImage(23, 17, 3, uint8_t(c));
        const EffectSettings s = Settings(c, c, c, 100, 5, 1, 30, 4);
        oracle::FrameFlags flags;
        flags.useCustomColor = true;
        flags.customRed = colour;  // red alone decides: green and blue draw nothing
        oracle::ScriptedHost engineHost, plainHost;
        const oracle::Image out = EngineRender(in, s, flags, engineHost);
        const oracle::Image plain = oracle::Render(in, s, flags, plainHost);
        EXPECT_EQ(out.samples, plain.samples) << c << " " << colour;
        EXPECT_EQ(out.samples != in.samples, colour * (255 - c) >= 256) << c << " " << colour;
      }
}

// The same image drawn by each path and thread count, aborted at every row in turn: the
// host sees the same calls and the output holds exactly the rows polled before the abort.
TEST(OracleComparison, AbortAtEveryRowInEveryPath) {
  const RenderThreadScope kept(ThreadContext());
  std::mt19937 rng(77);
  const oracle::Image in8 = SceneImage(rng, 70, 24, 3, 230, 220, 200, 60);
  const EffectSettings s = Settings(230, 220, 200, 30, 9, 0);
  for (const oracle::Image& in : {in8, oracle::Widen(in8)})
    for (int call = 0; call <= in.height; ++call) {
      oracle::ScriptedHost plainHost;
      plainHost.abortAtCall = call;
      const oracle::Image plain = oracle::Render(in, s, {}, plainHost);
      for (GlowPath path : {GlowPath::Stamps, GlowPath::Gather})
        for (int32_t threads : kThreadCounts) {
          oracle::ScriptedHost host;
          host.abortAtCall = call;
          const oracle::Image out = EngineRender(in, s, {}, host, 0, 0, nullptr,
                                                 EngineTuning{path, threads, false, true});
          ASSERT_EQ(out.samples, plain.samples)
              << in.depth << " " << call << " " << int(path) << " " << threads;
          ASSERT_EQ(host.calls, plainHost.calls) << call << " " << int(path) << " " << threads;
        }
    }
}

// Renders that find no centre, or a few small clusters of them over noise, where the engine
// skips the kernel, the centre map or both: each path, with and without the map, on each
// thread count, run through and aborted halfway.
TEST(OracleComparison, NothingMatchingAndSmallClustersOverNoise) {
  struct Row {
    int width, height, planes, clusters, threshold, radius, mode;
    float scale;
    bool previewing;
  };
  const Row rows[] = {
      {97, 61, 3, 0, 0, 30, 0, 1.0f, false},  // nothing matches
      {97, 61, 4, 0, 0, 30, 0, 1.0f, true},  {64, 40, 3, 0, 0, 12, 1, 1.0f, false},
      {97, 61, 3, 6, 5, 30, 0, 1.0f, false},  // small clusters over noise
      {97, 61, 4, 6, 5, 30, 0, 1.0f, false}, {120, 70, 3, 9, 3, 100, 0, 1.0f, false},
      {120, 70, 3, 9, 5, 30, 0, 6.0f, true}, {64, 40, 3, 3, 5, 9, 1, 1.0f, false},
      {5, 3, 3, 1, 5, 4, 0, 1.0f, false},  // clusters cut by the image's edges
  };
  const int colour[3] = {255, 200, 90};
  const RenderThreadScope kept(ThreadContext());
  std::mt19937 rng(2024);
  for (const Row& row : rows) {
    oracle::Image scene = SceneImage(rng, row.width, row.height, row.planes, 0, 0, 0, 0);
    for (int y = 0; y < scene.height; ++y)
      for (int x = 0; x < scene.width; ++x)
        if (scene.At(x, y, 0) == colour[0] && scene.At(x, y, 1) == colour[1] &&
            scene.At(x, y, 2) == colour[2])
          scene.At(x, y, 0) = 0;
    std::uniform_int_distribution<int> xs(0, row.width - 1), ys(0, row.height - 1), near(-2, 2);
    for (int n = 0; n < row.clusters; ++n) {
      const int cx = xs(rng), cy = ys(rng);
      for (int y = cy; y < std::min(cy + 3, scene.height); ++y)
        for (int x = cx; x < std::min(cx + 3, scene.width); ++x)
          for (int k = 0; k < 3; ++k)
            scene.At(x, y, k) = uint8_t(std::clamp(colour[k] + near(rng), 0, 255));
    }
    const EffectSettings s = Settings(colour[0], colour[1], colour[2], row.threshold, row.radius,
                                      row.mode, 30, 4, row.scale);
    oracle::FrameFlags flags;
    flags.previewing = row.previewing;
    for (const oracle::Image& in : {scene, oracle::Widen(scene)})
      for (const int abortAt : {-1, row.height / 2}) {
        oracle::ScriptedHost plainHost;
        plainHost.abortAtCall = abortAt;
        const oracle::Image plain = oracle::Render(in, s, flags, plainHost);
        // The cases draw what they are meant to: nothing without a match, glow or stars with.
        if (row.clusters == 0 || abortAt < 0) {
          EXPECT_EQ(plain.samples != in.samples, row.clusters > 0) << row.width;
        }
        for (GlowPath path : {GlowPath::Automatic, GlowPath::Stamps, GlowPath::Gather})
          for (int32_t threads : kThreadCounts)
            for (bool noMap : {false, true}) {
              oracle::ScriptedHost host;
              host.abortAtCall = abortAt;
              const oracle::Image out = EngineRender(in, s, flags, host, 0, 0, nullptr,
                                                     EngineTuning{path, threads, noMap, true});
              ASSERT_EQ(out.samples, plain.samples)
                  << row.width << "x" << row.height << " " << in.depth << " " << int(path) << " "
                  << threads;
              ASSERT_EQ(host.calls, plainHost.calls) << row.width << "x" << row.height;
            }
      }
  }
}

// Lights of a few pixels, some near enough to be stamped together, some close enough to
// others' stamps to keep them apart, and some cut by the image's edges: aborted before every
// row in turn, so that each set stamped together is cut at each of its rows.
TEST(OracleComparison, NearbyLightsAbortedAtEveryRow) {
  struct Light {
    int x, y, width, height;
  };
  const Light lights[] = {{10, 5, 3, 3},  {14, 6, 2, 4},  {34, 6, 2, 2}, {50, 9, 5, 2},
                          {70, 3, 3, 5},  {72, 11, 8, 3}, {0, 18, 3, 6}, {86, 0, 4, 2},
                          {40, 20, 1, 1}, {44, 20, 1, 1}};
  struct Row {
    int planes, radius;
  };
  const Row rows[] = {{3, 12}, {4, 12}, {3, 30}, {3, 3}};
  for (const Row& row : rows) {
    oracle::Image in = SolidImage(90, 24, row.planes, 10);
    for (const Light& l : lights)
      for (int y = l.y; y < l.y + l.height; ++y)
        for (int x = l.x; x < l.x + l.width; ++x) {
          in.At(x, y, 0) = 255;
          in.At(x, y, 1) = uint8_t(200 + (x + y) % 3);
          in.At(x, y, 2) = 90;
        }
    const EffectSettings s = Settings(255, 200, 90, 5, row.radius, 0);
    // At 16 bits on one thread the stamps are drawn as the centre pass goes.
    for (const oracle::Image& image : {in, oracle::Widen(in)})
      for (int call = -1; call <= image.height; ++call) {
        oracle::ScriptedHost plainHost;
        plainHost.abortAtCall = call;
        const oracle::Image plain = oracle::Render(image, s, {}, plainHost);
        for (GlowPath path : {GlowPath::Automatic, GlowPath::Stamps}) {
          oracle::ScriptedHost host;
          host.abortAtCall = call;
          const oracle::Image out =
              EngineRender(image, s, {}, host, 0, 0, nullptr, EngineTuning{path, 1, false});
          ASSERT_EQ(out.samples, plain.samples) << row.planes << " " << row.radius << " " << call
                                                << " " << int(path) << " " << image.depth;
          ASSERT_EQ(host.calls, plainHost.calls) << call;
        }
      }
  }
}

// Renders on two threads at once, each in its own context, give what each gives alone:
// nothing a render works in is shared. Each thread renders larger cases in turn, Glow and
// Sparkle mixed, so that the two overlap.
TEST(OracleComparison, TwoRendersAtOnceInTwoContexts) {
  const uint32_t firstSeed[2] = {500, 900};
  const uint32_t count = kCaseShare == 1 ? 6 : 2;
  std::vector<oracle::Image> alone[2], together[2];
  for (int t = 0; t < 2; ++t)
    for (uint32_t seed = firstSeed[t]; seed < firstSeed[t] + count; ++seed) {
      const Case c = MakeCase(seed, true);
      oracle::ScriptedHost host;
      host.abortAtCall = c.abortAtCall;
      alone[t].push_back(EngineRender(c.image, c.settings, c.flags, host, 0, 0, nullptr, c.tuning));
    }
  auto run = [&](int t) {
    const RenderContextPtr context = NewRenderContext();
    for (uint32_t seed = firstSeed[t]; seed < firstSeed[t] + count; ++seed) {
      const Case c = MakeCase(seed, true);
      oracle::ScriptedHost host;
      host.abortAtCall = c.abortAtCall;
      together[t].push_back(
          EngineRender(c.image, c.settings, c.flags, host, 0, 0, nullptr, c.tuning, context.get()));
    }
  };
  std::thread other(run, 1);
  run(0);
  other.join();
  for (int t = 0; t < 2; ++t)
    for (uint32_t n = 0; n < count; ++n)
      EXPECT_EQ(together[t][n].samples, alone[t][n].samples) << "seed " << firstSeed[t] + n;
}

// Every path on every thread count, each thread at work from the start however small the
// image, run through and aborted before several rows: the same bytes and the same host calls
// as the plain rules. The images are large enough for every thread to take rows of its own.
TEST(OracleComparison, EveryThreadCountAndAbortGivesThePlainBytes) {
  struct Row {
    const char* name;
    int width, height, planes, share, threshold, radius, mode;
    float scale;
    bool previewing;
  };
  const Row rows[] = {
      {"glow dense", 96, 80, 3, 75, 30, 9, 0, 1.0f, false},
      {"glow dense, 4 planes", 70, 90, 4, 75, 30, 14, 0, 1.0f, false},
      {"glow sparse", 120, 90, 3, 2, 20, 12, 0, 1.0f, false},
      {"glow sparse, 4 planes, preview", 120, 60, 4, 2, 20, 30, 0, 3.0f, true},
      {"glow nothing", 90, 70, 3, 0, 0, 20, 0, 1.0f, false},
      {"glow wide reach", 64, 120, 3, 10, 25, 100, 0, 1.0f, false},
      {"sparkle dense", 80, 70, 3, 75, 90, 8, 1, 1.0f, false},
      {"sparkle sparse, 4 planes", 90, 80, 4, 5, 60, 12, 1, 1.0f, false},
  };
  std::mt19937 rng(4242);
  for (const Row& row : rows) {
    const oracle::Image scene =
        SceneImage(rng, row.width, row.height, row.planes, 230, 210, 120, row.share);
    const EffectSettings s =
        Settings(230, 210, 120, row.threshold, row.radius, row.mode, 30, 5, row.scale);
    oracle::FrameFlags flags;
    flags.previewing = row.previewing;
    std::mt19937 deepRng(7);
    for (const oracle::Image& in : {scene, Deepen(scene, deepRng)})
      for (const int abortAt : {-1, 0, 1, row.height / 3, row.height / 2, row.height - 1}) {
        oracle::ScriptedHost plainHost;
        plainHost.abortAtCall = abortAt;
        const oracle::Image plain = oracle::Render(in, s, flags, plainHost);
        const GlowPath paths[] = {GlowPath::Automatic, GlowPath::Stamps, GlowPath::Gather};
        for (const GlowPath path : paths) {
          if (row.mode == 1 && path != GlowPath::Automatic) continue;
          for (const int32_t threads : kThreadCounts) {
            oracle::ScriptedHost host;
            host.abortAtCall = abortAt;
            EngineTuning tuning{path, threads, false, true};
            const oracle::Image out = EngineRender(in, s, flags, host, 3, 1, nullptr, tuning);
            ASSERT_EQ(out.samples, plain.samples)
                << row.name << ", " << in.depth << " bits, abort " << abortAt << ", path "
                << int(path) << ", " << threads << " threads";
            ASSERT_EQ(host.calls, plainHost.calls) << row.name << ", " << threads << " threads";
          }
        }
      }
  }
}

}  // namespace

namespace {

// A 16-bit render, reduced back to 8 bits, is the 8-bit render of the samples' nearest 8-bit
// values: exactly for an image converted from 8 bits, and within one step (where a sample's
// offset from its 8-bit value carries it across a rounding edge) for any other, on every path,
// with the same host calls.
TEST(SixteenBits, ReducedToEightBitsTheRenderIsTheEightBitOne) {
  struct Row {
    int share, threshold, radius, mode;
    float scale;
    int planes;
  };
  const Row rows[] = {{1, 20, 14, 0, 1.0f, 3},  {1, 40, 30, 0, 1.0f, 4},  {10, 20, 14, 0, 1.0f, 3},
                      {75, 20, 30, 0, 1.0f, 3}, {3, 20, 100, 0, 4.0f, 4}, {1, 10, 12, 1, 1.0f, 3},
                      {30, 20, 12, 1, 1.0f, 4}};
  for (const Row& row : rows)
    for (GlowPath path : {GlowPath::Stamps, GlowPath::Gather}) {
      std::mt19937 rng(uint32_t(row.share * 7 + row.mode));
      const oracle::Image in = SceneImage(rng, 200, 150, row.planes, 255, 200, 90, row.share);
      const EffectSettings s =
          Settings(255, 200, 90, row.threshold, row.radius, row.mode, 30, 6, row.scale);
      const EngineTuning tuning{path, 2, false};
      oracle::ScriptedHost h8, h16, hDeep;
      const oracle::Image eight = EngineRender(in, s, {}, h8, 0, 0, nullptr, tuning);
      EXPECT_NE(eight.samples, in.samples);
      const oracle::Image converted =
          oracle::Narrow(EngineRender(oracle::Widen(in), s, {}, h16, 0, 0, nullptr, tuning));
      EXPECT_EQ(converted.samples, eight.samples) << row.share << " " << row.mode;
      EXPECT_EQ(h16.calls, h8.calls);

      const oracle::Image deep = Deepen(in, rng);
      oracle::ScriptedHost hNarrow;
      const oracle::Image expected =
          EngineRender(oracle::Narrow(deep), s, {}, hNarrow, 0, 0, nullptr, tuning);
      const oracle::Image reduced =
          oracle::Narrow(EngineRender(deep, s, {}, hDeep, 0, 0, nullptr, tuning));
      for (size_t i = 0; i < reduced.samples.size(); ++i)
        ASSERT_LE(std::abs(int(reduced.samples[i]) - int(expected.samples[i])), 1) << i;
      EXPECT_EQ(hDeep.calls, hNarrow.calls);
    }
}

}  // namespace
