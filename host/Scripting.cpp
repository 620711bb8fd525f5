#include "host/Scripting.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include "host/ScriptingTypes.h"

namespace {

struct Rgb {
  int32_t red, green, blue;
};

bool ReadProcsUsable(const ReadDescriptorProcs* r) {
  return r && r->numReadDescriptorProcs >= kReadDescriptorProcCount && r->openReadDescriptorProc &&
         r->closeReadDescriptorProc && r->getKeyProc && r->getIntegerProc && r->getFloatProc &&
         r->getBooleanProc && r->getEnumeratedProc && r->getObjectProc;
}

bool WriteProcsUsable(const WriteDescriptorProcs* w) {
  return w && w->numWriteDescriptorProcs >= kWriteDescriptorProcCount &&
         w->openWriteDescriptorProc && w->closeWriteDescriptorProc && w->putIntegerProc &&
         w->putFloatProc && w->putBooleanProc && w->putEnumeratedProc && w->putObjectProc;
}

void Dispose(const FilterRecord& record, Handle handle) {
  if (handle) record.handleProcs->disposeProc(handle);
}

// Reads a descriptor's settings, noting the first that is missing or wrong.
class SettingsReader {
 public:
  SettingsReader(const FilterRecord& record, const ReadDescriptorProcs& procs)
      : record_(record), procs_(procs) {}

  void Problem(const std::string& text) {
    if (result.complete) result.problem = text;
    result.complete = false;
  }

  // An integer setting, clamped into its range.
  void Integer(PIReadDescriptor token, const ParamRange& range, EffectParams& params) {
    int32_t value = 0;
    if (procs_.getIntegerProc(token, &value) != kNoErr) {
      Problem(std::string(range.label) + " is not a whole number");
      return;
    }
    if (value < range.min || value > range.max)
      Problem(std::string(range.label) + " " + std::to_string(value) + " lies outside " +
              std::to_string(range.min) + " to " + std::to_string(range.max));
    params.*range.field = std::clamp(value, range.min, range.max);
  }

  // A colour object: red, green and blue from 0 to 255, to the nearest level.
  std::optional<Rgb> Colour(PIReadDescriptor token, const char* label) {
    DescriptorClassID cls = 0;
    PIDescriptorHandle object = nullptr;
    const OSErr err = procs_.getObjectProc(token, &cls, &object);
    const std::string name = label;
    if (err != kNoErr || cls != kClassRGBColor || !object) {
      Dispose(record_, object);
      Problem(name + " is not a colour");
      return std::nullopt;
    }
    DescriptorKeyID keys[] = {kKeyRed, kKeyGreen, kKeyBlue, 0};
    PIReadDescriptor inner = procs_.openReadDescriptorProc(object, keys);
    double channels[3] = {0, 0, 0};
    bool seen[3] = {false, false, false};
    bool ok = inner != nullptr;
    if (inner) {
      DescriptorKeyID key = 0;
      DescriptorTypeID type = 0;
      int32_t flags = 0;
      while (procs_.getKeyProc(inner, &key, &type, &flags)) {
        const int i = key == kKeyRed ? 0 : key == kKeyGreen ? 1 : key == kKeyBlue ? 2 : -1;
        if (i < 0) continue;
        double v = 0;
        if (procs_.getFloatProc(inner, &v) != kNoErr || !std::isfinite(v)) {
          ok = false;
          continue;
        }
        channels[i] = v;
        seen[i] = true;
      }
      if (procs_.closeReadDescriptorProc(inner) != kNoErr) ok = false;
    }
    Dispose(record_, object);
    if (!ok || !seen[0] || !seen[1] || !seen[2]) {
      Problem(name + " lacks its red, green or blue");
      return std::nullopt;
    }
    int32_t levels[3];
    for (int i = 0; i < 3; ++i) {
      if (channels[i] < 0 || channels[i] > 255) Problem(name + " lies outside 0 to 255");
      levels[i] = int32_t(std::floor(std::clamp(channels[i], 0.0, 255.0) + 0.5));
    }
    return Rgb{levels[0], levels[1], levels[2]};
  }

  ScriptedSettings result;

 private:
  const FilterRecord& record_;
  const ReadDescriptorProcs& procs_;
};

// Red, green or blue of the colour to match.
int32_t EffectParams::*MatchField(int channel) {
  return kParamRanges[kMatchParam.first + channel].field;
}

// The settings one descriptor holds, by key.
std::vector<DescriptorKeyID> SettingKeys() {
  std::vector<DescriptorKeyID> keys{kMatchParam.key};
  for (const ParamRange& range : kParamRanges)
    if (range.key) keys.push_back(range.key);
  keys.insert(keys.end(), {kModeParam.key, kEffectColourParam.key, kUseColourParam.key, 0});
  return keys;
}

}  // namespace

PIDescriptorParameters* UsableDescriptorParameters(const FilterRecord& record) {
  PIDescriptorParameters* scripting = record.descriptorParameters;
  if (!scripting || scripting->descriptorParametersVersion != 0) return nullptr;
  if (!ReadProcsUsable(scripting->readDescriptorProcs) ||
      !WriteProcsUsable(scripting->writeDescriptorProcs))
    return nullptr;
  const HandleProcs* handles = record.handleProcs;
  if (!handles || handles->numHandleProcs < kHandleProcCountForDispose || !handles->disposeProc)
    return nullptr;
  return scripting;
}

ScriptedSettings ReadScriptedSettings(FilterRecord& record, PIDescriptorParameters& scripting,
                                      EffectParams& params, CustomColour& colour) {
  const ReadDescriptorProcs& procs = *scripting.readDescriptorProcs;
  SettingsReader reader(record, procs);
  std::vector<DescriptorKeyID> keys = SettingKeys();
  PIDescriptorHandle descriptor = scripting.descriptor;
  PIReadDescriptor token = procs.openReadDescriptorProc(descriptor, keys.data());
  if (!token) {
    reader.Problem("the recorded settings could not be read");
  } else {
    bool seen[kParamCount] = {};
    bool seenMatch = false, seenMode = false, seenUse = false;
    std::optional<Rgb> effect;
    bool use = false;
    DescriptorKeyID key = 0;
    DescriptorTypeID type = 0;
    int32_t flags = 0;
    // Keys come in any order; a repeated key's last value holds, an unknown one is skipped.
    while (procs.getKeyProc(token, &key, &type, &flags)) {
      if (key == kMatchParam.key) {
        seenMatch = true;
        if (std::optional<Rgb> rgb = reader.Colour(token, kMatchParam.label)) {
          params.*MatchField(0) = rgb->red;
          params.*MatchField(1) = rgb->green;
          params.*MatchField(2) = rgb->blue;
        }
      } else if (key == kModeParam.key) {
        seenMode = true;
        DescriptorEnumID value = 0;
        const OSType* keysEnd = kModeParam.valueKeys + kModeParam.count;
        const OSType* found = keysEnd;
        if (procs.getEnumeratedProc(token, &value) == kNoErr)
          found = std::find(kModeParam.valueKeys, keysEnd, value);
        if (found == keysEnd)
          reader.Problem(std::string(kModeParam.label) + " is not " + kModeParam.valueLabels[0] +
                         " or " + kModeParam.valueLabels[1]);
        else
          params.*kModeParam.field = int32_t(found - kModeParam.valueKeys);
      } else if (key == kEffectColourParam.key) {
        effect = reader.Colour(token, kEffectColourParam.label);
      } else if (key == kUseColourParam.key) {
        Boolean value = 0;
        if (procs.getBooleanProc(token, &value) == kNoErr) {
          seenUse = true;
          use = value != 0;
        } else {
          reader.Problem(std::string(kUseColourParam.label) + " is not on or off");
        }
      } else {
        for (int i = 0; i < kParamCount; ++i)
          if (kParamRanges[i].key && kParamRanges[i].key == key) {
            seen[i] = true;
            reader.Integer(token, kParamRanges[i], params);
          }
      }
    }
    const OSErr closed = procs.closeReadDescriptorProc(token);
    if (closed != kNoErr && closed != kCoercedParamErr)
      reader.Problem("the recorded settings could not be read");
    if (!seenMatch) reader.Problem(std::string(kMatchParam.label) + " is missing");
    for (int i = 0; i < kParamCount; ++i)
      if (kParamRanges[i].key && !seen[i])
        reader.Problem(std::string(kParamRanges[i].label) + " is missing");
    if (!seenMode) reader.Problem(std::string(kModeParam.label) + " is missing");
    // Without the flag the effect takes its colour from the colour to match, and needs no
    // colour of its own.
    if (seenUse && use && !effect)
      reader.Problem(std::string(kEffectColourParam.label) + " is missing");
    colour.use = use && effect ? 1 : 0;
    if (effect) {
      colour.red = effect->red;
      colour.green = effect->green;
      colour.blue = effect->blue;
    }
  }
  // The descriptor is the plug-in's to dispose once read.
  Dispose(record, descriptor);
  scripting.descriptor = nullptr;
  return reader.result;
}

bool WriteScriptedSettings(FilterRecord& record, PIDescriptorParameters& scripting,
                           const EffectParams& params, const CustomColour& colour) {
  const WriteDescriptorProcs& procs = *scripting.writeDescriptorProcs;
  OSErr err = kNoErr;
  auto keep = [&err](OSErr e) {
    if (err == kNoErr) err = e;
  };
  auto putColour = [&](PIWriteDescriptor token, DescriptorKeyID key, int32_t r, int32_t g,
                       int32_t b) {
    PIWriteDescriptor inner = procs.openWriteDescriptorProc();
    if (!inner) return keep(kMemFullErr);
    const double channels[3] = {double(r), double(g), double(b)};
    const DescriptorKeyID keys[3] = {kKeyRed, kKeyGreen, kKeyBlue};
    for (int i = 0; i < 3; ++i) keep(procs.putFloatProc(inner, keys[i], &channels[i]));
    PIDescriptorHandle object = nullptr;
    keep(procs.closeWriteDescriptorProc(inner, &object));
    if (err == kNoErr && object) keep(procs.putObjectProc(token, key, kClassRGBColor, object));
    Dispose(record, object);  // the host keeps a copy of an object put
  };

  PIWriteDescriptor token = procs.openWriteDescriptorProc();
  if (!token) return false;
  putColour(token, kMatchParam.key, params.*MatchField(0), params.*MatchField(1),
            params.*MatchField(2));
  for (const ParamRange& range : kParamRanges)
    if (range.key) keep(procs.putIntegerProc(token, range.key, params.*range.field));
  const int32_t mode = params.*kModeParam.field;
  // Any other value renders as the first mode, so it is recorded as that.
  const int32_t shown = mode >= 0 && mode < kModeParam.count ? mode : 0;
  keep(procs.putEnumeratedProc(token, kModeParam.key, kModeParam.enumType,
                               kModeParam.valueKeys[shown]));
  putColour(token, kEffectColourParam.key, colour.red, colour.green, colour.blue);
  keep(procs.putBooleanProc(token, kUseColourParam.key, colour.use ? 1 : 0));
  PIDescriptorHandle written = nullptr;
  keep(procs.closeWriteDescriptorProc(token, &written));
  if (err != kNoErr || !written) {
    Dispose(record, written);
    return false;
  }
  Dispose(record, scripting.descriptor);
  scripting.descriptor = written;
  scripting.recordInfo = kRecordOptional;
  return true;
}

OSErr ReportToHost(FilterRecord& record, const std::string& message) {
  if (!record.errorString) return kFilterBadParameters;
  uint8_t* text = *record.errorString;
  const size_t n = std::min<size_t>(message.size(), 255);
  text[0] = uint8_t(n);
  std::memcpy(text + 1, message.data(), n);
  return kErrReportString;
}
