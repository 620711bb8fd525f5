#include "host/Terminology.h"

#include "host/ScriptingTypes.h"

namespace {

std::string RangeText(const ParamRange& range) {
  std::string text = range.label;
  text += ", " + std::to_string(range.min) + " to " + std::to_string(range.max);
  if (*range.unit) text += std::string(" ") + range.unit;
  return text;
}

class Writer {
 public:
  void U8(uint8_t v) { out.push_back(v); }
  void U16(uint16_t v) {
    U8(uint8_t(v));
    U8(uint8_t(v >> 8));
  }
  void U32(uint32_t v) {
    U16(uint16_t(v));
    U16(uint16_t(v >> 16));
  }
  // A counted string; longer text is cut at 255 characters, all a length byte can count.
  void Pstr(const std::string& s) {
    const size_t n = s.size() < 255 ? s.size() : 255;
    U8(uint8_t(n));
    out.insert(out.end(), s.begin(), s.begin() + std::ptrdiff_t(n));
  }
  std::vector<uint8_t> out;
};

class Reader {
 public:
  Reader(const uint8_t* bytes, size_t size) : p_(bytes), end_(bytes + size) {}
  bool U8(uint8_t* v) {
    if (p_ == end_) return false;
    *v = *p_++;
    return true;
  }
  bool U16(uint16_t* v) {
    uint8_t a, b;
    if (!U8(&a) || !U8(&b)) return false;
    *v = uint16_t(a | b << 8);
    return true;
  }
  bool U32(uint32_t* v) {
    uint16_t a, b;
    if (!U16(&a) || !U16(&b)) return false;
    *v = a | uint32_t(b) << 16;
    return true;
  }
  bool Pstr(std::string* s) {
    uint8_t n;
    if (!U8(&n) || size_t(end_ - p_) < n) return false;
    s->assign(reinterpret_cast<const char*>(p_), n);
    p_ += n;
    return true;
  }
  bool Expect16(uint16_t want) {
    uint16_t v;
    return U16(&v) && v == want;
  }
  bool Expect32(uint32_t want) {
    uint32_t v;
    return U32(&v) && v == want;
  }
  bool ExpectEmptyPstr() {
    std::string s;
    return Pstr(&s) && s.empty();
  }
  bool AtEnd() const { return p_ == end_; }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
};

}  // namespace

Terminology CorvanelTerminology() {
  Terminology t;
  t.vendor = "Tessory";
  t.suiteDescription = "Tessory filters";
  t.suiteID = kCorvanelSuiteID;
  t.eventName = "Corvanel";
  t.eventDescription = "Light of one colour around the pixels near a colour: Glow or Sparkle";
  t.classID = kCorvanelClassID;
  t.eventID = kCorvanelEventID;
  t.params.push_back({kMatchParam.label, kMatchParam.key, kClassRGBColor,
                      std::string(kMatchParam.description) + ": red, green and blue, 0 to 255",
                      kParamRequired});
  for (const ParamRange& range : kParamRanges)
    if (range.key)
      t.params.push_back({range.label, range.key, kTypeInteger, RangeText(range), kParamRequired});
  std::string modes;
  TerminologyEnum modeEnum{kModeParam.enumType, {}};
  for (int32_t i = 0; i < kModeParam.count; ++i) {
    modes += std::string(i ? " or " : "") + kModeParam.valueLabels[i];
    modeEnum.values.push_back(
        {kModeParam.valueLabels[i], kModeParam.valueKeys[i], kModeParam.valueLabels[i]});
  }
  t.params.push_back({kModeParam.label, kModeParam.key, kModeParam.enumType,
                      kModeParam.label + std::string(": ") + modes, kParamEnumerated});
  t.params.push_back({kEffectColourParam.label, kEffectColourParam.key, kClassRGBColor,
                      kEffectColourParam.description, kParamOptional});
  t.params.push_back({kUseColourParam.label, kUseColourParam.key, kTypeBoolean,
                      kUseColourParam.description, kParamOptional});
  t.enums.push_back(modeEnum);
  return t;
}

std::vector<uint8_t> EncodeTerminology(const Terminology& t) {
  Writer w;
  w.U16(0x0001);  // the Windows form
  w.U8(1);        // version 1.0
  w.U8(0);
  w.U16(0);  // language
  w.U16(0);  // script
  w.U16(1);  // one suite
  w.Pstr(t.vendor);
  w.Pstr(t.suiteDescription);
  w.U32(t.suiteID);
  w.U16(1);  // level
  w.U16(1);  // version
  w.U16(1);  // one event
  w.Pstr(t.eventName);
  w.Pstr(t.eventDescription);
  w.U32(t.classID);
  w.U32(t.eventID);
  w.U32(kTypeNull);  // no reply
  w.Pstr("");
  w.U16(0x0000);
  w.U32(kTypeImageReference);  // the image as the direct parameter
  w.Pstr("");
  w.U16(0xB000);
  w.U16(uint16_t(t.params.size()));
  for (const TerminologyParam& p : t.params) {
    w.Pstr(p.name);
    w.U32(p.key);
    w.U32(p.type);
    w.Pstr(p.description);
    w.U16(p.flags);
  }
  w.U16(0);  // classes
  w.U16(0);  // comparison operators
  w.U16(uint16_t(t.enums.size()));
  for (const TerminologyEnum& e : t.enums) {
    w.U32(e.type);
    w.U16(uint16_t(e.values.size()));
    for (const TerminologyEnum::Value& v : e.values) {
      w.Pstr(v.name);
      w.U32(v.id);
      w.Pstr(v.description);
    }
  }
  return w.out;
}

bool DecodeTerminology(const uint8_t* bytes, size_t size, Terminology* t) {
  Reader r(bytes, size);
  *t = Terminology{};
  uint8_t major, minor;
  if (!r.Expect16(0x0001) || !r.U8(&major) || !r.U8(&minor) || major != 1 || minor != 0 ||
      !r.Expect16(0) || !r.Expect16(0) || !r.Expect16(1))
    return false;
  if (!r.Pstr(&t->vendor) || !r.Pstr(&t->suiteDescription) || !r.U32(&t->suiteID) ||
      !r.Expect16(1) || !r.Expect16(1) || !r.Expect16(1))
    return false;
  if (!r.Pstr(&t->eventName) || !r.Pstr(&t->eventDescription) || !r.U32(&t->classID) ||
      !r.U32(&t->eventID) || !r.Expect32(kTypeNull) || !r.ExpectEmptyPstr() || !r.Expect16(0) ||
      !r.Expect32(kTypeImageReference) || !r.ExpectEmptyPstr() || !r.Expect16(0xB000))
    return false;
  uint16_t count;
  if (!r.U16(&count)) return false;
  for (uint16_t i = 0; i < count; ++i) {
    TerminologyParam p;
    if (!r.Pstr(&p.name) || !r.U32(&p.key) || !r.U32(&p.type) || !r.Pstr(&p.description) ||
        !r.U16(&p.flags))
      return false;
    t->params.push_back(p);
  }
  if (!r.Expect16(0) || !r.Expect16(0) || !r.U16(&count)) return false;
  for (uint16_t i = 0; i < count; ++i) {
    TerminologyEnum e;
    uint16_t values;
    if (!r.U32(&e.type) || !r.U16(&values)) return false;
    for (uint16_t j = 0; j < values; ++j) {
      TerminologyEnum::Value v;
      if (!r.Pstr(&v.name) || !r.U32(&v.id) || !r.Pstr(&v.description)) return false;
      e.values.push_back(v);
    }
    t->enums.push_back(e);
  }
  return r.AtEnd();
}
