// The property list Corvanel must carry, written out field by field. The entry property
// is '8664' in the 64-bit plug-in and 'wx86' in the 32-bit one; by default, this build's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline const char* EntryPropertyOfThisBuild() {
  return sizeof(void*) == 8 ? "8664" : "wx86";
}

// The modes the enable expression names: those of the mode bits, and 16-bit RGB.
constexpr char kExpectedEnableExpression[] =
    "in (PSHOP_ImageMode, GrayScaleMode, RGBMode, CMYKMode, HSLMode, HSBMode, MultichannelMode, "
    "DuotoneMode, LabMode, RGB48Mode)";

// The list as it was before the scripting properties; with `scripting`, as it is now: the
// same properties and two more after them, the count the only earlier byte that changed.
inline std::vector<uint8_t> ExpectedPiplBytes(
    const char* entryProperty = EntryPropertyOfThisBuild(), bool scripting = true) {
  std::vector<uint8_t> out;
  auto u16 = [&](uint16_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
  };
  auto u32 = [&](uint32_t v) {
    u16(uint16_t(v));
    u16(uint16_t(v >> 16));
  };
  auto code = [&](const char* c) {  // a four-character code is stored as a little-endian number
    u32(uint32_t(uint8_t(c[0])) << 24 | uint32_t(uint8_t(c[1])) << 16 |
        uint32_t(uint8_t(c[2])) << 8 | uint8_t(c[3]));
  };
  auto property = [&](const char* type, std::vector<uint8_t> data) {
    code("8BIM");
    code(type);
    u32(0);
    while (data.size() % 4) data.push_back(0);
    u32(uint32_t(data.size()));
    out.insert(out.end(), data.begin(), data.end());
  };
  auto counted = [](const std::string& s) {
    std::vector<uint8_t> d{uint8_t(s.size())};
    d.insert(d.end(), s.begin(), s.end());
    return d;
  };
  u16(1);
  u32(0);
  u32(scripting ? 10 : 8);
  property("kind", {'M', 'F', 'B', '8'});
  property("name", counted("Corvanel..."));
  property("catg", counted("Tessory"));
  property("vers", {0x00, 0x00, 0x04, 0x00});
  property(entryProperty, {'E', 'N', 'T', 'R', 'Y', 'P', 'O', 'I', 'N', 'T', 0});
  property("mode", {0x5F, 0xC0, 0x00, 0x00});
  std::vector<uint8_t> fici;
  for (int i = 0; i < 7; ++i)
    for (uint8_t b : {0x01, 0x01, 0x01, 0x00}) fici.push_back(b);
  property("fici", fici);
  const std::string enable = kExpectedEnableExpression;
  std::vector<uint8_t> enbl(enable.begin(), enable.end());
  enbl.push_back(0);
  property("enbl", enbl);
  if (!scripting) return out;
  // HasTerminology: version 0, class 'tsRy', event 'crVl', terminology 16000, the scope.
  std::vector<uint8_t> hstm{0, 0, 0, 0, 'y', 'R', 's', 't', 'l', 'V', 'r', 'c', 0x80, 0x3E};
  const std::string scope = "7dac5d9b-2923-4668-94fb-b913495c2e7e";
  hstm.insert(hstm.end(), scope.begin(), scope.end());
  hstm.push_back(0);
  property("hstm", hstm);
  property("flly", {0x80, 0, 0, 0});
  return out;
}
