#include "command/Settings.h"

#include <cstdio>
#include <sstream>

#include "files/FileSystem.h"
#include "files/SafeWrite.h"

namespace {

constexpr const char* kByteOrderMark = "\xEF\xBB\xBF";

std::string Trim(const std::string& s) {
  size_t first = s.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

bool ParseParamValue(ParamIndex index, const std::string& text, int32_t* value,
                     std::string* error) {
  const ParamRange& range = kParamRanges[index];
  const std::string t = Trim(text);
  const std::string expected = std::string(range.label) + " must be a whole number from " +
                               std::to_string(range.min) + " to " + std::to_string(range.max);
  size_t digits = (!t.empty() && (t[0] == '-' || t[0] == '+')) ? 1 : 0;
  if (t.size() == digits || t.find_first_not_of("0123456789", digits) != std::string::npos) {
    *error = expected + " (got '" + t + "')";
    return false;
  }
  // Anything longer than ten digits is out of range whatever it says.
  long long v =
      t.size() - digits > 10 ? (t[0] == '-' ? range.min - 1LL : range.max + 1LL) : std::stoll(t);
  if (v < range.min || v > range.max) {
    *error = expected + " (got " + t + ")";
    return false;
  }
  *value = int32_t(v);
  return true;
}

bool ParseMode(const std::string& text, int32_t* mode, std::string* error) {
  const std::string t = Lower(Trim(text));
  std::string names;
  for (int32_t i = 0; i < kModeParam.count; ++i) {
    if (t == kModeParam.names[i]) {
      *mode = i;
      return true;
    }
    names += std::string(i == 0                     ? ""
                         : i + 1 < kModeParam.count ? ", "
                                                    : " or ") +
             kModeParam.names[i];
  }
  *error =
      "the " + std::string(kModeParam.name) + " must be " + names + " (got '" + Trim(text) + "')";
  return false;
}

bool ParseMatchColour(const std::string& text, EffectParams* params, std::string* error) {
  std::string parts[3];
  int n = 0;
  for (char c : text) {
    if (c == ',') {
      if (++n > 2) break;
    } else {
      parts[n] += c;
    }
  }
  if (n != 2) {
    *error = "the colour to match must be three numbers R,G,B (got '" + text + "')";
    return false;
  }
  EffectParams copy = *params;
  for (int i = 0; i < 3; ++i)
    if (!ParseParamValue(ParamIndex(kMatchParam.first + i), parts[i],
                         &(copy.*kParamRanges[kMatchParam.first + i].field), error))
      return false;
  *params = copy;
  return true;
}

bool ParseSettings(const std::string& text, EffectParams* params, std::string* error) {
  EffectParams copy = *params;
  // Where each setting was given: the line and the name it was given by (the last one is
  // the mode), so that a second one can name the first.
  struct Given {
    int line = 0;
    std::string name;
  } seen[kParamCount + 1];
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    const std::string where = "line " + std::to_string(number) + ": ";
    if (number == 1 && line.rfind(kByteOrderMark, 0) == 0) line.erase(0, 3);
    const std::string t = Trim(line.substr(0, line.find('#')));  // '#' to the end is a comment
    if (t.empty()) continue;
    const size_t eq = t.find('=');
    if (eq == std::string::npos) {
      *error = where + "expected 'name = value'";
      return false;
    }
    const std::string name = Lower(Trim(t.substr(0, eq)));
    const std::string value = t.substr(eq + 1);
    int index = -1;
    for (int i = 0; i < kParamCount; ++i)
      if (name == kParamRanges[i].name) index = i;
    if (name == kModeParam.name) index = kParamCount;
    const bool match = name == kMatchParam.name;  // red, green and blue at once, as --match
    if (index < 0 && !match) {
      *error = where + "unknown setting '" + Trim(t.substr(0, eq)) + "'";
      return false;
    }
    const int first = match ? kMatchParam.first : index, last = match ? first + 2 : index;
    for (int i = first; i <= last; ++i) {
      if (seen[i].line) {
        const std::string setting = match ? kParamRanges[i].name : name;
        *error = where + "'" + setting + "' is given twice: line " + std::to_string(seen[i].line) +
                 " set it" + (seen[i].name != setting ? " (with '" + seen[i].name + "')" : "") +
                 (match ? "; " + name + " sets " + kParamRanges[first].name + ", " +
                              kParamRanges[first + 1].name + " and " + kParamRanges[last].name
                        : "");
        return false;
      }
      seen[i] = {number, name};
    }
    std::string why;
    bool ok = match                  ? ParseMatchColour(value, &copy, &why)
              : index == kParamCount ? ParseMode(value, &copy.mode, &why)
                                     : ParseParamValue(ParamIndex(index), value,
                                                       &(copy.*kParamRanges[index].field), &why);
    if (!ok) {
      *error = where + why;
      return false;
    }
  }
  *params = copy;
  return true;
}

std::string FormatSettings(const EffectParams& params) {
  std::string out = "# Corvanel settings\n";
  const int32_t mode = params.*kModeParam.field;
  // Any other value renders as the first.
  out += std::string(kModeParam.name) + " = " +
         kModeParam.names[mode >= 0 && mode < kModeParam.count ? mode : 0] + "\n";
  for (const ParamRange& range : kParamRanges)
    out += std::string(range.name) + " = " + std::to_string(params.*range.field) + "\n";
  return out;
}

bool ReadSettingsFile(const std::string& path, EffectParams* params, std::string* error) {
  std::string s;
  if (!ReadInputFile(path, "the settings file " + path, &s, error)) return false;
  if (s.find('\0') != std::string::npos) {
    *error = path + " is not a settings file (it is not text)";
    return false;
  }
  std::string why;
  if (!ParseSettings(s, params, &why)) {
    *error = path + ", " + why;
    return false;
  }
  return true;
}

bool WriteSettingsFile(const OutputFile& out, const EffectParams& params, std::string* error) {
  return WriteOutput(out, FormatSettings(params), SettingsFileName(out.name), nullptr, error);
}

std::string SettingsFileName(const std::string& path) {
  return path == "-" ? "the settings (standard output)" : "the settings file " + path;
}
