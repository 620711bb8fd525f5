// The host side of scripting: descriptors as this host keeps them (keys in order, each
// with its type and value), the two descriptor suites over them, and the handle suite
// through which the plug-in disposes what it is handed. Every handle and token is counted,
// so a test sees a leak or a double disposal.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host/ScriptingTypes.h"

struct DescriptorItem;
using Descriptor = std::vector<DescriptorItem>;

struct DescriptorItem {
  DescriptorKeyID key = 0;
  DescriptorTypeID type =
      0;  // kTypeInteger, kTypeFloat, kTypeBoolean, kTypeEnumerated, kTypeObject, or raw
  int32_t integer = 0;       // integer, boolean
  double number = 0;         // float
  uint32_t kind = 0;         // the enumeration's type, or the object's class
  uint32_t value = 0;        // the enumeration's value
  Descriptor object;         // an object's keys
  std::vector<uint8_t> raw;  // any other type's bytes

  static DescriptorItem Integer(DescriptorKeyID key, int32_t v);
  static DescriptorItem Float(DescriptorKeyID key, double v);
  static DescriptorItem Bool(DescriptorKeyID key, bool v);
  static DescriptorItem Enum(DescriptorKeyID key, uint32_t type, uint32_t v);
  static DescriptorItem Object(DescriptorKeyID key, uint32_t cls, Descriptor items);
  static DescriptorItem Raw(DescriptorKeyID key, DescriptorTypeID type, std::vector<uint8_t> bytes);
  bool operator==(const DescriptorItem&) const = default;
};

// A four-character code as its characters: "tsRy".
std::string CodeText(uint32_t code);

// The bytes a handle of this host holds for a descriptor, and back. Decoding refuses
// anything malformed, and objects nested deeper than a few levels.
std::vector<uint8_t> EncodeDescriptor(const Descriptor& descriptor);
bool DecodeDescriptor(const uint8_t* bytes, size_t size, Descriptor* descriptor);

// What a host offers for scripting, and how it departs from the host interface.
struct ScriptingSetup {
  enum class Structure {
    kNone,       // no descriptor structure at all
    kNullProcs,  // the structure, with both suites null
    kFull,
  };
  Structure structure = Structure::kFull;
  int16_t playInfo = kPlayDontDisplay;
  // Handed to the plug-in at Start (nullopt: none, as on a run from the menu); bytes, so that
  // a test can hand malformed ones.
  std::optional<std::vector<uint8_t>> descriptor;
  bool coercion = true;     // an integer is read as a float and back, as most hosts allow
  bool errorString = true;  // a buffer for the plug-in's message
};

class DescriptorHost {
 public:
  DescriptorHost();
  ~DescriptorHost();
  DescriptorHost(const DescriptorHost&) = delete;
  DescriptorHost& operator=(const DescriptorHost&) = delete;

  ScriptingSetup setup;

  // Puts the structure, the handle suite and the message buffer into the record for one
  // run; only one host may run at a time.
  void BeginRun(FilterRecord& record);
  // Takes back what the plug-in left: the descriptor recorded, and its message.
  void EndRun(FilterRecord& record);

  // Of the last run.
  bool recorded = false;                  // the plug-in left a descriptor
  Descriptor descriptor;                  // that descriptor, decoded
  bool recordedDecodes = true;            // ... and it was well formed
  int16_t recordInfo = -1;                // as the plug-in set it
  bool handedDescriptorDisposed = false;  // the descriptor handed in was disposed
  std::string message;                    // what the plug-in wrote into errorString

  // Handles and tokens still open, and disposals of handles that were not live.
  size_t LiveHandles() const { return handles_.size(); }
  size_t OpenTokens() const { return readers_.size() + writers_.size(); }
  int badDisposals = 0;

  struct Reader;
  struct Writer;
  // For the suites' functions, which carry no context.
  Handle NewHandle(std::vector<uint8_t> bytes);
  std::vector<uint8_t>* Bytes(Handle handle);
  void DisposeHandle(Handle handle);
  Reader* OpenReader(Handle handle);
  bool LiveReader(void* token) const { return readers_.count(static_cast<Reader*>(token)) != 0; }
  OSErr CloseReader(void* token);
  Writer* OpenWriter();
  bool LiveWriter(void* token) const { return writers_.count(static_cast<Writer*>(token)) != 0; }
  OSErr CloseWriter(void* token, Handle* handle);

 private:
  struct HostHandle;
  std::set<HostHandle*> handles_;
  std::set<Reader*> readers_;
  std::set<Writer*> writers_;
  Handle handed_ = nullptr;
  PIDescriptorParameters parameters_{};
  uint8_t errorText_[256] = {};
  uint8_t (*errorPointer_)[256] = &errorText_;
};
