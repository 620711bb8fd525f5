// The real plug-in (Corvanel.8bf under Wine; the linked-in entry natively) in hosts that
// record and play back its settings as descriptors, in hosts whose scripting cannot be used,
// and with descriptors a host or a script may hand it. Each run must end with an exact
// render of the settings it was meant to use, or an error that says why with nothing drawn;
// never a leaked or twice-disposed handle.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <ostream>
#include <random>

#include "filterhost/Descriptors.h"
#include "filterhost/FilterHost.h"
#include "filterhost/PluginModule.h"
#include "host/Terminology.h"
#include "tests/EngineTestSupport.h"
#ifdef _WIN32
#include <windows.h>

#include <atomic>
#include <thread>

#include "tests/support/PluginPath_win.h"
#include "tests/support/ProcessWindows_win.h"
#else
#include "dialog/NoDialog.h"
#endif

// Descriptors as a test failure shows them.
void PrintTo(const DescriptorItem& item, std::ostream* out) {
  *out << "'" << CodeText(item.key) << "' " << CodeText(item.type) << " ";
  switch (item.type) {
    case kTypeInteger:
    case kTypeBoolean:
      *out << item.integer;
      break;
    case kTypeFloat:
      *out << item.number;
      break;
    case kTypeEnumerated:
      *out << CodeText(item.kind) << ":" << CodeText(item.value);
      break;
    case kTypeObject:
      *out << CodeText(item.kind) << " {";
      for (const DescriptorItem& inner : item.object) {
        PrintTo(inner, out);
        *out << "; ";
      }
      *out << "}";
      break;
    default:
      *out << item.raw.size() << " bytes";
  }
}

namespace {

using Structure = ScriptingSetup::Structure;

PluginModule* Plugin() {
  static PluginModule* plugin = [] {
    std::string error;
#ifdef _WIN32
    CloseWindowsWithoutWaiting();
    std::unique_ptr<PluginModule> loaded = PluginModule::Load(PluginBesideThisProgram(), &error);
#else
    std::unique_ptr<PluginModule> loaded = PluginModule::Load("", &error);
#endif
    EXPECT_NE(loaded, nullptr) << error;
    return loaded.release();
  }();
  return plugin;
}

// Dialogs the plug-in opened, each closed with OK at once (natively: the stand-in's count).
// Under Wine, windows close at once only without a window manager's two-second wait.
class Dialogs {
 public:
#ifdef _WIN32
  Dialogs()
      : watcher_([this] {
          auto dialog = [](HWND window) {
            char title[64] = {};
            GetWindowTextA(window, title, sizeof title);
            return std::string(title) == "Tessory Corvanel";
          };
          while (!stop_) {
            if (HWND window = FindVisibleWindowOfThisProcess(dialog)) {
              ++shown_;
              SendMessageA(window, WM_COMMAND, IDOK, 0);
              // Until it is gone, so that one dialog is never counted twice.
              for (int i = 0; i < 500 && IsWindow(window) && IsWindowVisible(window); ++i)
                Sleep(10);
            }
            Sleep(10);
          }
        }) {}
  ~Dialogs() {
    stop_ = true;
    watcher_.join();
  }
  int Shown() {
    return shown_;
  }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<int> shown_{0};
  std::thread watcher_;
#else
  int Shown() {
    return DialogsAskedFor() - before_;
  }

 private:
  int before_ = DialogsAskedFor();
#endif
};

EffectParams Stored() {
  EffectParams p = DefaultEffectParams();
  p.red = 250, p.green = 200, p.blue = 90, p.threshold = 30, p.radius = 6;
  return p;
}

// Settings that differ from the stored ones in every field.
EffectParams Played() {
  EffectParams p = DefaultEffectParams();
  p.red = 255, p.green = 255, p.blue = 255, p.threshold = 40, p.radius = 9;
  p.mode = kModeSparkle, p.streaks = 5, p.angle = 20;
  return p;
}

DescriptorItem ColourItem(DescriptorKeyID key, double r, double g, double b) {
  return DescriptorItem::Object(
      key, kClassRGBColor,
      {DescriptorItem::Float(kKeyRed, r), DescriptorItem::Float(kKeyGreen, g),
       DescriptorItem::Float(kKeyBlue, b)});
}

// The settings as the host's own scripts would write them, in the plug-in's order.
Descriptor SettingsDescriptor(const EffectParams& p, const CustomColour& c = {}) {
  Descriptor d{ColourItem(kMatchParam.key, p.red, p.green, p.blue)};
  for (const ParamRange& range : kParamRanges)
    if (range.key) d.push_back(DescriptorItem::Integer(range.key, p.*range.field));
  d.push_back(
      DescriptorItem::Enum(kModeParam.key, kModeParam.enumType, kModeParam.valueKeys[p.mode]));
  d.push_back(ColourItem(kEffectColourParam.key, c.red, c.green, c.blue));
  d.push_back(DescriptorItem::Bool(kUseColourParam.key, c.use != 0));
  return d;
}

// The settings that change a render: the effect colour only with Use Color on (the dialog
// leaves the colour to match in it, which draws nothing while the flag is off).
Descriptor Rendering(Descriptor d) {
  const bool use = std::any_of(d.begin(), d.end(), [](const DescriptorItem& item) {
    return item.key == kUseColourParam.key && item.integer;
  });
  if (!use)
    std::erase_if(d, [](const DescriptorItem& item) { return item.key == kEffectColourParam.key; });
  return d;
}

std::vector<uint8_t> Bytes(const Descriptor& d) {
  return EncodeDescriptor(d);
}

Descriptor Without(Descriptor d, DescriptorKeyID key) {
  std::erase_if(d, [key](const DescriptorItem& item) { return item.key == key; });
  return d;
}

Descriptor With(Descriptor d, DescriptorItem item) {
  d.push_back(std::move(item));
  return d;
}

// One document and one host, with the scripting the case sets up.
struct ScriptedRun {
  explicit ScriptedRun(const ScriptingSetup& setup, const EffectParams& stored = Stored())
      : host(*Plugin()) {
    std::mt19937 rng(7);
    const oracle::Image scene = SceneImage(rng, 40, 30, 3, 250, 200, 90, 15);
    EXPECT_TRUE(host.SetImage(Image{scene.width, scene.height, scene.planes, scene.samples}));
    host.SetParams(stored);
    scripting.setup = setup;
    host.SetScripting(&scripting);
  }

  OSErr Go(bool parametersCalled) { return host.Run(parametersCalled); }

  // The document as the plain rules render it with these settings.
  std::vector<uint8_t> Rendered(const EffectParams& p, const CustomColour& c = {}) const {
    const Image& source = host.source();
    const oracle::Image document{source.width, source.height, source.planes, source.pixels,
                                 source.depth};
    const EffectSettings s{p.red,   p.green,   p.blue, p.threshold, p.radius,
                           p.angle, p.streaks, p.mode, 1.0f};
    oracle::FrameFlags flags;
    flags.useCustomColor = c.use != 0;
    flags.customRed = c.red, flags.customGreen = c.green, flags.customBlue = c.blue;
    oracle::ScriptedHost calls;
    return oracle::Render(document, s, flags, calls).samples;
  }

  // Every handle and token of the run closed, none disposed twice.
  void ExpectNothingLeft() const {
    EXPECT_EQ(scripting.LiveHandles(), 0u);
    EXPECT_EQ(scripting.OpenTokens(), 0u);
    EXPECT_EQ(scripting.badDisposals, 0);
  }

  FilterHost host;
  DescriptorHost scripting;
};

// The effect colour lasts as long as the plug-in stays loaded: every case starts from none.
void ForgetTheEffectColour() {
  ScriptingSetup setup;
  setup.playInfo = kPlaySilent;
  setup.descriptor = Bytes(SettingsDescriptor(Stored()));
  ScriptedRun run(setup);
  ASSERT_EQ(run.Go(false), kNoErr);
}

std::string Describe(Structure s, bool descriptor, int16_t playInfo, bool parameters) {
  const char* structures[] = {"no structure", "structure with null procs", "full structure"};
  return std::string(structures[int(s)]) + (descriptor ? ", a descriptor" : ", no descriptor") +
         ", playInfo " + std::to_string(playInfo) +
         (parameters ? ", Parameters called" : ", no Parameters");
}

// Every combination of what a host offers and asks: whether the dialog opens, what is
// rendered, and what is recorded. A host whose structure cannot be used sees the plug-in
// as it was before scripting.
TEST(Scripting, EveryHostStructureDescriptorAndPlayModeAsTheHostExpects) {
  for (Structure structure : {Structure::kNone, Structure::kNullProcs, Structure::kFull})
    for (bool descriptor : {false, true})
      for (int16_t playInfo : {kPlayDontDisplay, kPlayDisplay, kPlaySilent})
        for (bool parameters : {false, true}) {
          SCOPED_TRACE(Describe(structure, descriptor, playInfo, parameters));
          ForgetTheEffectColour();
          ScriptingSetup setup;
          setup.structure = structure;
          setup.playInfo = playInfo;
          if (descriptor) setup.descriptor = Bytes(SettingsDescriptor(Played()));
          ScriptedRun run(setup);
          Dialogs dialogs;
          ASSERT_EQ(run.Go(parameters), kNoErr);

          const bool scripted = structure == Structure::kFull;
          const bool played = scripted && descriptor;
          const bool dialog = !scripted ? parameters
                              : played  ? playInfo == kPlayDisplay
                                        : parameters && playInfo != kPlaySilent;
          const EffectParams used = played ? Played() : Stored();
          EXPECT_EQ(dialogs.Shown(), dialog ? 1 : 0);
          EXPECT_EQ(run.host.output().pixels, run.Rendered(used));
          EXPECT_EQ(run.scripting.recorded, scripted);
          if (scripted) {
            EXPECT_EQ(Rendering(run.scripting.descriptor), Rendering(SettingsDescriptor(used)));
            EXPECT_EQ(run.scripting.recordInfo, kRecordOptional);
          }
          EXPECT_EQ(run.scripting.handedDescriptorDisposed, played);
          run.ExpectNothingLeft();
        }
}

// Descriptors a host or a script may hand the plug-in, shown or silent. A descriptor that
// is not enough opens the dialog with what could be read, clamped as the dialog clamps; in
// a silent run it fails with a message and changes nothing.
TEST(Scripting, DescriptorsThatAreNotEnoughOpenTheDialogOrFailWithAMessage) {
  const Descriptor played = SettingsDescriptor(Played());
  EffectParams mixed = Played();
  mixed.radius = Stored().radius;  // kept from the stored settings
  EffectParams clamped = Played();
  clamped.radius = 100;
  EffectParams lastWins = Played();
  lastWins.threshold = 12;
  EffectParams keptMatch = Played();  // the colour to match kept from the stored settings
  keptMatch.red = Stored().red, keptMatch.green = Stored().green, keptMatch.blue = Stored().blue;
  EffectParams keptThreshold = Played();
  keptThreshold.threshold = Stored().threshold;
  const EffectParams stored = Stored();
  EffectParams rounded = Played();
  rounded.red = 128, rounded.green = 0;
  std::vector<uint8_t> huge =
      Bytes(With(played, DescriptorItem::Raw(FourCC('n', 'o', 'T', 'e'), kTypeText,
                                             std::vector<uint8_t>(8 << 20, 'x'))));
  std::vector<uint8_t> truncated = Bytes(played);
  truncated.resize(truncated.size() - 3);
  const CustomColour red{1, 255, 0, 0};

  struct Case {
    const char* name;
    std::vector<uint8_t> descriptor;
    bool enough;          // no dialog at playInfo 0, a render when silent
    EffectParams shown;   // what the dialog shows and the run renders
    std::string problem;  // in the silent run's message
    CustomColour colour = {};
    bool coercion = true;
  };
  const Case cases[] = {
      {"every setting", Bytes(played), true, Played(), ""},
      {"keys in another order, an unknown key, a repeated key: the last holds",
       Bytes(With(With(Descriptor(played.rbegin(), played.rend()),
                       DescriptorItem::Raw(FourCC('z', 'z', 'Z', 'z'), kTypeText, {'h', 'i'})),
                  DescriptorItem::Integer(kParamRanges[kParamThreshold].key, 12))),
       true, lastWins, ""},
      {"a huge handle", huge, true, Played(), ""},
      {"channels rounded to the nearest level",
       Bytes(With(Without(played, kMatchParam.key), ColourItem(kMatchParam.key, 127.6, 0.2, 255))),
       true, rounded, ""},
      {"the effect colour used", Bytes(SettingsDescriptor(Played(), red)), true, Played(), "",
       red},
      {"without the flag and the effect colour: the colour to match's",
       Bytes(Without(Without(played, kUseColourParam.key), kEffectColourParam.key)), true,
       Played(), ""},
      {"a whole number written as a float, with coercion",
       Bytes(With(Without(played, kParamRanges[kParamThreshold].key),
                  DescriptorItem::Float(kParamRanges[kParamThreshold].key, 40.0))),
       true, Played(), ""},
      {"... and without it",
       Bytes(With(Without(played, kParamRanges[kParamThreshold].key),
                  DescriptorItem::Float(kParamRanges[kParamThreshold].key, 40.0))),
       false, keptThreshold, "Threshold is not a whole number", {}, false},
      {"a setting missing", Bytes(Without(played, kParamRanges[kParamRadius].key)), false, mixed,
       "Radius is missing"},
      {"out of range",
       Bytes(With(Without(played, kParamRanges[kParamRadius].key),
                  DescriptorItem::Integer(kParamRanges[kParamRadius].key, 500))),
       false, clamped, "Radius 500 lies outside 0 to 100"},
      {"a mode that is none",
       Bytes(With(Without(played, kModeParam.key),
                  DescriptorItem::Enum(kModeParam.key, kModeParam.enumType, FourCC('b', 'l', 'u', 'R')))),
       false, [] {
         EffectParams p = Played();
         p.mode = Stored().mode;
         return p;
       }(), "Mode is not Glow or Sparkle"},
      {"a colour without its keys",
       Bytes(With(Without(played, kMatchParam.key),
                  DescriptorItem::Object(kMatchParam.key, kClassRGBColor, {}))),
       false, keptMatch, "Color to Match lacks its red, green or blue"},
      {"a colour of another class",
       Bytes(With(Without(played, kMatchParam.key),
                  DescriptorItem::Object(kMatchParam.key, FourCC('H', 'S', 'B', 'C'),
                                         SettingsDescriptor(Played())))),
       false, keptMatch, "Color to Match is not a colour"},
      {"a colour as a number", Bytes(With(Without(played, kMatchParam.key),
                                          DescriptorItem::Integer(kMatchParam.key, 255))),
       false, keptMatch, "Color to Match is not a colour"},
      {"a channel out of range",
       Bytes(With(Without(played, kMatchParam.key), ColourItem(kMatchParam.key, 300, 255, -4))),
       false, [] {
         EffectParams p = Played();
         p.blue = 0;
         return p;
       }(), "Color to Match lies outside 0 to 255"},
      {"the flag on without the effect colour", Bytes(Without(SettingsDescriptor(Played(), red),
                                                              kEffectColourParam.key)),
       false, Played(), "Effect Color is missing"},
      {"an empty handle", {}, false, Stored(), "Color to Match is missing"},
      {"a cut-off handle", truncated, false, Stored(), "the recorded settings could not be read"},
  };
  for (const Case& c : cases) {
    for (int16_t playInfo : {kPlayDontDisplay, kPlaySilent}) {
      SCOPED_TRACE(std::string(c.name) + (playInfo == kPlaySilent ? ", silent" : ", shown"));
      ForgetTheEffectColour();
      ScriptingSetup setup;
      setup.playInfo = playInfo;
      setup.descriptor = c.descriptor;
      setup.coercion = c.coercion;
      ScriptedRun run(setup);
      Dialogs dialogs;
      const OSErr result = run.Go(false);
      run.ExpectNothingLeft();
      EXPECT_TRUE(run.scripting.handedDescriptorDisposed);
      if (c.enough || playInfo != kPlaySilent) {
        EXPECT_EQ(result, kNoErr);
        EXPECT_EQ(dialogs.Shown(), c.enough ? 0 : 1);
        EXPECT_EQ(run.host.output().pixels, run.Rendered(c.shown, c.colour));
        // The settings read become the stored ones, and are recorded as rendered.
        EffectParams now = *run.host.params();
        now.scale = c.shown.scale, now.showDialog = c.shown.showDialog;
        EXPECT_EQ(std::memcmp(&now, &c.shown, sizeof now), 0);
        EXPECT_EQ(Rendering(run.scripting.descriptor),
                  Rendering(SettingsDescriptor(c.shown, c.colour)));
      } else {
        EXPECT_EQ(result, kErrReportString);
        EXPECT_EQ(dialogs.Shown(), 0);
        EXPECT_EQ(run.scripting.message,
                  "Corvanel cannot run with these settings: " + c.problem + ".");
        EXPECT_EQ(run.host.output().pixels, run.host.source().pixels);
        EXPECT_EQ(std::memcmp(run.host.params(), &stored, offsetof(EffectParams, scale)), 0);
        EXPECT_FALSE(run.scripting.recorded);
      }
    }
  }
}

// Without a buffer for its message, a silent run that cannot go on still fails.
TEST(Scripting, ASilentFailureWithoutAMessageBufferStillFails) {
  ScriptingSetup setup;
  setup.playInfo = kPlaySilent;
  setup.errorString = false;
  setup.descriptor = std::vector<uint8_t>{};
  ScriptedRun run(setup);
  EXPECT_EQ(run.Go(false), kFilterBadParameters);
  EXPECT_EQ(run.host.output().pixels, run.host.source().pixels);
  run.ExpectNothingLeft();
}

// An action with two steps of different settings: each recorded from a run with its dialog,
// each played back into a fresh parameter record without one, gives the pixels and the
// descriptor it was recorded with.
TEST(Scripting, TwoRecordedStepsPlayBackEachWithItsOwnSettings) {
  ForgetTheEffectColour();
  struct Step {
    EffectParams settings;
    std::vector<uint8_t> pixels;
    Descriptor descriptor;
  };
  Step steps[2] = {{Stored(), {}, {}}, {Played(), {}, {}}};
  for (Step& step : steps) {
    ScriptingSetup record;
    record.playInfo = kPlayDisplay;
    ScriptedRun run(record, step.settings);
    Dialogs dialogs;
    ASSERT_EQ(run.Go(true), kNoErr);
    EXPECT_EQ(dialogs.Shown(), 1);
    ASSERT_TRUE(run.scripting.recorded && run.scripting.recordedDecodes);
    step.pixels = run.host.output().pixels;
    step.descriptor = run.scripting.descriptor;
    EXPECT_EQ(step.pixels, run.Rendered(step.settings));
  }
  EXPECT_NE(steps[0].pixels, steps[1].pixels);
  for (int i : {0, 1, 0}) {
    ScriptingSetup play;
    play.descriptor = Bytes(steps[i].descriptor);
    ScriptedRun run(play);
    run.host.record().parameters = nullptr;  // a fresh parameter record
    Dialogs dialogs;
    ASSERT_EQ(run.Go(false), kNoErr);
    EXPECT_EQ(dialogs.Shown(), 0);
    EXPECT_EQ(run.host.output().pixels, steps[i].pixels);
    EXPECT_EQ(Rendering(run.scripting.descriptor), Rendering(steps[i].descriptor));
    run.ExpectNothingLeft();
  }
}

#ifdef _WIN32
std::vector<uint8_t> TerminologyOfThePlugin() {
  HMODULE module = static_cast<HMODULE>(Plugin()->nativeHandle());
  HRSRC res = FindResourceA(module, MAKEINTRESOURCEA(kTerminologyID), "AETE");
  if (!res) return {};
  auto* first = static_cast<const uint8_t*>(LockResource(LoadResource(module, res)));
  return std::vector<uint8_t>(first, first + SizeofResource(module, res));
}
#else
std::vector<uint8_t> TerminologyOfThePlugin() {
  return EncodeTerminology(CorvanelTerminology());
}
#endif

// The terminology the plug-in carries names the event its property list names, and declares
// every key the plug-in records, with the type it records it with.
TEST(Scripting, TheTerminologyDeclaresEveryKeyWithTheTypeRecorded) {
  const std::vector<uint8_t> bytes = TerminologyOfThePlugin();
  Terminology t;
  ASSERT_TRUE(DecodeTerminology(bytes.data(), bytes.size(), &t));
  EXPECT_EQ(EncodeTerminology(t), bytes);
  EXPECT_EQ(t.classID, kCorvanelClassID);
  EXPECT_EQ(t.eventID, kCorvanelEventID);
#ifdef _WIN32
  const PiplProperty* hstm = FindPiplProperty(Plugin()->pipl(), FourCC('h', 's', 't', 'm'));
  ASSERT_NE(hstm, nullptr);
  ASSERT_GE(hstm->data.size(), 15u);
  auto u32 = [&](size_t at) {
    return hstm->data[at] | hstm->data[at + 1] << 8 | hstm->data[at + 2] << 16 |
           uint32_t(hstm->data[at + 3]) << 24;
  };
  EXPECT_EQ(u32(0), 0u);
  EXPECT_EQ(u32(4), t.classID);
  EXPECT_EQ(u32(8), t.eventID);
  EXPECT_EQ(hstm->data[12] | hstm->data[13] << 8, kTerminologyID);
  EXPECT_STREQ(reinterpret_cast<const char*>(&hstm->data[14]), kTerminologyScope);
#endif

  ScriptingSetup setup;
  setup.descriptor = Bytes(SettingsDescriptor(Played(), CustomColour{1, 1, 2, 3}));
  ScriptedRun run(setup);
  ASSERT_EQ(run.Go(false), kNoErr);
  ASSERT_EQ(run.scripting.descriptor.size(), t.params.size());
  for (const DescriptorItem& item : run.scripting.descriptor) {
    auto declared = std::find_if(t.params.begin(), t.params.end(),
                                 [&](const TerminologyParam& p) { return p.key == item.key; });
    ASSERT_NE(declared, t.params.end()) << item.key;
    const bool byKind = item.type == kTypeObject || item.type == kTypeEnumerated;
    EXPECT_EQ(declared->type, byKind ? item.kind : item.type) << declared->name;
    EXPECT_EQ((declared->flags & kParamEnumerated) != 0, item.type == kTypeEnumerated);
    if (item.type != kTypeEnumerated) continue;
    ASSERT_EQ(t.enums.size(), 1u);
    EXPECT_EQ(t.enums[0].type, item.kind);
    bool found = false;
    for (const TerminologyEnum::Value& v : t.enums[0].values) found |= v.id == item.value;
    EXPECT_TRUE(found);
  }
  ForgetTheEffectColour();
}

}  // namespace
