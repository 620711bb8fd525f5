// The property-list reader on the list Corvanel carries and on broken ones.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "filterhost/Pipl.h"
#include "filterhost/PluginModule.h"
#include "tests/ExpectedPipl.h"

namespace {

std::string Reject(const std::vector<uint8_t>& bytes) {
  PiplInfo info;
  std::string error;
  EXPECT_FALSE(ParsePipl(bytes.data(), bytes.size(), &info, &error));
  return error;
}

// Offset of the data of property `n` (0-based) in the expected list.
size_t DataOffset(int n) {
  std::vector<uint8_t> b = ExpectedPiplBytes();
  size_t at = 10;
  for (int i = 0; i < n; ++i) at += 16 + b[at + 12];
  return at + 16;
}

// Each plug-in's list read by a host of its own architecture, and refused, naming both
// architectures, by a host of the other.
TEST(Pipl, ReadsEachArchitecturesListAndRefusesTheOther) {
  struct Arch {
    const char* code;
    OSType property, other;
    const char* onlyFor;
  };
  for (const Arch& a : {Arch{"wx86", kEntryPropertyX86, kEntryPropertyX64, "only for 32-bit"},
                        Arch{"8664", kEntryPropertyX64, kEntryPropertyX86, "only for 64-bit"}}) {
    std::vector<uint8_t> bytes = ExpectedPiplBytes(a.code);
    PiplInfo info;
    std::string error;
    ASSERT_TRUE(ParsePipl(bytes.data(), bytes.size(), &info, &error, a.property)) << error;
    EXPECT_EQ(info.entryName, "ENTRYPOINT");
    EXPECT_EQ(info.name, "Corvanel...");
    EXPECT_EQ(info.category, "Tessory");
    EXPECT_EQ(info.interfaceVersion, 0x00040000u);
    EXPECT_EQ(info.supportedModes, 0x5FC0);
    EXPECT_EQ(info.filterCaseInfo.size(), 28u);
    EXPECT_EQ(info.enableExpression, kExpectedEnableExpression);
    EXPECT_TRUE(info.enablesRGB48);
    EXPECT_FALSE(ParsePipl(bytes.data(), bytes.size(), &info, &error, a.other));
    EXPECT_NE(error.find(a.onlyFor), std::string::npos) << error;
  }
}

TEST(Pipl, RefusesTruncatedListsAndWrongLengths) {
  std::vector<uint8_t> good = ExpectedPiplBytes();
  for (size_t cut : {size_t(0), size_t(5), size_t(20), good.size() - 1}) {
    std::vector<uint8_t> b(good.begin(), good.begin() + long(cut));
    EXPECT_FALSE(Reject(b).empty()) << cut;
  }
  std::vector<uint8_t> b = good;
  b[10 + 12] = 6;  // kind's length: not a multiple of 4
  EXPECT_NE(Reject(b).find("multiple of 4"), std::string::npos);
  b = good;
  b[10 + 12] = 200;  // past the end
  EXPECT_NE(Reject(b).find("past the end"), std::string::npos);
  b = good;
  b[6] = 11;  // one property more than there is
  EXPECT_NE(Reject(b).find("truncated"), std::string::npos);
  b = good;
  b.push_back(0);
  EXPECT_NE(Reject(b).find("after its last"), std::string::npos);
  b = good;
  b[DataOffset(1)] = 40;  // name's counted string longer than its 12 bytes
  EXPECT_NE(Reject(b).find("counted string"), std::string::npos);
  b = good;
  b[DataOffset(6) - 4] = 24;  // six filter cases instead of seven
  b.erase(b.begin() + long(DataOffset(6)), b.begin() + long(DataOffset(6)) + 4);
  EXPECT_NE(Reject(b).find("filter cases"), std::string::npos);
}

TEST(Pipl, RefusesAMissingEntryNameWrongKindAndModes) {
  std::vector<uint8_t> good = ExpectedPiplBytes();
  std::vector<uint8_t> b = good;
  b[DataOffset(4)] = 0;  // empty entry name
  EXPECT_NE(Reject(b).find("no entry point"), std::string::npos);
  b = good;
  b[DataOffset(4) - 12] = 'x';  // the entry property renamed away
  EXPECT_NE(Reject(b).find("no entry point"), std::string::npos);
  b = good;
  for (size_t i = DataOffset(4); i < DataOffset(4) + 12; ++i) b[i] = 'X';  // no terminator
  EXPECT_NE(Reject(b).find("terminating zero"), std::string::npos);
  b = good;
  b[DataOffset(0)] = 'X';  // kind 8BFX
  EXPECT_NE(Reject(b).find("not a filter"), std::string::npos);
  b = good;
  b[DataOffset(5)] = 0x4F;  // RGB bit cleared
  EXPECT_NE(Reject(b).find("RGB"), std::string::npos);
  b = good;
  b[DataOffset(5) - 12] = 'x';  // the mode property renamed away
  EXPECT_FALSE(Reject(b).empty());
}

// The enable expression: read where there is one, a list without it (as before it was
// added) read as 8-bit only, one that names no RGB mode or has no terminator refused.
TEST(Pipl, ReadsTheEnableExpressionAndAListWithoutIt) {
  const std::vector<uint8_t> good = ExpectedPiplBytes();
  const size_t enbl = DataOffset(7);
  std::vector<uint8_t> b(good.begin(), good.begin() + long(enbl) - 16);  // the seven before
  b[6] = 7;
  PiplInfo info;
  std::string error;
  ASSERT_TRUE(ParsePipl(b.data(), b.size(), &info, &error)) << error;
  EXPECT_FALSE(info.hasEnable);
  EXPECT_FALSE(info.enablesRGB48);
  struct Case {
    const char* expression;
    bool rgb48;
    const char* refusal;  // null: read
  };
  for (const Case& c :
       {Case{"in (PSHOP_ImageMode, RGBMode)", false, nullptr},
        Case{"PSHOP_ImageMode == RGBMode || PSHOP_ImageMode == RGB48Mode", true, nullptr},
        Case{"in (PSHOP_ImageMode, RGB48ModeX, XRGBMode, RGBMode)", false, nullptr},
        Case{"in (PSHOP_ImageMode, GrayScaleMode, RGB48Mode)", true, "RGBMode"}}) {
    std::vector<uint8_t> list(good.begin(), good.begin() + long(enbl));
    std::vector<uint8_t> text(c.expression, c.expression + std::strlen(c.expression) + 1);
    while (text.size() % 4) text.push_back(0);
    list[enbl - 4] = uint8_t(text.size());
    list.insert(list.end(), text.begin(), text.end());
    list[6] = 8;  // the expression last
    if (c.refusal) {
      EXPECT_NE(Reject(list).find(c.refusal), std::string::npos) << c.expression;
      continue;
    }
    ASSERT_TRUE(ParsePipl(list.data(), list.size(), &info, &error)) << c.expression << error;
    EXPECT_EQ(info.enableExpression, c.expression);
    EXPECT_EQ(info.enablesRGB48, c.rgb48) << c.expression;
  }
  b = good;
  b[enbl + 123] = ')';  // the zero at the expression's end overwritten
  EXPECT_NE(Reject(b).find("terminating zero"), std::string::npos);
}

std::vector<uint8_t> Truncated(std::vector<uint8_t> bytes, size_t size) {
  bytes.resize(size);
  return bytes;
}

// The bitness check before loading: the machine field of the PE header, found through the
// DOS header, and a refusal that names both bitnesses.
TEST(PluginMachine, ReadsThePeHeaderAndRefusesTheOtherBitness) {
  auto image = [](uint16_t machine, uint32_t peAt = 0x80) {
    std::vector<uint8_t> b(0x100, 0);
    b[0] = 'M';
    b[1] = 'Z';
    for (int i = 0; i < 4; ++i) b[0x3C + i] = uint8_t(peAt >> (8 * i));
    if (peAt + 6 <= b.size()) {
      b[peAt] = 'P';
      b[peAt + 1] = 'E';
      b[peAt + 4] = uint8_t(machine);
      b[peAt + 5] = uint8_t(machine >> 8);
    }
    return b;
  };
  const uint16_t other = kMachineOfThisBuild == kMachineX64 ? kMachineX86 : kMachineX64;
  struct Case {
    std::vector<uint8_t> bytes;
    bool readable;
    bool loadable;
    const char* says;
  };
  const Case cases[] = {
      {image(kMachineOfThisBuild), true, true, ""},
      {image(other), true, false, "same bitness"},
      {image(0xAA64), true, false, "machine 0xAA64"},
      {image(kMachineX64, 0xFFFFFF00u), false, false, "not a Windows DLL"},  // header past the end
      {Truncated(image(kMachineX64), 40), false, false, "not a Windows DLL"},
      {std::vector<uint8_t>(0x100, 0), false, false, "not a Windows DLL"},
  };
  const auto path = std::filesystem::temp_directory_path() / "corvanel-machine-test.8bf";
  for (const Case& c : cases) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(c.bytes.data()), std::streamsize(c.bytes.size()));
    uint16_t machine = 0;
    std::string error;
    EXPECT_EQ(ReadPeMachine(path.string(), &machine, &error), c.readable) << error;
    error.clear();
    EXPECT_EQ(CheckPluginMachine(path.string(), &error), c.loadable);
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
  }
  std::string error;
  std::filesystem::remove(path);
  EXPECT_FALSE(CheckPluginMachine(path.string(), &error));
  EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
}

}  // namespace
