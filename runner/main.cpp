// corvanel: applies the Corvanel filter to an image file, hosting the plug-in as an image
// editor does.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>

#include "runner/Console.h"
#include "runner/FilterHost.h"
#include "runner/ImageFile.h"
#include "runner/PluginModule.h"
#include "runner/Settings.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;  // as a shell reports a program ended by Ctrl-C

#ifdef _WIN32
constexpr bool kHasDialog = true;
#else
constexpr bool kHasDialog = false;
#endif

int Fail(int status, const std::string& message) {
  std::cerr << "corvanel: " << message << "\n";
  return status;
}

// One line redrawn in place; only when stderr is a terminal, so logs stay clean.
class ProgressBar {
 public:
  void Report(int32_t done, int32_t total) {
    if (total <= 0) return;
    const int percent = int(int64_t(std::clamp(done + 1, 0, total)) * 100 / total);
    if (percent == shown_) return;
    shown_ = percent;
    const int filled = percent * kWidth / 100;
    std::fprintf(stderr, "\rrendering [%s%s] %3d%%", std::string(size_t(filled), '#').c_str(),
                 std::string(size_t(kWidth - filled), ' ').c_str(), percent);
    std::fflush(stderr);
  }
  void End() {
    if (shown_ >= 0) std::fputs("\n", stderr);
    shown_ = -1;
  }

 private:
  static constexpr int kWidth = 40;
  int shown_ = -1;
};

}  // namespace

int main(int argc, char** argv) {
  InstallInterruptHandler();

  CLI::App app{"Applies the Corvanel filter (Glow or Sparkle) to an image file.", "corvanel"};
  std::string input, output, mode, match, settingsIn, settingsOut, pluginPath;
  std::optional<std::string> values[kParamCount];
  bool dialog = false, quiet = false;
  app.add_option("INPUT", input, "image to read (PNG, JPEG, BMP, TGA, GIF, ...)")->required();
  app.add_option("OUTPUT", output, "image to write: .png, .jpg, .bmp or .tga")->required();
  app.add_option("--mode", mode, "glow or sparkle (default glow)");
  app.add_option("--match", match, "colour to match, R,G,B, each 0-255 (default 255,255,255)");
  for (int i = kParamThreshold; i < kParamCount; ++i) {
    const ParamRange& r = kParamRanges[i];
    std::string name = r.label;
    for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
    app.add_option("--" + name, values[i],
                   std::string(r.label) + ", " + std::to_string(r.min) + "-" +
                       std::to_string(r.max) + " (default " + std::to_string(r.defaultValue) + ")");
  }
  app.add_option("--settings", settingsIn, "read settings from FILE; options given override it");
  app.add_option("--save-settings", settingsOut, "write the settings used to FILE");
  app.add_flag("--dialog", dialog, "show the plug-in's dialog to choose the settings (Windows)");
  app.add_option("--plugin", pluginPath,
                 "the Corvanel.8bf to load (Windows; default: the one beside corvanel.exe)");
  app.add_flag("-q,--quiet", quiet, "no progress bar");
  app.footer(
      "Settings file: lines 'name = value' with the names mode, red, green, blue, threshold,\n"
      "radius, streaks, angle; '#' starts a comment. --save-settings writes one.");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    app.exit(e);
    return kExitUsage;
  }

  if (dialog && !kHasDialog)
    return Fail(kExitUsage,
                "--dialog needs the Windows build: the plug-in's dialog is a Windows dialog");
  if (!pluginPath.empty() && !kHasDialog)
    return Fail(kExitUsage, "--plugin needs the Windows build: here the plug-in is built in");

  // Settings: the defaults of a new record, then the file, then the options.
  EffectParams params = DefaultEffectParams();
  std::string error;
  if (!settingsIn.empty() && !ReadSettingsFile(settingsIn, &params, &error))
    return Fail(kExitUsage, error);
  if (!mode.empty() && !ParseMode(mode, &params.mode, &error)) return Fail(kExitUsage, error);
  if (!match.empty() && !ParseMatchColour(match, &params, &error)) return Fail(kExitUsage, error);
  for (int i = kParamThreshold; i < kParamCount; ++i)
    if (values[i] &&
        !ParseParamValue(ParamIndex(i), *values[i], &(params.*kParamRanges[i].field), &error))
      return Fail(kExitUsage, error);

  ImageFormat format;
  if (!OutputFormatFor(output, &format, &error)) return Fail(kExitUsage, error);

  Image image;
  if (!LoadImageFile(input, &image, &error)) return Fail(kExitFailure, error);

  if (pluginPath.empty()) pluginPath = ProgramDirectory() + "Corvanel.8bf";
  std::unique_ptr<PluginModule> plugin = PluginModule::Load(pluginPath, &error);
  if (!plugin) return Fail(kExitFailure, error);

  FilterHost host(*plugin);
  if (!host.SetImage(std::move(image)))
    return Fail(kExitFailure, input + " does not fit the filter's image record");
  host.SetParams(params);
  ProgressBar bar;
  if (!quiet && StderrIsTerminal())
    host.SetProgressHandler([&bar](int32_t done, int32_t total) { bar.Report(done, total); });

  const OSErr result = host.Run(dialog);
  bar.End();
  if (FilterHost::AbortRequested())
    return Fail(kExitInterrupted, "interrupted; " + output + " not written");
  if (result == kUserCancelled && dialog)
    return Fail(kExitFailure, "cancelled in the dialog; " + output + " not written");
  if (result != kNoErr)
    return Fail(kExitFailure, "the filter failed: " + FilterHost::DescribeResult(result) + "; " +
                                  output + " not written");

  if (!SaveImageFile(output, host.output(), &error, &FilterHost::AbortRequested)) {
    if (FilterHost::AbortRequested())
      return Fail(kExitInterrupted, "interrupted; " + output + " not written");
    return Fail(kExitFailure, error);
  }
  if (!settingsOut.empty()) {
    EffectParams used = *host.params();  // what the dialog left, when it was shown
    if (!WriteSettingsFile(settingsOut, used, &error)) return Fail(kExitFailure, error);
  }
  return 0;
}
