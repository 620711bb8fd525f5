// The whole selector run through ENTRYPOINT, against a small host of our own that
// delivers the requested rectangles the way common hosts do.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/EngineTestSupport.h"
#include "tests/TestHost.h"

namespace {

struct Request {
  Rect inRect, outRect;
  int16_t inLoPlane, inHiPlane, outLoPlane, outHiPlane;
  Fixed inputRate, maskRate;
};

// A document image with a filter rectangle inside it. advanceState writes back the output
// it last handed out, then delivers the new request (null for an empty rectangle).
class FilterHost : public EntryCall {
 public:
  static FilterHost* current;

  oracle::Image document;
  std::vector<OSErr> advanceResults;  // per call; 0 beyond the list
  std::vector<Request> requests;
  oracle::ScriptedHost polling;
  bool deliverNothing = false;  // success without buffers
  int rowPadding = 0;

  FilterHost(const oracle::Image& image, Rect filterRect) : document(image) {
    current = this;
    record.planes = int16_t(image.planes);
    record.filterRect = filterRect;
    record.advanceState = [] { return current->Advance(); };
    record.abortProc = [] { return Boolean(current->polling.Abort() ? 1 : 0); };
    record.progressProc = [](int32_t done, int32_t total) {
      current->polling.Progress(done, total);
    };
    record.displayPixels = [](const PSPixelMap*, const VRect*, int32_t, int32_t, void*) {
      return OSErr(0);
    };
  }
  ~FilterHost() { current = nullptr; }

  // Parameters, the stored settings with no dialog, Prepare, Start, Finish: Start's result.
  int16_t Run(const EffectSettings& s, bool callParameters = true) {
    if (callParameters) {
      EXPECT_EQ(Call(kSelectorParameters), 0);
      EffectParams* p = params();
      p->red = s.red;
      p->green = s.green;
      p->blue = s.blue;
      p->threshold = s.threshold;
      p->radius = s.radius;
      p->angle = s.angle;
      p->streaks = s.streaks;
      p->mode = s.mode;
      p->scale = s.scale;
      p->showDialog = 0;
    }
    EXPECT_EQ(Call(kSelectorPrepare), 0);
    const int16_t result = Call(kSelectorStart);
    EXPECT_EQ(Call(kSelectorFinish), 0);
    return result;
  }

  bool RectsEmpty() const {
    auto empty = [](const Rect& r) {
      return r.top == 0 && r.left == 0 && r.bottom == 0 && r.right == 0;
    };
    return empty(record.inRect) && empty(record.outRect) && empty(record.maskRect);
  }

 private:
  std::vector<uint8_t> in_, out_;
  Rect deliveredOut_{};
  int deliveredPlanes_ = 0;
  int deliveredStride_ = 0;

  OSErr Advance() {
    const FilterRecord& r = record;
    requests.push_back({r.inRect, r.outRect, r.inLoPlane, r.inHiPlane, r.outLoPlane, r.outHiPlane,
                        r.inputRate, r.maskRate});
    WriteBack();
    const size_t call = requests.size() - 1;
    const OSErr result = call < advanceResults.size() ? advanceResults[call] : OSErr(0);
    if (result != 0) return result;
    // The record is packed, so its pointer fields are assigned, never bound to references.
    int32_t rowBytes = 0;
    record.inData = Deliver(r.inRect, r.inLoPlane, r.inHiPlane, in_, &rowBytes);
    record.inRowBytes = rowBytes;
    record.outData = Deliver(r.outRect, r.outLoPlane, r.outHiPlane, out_, &rowBytes);
    record.outRowBytes = rowBytes;
    deliveredOut_ = r.outRect;
    deliveredPlanes_ = r.outHiPlane - r.outLoPlane + 1;
    deliveredStride_ = record.outRowBytes;
    return 0;
  }

  void* Deliver(const Rect& rect, int lo, int hi, std::vector<uint8_t>& buffer,
                int32_t* rowBytesOut) {
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    const int planes = hi - lo + 1;
    *rowBytesOut = 0;
    if (width <= 0 || height <= 0 || planes <= 0 || deliverNothing) return nullptr;
    const int32_t rowBytes = width * planes + rowPadding;
    *rowBytesOut = rowBytes;
    buffer.assign(size_t(rowBytes) * height, 0xEE);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        for (int k = 0; k < planes; ++k)
          buffer[size_t(y) * rowBytes + size_t(x) * planes + k] =
              document.At(rect.left + x, rect.top + y, lo + k);
    return buffer.data();
  }

  void WriteBack() {
    if (!record.outData) return;
    const Rect& rect = deliveredOut_;
    for (int y = 0; y < rect.bottom - rect.top; ++y)
      for (int x = 0; x < rect.right - rect.left; ++x)
        for (int k = 0; k < deliveredPlanes_; ++k)
          document.At(rect.left + x, rect.top + y, k) =
              out_[size_t(y) * deliveredStride_ + size_t(x) * deliveredPlanes_ + k];
    record.outData = nullptr;
  }
};

FilterHost* FilterHost::current = nullptr;

const Rect kFilterRect{4, 6, 34, 46};  // top, left, bottom, right

TEST(StartRun, RendersTheWholeFilterRectangleInOnePass) {
  std::mt19937 rng(21);
  for (int planes : {3, 4})
    for (int mode : {0, 1})
      for (int padding : {0, 3}) {
        const oracle::Image document = SceneImage(rng, 52, 40, planes, 240, 230, 90, 20);
        // A preview had left a reduced request and its factor behind.
        const EffectSettings s = Settings(240, 230, 90, 40, 15, mode, 30, 6, 3.0f);
        FilterHost host(document, kFilterRect);
        host.rowPadding = padding;
        host.record.inputRate = host.record.maskRate = IntToFixed(3);
        host.record.inRect = host.record.outRect = Rect{0, 0, 10, 13};
        host.record.maskRect = Rect{0, 0, 10, 13};
        host.advanceResults = {0, 0};

        EXPECT_EQ(host.Run(s), 0);
        oracle::ScriptedHost expectedCalls;
        const oracle::Image expected = ExpectedDocument(document, kFilterRect, s, expectedCalls);
        EXPECT_EQ(host.document.samples, expected.samples) << planes << mode << padding;
        EXPECT_NE(expected.samples, document.samples);
        EXPECT_EQ(host.polling.calls, expectedCalls.calls);
        EXPECT_EQ(host.polling.calls.size(), 60u);  // 30 rows

        ASSERT_EQ(host.requests.size(), 2u);
        for (const Request& r : host.requests) {
          EXPECT_EQ(std::memcmp(&r.inRect, &kFilterRect, sizeof(Rect)), 0);
          EXPECT_EQ(std::memcmp(&r.outRect, &kFilterRect, sizeof(Rect)), 0);
          EXPECT_EQ(r.inLoPlane, 0);
          EXPECT_EQ(r.outLoPlane, 0);
          EXPECT_EQ(r.inHiPlane, planes - 1);
          EXPECT_EQ(r.outHiPlane, planes - 1);
          EXPECT_EQ(r.inputRate, IntToFixed(1));
          EXPECT_EQ(r.maskRate, IntToFixed(1));
        }
        EXPECT_EQ(host.params()->scale, 1.0f);
        EXPECT_EQ(host.params()->showDialog, 0);
        EXPECT_TRUE(host.RectsEmpty());
      }
}

TEST(StartRun, TheResultIsTheSecondAdvanceStateAndAnAbortStillHandsBack) {
  std::mt19937 rng(22);
  const oracle::Image document = SceneImage(rng, 50, 40, 3, 255, 255, 255, 30);
  const EffectSettings s = Settings(255, 255, 255, 60, 10, 0);
  FilterHost host(document, kFilterRect);
  host.advanceResults = {0, -30000};
  host.polling.abortAtCall = 10;  // stops before row 10
  EXPECT_EQ(host.Run(s), -30000);
  oracle::ScriptedHost expectedCalls;
  EXPECT_EQ(host.document.samples,
            ExpectedDocument(document, kFilterRect, s, expectedCalls, 10).samples);
  EXPECT_EQ(host.polling.calls, expectedCalls.calls);
  EXPECT_EQ(host.polling.calls.size(), 21u);
  EXPECT_EQ(host.requests.size(), 2u);
  EXPECT_TRUE(host.RectsEmpty());
}

TEST(StartRun, AFirstAdvanceStateErrorEndsTheRunUnrendered) {
  std::mt19937 rng(23);
  const oracle::Image document = SceneImage(rng, 50, 40, 4, 255, 255, 255, 50);
  FilterHost host(document, kFilterRect);
  host.advanceResults = {-108};
  host.record.maskRect = Rect{1, 1, 5, 5};
  EXPECT_EQ(host.Run(Settings(255, 255, 255, 50, 30, 0, 45, 4, 3.0f)), -108);
  EXPECT_EQ(host.requests.size(), 1u);
  EXPECT_TRUE(host.polling.calls.empty());
  EXPECT_EQ(host.document.samples, document.samples);
  EXPECT_EQ(host.params()->scale, 3.0f);  // not changed by Start
  EXPECT_TRUE(host.RectsEmpty());
}

TEST(StartRun, SuccessWithoutBuffersRendersNothing) {
  const oracle::Image document = SolidImage(50, 40, 3, 255);
  FilterHost host(document, kFilterRect);
  host.deliverNothing = true;
  host.advanceResults = {0, 7};
  EXPECT_EQ(host.Run(Settings(255, 255, 255, 50, 30, 1)), 7);
  EXPECT_EQ(host.requests.size(), 2u);
  EXPECT_TRUE(host.polling.calls.empty());
  EXPECT_EQ(host.document.samples, document.samples);
  EXPECT_TRUE(host.RectsEmpty());
}

// Some hosts start a run without Parameters: the defaults are created, kept for the next
// run, and applied without a dialog.
TEST(StartRun, WithoutAParameterRecordTheDefaultsRender) {
  std::mt19937 rng(24);
  const oracle::Image document = SceneImage(rng, 50, 40, 3, 255, 255, 255, 20);
  FilterHost host(document, kFilterRect);
  ASSERT_EQ(Handle(host.record.parameters), nullptr);  // a copy: the field is packed
  EXPECT_EQ(host.Run({}, false), 0);
  ASSERT_NE(host.params(), nullptr);
  EffectParams defaults = DefaultEffectParams();
  defaults.scale = 1.0f;
  EXPECT_EQ(std::memcmp(host.params(), &defaults, sizeof(EffectParams)), 0);
  oracle::ScriptedHost expectedCalls;
  const EffectSettings s = Settings(255, 255, 255, 5, 30, 0, 45, 4);
  EXPECT_EQ(host.document.samples,
            ExpectedDocument(document, kFilterRect, s, expectedCalls).samples);
  EXPECT_EQ(host.polling.calls, expectedCalls.calls);

  // The record stays with the host: the next run reuses it.
  void* kept = host.record.parameters;
  host.params()->radius = 12;
  host.document = document;
  EXPECT_EQ(host.Run({}, false), 0);
  EXPECT_EQ(Handle(host.record.parameters), kept);
  EXPECT_EQ(host.params()->radius, 12);
}

TEST(StartRun, AHostWithoutAbortOrProgressStillRendersFully) {
  std::mt19937 rng(25);
  const oracle::Image document = SceneImage(rng, 50, 40, 3, 0, 0, 0, 20);
  const EffectSettings s = Settings(0, 0, 0, 30, 20, 1, 10, 9);
  FilterHost host(document, kFilterRect);
  host.record.abortProc = nullptr;
  host.record.progressProc = nullptr;
  EXPECT_EQ(host.Run(s), 0);
  oracle::ScriptedHost expectedCalls;
  EXPECT_EQ(host.document.samples,
            ExpectedDocument(document, kFilterRect, s, expectedCalls).samples);
}

}  // namespace
