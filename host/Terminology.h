// The terminology resource: how scripts and the host's list of recorded steps name the
// plug-in's event and each of its settings, with the key and type each is stored under.
// Written from the parameter table, so names, keys, types and ranges have one source.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/EffectParams.h"
#include "host/ScriptingIds.h"

constexpr OSType kCorvanelSuiteID = OSType(CORVANEL_SUITE_ID);
constexpr OSType kCorvanelClassID = OSType(CORVANEL_CLASS_ID);
constexpr OSType kCorvanelEventID = OSType(CORVANEL_EVENT_ID);
constexpr int16_t kTerminologyID = CORVANEL_TERMINOLOGY_ID;
inline constexpr char kTerminologyScope[] = CORVANEL_TERMINOLOGY_SCOPE;

// Flags of a terminology parameter.
constexpr uint16_t kParamRequired = 0x0000;
constexpr uint16_t kParamOptional = 0x8000;
constexpr uint16_t kParamEnumerated = 0x2000;

struct TerminologyParam {
  std::string name;
  OSType key;
  OSType type;  // the type it is written with: integer, boolean, an enumeration or a class
  std::string description;
  uint16_t flags;
};

struct TerminologyEnum {
  OSType type;
  struct Value {
    std::string name;
    OSType id;
    std::string description;
  };
  std::vector<Value> values;
};

struct Terminology {
  std::string vendor, suiteDescription;
  OSType suiteID = 0;
  std::string eventName, eventDescription;
  OSType classID = 0, eventID = 0;
  std::vector<TerminologyParam> params;
  std::vector<TerminologyEnum> enums;
};

// The plug-in's terminology, from the parameter table.
Terminology CorvanelTerminology();

// The resource's bytes in the Windows layout: native little-endian, no alignment.
std::vector<uint8_t> EncodeTerminology(const Terminology& terminology);
// Reads such bytes back; false on anything malformed, or on more than one suite or event.
bool DecodeTerminology(const uint8_t* bytes, size_t size, Terminology* terminology);
