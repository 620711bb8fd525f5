#include "command/Step.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "files/SafeWrite.h"
#include "host/Terminology.h"

namespace {

std::string Code(uint32_t c) {
  std::string quoted = "'";
  quoted.append(CodeText(c)).append("'");
  return quoted;
}

std::string Number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

const TerminologyParam* Declared(const Terminology& t, uint32_t key) {
  for (const TerminologyParam& p : t.params)
    if (p.key == key) return &p;
  return nullptr;
}

const TerminologyEnum* EnumOf(const Terminology& t, uint32_t type) {
  for (const TerminologyEnum& e : t.enums)
    if (e.type == type) return &e;
  return nullptr;
}

std::string Value(const Terminology& t, const DescriptorItem& item) {
  switch (item.type) {
    case kTypeInteger:
      return std::to_string(item.integer);
    case kTypeBoolean:
      return item.integer ? "on" : "off";
    case kTypeEnumerated:
      if (const TerminologyEnum* e = EnumOf(t, item.kind))
        for (const TerminologyEnum::Value& v : e->values)
          if (v.id == item.value) return v.name;
      return Code(item.value);
    case kTypeObject:
      if (item.kind == kClassRGBColor && item.object.size() == 3) {
        std::string rgb = "RGB ";
        for (size_t i = 0; i < 3; ++i) rgb += (i ? ", " : "") + Number(item.object[i].number);
        return rgb;
      }
      return "an object " + Code(item.kind);
    default:
      return "a value of type " + Code(item.type);
  }
}

std::string Trim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t\r");
  const size_t b = s.find_last_not_of(" \t\r");
  return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

bool WholeNumber(const std::string& text, long* value) {
  char* end = nullptr;
  errno = 0;
  *value = std::strtol(text.c_str(), &end, 10);
  return !text.empty() && *end == '\0' && errno == 0 && *value >= INT32_MIN && *value <= INT32_MAX;
}

bool Colour(const std::string& text, Descriptor* channels) {
  if (text.compare(0, 4, "RGB ") != 0) return false;
  std::istringstream in(text.substr(4));
  const uint32_t keys[] = {kKeyRed, kKeyGreen, kKeyBlue};
  for (int i = 0; i < 3; ++i) {
    double v = 0;
    char comma = ',';
    if (!(in >> v) || !std::isfinite(v) || (i < 2 && !(in >> comma)) || comma != ',') return false;
    channels->push_back(DescriptorItem::Float(keys[i], v));
  }
  in >> std::ws;
  return in.eof();
}

}  // namespace

std::string FormatStep(const Descriptor& descriptor) {
  const Terminology t = CorvanelTerminology();
  std::string out =
      "# A Corvanel step: the settings as the plug-in recorded them for the host.\n"
      "# Each line: the setting, its key and its value.\n";
  for (const DescriptorItem& item : descriptor) {
    const TerminologyParam* p = Declared(t, item.key);
    out += (p ? p->name + " " : std::string()) + Code(item.key) + " = " + Value(t, item) + "\n";
  }
  return out;
}

bool ParseStep(const std::string& text, Descriptor* descriptor, std::string* error) {
  const Terminology t = CorvanelTerminology();
  descriptor->clear();
  std::istringstream lines(text);
  std::string line;
  for (int n = 1; std::getline(lines, line); ++n) {
    line = Trim(line);
    if (line.empty() || line[0] == '#') continue;
    const std::string where = "line " + std::to_string(n) + ": ";
    const size_t quote = line.find('\'');
    const size_t equals = line.find('=', quote == std::string::npos ? 0 : quote);
    if (quote == std::string::npos || quote + 5 >= line.size() || line[quote + 5] != '\'' ||
        equals == std::string::npos) {
      *error = where + "expected NAME 'KEY' = VALUE";
      return false;
    }
    uint32_t key = 0;
    for (size_t i = quote + 1; i < quote + 5; ++i) key = key << 8 | uint8_t(line[i]);
    const TerminologyParam* p = Declared(t, key);
    if (!p) {
      *error = where + Code(key) + " is no setting of Corvanel";
      return false;
    }
    const std::string value = Trim(line.substr(equals + 1));
    long whole = 0;
    Descriptor channels;
    bool ok = true;
    if (p->type == kTypeInteger && (ok = WholeNumber(value, &whole))) {
      descriptor->push_back(DescriptorItem::Integer(key, int32_t(whole)));
    } else if (p->type == kTypeBoolean && (ok = value == "on" || value == "off")) {
      descriptor->push_back(DescriptorItem::Bool(key, value == "on"));
    } else if (p->type == kClassRGBColor && (ok = Colour(value, &channels))) {
      descriptor->push_back(DescriptorItem::Object(key, kClassRGBColor, channels));
    } else if (const TerminologyEnum* e = EnumOf(t, p->type)) {
      ok = false;
      for (const TerminologyEnum::Value& v : e->values)
        if (v.name == value) {
          descriptor->push_back(DescriptorItem::Enum(key, e->type, v.id));
          ok = true;
        }
    }
    if (!ok) {
      const char* wanted = p->type == kTypeInteger     ? "a whole number"
                           : p->type == kTypeBoolean   ? "on or off"
                           : p->type == kClassRGBColor ? "RGB R, G, B"
                                                       : "one of its choices";
      *error = where + p->name + " must be " + wanted + ", not \"" + value + "\"";
      return false;
    }
  }
  return true;
}

bool ReadStepFile(const std::string& path, Descriptor* descriptor, std::string* error) {
  std::string text;
  if (!ReadInputFile(path, "the step file " + path, &text, error)) return false;
  if (!ParseStep(text, descriptor, error)) {
    *error = path + ": " + *error;
    return false;
  }
  return true;
}
