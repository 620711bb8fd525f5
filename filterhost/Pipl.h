// Reading a plug-in's property list: how a host learns what a plug-in is without
// calling it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/HostTypes.h"

// The supported-modes bit of RGB images.
constexpr uint16_t kModeBitRGB = 1u << 12;

// The properties that name the entry function, one for each architecture; a host reads the
// one of its own architecture.
constexpr OSType kEntryPropertyX86 = FourCC('w', 'x', '8', '6');
constexpr OSType kEntryPropertyX64 = FourCC('8', '6', '6', '4');
constexpr OSType kEntryPropertyOfThisBuild =
    sizeof(void*) == 8 ? kEntryPropertyX64 : kEntryPropertyX86;

struct PiplProperty {
  OSType vendor;
  OSType type;
  uint32_t id;
  std::vector<uint8_t> data;
};

struct PiplInfo {
  std::vector<PiplProperty> properties;
  OSType kind = 0;
  std::string name;
  std::string category;
  uint32_t interfaceVersion = 0;
  std::string entryName;        // from the entry property asked for
  uint16_t supportedModes = 0;  // bit 15 Bitmap ... bit 6 Lab
  std::vector<uint8_t> filterCaseInfo;
  // The enable expression, "in (PSHOP_ImageMode, RGBMode, ...)", when there is one: hosts
  // that read it offer the filter by it instead of by the mode bits, and only through it
  // in 16-bit documents.
  bool hasEnable = false;
  std::string enableExpression;
  bool enablesRGB48 = false;  // the expression names RGB48Mode
};

// Whether an enable expression names that mode constant ("RGB48Mode") as a word of its own.
bool ExpressionNames(const std::string& expression, const std::string& mode);

// Parses and checks a list: its structure, a filter kind, an entry name in entryProperty,
// image modes that include RGB (in the enable expression too, when there is one) and, when
// present, seven filter-case entries. On failure
// returns false and says why in *error.
bool ParsePipl(const uint8_t* bytes, size_t size, PiplInfo* info, std::string* error,
               OSType entryProperty = kEntryPropertyOfThisBuild);

// The property of that type, or null.
const PiplProperty* FindPiplProperty(const PiplInfo& info, OSType type);
