// The real plug-in (Corvanel.8bf under Wine; the linked-in entry natively) driven through
// the command's filter host with the misbehaviours of hosts found in the wild switched on.
// Every case has one sound outcome: an exact render, or the host's own error code handed
// back with nothing drawn, and never a crash or a hang. The plain rules' render
// (tests/oracle) is the reference, for the pixels and for every abort and progress call.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "filterhost/PluginModule.h"
#include "host/EffectParams.h"
#include "host/KnownHosts.h"
#include "tests/EngineTestSupport.h"
#include "tests/support/TestHost.h"
#ifdef _WIN32
#include <windows.h>

#include "tests/support/MessageBoxWatcher.h"
#include "tests/support/PluginPath_win.h"
#else
#include "platform/NativeStandIns.h"
#include "tests/support/EntryCall.h"
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

oracle::Image Scene(int width, int height, int planes, uint32_t seed) {
  std::mt19937 rng(seed);
  return SceneImage(rng, width, height, planes, 250, 200, 90, 15);
}

// The same scene as a 16-bit document: each sample moved off its 8-bit value by less than
// half an 8-bit step, and one in forty above full intensity, as hosts that use the whole
// 16-bit range may hand them.
oracle::Image Deeper(const oracle::Image& scene, uint32_t seed) {
  oracle::Image deep = oracle::Widen(scene);
  std::mt19937 rng(seed);
  for (int y = 0; y < deep.height; ++y)
    for (int x = 0; x < deep.width; ++x)
      for (int k = 0; k < deep.planes; ++k) {
        const int32_t off = int32_t(rng() % 129) - 64;
        const int32_t v = int32_t(deep.Sample(x, y, k)) + off;
        deep.SetSample(x, y, k,
                       rng() % 40 == 0 ? kFullSixteen + 1 + rng() % 32767
                                       : uint32_t(std::clamp(v, 0, kFullSixteen)));
      }
  return deep;
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

// The document with the host's filter rectangle as the plain rules render it, with the
// abort answer at the host's poll number abortAtCall; *calls gets the polls and reports.
oracle::Image Expected(const TestHost& host, const EffectParams& p, oracle::ScriptedHost* calls) {
  const EffectSettings s{p.red,   p.green,   p.blue, p.threshold, p.radius,
                         p.angle, p.streaks, p.mode, p.scale};
  oracle::Image document{host.source().width, host.source().height, host.source().planes,
                         host.source().pixels, host.source().depth};
  return ExpectedDocument(document, host.FilterRect(), s, *calls, host.polling.abortAtCall);
}

bool Unchanged(const TestHost& host) {
  return host.output().pixels == host.source().pixels;
}

// Messages the plug-in showed, each dismissed at once: title and text.
class ShownBoxes {
 public:
  struct Box {
    std::string title, text;
  };
#ifdef _WIN32
  std::vector<Box> Seen() {
    std::vector<Box> boxes;
    for (const SeenMessageBox& box : watcher_.Seen()) boxes.push_back({box.title, box.text});
    return boxes;
  }

 private:
  MessageBoxWatcher watcher_;
#else
  ShownBoxes() {
    platform::ShownMessages().clear();
  }
  std::vector<Box> Seen() {
    std::vector<Box> boxes;
    for (const platform::ShownMessage& m : platform::ShownMessages())
      boxes.push_back({m.title, m.text});
    return boxes;
  }
#endif
 public:
  std::vector<std::string> Titles() {
    std::vector<std::string> titles;
    for (const Box& box : Seen()) titles.push_back(box.title);
    return titles;
  }
};

// Points the plug-in's settings folder at a fresh folder of the test's while it lives.
class ScratchSettingsFolder {
 public:
  ScratchSettingsFolder() {
    root_ = std::filesystem::temp_directory_path() /
            ("corvanel-settings-" + std::to_string(reinterpret_cast<uintptr_t>(this)));
    std::filesystem::remove_all(root_);
#ifdef _WIN32
    SetEnvironmentVariableW(L"APPDATA", root_.wstring().c_str());
    file_ = root_ / "Tessory" / "Corvanel" / "last-run.settings";
#else
    setenv("XDG_CONFIG_HOME", root_.string().c_str(), 1);
    file_ = root_ / "corvanel" / "last-run.settings";
#endif
  }
  ~ScratchSettingsFolder() {
#ifdef _WIN32
    SetEnvironmentVariableW(L"APPDATA", nullptr);
#else
    unsetenv("XDG_CONFIG_HOME");
#endif
    std::filesystem::remove_all(root_);
  }
  const std::filesystem::path& File() const {
    return file_;
  }
  void Write(const std::string& bytes) const {
    std::filesystem::create_directories(file_.parent_path());
    std::ofstream(file_, std::ios::binary) << bytes;
  }

 private:
  std::filesystem::path root_, file_;
};

// Runs that must come out exactly as the plain rules render them: result 0, two
// advanceState calls for exactly the filter rectangle, requests withdrawn, the input and
// the row padding untouched. Each case sets up its misbehaviour and runs one or more times.
struct ExactCase {
  const char* name;
  std::function<void(TestHost&)> setUp;  // may be null
  int runs;
  std::function<void(TestHost&, int run)> beforeRun;  // may be null
};

// A filter rectangle inside a 52 x 40 document, and what a preview left in the record.
void InsideWithStaleRequest(TestHost& h, int planes, int32_t padding, EffectParams p) {
  h.SetDocument(Scene(52, 40, planes, 20 + planes));
  h.quirks.filterRect = Rect{4, 6, 34, 46};
  h.quirks.staleRequest = Rect{0, 0, 10, 13};
  h.quirks.staleRate = IntToFixed(3);
  h.quirks.rowPadding = padding;
  p.scale = 3.0f;
  h.SetParams(p);
}

const ExactCase kExactCases[] = {
    {"well behaved", nullptr, 1, nullptr},
    {"no Finish ever", [](TestHost& h) { h.quirks.finish = false; }, 3, nullptr},
    {"parameters null at every Start: the defaults render",
     [](TestHost& h) { h.quirks.dropParameters = true; }, 2, nullptr},
    {"depth left 0 by a host older than the field: the mode tells",
     [](TestHost& h) { h.quirks.adjust = [](FilterRecord& r) { r.depth = 0; }; }, 1, nullptr},
    {"a record that ends before the depth field, garbage there: the mode tells",
     [](TestHost& h) { h.quirks.adjust = [](FilterRecord& r) { r.depth = int32_t(0xA5A5A5A5); }; },
     1, nullptr},
    {"the data word reset to 0 between runs", nullptr, 3,
     [](TestHost& h, int) { h.pluginData() = 0; }},
    {"data word 0 and parameters null at every run",
     [](TestHost& h) { h.quirks.dropParameters = true; }, 2,
     [](TestHost& h, int) { h.pluginData() = 0; }},
    {"garbage above the Boolean and OSErr results",
     [](TestHost& h) { h.quirks.garbageInResults = true; }, 2, nullptr},
    {"padded rows", [](TestHost& h) { h.quirks.rowPadding = 5; }, 1, nullptr},
    {"padded rows of four planes",
     [](TestHost& h) {
       h.quirks.rowPadding = 3;
       h.SetDocument(Scene(23, 17, 4, 8));
     },
     1, nullptr},
    {"packed rows with rowBytes left 0", [](TestHost& h) { h.quirks.rowBytesUnset = true; }, 1,
     nullptr},
    {"padding -3 on a request at the document's edge",
     [](TestHost& h) {
       h.quirks.edgePadding = kWantsErrorOnBoundsException;
       h.SetDocument(Scene(40, 30, 3, 9));
       h.quirks.filterRect = Rect{12, 20, 30, 40};  // bottom-right corner
     },
     1, nullptr},
    // Planes, mode and padding in pairs.
    {"glow inside the document after a reduced preview",
     [](TestHost& h) { InsideWithStaleRequest(h, 3, 0, Glow()); }, 1, nullptr},
    {"sparkle inside the document after a reduced preview, padded rows",
     [](TestHost& h) { InsideWithStaleRequest(h, 3, 3, Sparkle()); }, 1, nullptr},
    {"glow on four planes inside the document after a reduced preview, padded rows",
     [](TestHost& h) { InsideWithStaleRequest(h, 4, 3, Glow()); }, 1, nullptr},
    {"sparkle on four planes inside the document after a reduced preview",
     [](TestHost& h) { InsideWithStaleRequest(h, 4, 0, Sparkle()); }, 1, nullptr},
    {"no abortProc and no progressProc",
     [](TestHost& h) {
       h.quirks.noAbort = h.quirks.noProgress = true;
       h.SetParams(Sparkle());
     },
     1, nullptr},
    {"a run right after an aborted one", [](TestHost& h) { h.polling.abortAtCall = 7; }, 2,
     [](TestHost& h, int run) {
       if (run == 1) h.polling.abortAtCall = -1;
     }},
    // What third-party hosts are reported to do.
    {"a host that fills only the fields it knows: the rest zero, no padding, no suites",
     [](TestHost& h) {
       h.quirks.hostSig = kGimpPspiHostSig;
       h.quirks.edgePadding = 0;
       h.quirks.adjust = [](FilterRecord& r) {
         std::memset(r.opaqueAfterImageMode, 0, sizeof r.opaqueAfterImageMode);
         std::memset(r.opaqueAfterMaskPadding, 0, sizeof r.opaqueAfterMaskPadding);
         std::memset(r.opaqueBeforeDescriptorParameters, 0,
                     sizeof r.opaqueBeforeDescriptorParameters);
         r.opaqueAfterHostSig = r.opaqueAfterMaskRate = nullptr;
         r.opaqueAfterTransparencyMask[0] = r.opaqueAfterTransparencyMask[1] = nullptr;
         r.inLayerPlanes = r.inTransparencyMask = 0;
         r.handleProcs = nullptr;
         r.descriptorParameters = nullptr;
         r.errorString = nullptr;
         r.platformData = nullptr;
       };
     },
     1, nullptr},
    {"a selection's mask handed with its bounds, for the host to clip to (Paint.NET)",
     [](TestHost& h) {
       InsideWithStaleRequest(h, 4, 0, Sparkle());
       h.quirks.hostSig = FourCC('N', 'D', 'P', '.');
       h.quirks.adjust = [](FilterRecord& r) {
         static std::vector<uint8_t> ellipse;
         const int32_t w = r.filterRect.right - r.filterRect.left;
         const int32_t rows = r.filterRect.bottom - r.filterRect.top;
         ellipse.assign(size_t(w) * rows, 0);
         for (int32_t y = 0; y < rows; ++y)
           for (int32_t x = 0; x < w; ++x) {
             const double dx = (x + 0.5) / w - 0.5, dy = (y + 0.5) / rows - 0.5;
             ellipse[size_t(y) * w + x] = dx * dx + dy * dy < 0.25 ? 255 : 0;
           }
         r.haveMask = 1;
         r.maskData = ellipse.data();
         r.maskRowBytes = w;
       };
     },
     1, nullptr},
    {"an abort at the first row, any nonzero byte under garbage",
     [](TestHost& h) {
       h.SetDocument(Scene(19, 13, 4, 6));
       h.SetParams(Sparkle());
       h.quirks.garbageInResults = true;
       h.quirks.abortAnswer = 0x80;
       h.polling.abortAtCall = 0;
     },
     1, nullptr},
};

void PrintTo(const ExactCase& c, std::ostream* out) {
  *out << c.name;
}

class ExactRuns : public ::testing::TestWithParam<ExactCase> {};

// Each case in an 8-bit document, or in the same document at 16 bits.
void RunExactCase(const ExactCase& c, int depth) {
  const ScratchSettingsFolder settings;  // what hosts that forget records leave stays here
  std::unique_ptr<PluginModule> plugin = LoadPlugin();
  ASSERT_NE(plugin, nullptr);
  TestHost host(*plugin);
  host.SetDocument(Scene(31, 22, 3, 7));
  host.SetParams(Glow());
  if (c.setUp) c.setUp(host);
  if (depth == 16) {
    const Image& scene = host.source();
    ASSERT_TRUE(host.SetDocument(
        Deeper({scene.width, scene.height, scene.planes, scene.pixels}, uint32_t(scene.width))));
  }
  for (int run = 0; run < c.runs; ++run) {
    SCOPED_TRACE(::testing::Message() << c.name << ", run " << run);
    if (c.beforeRun) c.beforeRun(host, run);
    const bool defaults = host.quirks.dropParameters;
    const EffectParams used = defaults ? DefaultEffectParams() : *host.params();
    oracle::ScriptedHost calls;
    const oracle::Image expected = Expected(host, used, &calls);
    host.SetImage(Image(host.source()));  // the output as the source again
    EXPECT_EQ(host.Run(), kNoErr);
    EXPECT_EQ(host.requests.size(), 2u);
    EXPECT_TRUE(host.AskedForTheFilterRect());
    EXPECT_TRUE(host.RequestsWithdrawn());
    EXPECT_TRUE(host.inputKept);
    EXPECT_TRUE(host.paddingKept);
    EXPECT_NE(host.pluginData(), 0);
    EXPECT_TRUE(host.Output().samples == expected.samples) << "the output differs";
    const bool polled = !host.quirks.noAbort && !host.quirks.noProgress;
    EXPECT_EQ(host.polling.calls, polled ? calls.calls : std::vector<oracle::HostCall>{});
    EXPECT_EQ(host.params()->scale, 1.0f);
    EXPECT_EQ(host.params()->showDialog, 0);
    if (defaults) {
      // The record the plug-in made for the run is left with the host, with the defaults.
      EffectParams made = DefaultEffectParams();
      made.scale = 1.0f;
      ASSERT_NE(host.params(), nullptr);
      EXPECT_EQ(std::memcmp(host.params(), &made, sizeof made), 0);
    }
  }
}

TEST_P(ExactRuns, RenderExactlyAndWithdrawEveryRequest) {
  RunExactCase(GetParam(), 8);
}

TEST_P(ExactRuns, RenderExactlyAtSixteenBits) {
  RunExactCase(GetParam(), 16);
}

INSTANTIATE_TEST_SUITE_P(HostileHost, ExactRuns, ::testing::ValuesIn(kExactCases),
                         [](const ::testing::TestParamInfo<ExactCase>& info) {
                           std::string name;
                           for (const char* p = info.param.name; *p; ++p)
                             if (std::isalnum(static_cast<unsigned char>(*p))) name += *p;
                           return name;
                         });

// Runs the host ends: its error comes back unchanged, the requests are withdrawn and
// nothing of the run is taken. A preview's request is left in the record, and the stored
// scale is reset only by a Start that got its buffers.
struct FailingCase {
  const char* name;
  std::vector<OSErr> advanceResults;
  bool garbage;
  int abortAt;
  bool deliverNothing;
  OSErr result;
};

const FailingCase kFailingCases[] = {
    {"first advanceState fails", {kMemFullErr}, false, -1, false, kMemFullErr},
    {"second advanceState fails", {0, -4}, false, -1, false, -4},
    {"first fails, garbage above the code", {kMemFullErr}, true, -1, false, kMemFullErr},
    {"second fails, garbage above the code", {0, -30000}, true, -1, false, -30000},
    {"second fails after an abort at row 10", {0, -30000}, false, 10, false, -30000},
    {"success without buffers, then a code", {0, 7}, false, -1, true, 7},
};

TEST(HostileHost, AFailingAdvanceStateIsPassedOnAndNothingIsTaken) {
  std::unique_ptr<PluginModule> plugin = LoadPlugin();
  ASSERT_NE(plugin, nullptr);
  for (const FailingCase& c : kFailingCases) {
    SCOPED_TRACE(c.name);
    TestHost host(*plugin);
    host.SetDocument(Scene(50, 40, 4, 5));
    host.quirks.filterRect = Rect{4, 6, 34, 46};
    host.quirks.staleRequest = Rect{1, 1, 5, 5};
    EffectParams stored = Glow();
    stored.scale = 3.0f;
    host.SetParams(stored);
    host.quirks.advanceResults = c.advanceResults;
    host.quirks.garbageInResults = c.garbage;
    host.quirks.deliverNothing = c.deliverNothing;
    host.polling.abortAtCall = c.abortAt;
    oracle::ScriptedHost calls;
    Expected(host, stored, &calls);
    const bool rendered = c.advanceResults[0] == kNoErr && !c.deliverNothing;

    EXPECT_EQ(host.Run(), c.result);
    EXPECT_EQ(host.requests.size(), c.advanceResults.size());
    EXPECT_TRUE(host.RequestsWithdrawn());
    EXPECT_TRUE(Unchanged(host));
    EXPECT_EQ(host.polling.calls, rendered ? calls.calls : std::vector<oracle::HostCall>{});
    EXPECT_EQ(host.params()->scale, c.advanceResults[0] == kNoErr ? 1.0f : 3.0f);
    // The same plug-in then serves a well-behaved run exactly.
    host.quirks = HostQuirks{};
    host.quirks.filterRect = Rect{4, 6, 34, 46};
    host.polling.abortAtCall = -1;
    const oracle::Image expected = Expected(host, Glow(), &calls);
    EXPECT_EQ(host.Run(), kNoErr);
    EXPECT_TRUE(host.Output().samples == expected.samples);
  }
}

// Some hosts start a run without Parameters: the record the plug-in makes stays with the
// host and is used again by the next run.
TEST(HostileHost, TheRecordMadeForAStartWithoutParametersIsKept) {
  std::unique_ptr<PluginModule> plugin = LoadPlugin();
  ASSERT_NE(plugin, nullptr);
  TestHost host(*plugin);
  host.SetDocument(Scene(30, 20, 3, 3));
  host.quirks.dropParameters = true;
  EXPECT_EQ(host.Run(), kNoErr);
  const Handle kept = host.record().parameters;  // a copy: the field is packed
  ASSERT_NE(kept, nullptr);
  host.params()->radius = 12;
  host.quirks.dropParameters = false;
  EffectParams used = DefaultEffectParams();
  used.radius = 12;
  oracle::ScriptedHost calls;
  const oracle::Image expected = Expected(host, used, &calls);
  host.SetDocument(Scene(30, 20, 3, 3));
  EXPECT_EQ(host.Run(), kNoErr);
  EXPECT_EQ(Handle(host.record().parameters), kept);
  EXPECT_EQ(host.params()->radius, 12);
  EXPECT_TRUE(host.Output().samples == expected.samples);
}

TEST(HostileHost, AboutAsTheVeryFirstCallThenARun) {
  std::unique_ptr<PluginModule> plugin = LoadPlugin();  // freshly loaded under Wine
  ASSERT_NE(plugin, nullptr);
  TestHost host(*plugin);
  {
    ShownBoxes boxes;
    FilterRecord aboutRecord{};  // hosts pass a smaller record here, which nothing reads
    int16_t result = 12345;
    plugin->entry()(kSelectorAbout, &aboutRecord, &host.pluginData(), &result);
    EXPECT_EQ(result, kNoErr);
    EXPECT_EQ(boxes.Titles(), std::vector<std::string>{"About"});
    EXPECT_NE(host.pluginData(), 0);
  }
  host.SetDocument(Scene(25, 20, 3, 4));
  host.SetParams(Sparkle());
  oracle::ScriptedHost calls;
  const oracle::Image expected = Expected(host, Sparkle(), &calls);
  EXPECT_EQ(host.Run(), kNoErr);
  EXPECT_TRUE(host.Output().samples == expected.samples);
}

TEST(HostileHost, ImagesOfDifferentSizesInARowOnOneLoadedPlugin) {
  std::unique_ptr<PluginModule> plugin = LoadPlugin();
  ASSERT_NE(plugin, nullptr);
  TestHost host(*plugin);
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
    oracle::ScriptedHost calls;
    const oracle::Image expected = Expected(host, s.params, &calls);
    EXPECT_EQ(host.Run(), kNoErr);
    EXPECT_TRUE(host.Output().samples == expected.samples);
  }
}

// Hosts that drop the plug-in's error codes without a word (IrfanView): the plug-in tells
// the user itself and returns 1 (the user was told). Every other host gets the code and
// shows its own message; a cancel the user chose in the host needs no message.
TEST(HostileHost, AFailureIsToldWhereTheHostWouldStaySilent) {
  std::unique_ptr<PluginModule> plugin = LoadPlugin();
  ASSERT_NE(plugin, nullptr);
  struct Case {
    const char* name;
    OSType hostSig;
    std::vector<OSErr> advanceResults;
    OSErr result;
    const char* told;  // part of the message's text; null: no message
  };
  const Case cases[] = {
      {"IrfanView, no memory for the image",
       kIrfanViewHostSig,
       {kMemFullErr},
       kUserCancelled,
       "not enough memory"},
      {"IrfanView, the output refused",
       kIrfanViewHostSig,
       {0, -4},
       kUserCancelled,
       "the editor reported error -4"},
      {"IrfanView, the user cancelled in the host", kIrfanViewHostSig, {-128}, -128, nullptr},
      {"Photoshop, no memory", FourCC('8', 'B', 'I', 'M'), {kMemFullErr}, kMemFullErr, nullptr},
      {"GIMP's pspi, the output refused", kGimpPspiHostSig, {0, -4}, -4, nullptr},
      {"a host nobody knows", FourCC('N', 'O', 'N', 'E'), {0, -30000}, -30000, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestHost host(*plugin);
    host.SetDocument(Scene(20, 14, 3, 2));
    host.SetParams(Glow());
    host.quirks.hostSig = c.hostSig;
    host.quirks.advanceResults = c.advanceResults;
    ShownBoxes boxes;
    EXPECT_EQ(host.Run(), c.result);
    EXPECT_TRUE(Unchanged(host));
    EXPECT_TRUE(host.RequestsWithdrawn());
    const std::vector<ShownBoxes::Box> seen = boxes.Seen();
    if (!c.told) {
      EXPECT_TRUE(seen.empty());
      continue;
    }
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].title, "Corvanel");
    EXPECT_NE(seen[0].text.find(c.told), std::string::npos) << seen[0].text;
  }
#ifndef _WIN32
  // The plug-in's own allocation failing is told the same way.
  EntryCall call;
  call.record.hostSig = kIrfanViewHostSig;
  ShownBoxes boxes;
  platform::FailNextAllocations(1);
  EXPECT_EQ(call.Call(kSelectorParameters), kUserCancelled);
  platform::FailNextAllocations(0);
  ASSERT_EQ(boxes.Titles(), std::vector<std::string>{"Corvanel"});
#endif
}

// Hosts that hand no record back at the next run (GIMP's pspi, IrfanView) start it on the
// settings of the last run that went through on such a host, kept in the plug-in's file;
// hosts that keep the record never read or write the file.
TEST(HostileHost, HostsThatForgetTheRecordGetTheLastRunsSettings) {
  EffectParams last = Sparkle();
  last.threshold = 44, last.radius = 17, last.angle = 120, last.streaks = 9;
  struct Case {
    const char* name;
    OSType hostSig;
    std::vector<OSErr> firstRunAdvance;  // the run that would leave its settings
    std::string planted;                 // a file there before; empty: none
    bool recalled;                       // the second run draws `last`, else the defaults
  };
  // Our mark, the right size, every value out of range.
  const std::string foreign = "CVL1" + std::string(48, 'x');
  const Case cases[] = {
      {"GIMP's pspi", kGimpPspiHostSig, {}, "", true},
      {"IrfanView", kIrfanViewHostSig, {}, "", true},
      {"GIMP's pspi over a file not ours", kGimpPspiHostSig, {}, foreign, true},
      {"GIMP's pspi, a first run that failed", kGimpPspiHostSig, {kMemFullErr}, "", false},
      {"GIMP's pspi, a file not ours and nothing since",
       kGimpPspiHostSig,
       {kMemFullErr},
       foreign,
       false},
      {"a host that keeps the record", FourCC('N', 'O', 'N', 'E'), {}, "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ScratchSettingsFolder folder;
    if (!c.planted.empty()) folder.Write(c.planted);
    std::unique_ptr<PluginModule> plugin = LoadPlugin();
    ASSERT_NE(plugin, nullptr);
    {
      TestHost host(*plugin);
      host.SetDocument(Scene(24, 18, 3, 5));
      host.SetParams(last);
      host.quirks.hostSig = c.hostSig;
      host.quirks.advanceResults = c.firstRunAdvance;
      ShownBoxes boxes;  // IrfanView's failures are told
      host.Run();
    }
    EXPECT_EQ(std::filesystem::exists(folder.File()), c.recalled || !c.planted.empty());
    // The next run starts without a record, as from a new process.
    TestHost host(*plugin);
    host.SetDocument(Scene(24, 18, 3, 6));
    host.quirks.hostSig = c.hostSig;
    host.quirks.dropParameters = true;
    EffectParams expectedParams = c.recalled ? last : DefaultEffectParams();
    oracle::ScriptedHost calls;
    const oracle::Image expected = Expected(host, expectedParams, &calls);
    EXPECT_EQ(host.Run(), kNoErr);
    EXPECT_TRUE(host.Output().samples == expected.samples);
    ASSERT_NE(host.params(), nullptr);
    EXPECT_EQ(host.params()->radius, expectedParams.radius);
    EXPECT_EQ(host.params()->mode, expectedParams.mode);
  }
}

}  // namespace
