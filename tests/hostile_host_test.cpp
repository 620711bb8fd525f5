// The real plug-in (Corvanel.8bf under Wine; the linked-in entry natively) driven by hosts
// that misbehave as hosts found in the wild do. Every case has one sound outcome: an exact
// render, or the host's own error code handed back with nothing drawn, and never a crash
// or a hang. The plain rules' render (tests/oracle) is the reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <memory>
#include <random>

#include "filterhost/PluginModule.h"
#include "host/EffectParams.h"
#include "tests/EngineTestSupport.h"
#ifdef _WIN32
#include "tests/support/MessageBoxWatcher.h"
#include "tests/support/PluginPath_win.h"
#else
#include "platform/NativeStandIns.h"
#endif

namespace {

std::unique_ptr<PluginModule> LoadPlugin() {
  std::string error;
#ifdef _WIN32
  std::unique_ptr<PluginModule> plugin = PluginModule::Load(PluginBesideThisProgram(), &error);
#else
  std::unique_ptr<PluginModule> plugin = PluginModule::Load("", &error);
#endif
  EXPECT_NE(plugin, nullptr) << error;
  return plugin;
}

// Mostly pixels near the colour to match, the rest noise.
oracle::Image Scene(int width, int height, int planes, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> byte(0, 255), pct(0, 99), jitter(-10, 10);
  oracle::Image image{width, height, planes, std::vector<uint8_t>(size_t(width) * height * planes)};
  const int centre[3] = {250, 200, 90};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const bool nearby = pct(rng) < 15;
      for (int k = 0; k < planes; ++k)
        image.At(x, y, k) =
            uint8_t(k < 3 && nearby ? std::clamp(centre[k] + jitter(rng), 0, 255) : byte(rng));
    }
  return image;
}

EffectParams Glow() {
  EffectParams p = DefaultEffectParams();
  p.red = 250, p.green = 200, p.blue = 90, p.threshold = 30, p.radius = 6;
  return p;
}

EffectParams Sparkle() {
  EffectParams p = Glow();
  p.mode = kModeSparkle, p.radius = 9, p.streaks = 5, p.angle = 20;
  return p;
}

// The document with its filter rectangle as the plain rules render it; the abort answer
// comes at poll number abortAtPoll (-1: never).
oracle::Image Expected(const oracle::Image& document, const Rect& r, const EffectParams& p,
                       int abortAtPoll = -1) {
  const EffectSettings s{p.red,   p.green,   p.blue, p.threshold, p.radius,
                         p.angle, p.streaks, p.mode, p.scale};
  oracle::ScriptedHost polling;
  return ExpectedDocument(document, r, s, polling, abortAtPoll);
}

// Garbage that a host leaves above a callback's result: the Boolean is the low byte, the
// OSErr the low 16 bits. The callbacks below return a wider type and are reached through a
// pointer of the narrower one, so the garbage really is in the register the plug-in reads
// (eax, or rax on x64); only the plug-in's own reading of the low bits can save it.
constexpr uint64_t kBooleanGarbage = 0xDEADBEEFCAFEBE00ull;
constexpr uint64_t kOSErrGarbage = 0xDEADBEEFCAFE0000ull;

#if defined(__clang__)
// UBSan checks the type of a function called through a pointer; these are meant to differ.
#define RETURNS_WIDER_TYPE __attribute__((no_sanitize("function")))
#else
#define RETURNS_WIDER_TYPE
#endif

// A host that serves one document in one loaded plug-in, its misbehaviours switchable.
class HostileHost {
 public:
  explicit HostileHost(const PluginModule& plugin) : entry_(plugin.entry()) {}
  ~HostileHost() { current_ = nullptr; }

  // The document and the filter rectangle (the whole document unless given).
  void SetDocument(const oracle::Image& document, Rect filter = {}) {
    source = output = document;
    if (filter.right == 0) filter = Rect{0, 0, int16_t(document.height), int16_t(document.width)};
    filterRect = filter;
  }
  // Stored settings in a host-made handle, applied without a dialog.
  void SetParams(const EffectParams& p) {
    stored_ = p;
    stored_.showDialog = 0;
    record.parameters = &handle_;
  }

  // Misbehaviours.
  int rowPadding = 0;                // extra bytes after every delivered row
  int16_t padding = -1;              // inputPadding, outputPadding and maskPadding
  std::vector<OSErr> advanceErrors;  // what the n-th advanceState of a run fails with; 0 serves
  int abortAtPoll = -1;              // abortProc answers true at this poll of a run
  bool garbageInResults = false;     // callbacks leave garbage above their results
  bool callFinish = true;

  FilterRecord record{};
  intptr_t data = 0;
  oracle::Image source, output;
  Rect filterRect{};
  int advanceCalls = 0;
  int polls = 0;

  int16_t Call(int16_t selector) {
    int16_t result = 12345;
    entry_(selector, &record, &data, &result);
    return result;
  }

  // Prepare, Start, advanceState and Continue while a request is left, then Finish.
  OSErr Run() {
    current_ = this;
    advanceCalls = polls = 0;
    record.planes = int16_t(source.planes);
    record.filterRect = filterRect;
    record.inputPadding = record.outputPadding = record.maskPadding = padding;
    record.hostSig = 0x4E4F4E45;  // none the plug-in knows
    record.abortProc = garbageInResults
                           ? reinterpret_cast<TestAbortProc>(reinterpret_cast<void*>(&WideAbort))
                           : &Abort;
    record.advanceState =
        garbageInResults ? reinterpret_cast<AdvanceStateProc>(reinterpret_cast<void*>(&WideAdvance))
                         : &Advance;
    record.progressProc = [](int32_t, int32_t) {};
    record.displayPixels = [](const PSPixelMap*, const VRect*, int32_t, int32_t, void*) {
      return OSErr(0);
    };
    OSErr result = Call(kSelectorPrepare);
    if (result == kNoErr) result = Call(kSelectorStart);
    while (result == kNoErr && !(Empty(record.inRect) && Empty(record.outRect))) {
      result = AdvanceState();
      if (result == kNoErr) result = Call(kSelectorContinue);
    }
    if (result == kNoErr && callFinish) result = Call(kSelectorFinish);
    record.inData = record.outData = nullptr;  // the buffers end with the run
    pending_ = false;
    return result;
  }

  bool RequestsEmpty() const {
    for (const Rect& r : {record.inRect, record.outRect, record.maskRect})
      if (r.top | r.left | r.bottom | r.right) return false;
    return true;
  }

 private:
  static bool Empty(const Rect& r) { return r.right <= r.left || r.bottom <= r.top; }

  // Copies rect of planes lo..hi out of image with rows of width * planes + rowPadding
  // bytes; the padding is 0xA5 and must come back so. False for a request the host cannot
  // serve: planes it does not have, or pixels outside the document when padding is -3.
  // The record's fields are written only by the caller: the record may be packed.
  struct Buffer {
    void* data = nullptr;
    int32_t rowBytes = 0;
  };
  bool Deliver(const oracle::Image& image, const Rect& rect, int16_t lo, int16_t hi,
               std::vector<uint8_t>& buffer, Buffer* out) {
    *out = Buffer{};
    if (Empty(rect)) return true;
    const bool inside =
        rect.left >= 0 && rect.top >= 0 && rect.right <= image.width && rect.bottom <= image.height;
    EXPECT_TRUE(inside) << "the plug-in asked for pixels outside the document";
    if (lo < 0 || hi < lo || hi >= image.planes || !inside) return false;
    const int planes = hi - lo + 1;
    const int stride = (rect.right - rect.left) * planes + rowPadding;
    buffer.assign(size_t(stride) * (rect.bottom - rect.top), 0xA5);
    for (int y = rect.top; y < rect.bottom; ++y)
      for (int x = rect.left; x < rect.right; ++x)
        for (int k = 0; k < planes; ++k)
          buffer[size_t(y - rect.top) * stride + size_t(x - rect.left) * planes + k] =
              image.At(x, y, lo + k);
    *out = Buffer{buffer.data(), stride};
    return true;
  }

  void WriteBack() {
    if (!pending_) return;
    pending_ = false;
    const Rect& r = served_;
    const int planes = servedHi_ - servedLo_ + 1;
    const int packed = (r.right - r.left) * planes;
    const int stride = packed + rowPadding;
    for (int y = r.top; y < r.bottom; ++y) {
      const uint8_t* row = out_.data() + size_t(y - r.top) * stride;
      for (int x = r.left; x < r.right; ++x)
        for (int k = 0; k < planes; ++k)
          output.At(x, y, servedLo_ + k) = row[size_t(x - r.left) * planes + k];
      for (int p = packed; p < stride; ++p)
        EXPECT_EQ(row[p], 0xA5) << "the plug-in wrote into the padding of row " << y;
    }
  }

  OSErr AdvanceState() {
    ++advanceCalls;
    FilterRecord& r = record;
    EXPECT_EQ(r.inputRate, IntToFixed(1));
    const size_t call = size_t(advanceCalls - 1);
    const OSErr planned = call < advanceErrors.size() ? advanceErrors[call] : kNoErr;
    if (planned != kNoErr) {
      r.inData = r.outData = nullptr;
      return planned;  // the written output is not taken either
    }
    WriteBack();
    Buffer in, out;
    const bool served = Deliver(source, r.inRect, r.inLoPlane, r.inHiPlane, in_, &in) &&
                        Deliver(output, r.outRect, r.outLoPlane, r.outHiPlane, out_, &out);
    r.inData = served ? in.data : nullptr;
    r.outData = served ? out.data : nullptr;
    r.inRowBytes = in.rowBytes;
    r.outRowBytes = out.rowBytes;
    if (!served) return kFilterBadParameters;
    pending_ = r.outData != nullptr;
    served_ = r.outRect, servedLo_ = r.outLoPlane, servedHi_ = r.outHiPlane;
    return kNoErr;
  }

  bool PollAbort() { return polls++ == abortAtPoll; }

  static Boolean Abort() { return current_->PollAbort() ? 1 : 0; }
  static OSErr Advance() { return current_->AdvanceState(); }
  RETURNS_WIDER_TYPE static uint64_t WideAbort() {
    return kBooleanGarbage | (current_->PollAbort() ? 1 : 0);
  }
  RETURNS_WIDER_TYPE static uint64_t WideAdvance() {
    return kOSErrGarbage | uint16_t(current_->AdvanceState());
  }

  static HostileHost* current_;
  PluginEntryProc entry_;
  EffectParams stored_{};
  PseudoHandle handle_{&stored_, kPseudoHandleSignature};
  std::vector<uint8_t> in_, out_;
  bool pending_ = false;
  Rect served_{};
  int16_t servedLo_ = 0, servedHi_ = 0;
};
HostileHost* HostileHost::current_ = nullptr;

// Messages the plug-in showed, each dismissed at once.
class ShownBoxes {
 public:
#ifdef _WIN32
  std::vector<std::string> Titles() {
    std::vector<std::string> titles;
    for (const SeenMessageBox& box : watcher_.Seen()) titles.push_back(box.title);
    return titles;
  }

 private:
  MessageBoxWatcher watcher_;
#else
  ShownBoxes() {
    platform::ShownMessages().clear();
  }
  std::vector<std::string> Titles() {
    std::vector<std::string> titles;
    for (const platform::ShownMessage& m : platform::ShownMessages()) titles.push_back(m.title);
    return titles;
  }
#endif
};

// Runs that must come out exactly as the plain rules render them, result 0, requests
// withdrawn. Each case sets up one misbehaviour and runs the plug-in one or more times;
// every run is checked.
struct ExactCase {
  const char* name;
  std::function<void(HostileHost&)> setUp;
  int runs;
  std::function<void(HostileHost&, int run)> beforeRun;  // may be null
};

const ExactCase kExactCases[] = {
    {"well behaved", nullptr, 1, nullptr},
    {"no Finish ever", [](HostileHost& h) { h.callFinish = false; }, 3, nullptr},
    {"parameters null at every Start: the defaults render", nullptr, 2,
     [](HostileHost& h, int) { h.record.parameters = nullptr; }},
    {"the data word reset to 0 between runs", nullptr, 3, [](HostileHost& h, int) { h.data = 0; }},
    {"data word 0 and parameters null at every run", nullptr, 2,
     [](HostileHost& h, int) {
       h.data = 0;
       h.record.parameters = nullptr;
     }},
    {"garbage above the Boolean and OSErr results",
     [](HostileHost& h) { h.garbageInResults = true; }, 2, nullptr},
    {"padded rows", [](HostileHost& h) { h.rowPadding = 5; }, 1, nullptr},
    {"padded rows of four planes",
     [](HostileHost& h) {
       h.rowPadding = 3;
       h.SetDocument(Scene(23, 17, 4, 8));
     },
     1, nullptr},
    {"padding -3 on a request at the document's edge",
     [](HostileHost& h) {
       h.padding = -3;
       h.SetDocument(Scene(40, 30, 3, 9), Rect{12, 20, 30, 40});  // bottom-right corner
     },
     1, nullptr},
    {"a run right after an aborted one", [](HostileHost& h) { h.abortAtPoll = 7; }, 2,
     [](HostileHost& h, int run) {
       if (run == 1) h.abortAtPoll = -1;
     }},
};

void PrintTo(const ExactCase& c, std::ostream* out) {
  *out << c.name;
}

class ExactRuns : public ::testing::TestWithParam<ExactCase> {};

TEST_P(ExactRuns, RenderExactlyAndWithdrawEveryRequest) {
  const ExactCase& c = GetParam();
  std::unique_ptr<PluginModule> plugin = LoadPlugin();
  ASSERT_NE(plugin, nullptr);
  HostileHost host(*plugin);
  host.SetDocument(Scene(31, 22, 3, 7));
  host.SetParams(Glow());
  if (c.setUp) c.setUp(host);
  for (int run = 0; run < c.runs; ++run) {
    SCOPED_TRACE(::testing::Message() << c.name << ", run " << run);
    if (c.beforeRun) c.beforeRun(host, run);
    const bool defaults = host.record.parameters == nullptr;
    const int abortAt = host.abortAtPoll;
    host.output = host.source;
    EXPECT_EQ(host.Run(), kNoErr);
    EXPECT_EQ(host.advanceCalls, 2);
    EXPECT_TRUE(host.RequestsEmpty());
    EXPECT_NE(host.data, 0);
    const EffectParams used = defaults ? DefaultEffectParams() : Glow();
    const oracle::Image expected = Expected(host.source, host.filterRect, used, abortAt);
    EXPECT_TRUE(host.output.samples == expected.samples) << "the output differs";
    if (defaults) {
      // The record the plug-in made for the run is left with the host.
      ASSERT_NE(Handle(host.record.parameters), nullptr);  // a copy: the field is packed
      EXPECT_EQ(ParamsFromHandle(host.record.parameters)->radius, DefaultEffectParams().radius);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(HostileHost, ExactRuns, ::testing::ValuesIn(kExactCases),
                         [](const ::testing::TestParamInfo<ExactCase>& info) {
                           std::string name;
                           for (const char* p = info.param.name; *p; ++p)
                             if (std::isalnum(static_cast<unsigned char>(*p))) name += *p;
                           return name;
                         });

// Runs the host ends: its error comes back unchanged and nothing of the run is drawn.
struct FailingCase {
  const char* name;
  std::vector<OSErr> advanceErrors;
  bool garbage;
  OSErr result;
  int advanceCalls;
};

const FailingCase kFailingCases[] = {
    {"first advanceState fails", {kMemFullErr}, false, kMemFullErr, 1},
    {"second advanceState fails", {0, -4}, false, -4, 2},
    {"first fails, garbage above the code", {kMemFullErr}, true, kMemFullErr, 1},
    {"second fails, garbage above the code", {0, -30000}, true, -30000, 2},
};

TEST(HostileHost, AFailingAdvanceStateIsPassedOnAndNothingIsTaken) {
  std::unique_ptr<PluginModule> plugin = LoadPlugin();
  ASSERT_NE(plugin, nullptr);
  for (const FailingCase& c : kFailingCases) {
    SCOPED_TRACE(c.name);
    HostileHost host(*plugin);
    host.SetDocument(Scene(19, 13, 3, 5));
    host.SetParams(Glow());
    host.advanceErrors = c.advanceErrors;
    host.garbageInResults = c.garbage;
    EXPECT_EQ(host.Run(), c.result);
    EXPECT_EQ(host.advanceCalls, c.advanceCalls);
    EXPECT_TRUE(host.RequestsEmpty());
    EXPECT_TRUE(host.output.samples == host.source.samples);
    // The same plug-in then serves a well-behaved run exactly.
    host.advanceErrors.clear();
    EXPECT_EQ(host.Run(), kNoErr);
    EXPECT_TRUE(host.output.samples == Expected(host.source, host.filterRect, Glow()).samples);
  }
}

TEST(HostileHost, AnAbortAtTheFirstRowHandsBackTheUnchangedCopy) {
  std::unique_ptr<PluginModule> plugin = LoadPlugin();
  ASSERT_NE(plugin, nullptr);
  for (bool garbage : {false, true}) {
    HostileHost host(*plugin);
    host.SetDocument(Scene(19, 13, 4, 6));
    host.SetParams(Sparkle());
    host.garbageInResults = garbage;
    host.abortAtPoll = 0;
    EXPECT_EQ(host.Run(), kNoErr);  // the second advanceState's answer, as always
    EXPECT_EQ(host.polls, 1) << garbage;
    EXPECT_TRUE(host.output.samples == host.source.samples) << garbage;
  }
}

TEST(HostileHost, AboutAsTheVeryFirstCallThenARun) {
  std::unique_ptr<PluginModule> plugin = LoadPlugin();  // freshly loaded under Wine
  ASSERT_NE(plugin, nullptr);
  HostileHost host(*plugin);
  {
    ShownBoxes boxes;
    FilterRecord aboutRecord{};  // hosts pass a smaller record here, which nothing reads
    int16_t result = 12345;
    plugin->entry()(kSelectorAbout, &aboutRecord, &host.data, &result);
    EXPECT_EQ(result, kNoErr);
    EXPECT_EQ(boxes.Titles(), std::vector<std::string>{"About"});
    EXPECT_NE(host.data, 0);
  }
  host.SetDocument(Scene(25, 20, 3, 4));
  host.SetParams(Sparkle());
  EXPECT_EQ(host.Run(), kNoErr);
  EXPECT_TRUE(host.output.samples == Expected(host.source, host.filterRect, Sparkle()).samples);
}

TEST(HostileHost, ImagesOfDifferentSizesInARowOnOneLoadedPlugin) {
  std::unique_ptr<PluginModule> plugin = LoadPlugin();
  ASSERT_NE(plugin, nullptr);
  HostileHost host(*plugin);
  struct Size {
    int width, height, planes;
    EffectParams params;
  };
  const Size sizes[] = {{64, 48, 3, Glow()},   {7, 5, 4, Glow()},     {1, 1, 3, Glow()},
                        {80, 3, 3, Sparkle()}, {9, 70, 4, Sparkle()}, {64, 48, 3, Glow()}};
  uint32_t seed = 11;
  for (const Size& s : sizes) {
    SCOPED_TRACE(::testing::Message() << s.width << " x " << s.height << " x " << s.planes);
    host.SetDocument(Scene(s.width, s.height, s.planes, seed++));
    host.SetParams(s.params);
    EXPECT_EQ(host.Run(), kNoErr);
    EXPECT_TRUE(host.output.samples == Expected(host.source, host.filterRect, s.params).samples);
  }
}

}  // namespace
