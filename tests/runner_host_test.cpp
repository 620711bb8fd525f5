// The filter host as a plug-in sees it: requests served, reduced, padded and clipped, the
// output written back, the selectors in order. Driven by small stand-in plug-ins.
#include <gtest/gtest.h>

#include <functional>

#include "filterhost/FilterHost.h"
#include "filterhost/Pipl.h"
#include "filterhost/PixelDisplay.h"

namespace {

// The stand-in plug-in's behaviour for one test, and what it saw.
std::function<int16_t(int16_t, FilterRecord*)> g_plugin;
std::vector<int16_t> g_selectors;

extern "C" void StandIn(int16_t selector, void* record, intptr_t*, int16_t* result) {
  g_selectors.push_back(selector);
  *result = g_plugin ? g_plugin(selector, static_cast<FilterRecord*>(record)) : 0;
}

// A 4 x 3 image whose samples say where they are: 100 * plane + 10 * y + x.
Image Coded(int w = 4, int h = 3, int planes = 2) {
  Image image{w, h, planes, {}};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int p = 0; p < planes; ++p) image.pixels.push_back(uint8_t(100 * p + 10 * y + x));
  return image;
}

// Runs one Start that makes a single request and returns what it received.
struct Request {
  Rect rect{};
  int16_t lo = 0, hi = 0;
  Fixed rate = IntToFixed(1);
  int16_t padding = kWantsEdgeReplication;
};
struct Received {
  OSErr err = 0;
  std::vector<uint8_t> bytes;
  int32_t rowBytes = -1;
  bool null = false;
};
Received Serve(const Image& image, const Request& req) {
  FilterHost host(&StandIn);
  EXPECT_TRUE(host.SetImage(image));
  Received got;
  g_plugin = [&](int16_t selector, FilterRecord* r) -> int16_t {
    if (selector != kSelectorStart) return 0;
    r->inRect = req.rect;
    r->inLoPlane = req.lo;
    r->inHiPlane = req.hi;
    r->inputRate = req.rate;
    r->inputPadding = req.padding;
    got.err = r->advanceState();
    got.null = r->inData == nullptr;
    got.rowBytes = r->inRowBytes;
    if (r->inData) {
      auto* p = static_cast<uint8_t*>(r->inData);
      got.bytes.assign(p, p + size_t(r->inRowBytes) * size_t(req.rect.bottom - req.rect.top));
    }
    r->inRect = Rect{};
    return 0;
  };
  host.Run(false);
  g_plugin = nullptr;
  return got;
}

TEST(FilterHost, ServesRequestedPlanesInterleavedWithPackedRows) {
  Received got = Serve(Coded(4, 3, 3), {{1, 1, 3, 3}, 1, 2});
  EXPECT_EQ(got.err, 0);
  EXPECT_EQ(got.rowBytes, 4);  // 2 pixels x 2 planes
  EXPECT_EQ(got.bytes, (std::vector<uint8_t>{111, 211, 112, 212, 121, 221, 122, 222}));
}

TEST(FilterHost, DownSamplesByTakingTheFirstPixelOfEachBlock) {
  Image image = Coded(7, 5, 1);
  // Rate 2 over the reduced rectangle 0..3 x 0..2: source columns 0, 2, 4, 6; rows 0, 2.
  Received got = Serve(image, {{0, 0, 2, 4}, 0, 0, IntToFixed(2)});
  EXPECT_EQ(got.bytes, (std::vector<uint8_t>{0, 2, 4, 6, 20, 22, 24, 26}));
  // Rate 3, starting one reduced pixel in: source 3 and 6.
  got = Serve(image, {{1, 1, 2, 3}, 0, 0, IntToFixed(3)});
  EXPECT_EQ(got.bytes, (std::vector<uint8_t>{33, 36}));
  // Fractions and rates below one are refused, not guessed.
  for (Fixed rate : {Fixed(0x18000), Fixed(0x8000), Fixed(0), Fixed(-65536)})
    EXPECT_EQ(Serve(image, {{0, 0, 1, 1}, 0, 0, rate}).err, kFilterBadParameters) << rate;
}

TEST(FilterHost, PadsRequestsBeyondTheImageEdgesAsAsked) {
  Image image = Coded(2, 2, 1);  // 0 1 / 10 11
  const Rect around{-1, -1, 3, 3};
  EXPECT_EQ(Serve(image, {around, 0, 0, IntToFixed(1), -1}).bytes,
            (std::vector<uint8_t>{0, 0, 1, 1, 0, 0, 1, 1, 10, 10, 11, 11, 10, 10, 11, 11}));
  EXPECT_EQ(Serve(image, {around, 0, 0, IntToFixed(1), 7}).bytes,
            (std::vector<uint8_t>{7, 7, 7, 7, 7, 0, 1, 7, 7, 10, 11, 7, 7, 7, 7, 7}));
  EXPECT_EQ(Serve(image, {{1, 1, 3, 3}, 0, 0, IntToFixed(1), kDoesNotWantPadding}).bytes,
            (std::vector<uint8_t>{11, 0, 0, 0}));
  EXPECT_EQ(Serve(image, {around, 0, 0, IntToFixed(1), kWantsErrorOnBoundsException}).err,
            kFilterBadParameters);
  EXPECT_EQ(Serve(image, {{0, 0, 2, 2}, 0, 0, IntToFixed(1), kWantsErrorOnBoundsException}).err, 0);
  EXPECT_EQ(Serve(image, {around, 0, 0, IntToFixed(1), 256}).err, kFilterBadParameters);
  // At a reduced rate the edge is that of the reduced image: source column 4 lies outside.
  EXPECT_EQ(Serve(Coded(3, 1, 1), {{0, 0, 1, 3}, 0, 0, IntToFixed(2), -1}).bytes,
            (std::vector<uint8_t>{0, 2, 2}));
}

TEST(FilterHost, EmptyOrInvalidRequestsGiveNoData) {
  for (Rect r : {Rect{0, 0, 0, 3}, Rect{2, 2, 1, 3}, Rect{0, 3, 2, 3}}) {
    Received got = Serve(Coded(), {r, 0, 0});
    EXPECT_EQ(got.err, 0);
    EXPECT_TRUE(got.null);
    EXPECT_EQ(got.rowBytes, 0);
  }
  EXPECT_EQ(Serve(Coded(), {{0, 0, 1, 1}, 0, 2}).err, kFilterBadParameters);  // plane 2 of 2
  EXPECT_EQ(Serve(Coded(), {{0, 0, 1, 1}, 1, 0}).err, kFilterBadParameters);  // lo above hi
  EXPECT_EQ(Serve(Coded(), {{0, 0, 1, 1}, -1, 0}).err, kFilterBadParameters);
}

TEST(FilterHost, WritesOutputBackAtEachCallKeepingTheSourceApart) {
  FilterHost host(&StandIn);
  ASSERT_TRUE(host.SetImage(Coded(4, 3, 2)));
  std::vector<uint8_t> secondInput;
  g_plugin = [&](int16_t selector, FilterRecord* r) -> int16_t {
    if (selector != kSelectorStart) return 0;
    // Write plane 1 of a request that hangs off the right and bottom edges.
    r->inRect = r->outRect = Rect{1, 2, 5, 6};
    r->outLoPlane = r->outHiPlane = 1;
    r->inLoPlane = r->inHiPlane = 1;
    if (r->advanceState()) return 99;
    std::fill_n(static_cast<uint8_t*>(r->outData), 16, uint8_t(250));
    // The next call writes that back; the input still shows the source.
    r->outRect = Rect{0, 0, 1, 1};
    r->inRect = Rect{1, 2, 2, 3};
    if (r->advanceState()) return 99;
    auto* in = static_cast<uint8_t*>(r->inData);
    secondInput.assign(in, in + 1);
    EXPECT_EQ(*static_cast<uint8_t*>(r->outData), 100);  // destination plane 1 at 0,0
    *static_cast<uint8_t*>(r->outData) = 7;              // written back after Start
    r->inRect = r->outRect = Rect{};
    return 0;
  };
  EXPECT_EQ(host.Run(false), 0);
  g_plugin = nullptr;
  EXPECT_EQ(secondInput, std::vector<uint8_t>{112});
  Image expected = Coded(4, 3, 2);
  for (int y = 1; y < 3; ++y)
    for (int x = 2; x < 4; ++x) expected.pixels[size_t(y * 4 + x) * 2 + 1] = 250;
  expected.pixels[1] = 7;
  EXPECT_EQ(host.output().pixels, expected.pixels);
  EXPECT_EQ(host.source().pixels, Coded(4, 3, 2).pixels);
  // Handing the output over lets go of the source: a caller saving it must not hold both.
  EXPECT_EQ(host.TakeOutput().pixels, expected.pixels);
  EXPECT_EQ(host.source().pixels.capacity(), 0u);
}

// A 16-bit image as a 16-bit host hands it: RGB48 at depth 16, little-endian words, rows in
// bytes, edges padded with the level's 16-bit value; planes written back where they belong.
// Only a plug-in that takes 16-bit RGB is given one, and only of RGB or RGBA.
TEST(FilterHost, HandsSixteenBitImagesAsRGB48InWordsAndWritesThemBack) {
  Image image{3, 2, 4, {}, 16};
  for (int i = 0; i < 3 * 2 * 4; ++i) {
    const uint16_t v = uint16_t(1000 * i + 7 + (i == 5 ? 32768 : 0));  // one above full
    image.pixels.push_back(uint8_t(v));
    image.pixels.push_back(uint8_t(v >> 8));
  }
  auto word = [](const uint8_t* p, size_t i) { return uint16_t(p[2 * i] | p[2 * i + 1] << 8); };
  FilterHost host(&StandIn, true);
  ASSERT_TRUE(host.SetImage(image));
  int16_t mode = 0;
  int32_t depth = 0, inRowBytes = 0, outRowBytes = 0;
  std::vector<uint16_t> padded;
  g_plugin = [&](int16_t selector, FilterRecord* r) -> int16_t {
    if (selector != kSelectorStart) return 0;
    mode = r->imageMode;
    depth = r->depth;
    // Planes 1..2 of the whole image, one column beyond the right edge padded with 255.
    r->inRect = Rect{0, 0, 2, 4};
    r->inLoPlane = 1;
    r->inHiPlane = 2;
    r->inputPadding = 255;
    r->outRect = Rect{0, 0, 2, 3};
    r->outLoPlane = 1;
    r->outHiPlane = 2;
    if (r->advanceState() != kNoErr) return 1;
    inRowBytes = r->inRowBytes;
    outRowBytes = r->outRowBytes;
    const auto* in = static_cast<const uint8_t*>(r->inData);
    padded = {word(in, 6), word(in, 7)};
    auto* out = static_cast<uint8_t*>(r->outData);
    for (int y = 0; y < 2; ++y)
      for (int i = 0; i < 6; ++i) {
        const uint16_t v = uint16_t(word(in + y * inRowBytes, size_t(i)) + 1);
        out[y * outRowBytes + 2 * i] = uint8_t(v);
        out[y * outRowBytes + 2 * i + 1] = uint8_t(v >> 8);
      }
    r->inRect = r->outRect = Rect{};
    return 0;
  };
  ASSERT_EQ(host.Run(false), 0);
  g_plugin = nullptr;
  EXPECT_EQ(mode, kImageModeRGB48);
  EXPECT_EQ(depth, 16);
  EXPECT_EQ(inRowBytes, 4 * 2 * 2);
  EXPECT_EQ(outRowBytes, 3 * 2 * 2);
  EXPECT_EQ(padded, (std::vector<uint16_t>{32768, 32768}));
  const Image& out = host.output();
  ASSERT_EQ(out.depth, 16);
  ASSERT_EQ(out.pixels.size(), image.pixels.size());
  for (size_t i = 0; i < 3 * 2 * 4; ++i) {
    const bool written = i % 4 == 1 || i % 4 == 2;
    EXPECT_EQ(word(out.pixels.data(), i), uint16_t(word(image.pixels.data(), i) + written)) << i;
  }

  // 8-bit images are RGB at depth 8; 16-bit ones only to a plug-in that takes them, of RGB.
  g_plugin = [&](int16_t selector, FilterRecord* r) -> int16_t {
    if (selector == kSelectorStart) mode = r->imageMode, depth = r->depth;
    return 0;
  };
  ASSERT_TRUE(host.SetImage(Coded(2, 2, 3)));
  ASSERT_EQ(host.Run(false), 0);
  g_plugin = nullptr;
  EXPECT_EQ(mode, kImageModeRGB);
  EXPECT_EQ(depth, 8);
  EXPECT_FALSE(host.SetImage(Image{1, 1, 2, std::vector<uint8_t>(4), 16}));
  EXPECT_FALSE(host.SetImage(Image{1, 1, 3, std::vector<uint8_t>(6), 32}));
  EXPECT_FALSE(FilterHost(&StandIn).SetImage(Image{1, 1, 3, std::vector<uint8_t>(6), 16}));
}

TEST(FilterHost, RunsTheSelectorsAHostUses) {
  FilterHost host(&StandIn);
  ASSERT_TRUE(host.SetImage(Coded()));
  // A plug-in that leaves a request after Start is served and continued until it stops.
  int continues = 0;
  g_plugin = [&](int16_t selector, FilterRecord* r) -> int16_t {
    if (selector == kSelectorStart || (selector == kSelectorContinue && ++continues < 2))
      r->inRect = Rect{0, 0, 1, 1};
    else if (selector == kSelectorContinue)
      r->inRect = Rect{};
    return 0;
  };
  g_selectors.clear();
  EXPECT_EQ(host.Run(false), 0);
  EXPECT_EQ(g_selectors, (std::vector<int16_t>{2, 3, 4, 4, 5}));
  EXPECT_EQ(host.advanceStateCalls(), 2);
  ASSERT_NE(host.params(), nullptr);
  EXPECT_EQ(host.params()->showDialog, 0);  // stored settings: the defaults, no dialog

  g_selectors.clear();
  g_plugin = [](int16_t selector, FilterRecord*) -> int16_t {
    return selector == kSelectorStart ? kMemFullErr : 0;
  };
  EXPECT_EQ(host.Run(true), kMemFullErr);
  EXPECT_EQ(g_selectors, (std::vector<int16_t>{1, 2, 3}));  // no Finish after a failed Start
  g_plugin = nullptr;
}

TEST(FilterHost, HandsOverStoredSettingsInAnOtofHandle) {
  FilterHost host(&StandIn);
  ASSERT_TRUE(host.SetImage(Coded(4, 3, 3)));
  EffectParams params = DefaultEffectParams();
  params.radius = 77;
  params.showDialog = 1;
  host.SetParams(params);
  auto* handle = static_cast<PseudoHandle*>(host.record().parameters);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(handle->signature, kPseudoHandleSignature);
  EXPECT_EQ(ParamsFromHandle(handle)->radius, 77);
  EXPECT_EQ(ParamsFromHandle(handle)->showDialog, 0);
  EXPECT_EQ(host.record().hostSig, kCorvanelHostSig);
  EXPECT_EQ(host.record().planes, 3);
  EXPECT_EQ(host.record().filterRect.right, 4);
  EXPECT_EQ(host.record().filterRect.bottom, 3);
}

TEST(FilterHost, AbortProcReportsTheFlagAndDescriptionsAreClear) {
  FilterHost host(&StandIn);
  ASSERT_TRUE(host.SetImage(Coded()));
  Boolean seen = 9;
  g_plugin = [&](int16_t selector, FilterRecord* r) -> int16_t {
    if (selector == kSelectorStart) seen = r->abortProc();
    return 0;
  };
  FilterHost::RequestAbort();
  host.Run(false);
  FilterHost::ClearAbort();
  g_plugin = nullptr;
  EXPECT_EQ(seen, 1);
  EXPECT_FALSE(host.SetImage(Image{40000, 1, 1, std::vector<uint8_t>(40000)}));
  EXPECT_FALSE(host.SetImage(Image{2, 2, 3, std::vector<uint8_t>(11)}));
  EXPECT_NE(FilterHost::DescribeResult(-108).find("out of memory"), std::string::npos);
  EXPECT_NE(FilterHost::DescribeResult(1).find("cancelled"), std::string::npos);
  EXPECT_NE(FilterHost::DescribeResult(-30100).find("bad parameters"), std::string::npos);
  EXPECT_NE(FilterHost::DescribeResult(-42).find("-42"), std::string::npos);
}

TEST(PixelDisplay, ComposesTheSourceRectangleWithStridesAndMask) {
  // Two rows of three RGBA pixels with two bytes of row padding, bounds offset by (10, 20).
  std::vector<uint8_t> px(2 * 14, 0);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      for (int p = 0; p < 4; ++p)
        px[size_t(y * 14 + x * 4 + p)] = uint8_t(p == 3 ? (x == 1 ? 0 : 255) : 10 * y + x + 50 * p);
  PSPixelMap map{};
  map.version = 1;
  map.bounds = VRect{10, 20, 12, 23};
  map.imageMode = kImageModeRGB;
  map.rowBytes = 14;
  map.colBytes = 4;
  map.planeBytes = 1;
  map.baseAddr = px.data();
  DisplayedPixels shown;
  ASSERT_TRUE(ComposePixelMap(map, VRect{11, 21, 15, 30}, &shown));  // clipped to bounds
  EXPECT_EQ(shown.width, 2);
  EXPECT_EQ(shown.height, 1);
  EXPECT_EQ(shown.rgb, (std::vector<uint8_t>{11, 61, 111, 12, 62, 112}));

  PSPixelMask mask{nullptr, px.data() + 3, 14, 4, 0};
  map.masks = &mask;
  ASSERT_TRUE(ComposePixelMap(map, map.bounds, &shown));
  EXPECT_EQ(shown.rgb[0], 0);     // opaque: the pixel
  EXPECT_EQ(shown.rgb[3], 0xFF);  // transparent: the checkerboard
  map.baseAddr = nullptr;
  EXPECT_FALSE(ComposePixelMap(map, map.bounds, &shown));
}

}  // namespace
