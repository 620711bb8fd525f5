#include "filterhost/Pipl.h"

#include <cstring>

namespace {

constexpr OSType kVendor8BIM = FourCC('8', 'B', 'I', 'M');
constexpr OSType kFilterKind = FourCC('8', 'B', 'F', 'M');
constexpr size_t kFilterCases = 7;

std::string CodeText(OSType code) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    char c = char(code >> shift);
    text += (c >= 0x20 && c < 0x7F) ? c : '?';
  }
  return text;
}

class Reader {
 public:
  Reader(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}
  bool Read(void* out, size_t n) {
    if (size_ - pos_ < n) return false;
    if (n == 0) return true;  // an empty property's data has no address to copy to
    std::memcpy(out, bytes_ + pos_, n);
    pos_ += n;
    return true;
  }
  template <typename T>
  bool Read(T* value) {  // little-endian host, as every Windows host is
    return Read(static_cast<void*>(value), sizeof(T));
  }
  size_t remaining() const { return size_ - pos_; }

 private:
  const uint8_t* bytes_;
  size_t size_;
  size_t pos_ = 0;
};

// A length byte, then the characters. False when the length runs past the property.
bool CountedString(const std::vector<uint8_t>& data, std::string* out) {
  if (data.empty() || data[0] + 1u > data.size()) return false;
  out->assign(reinterpret_cast<const char*>(data.data()) + 1, data[0]);
  return true;
}

std::string ArchitectureOf(OSType entryProperty) {
  return entryProperty == kEntryPropertyX64 ? "64-bit" : "32-bit";
}

bool Fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

}  // namespace

bool ExpressionNames(const std::string& expression, const std::string& mode) {
  auto word = [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
  };
  for (size_t i = 0; i < expression.size();) {
    if (!word(expression[i])) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < expression.size() && word(expression[end])) ++end;
    if (expression.compare(i, end - i, mode) == 0) return true;
    i = end;
  }
  return false;
}

const PiplProperty* FindPiplProperty(const PiplInfo& info, OSType type) {
  for (const PiplProperty& p : info.properties)
    if (p.type == type) return &p;
  return nullptr;
}

bool ParsePipl(const uint8_t* bytes, size_t size, PiplInfo* info, std::string* error,
               OSType entryProperty) {
  *info = PiplInfo{};
  Reader reader(bytes, size);
  uint16_t format = 0;
  uint32_t version = 0, count = 0;
  if (!reader.Read(&format) || !reader.Read(&version) || !reader.Read(&count))
    return Fail(error, "the property list is shorter than its header");
  if (format != 1) return Fail(error, "the property list has an unknown format");
  for (uint32_t i = 0; i < count; ++i) {
    PiplProperty p;
    uint32_t length = 0;
    if (!reader.Read(&p.vendor) || !reader.Read(&p.type) || !reader.Read(&p.id) ||
        !reader.Read(&length))
      return Fail(error, "property " + std::to_string(i + 1) + " of the list is truncated");
    if (length % 4 != 0)
      return Fail(
          error, "property " + std::to_string(i + 1) + " has a length that is not a multiple of 4");
    if (length > reader.remaining())
      return Fail(error, "property " + std::to_string(i + 1) + " runs past the end of the list");
    p.data.resize(length);
    reader.Read(p.data.data(), length);
    info->properties.push_back(std::move(p));
  }
  if (reader.remaining() != 0)
    return Fail(error, "the property list has bytes after its last property");

  bool haveModes = false;
  for (const PiplProperty& p : info->properties) {
    if (p.vendor != kVendor8BIM) continue;
    const std::string what = "the " + CodeText(p.type) + " property";
    if (p.type == FourCC('k', 'i', 'n', 'd')) {
      if (p.data.size() < 4) return Fail(error, what + " is shorter than a four-character code");
      std::memcpy(&info->kind, p.data.data(), 4);
    }
    if (p.type == FourCC('n', 'a', 'm', 'e') && !CountedString(p.data, &info->name))
      return Fail(error, what + " has a counted string longer than its data");
    if (p.type == FourCC('c', 'a', 't', 'g') && !CountedString(p.data, &info->category))
      return Fail(error, what + " has a counted string longer than its data");
    if (p.type == FourCC('v', 'e', 'r', 's')) {
      if (p.data.size() < 4) return Fail(error, what + " is shorter than its 32-bit number");
      std::memcpy(&info->interfaceVersion, p.data.data(), 4);
    }
    if (p.type == entryProperty) {
      const void* end = p.data.empty() ? nullptr : std::memchr(p.data.data(), 0, p.data.size());
      if (!end)
        return Fail(error, "the entry name (" + CodeText(p.type) + ") has no terminating zero");
      info->entryName.assign(reinterpret_cast<const char*>(p.data.data()));
    }
    if (p.type == FourCC('m', 'o', 'd', 'e')) {
      if (p.data.size() < 2) return Fail(error, what + " is shorter than its 16-bit word");
      info->supportedModes = uint16_t(p.data[0] << 8 | p.data[1]);  // stored high byte first
      haveModes = true;
    }
    if (p.type == FourCC('f', 'i', 'c', 'i')) {
      // One four-byte entry for each of the interface's seven filter cases.
      if (p.data.size() != 4 * kFilterCases)
        return Fail(error, what + " holds " + std::to_string(p.data.size()) +
                               " bytes, not seven four-byte filter cases");
      info->filterCaseInfo = p.data;
    }
    if (p.type == FourCC('e', 'n', 'b', 'l')) {
      const void* end = p.data.empty() ? nullptr : std::memchr(p.data.data(), 0, p.data.size());
      if (!end) return Fail(error, what + " has no terminating zero");
      info->hasEnable = true;
      info->enableExpression.assign(reinterpret_cast<const char*>(p.data.data()));
      info->enablesRGB48 = ExpressionNames(info->enableExpression, "RGB48Mode");
    }
  }
  if (info->kind != kFilterKind)
    return Fail(error, "the plug-in is not a filter (kind is not 8BFM)");
  if (info->entryName.empty()) {
    const OSType other = entryProperty == kEntryPropertyX64 ? kEntryPropertyX86 : kEntryPropertyX64;
    if (FindPiplProperty(*info, other))
      return Fail(error, "the plug-in names an entry point only for " + ArchitectureOf(other) +
                             " hosts (" + CodeText(other) + "), not for " +
                             ArchitectureOf(entryProperty) + " ones (" + CodeText(entryProperty) +
                             ")");
    return Fail(error, "the property list names no entry point (" + CodeText(entryProperty) + ")");
  }
  if (!haveModes) return Fail(error, "the property list names no image modes (mode)");
  if (!(info->supportedModes & kModeBitRGB))
    return Fail(error, "the plug-in does not accept RGB images, the only kind this host has");
  if (info->hasEnable && !ExpressionNames(info->enableExpression, "RGBMode"))
    return Fail(error, "the plug-in's enable expression (enbl) does not name RGBMode: it does "
                       "not accept RGB images, the only kind this host has");
  return true;
}
