#include "host/RememberedSettings.h"

#include <array>
#include <cstring>
#include <fstream>
#include <system_error>

#include "platform/Environment.h"

namespace {

constexpr char kMagic[4] = {'C', 'V', 'L', '1'};
// Each number setting in table order, then these.
enum : size_t { kMode = kParamCount, kUse, kEffectRed, kEffectGreen, kEffectBlue, kValues };
using Values = std::array<int32_t, kValues>;
constexpr size_t kFileSize = sizeof kMagic + sizeof(Values);

bool SettingsFile(std::filesystem::path* file) {
  if (!platform::UserSettingsFolder(file)) return false;
  *file /= "last-run.settings";
  return true;
}

bool InRange(int32_t value, int32_t min, int32_t max) {
  return value >= min && value <= max;
}

}  // namespace

bool RecallSettings(EffectParams* params, CustomColour* colour) {
  std::filesystem::path file;
  if (!SettingsFile(&file)) return false;
  std::ifstream in(file, std::ios::binary);
  char bytes[kFileSize + 1];
  in.read(bytes, sizeof bytes);
  if (size_t(in.gcount()) != kFileSize || std::memcmp(bytes, kMagic, sizeof kMagic) != 0)
    return false;
  Values v;
  std::memcpy(v.data(), bytes + sizeof kMagic, sizeof v);
  for (size_t i = 0; i < kParamCount; ++i)
    if (!InRange(v[i], kParamRanges[i].min, kParamRanges[i].max)) return false;
  if (!InRange(v[kMode], 0, kModeParam.count - 1) || !InRange(v[kUse], 0, 1)) return false;
  for (size_t i = kEffectRed; i < kValues; ++i)
    if (!InRange(v[i], 0, 255)) return false;

  for (size_t i = 0; i < kParamCount; ++i) params->*kParamRanges[i].field = v[i];
  params->*kModeParam.field = v[kMode];
  colour->use = uint8_t(v[kUse]);
  colour->red = v[kEffectRed], colour->green = v[kEffectGreen], colour->blue = v[kEffectBlue];
  return true;
}

void RememberSettings(const EffectParams& params, const CustomColour& colour) {
  std::filesystem::path file;
  if (!SettingsFile(&file)) return;
  Values v;
  for (size_t i = 0; i < kParamCount; ++i) v[i] = params.*kParamRanges[i].field;
  v[kMode] = params.*kModeParam.field == kModeSparkle ? kModeSparkle : kModeGlow;
  v[kUse] = colour.use ? 1 : 0;
  v[kEffectRed] = colour.red, v[kEffectGreen] = colour.green, v[kEffectBlue] = colour.blue;

  std::error_code error;
  std::filesystem::create_directories(file.parent_path(), error);
  // Written beside and then moved over the old file, so that a run cut short leaves the
  // old settings, never half of the new.
  std::filesystem::path written = file;
  written += ".new";
  {
    std::ofstream out(written, std::ios::binary | std::ios::trunc);
    out.write(kMagic, sizeof kMagic);
    out.write(reinterpret_cast<const char*>(v.data()), sizeof v);
    if (!out.flush()) {
      out.close();
      std::filesystem::remove(written, error);
      return;
    }
  }
  std::filesystem::rename(written, file, error);
  if (error) std::filesystem::remove(written, error);
}
