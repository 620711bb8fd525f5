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
  std::string entryName;        // wx86
  uint16_t supportedModes = 0;  // bit 15 Bitmap ... bit 6 Lab
  std::vector<uint8_t> filterCaseInfo;
};

// Parses and checks a list: its structure, a filter kind, an entry name, image modes that
// include RGB and, when present, seven filter-case entries. On failure returns false and
// says why in *error.
bool ParsePipl(const uint8_t* bytes, size_t size, PiplInfo* info, std::string* error);

// The property of that type, or null.
const PiplProperty* FindPiplProperty(const PiplInfo& info, OSType type);
