// Loads the real Corvanel.8bf as a host does: LoadLibrary, the PIPL resource, the entry
// found by the name the list gives, and the selectors a host sends.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "filterhost/PluginModule.h"
#include "host/EffectParams.h"
#include "host/PseudoHandle.h"
#include "tests/ExpectedPipl.h"
#include "tests/support/MessageBoxWatcher.h"
#include "tests/support/PluginPath_win.h"

namespace {

std::string g_otherPlugin;  // the .8bf of the other bitness, when given

// Every resource of a DLL read as a data file, by "type/name/language" (numbers as #N).
using Resources = std::map<std::string, std::vector<uint8_t>>;
Resources ResourcesOfDataFile(const std::string& path) {
  struct Walk {
    HMODULE module;
    Resources found;
    static std::string Id(LPCSTR id) {
      return IS_INTRESOURCE(id) ? "#" + std::to_string(uintptr_t(id)) : std::string(id);
    }
    static BOOL CALLBACK Language(HMODULE m, LPCSTR type, LPCSTR name, WORD lang, LONG_PTR walk) {
      HRSRC res = FindResourceExA(m, type, name, lang);
      auto* first = static_cast<const uint8_t*>(LockResource(LoadResource(m, res)));
      reinterpret_cast<Walk*>(walk)->found[Id(type) + "/" + Id(name) + "/" + std::to_string(lang)] =
          std::vector<uint8_t>(first, first + SizeofResource(m, res));
      return TRUE;
    }
    static BOOL CALLBACK Name(HMODULE m, LPCSTR type, LPSTR name, LONG_PTR walk) {
      return EnumResourceLanguagesA(m, type, name, Language, walk);
    }
    static BOOL CALLBACK Type(HMODULE m, LPSTR type, LONG_PTR walk) {
      return EnumResourceNamesA(m, type, Name, walk);
    }
  };
  Walk walk{LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE), {}};
  if (!walk.module) return {};
  EnumResourceTypesA(walk.module, Walk::Type, LONG_PTR(&walk));
  FreeLibrary(walk.module);
  return walk.found;
}

const char kPiplKey[] = "PIPL/#16000/1033";  // US English

class LoadedPlugin : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string error;
    plugin_ = PluginModule::Load(PluginBesideThisProgram(), &error).release();
    ASSERT_NE(plugin_, nullptr) << error;
  }
  int16_t Call(int16_t selector, FilterRecord* record) {
    int16_t result = 12345;
    plugin_->entry()(selector, record, &data_, &result);
    return result;
  }
  static PluginModule* plugin_;
  static intptr_t data_;
};
PluginModule* LoadedPlugin::plugin_ = nullptr;
intptr_t LoadedPlugin::data_ = 0;

TEST_F(LoadedPlugin, ThePropertyListReadsBackByteForByte) {
  EXPECT_EQ(plugin_->piplBytes(), ExpectedPiplBytes());
  // Every byte of the list before the scripting properties stays, but for the count.
  const std::vector<uint8_t> before = ExpectedPiplBytes(EntryPropertyOfThisBuild(), false);
  ASSERT_EQ(before.size(), 334u);
  ASSERT_GT(plugin_->piplBytes().size(), before.size());
  EXPECT_TRUE(std::equal(before.begin() + 10, before.end(), plugin_->piplBytes().begin() + 10));
  EXPECT_EQ(ResourcesOfDataFile(PluginBesideThisProgram())[kPiplKey], ExpectedPiplBytes());
  const PiplInfo& info = plugin_->pipl();
  ASSERT_EQ(info.properties.size(), 10u);
  for (const PiplProperty& p : info.properties) {
    EXPECT_EQ(p.vendor, FourCC('8', 'B', 'I', 'M'));
    EXPECT_EQ(p.id, 0u);
    EXPECT_EQ(p.data.size() % 4, 0u);
  }
  EXPECT_EQ(info.entryName, "ENTRYPOINT");
  EXPECT_EQ(info.name, "Corvanel...");
  EXPECT_EQ(info.category, "Tessory");
  EXPECT_EQ(info.supportedModes, 0x5FC0);
  EXPECT_EQ(info.properties[7].type, FourCC('e', 'n', 'b', 'l'));
  EXPECT_EQ(info.properties[8].type, FourCC('h', 's', 't', 'm'));
  EXPECT_EQ(info.properties[9].type, FourCC('f', 'l', 'l', 'y'));
  EXPECT_EQ(info.enableExpression, kExpectedEnableExpression);
  EXPECT_TRUE(info.enablesRGB48);
}

// The two plug-ins carry the same resources (dialog, version, ...) byte for byte,
// but for the entry property that names their architecture. One of the other bitness is
// refused before loading, saying so.
TEST_F(LoadedPlugin, ThePluginOfTheOtherBitnessCarriesTheSameResourcesAndIsRefused) {
  uint16_t machine = 0;
  std::string error;
  ASSERT_TRUE(ReadPeMachine(PluginBesideThisProgram(), &machine, &error)) << error;
  EXPECT_EQ(machine, kMachineOfThisBuild);
  if (g_otherPlugin.empty()) GTEST_SKIP() << "no plug-in of the other bitness given";
  const bool x64 = sizeof(void*) == 8;
  Resources ours = ResourcesOfDataFile(PluginBesideThisProgram());
  Resources theirs = ResourcesOfDataFile(g_otherPlugin);
  EXPECT_EQ(theirs[kPiplKey], ExpectedPiplBytes(x64 ? "wx86" : "8664")) << g_otherPlugin;
  PiplInfo info;
  ASSERT_TRUE(ParsePipl(theirs[kPiplKey].data(), theirs[kPiplKey].size(), &info, &error,
                        x64 ? kEntryPropertyX86 : kEntryPropertyX64))
      << error;
  EXPECT_TRUE(info.enablesRGB48);
  for (const char* key : {"#5/#102/1033", "#16/#1/1033", "AETE/#16000/1033"})
    EXPECT_EQ(ours.count(key), 1u) << "dialog and version: " << key;
  ours.erase(kPiplKey);
  theirs.erase(kPiplKey);
  EXPECT_EQ(ours, theirs);
  ASSERT_TRUE(ReadPeMachine(g_otherPlugin, &machine, &error)) << error;
  EXPECT_EQ(machine, x64 ? kMachineX86 : kMachineX64);
  EXPECT_EQ(PluginModule::Load(g_otherPlugin, &error), nullptr);
  EXPECT_NE(error.find(x64 ? "is a 32-bit (x86) plug-in" : "is a 64-bit (x64) plug-in"),
            std::string::npos)
      << error;
  EXPECT_NE(error.find("same bitness"), std::string::npos) << error;
}

TEST_F(LoadedPlugin, TheVersionResourceNamesMakerProductAndVersion) {
  std::string path = PluginBesideThisProgram();
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00020000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00020000u);
  char* text = nullptr;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904B0\\CompanyName",
                             reinterpret_cast<void**>(&text), &length));
  EXPECT_STREQ(text, "Tessory");
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904B0\\ProductName",
                             reinterpret_cast<void**>(&text), &length));
  EXPECT_STREQ(text, "Corvanel");
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904B0\\FileVersion",
                             reinterpret_cast<void**>(&text), &length));
  EXPECT_STREQ(text, "2, 0, 0, 1");
}

TEST_F(LoadedPlugin, TheSelectorsAnswerAsAHostExpects) {
  FilterRecord record{};
  EXPECT_EQ(Call(kSelectorFinish, &record), 0);
  ASSERT_NE(data_, 0);
  intptr_t block = data_;
  for (int16_t bad : {int16_t(6), int16_t(-1), int16_t(32767)})
    EXPECT_EQ(Call(bad, &record), kFilterBadParameters);
  EXPECT_EQ(data_, block);

  record.bufferSpace = 999;
  EXPECT_EQ(Call(kSelectorPrepare, &record), 0);
  EXPECT_EQ(record.bufferSpace, 0);

  record.inRect = record.outRect = record.maskRect = Rect{1, 2, 3, 4};
  EXPECT_EQ(Call(kSelectorContinue, &record), 0);
  for (const Rect& r : {record.inRect, record.outRect, record.maskRect})
    EXPECT_EQ(r.top | r.left | r.bottom | r.right, 0);

  EXPECT_EQ(Call(kSelectorParameters, &record), 0);
  ASSERT_NE(Handle(record.parameters), nullptr);  // copies: the field is packed
  void* handle = record.parameters;
  auto* params = ParamsFromHandle(handle);
  EXPECT_EQ(params->radius, 30);
  EXPECT_EQ(params->showDialog, 1);
  params->radius = 77;
  params->showDialog = 0;
  EXPECT_EQ(Call(kSelectorParameters, &record), 0);
  EXPECT_EQ(Handle(record.parameters), handle);
  EXPECT_EQ(params->radius, 77);
  EXPECT_EQ(params->showDialog, 1);

  EffectParams hostMade = DefaultEffectParams();
  hostMade.blue = 3;
  PseudoHandle hostHandle{&hostMade, kPseudoHandleSignature};
  FilterRecord other{};
  other.parameters = &hostHandle;
  EXPECT_EQ(Call(kSelectorParameters, &other), 0);
  EXPECT_EQ(hostMade.blue, 3);
  EXPECT_EQ(hostMade.showDialog, 1);
}

TEST_F(LoadedPlugin, AboutShowsExactlyOneBox) {
  MessageBoxWatcher watcher;
  FilterRecord about{};
  EXPECT_EQ(Call(kSelectorAbout, &about), 0);
  std::vector<SeenMessageBox> seen = watcher.Seen();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].title, "About");
  EXPECT_EQ(seen[0].text.substr(0, seen[0].text.find_first_of("\r\n")), "Corvanel");
  EXPECT_FALSE(seen[0].owned);
}

TEST_F(LoadedPlugin, StartWithoutAdvanceStateSaysInvalidHost) {
  MessageBoxWatcher watcher;
  FilterRecord record{};
  EXPECT_EQ(Call(kSelectorParameters, &record), 0);
  record.inRect = Rect{0, 0, 10, 10};
  EXPECT_EQ(Call(kSelectorStart, &record), kUserCancelled);
  std::vector<SeenMessageBox> seen = watcher.Seen();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].title, "Invalid Host");
  EXPECT_EQ(seen[0].text, "AdvanceStateProc not available in this plug-in host.");
  EXPECT_EQ(record.inRect.bottom, 0);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc > 1) g_otherPlugin = argv[1];
  return RUN_ALL_TESTS();
}
