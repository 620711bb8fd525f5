// The settings-file reader on arbitrary file contents: it either accepts the file with
// every setting in its range, or refuses it with a reason and changes nothing. What it
// accepts, written out again, reads back the same.
#include <cstring>

#include "fuzz/FuzzSupport.h"
#include "command/Settings.h"

namespace {

bool InRange(const EffectParams& p) {
  for (const ParamRange& range : kParamRanges)
    if (p.*range.field < range.min || p.*range.field > range.max) return false;
  return p.mode == kModeGlow || p.mode == kModeSparkle;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const EffectParams before = DefaultEffectParams();
  EffectParams params = before;
  std::string error;
  const bool ok = ReadSettingsFile(WriteFuzzFile(data, size), &params, &error);
  if (!ok) {
    FUZZ_CHECK(!error.empty());
    FUZZ_CHECK(std::memcmp(&params, &before, sizeof params) == 0);
    return 0;
  }
  FUZZ_CHECK(InRange(params));
  EffectParams again = DefaultEffectParams();
  again.red = again.green = again.blue = 0;  // every field must come from the text
  std::string why;
  FUZZ_CHECK(ParseSettings(FormatSettings(params), &again, &why));
  FUZZ_CHECK(std::memcmp(&params, &again, sizeof params) == 0);
  return 0;
}
