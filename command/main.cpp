// corvanel: applies the Corvanel filter to image files, hosting the plug-in as an image
// editor does.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "command/ColourWindow.h"
#include "command/Console.h"
#include "files/FileSystem.h"
#include "filterhost/FilterHost.h"
#include "imagefile/ImageFile.h"
#include "filterhost/PluginModule.h"
#include "files/SafeWrite.h"
#include "command/Settings.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;  // as a shell reports a program ended by Ctrl-C

#ifdef _WIN32
constexpr bool kHasDialog = true;
#else
constexpr bool kHasDialog = false;
#endif

void Say(const std::string& message) {
  std::cerr << "corvanel: " << message << "\n" << std::flush;
}

int Fail(int status, const std::string& message) {
  Say(message);
  return status;
}

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Percent(uint64_t part, uint64_t whole) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f %%", whole ? 100.0 * double(part) / double(whole) : 0.0);
  return text;
}

std::string Seconds(double milliseconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f s", milliseconds / 1000.0);
  return text;
}

std::string Colour(const EffectParams& p) {
  return std::to_string(p.red) + "," + std::to_string(p.green) + "," + std::to_string(p.blue);
}

// One line redrawn in place, through loading, rendering and saving; only when stderr is a
// terminal, so logs stay clean.
class ProgressBar {
 public:
  explicit ProgressBar(bool enabled) : enabled_(enabled) {}
  void Phase(const char* label, int percent) {
    if (!enabled_ || (label == label_ && percent == shown_)) return;
    label_ = label;
    shown_ = percent;
    const int filled = percent * kWidth / 100;
    std::fprintf(stderr, "\r%-9s [%s%s] %3d%%", label, std::string(size_t(filled), '#').c_str(),
                 std::string(size_t(kWidth - filled), ' ').c_str(), percent);
    std::fflush(stderr);
  }
  void Rows(int32_t done, int32_t total, int frame, int frames) {
    if (total <= 0 || frames <= 0) return;
    const int64_t rows = int64_t(frame) * total + std::clamp(done + 1, 0, total);
    Phase("rendering", int(rows * 100 / (int64_t(total) * frames)));
  }
  void End() {
    if (shown_ >= 0) std::fputs("\r\033[K", stderr);
    shown_ = -1;
    label_ = nullptr;
  }

 private:
  static constexpr int kWidth = 40;
  bool enabled_;
  const char* label_ = nullptr;
  int shown_ = -1;
};

// One image to filter and where it goes.
struct Job {
  std::string input;
  std::string format;  // to write
  OutputFile output;
  std::string refused;  // why it cannot be done, found before any work
};

struct Totals {
  uint64_t window = 0;
  uint64_t pixels = 0;
};

std::string DescribeSetting(int index) {
  switch (index) {
    case kParamThreshold:
      return "how far each of a pixel's red, green and blue may lie from --match, in levels, "
             "for the pixel to be lit (0: exactly that colour). Sparkle: also how many of "
             "those pixels become stars (more the higher)";
    case kParamRadius:
      return "Glow: the halo's radius in pixels. Sparkle: streaks reach up to twice it";
    case kParamStreaks:
      return "Sparkle: streaks per star";
    case kParamAngle:
      return "Sparkle: direction of the first streak in degrees (the rest are spread evenly)";
    default:
      return "";
  }
}

std::string FormatsHelp() {
  std::string reads, writes, lossy, frames;
  for (const ImageFormatInfo& f : ImageFormats()) {
    if (f.reads) reads += std::string(reads.empty() ? "" : ", ") + f.extensions;
    if (f.writes) writes += std::string(writes.empty() ? "" : ", ") + f.name;
    if (f.writes && f.lossy) lossy += std::string(lossy.empty() ? "" : ", ") + f.name;
    if (f.writes && f.frames) frames += std::string(frames.empty() ? "" : ", ") + f.name;
  }
  std::string s = "Formats of this build (" + ImageLibraryVersions() + "):\n  reads  " + reads +
                  "\n  writes " + writes + " (by the output's extension or --format)\n";
  if (!lossy.empty()) s += "  --quality applies to " + lossy + "\n";
  if (!frames.empty())
    s += "  animations and multi-page files are filtered frame by frame and kept in " + frames +
         "\n";
  else
    s += "  animations are refused\n";
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  InstallInterruptHandler();

  CLI::App app{
      "Applies the Corvanel filter (Glow or Sparkle) to image files.\n\n"
      "  corvanel [options] INPUT OUTPUT\n"
      "  corvanel [options] INPUT... --out-dir DIR [--format EXT]\n",
      "corvanel"};
  app.allow_windows_style_options(false);  // on Windows "/x" is a path, never an option
  app.option_defaults()->take_last();      // a repeated option: the last one wins
  app.set_help_flag("-h,--help", "show this help and exit");

  std::vector<std::string> files;
  std::string mode, match, settingsIn, settingsOut, pluginPath, outDir, formatName;
  std::optional<std::string> values[kParamCount];
  int quality = 0;
  double megapixels = double(DefaultPixelLimit()) / 1e6;
  bool dialog = false, quiet = false;
  app.add_option("FILES", files,
                 "INPUT OUTPUT, or the INPUTs of a batch; - is standard input or output")
      ->type_name("")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_option("--mode", mode,
                 "glow: a soft halo around each lit pixel; sparkle: stars of "
                 "straight streaks (default glow)")
      ->type_name("glow|sparkle");
  app.add_option("--match", match,
                 "the colour to match, red,green,blue, each 0-255 (default 255,255,255)")
      ->type_name("R,G,B");
  for (int i = kParamThreshold; i < kParamCount; ++i) {
    const ParamRange& r = kParamRanges[i];
    app.add_option("--" + Lower(r.label), values[i],
                   DescribeSetting(i) + "; " + std::to_string(r.min) + "-" + std::to_string(r.max) +
                       " (default " + std::to_string(r.defaultValue) + ")")
        ->type_name("N");
  }
  app.add_option("--settings", settingsIn,
                 "read settings from FILE (- standard input); options given override it")
      ->type_name("FILE");
  app.add_option("--save-settings", settingsOut,
                 "write the settings used to FILE (- standard output)")
      ->type_name("FILE");
  app.add_option("--out-dir", outDir, "write each INPUT into DIR under its own name (a batch)")
      ->type_name("DIR");
  app.add_option("--format", formatName,
                 "the format to write, by extension (png, jpg, ...): with --out-dir, or with - as "
                 "OUTPUT")
      ->type_name("EXT");
  app.add_option(
         "--quality", quality,
         "quality of lossy formats, 1-100 (default " + std::to_string(kDefaultQuality) + ")")
      ->type_name("N")
      ->check(CLI::Range(1, 100).description(""));
  app.add_option("--max-megapixels", megapixels,
                 "refuse images larger than this before decoding them (default here " +
                     std::to_string(DefaultPixelLimit() / 1000000) + ")")
      ->type_name("N")
      ->check(CLI::Validator(CLI::PositiveNumber).description(""));
  app.add_flag("--dialog", dialog,
               "choose the settings in the plug-in's dialog (Windows; in a batch, once for all)");
  app.add_option("--plugin", pluginPath,
                 "the Corvanel.8bf to load (Windows; default: the one beside corvanel.exe)")
      ->type_name("PATH");
  app.add_flag("-q,--quiet", quiet,
               "no progress bar, no line per image and no summary; warnings and errors still");
  app.set_version_flag("--version",
                       std::string("corvanel ") + CORVANEL_VERSION + " (the Corvanel plug-in " +
                           CORVANEL_VERSION + ")\n" + ImageLibraryVersions() + ", CLI11 " +
                           CLI11_VERSION,
                       "show the versions of corvanel, the plug-in and the libraries");
  app.footer(
      "\nThe colour window: a pixel is lit when each of its red, green and blue lies within\n"
      "Threshold of --match (clamped to 0-255). Glow lights a halo around every such pixel.\n"
      "Sparkle turns some of them into stars; a star's streaks can brighten further pixels into\n"
      "the window, so stars can spread. Unless --quiet, a line after each image says how many\n"
      "pixels lay in the window (count and share) and the time taken; when none did, a warning\n"
      "says the image is unchanged (even with --quiet). Files of a batch are filtered one at\n"
      "a time (the filter uses both cores); a file that fails is reported and the rest go on.\n\n" +
      FormatsHelp() +
      "\nSettings file: lines 'name = value' with the names mode, red, green, blue, match,\n"
      "threshold, radius, streaks, angle; '#' starts a comment. --save-settings writes one.\n\n"
      "Exit status: 0 every image written; 1 an image failed, or was refused before any work\n"
      "(the rest of a batch is still done); 2 bad arguments or settings, nothing done;\n"
      "130 interrupted (Ctrl-C): the current file is not written, no partial file is left.");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return Fail(kExitUsage, std::string(e.what()) + " (see corvanel --help)");
  }

  if (dialog && !kHasDialog)
    return Fail(kExitUsage,
                "--dialog needs the Windows build: the plug-in's dialog is a Windows dialog");
  if (dialog && !CanShowWindows())
    return Fail(kExitFailure,
                "the plug-in's dialog could not be shown: no window can be created here "
                "(is there a display?); nothing written");
  if (!pluginPath.empty() && !kHasDialog)
    return Fail(kExitUsage, "--plugin needs the Windows build: here the plug-in is built in");

  // The files: INPUT OUTPUT, or inputs and a folder.
  const bool batch = !outDir.empty();
  if (files.empty()) return Fail(kExitUsage, "INPUT and OUTPUT are required (see corvanel --help)");
  if (!batch && files.size() == 1)
    return Fail(kExitUsage, "OUTPUT is required, or --out-dir DIR for a batch");
  // A folder last, as cp takes it, is named with --out-dir: a directory given as OUTPUT
  // is refused, never filled.
  const bool folderLast = InspectPath(files.back()).kind == PathInfo::kDirectory;
  const std::string useOutDir = folderLast ? " (to write into the folder " + files.back() +
                                                 ", give --out-dir " + files.back() + ")"
                                           : "";
  if (!batch && files.size() > 2)
    return Fail(kExitUsage, "several inputs need --out-dir DIR: " + std::to_string(files.size()) +
                                " files were given" + useOutDir);
  std::string error;
  std::string forcedFormat;
  if (!formatName.empty() && !OutputFormatFor(formatName, &forcedFormat, &error))
    return Fail(kExitUsage, "--format " + formatName + ": " + error);

  if (settingsIn == "-" && !batch && files[0] == "-")
    return Fail(kExitUsage, "standard input cannot give both the image and the settings");

  // Settings: the defaults of a new record, then the file, then the options.
  EffectParams params = DefaultEffectParams();
  if (!settingsIn.empty() && !ReadSettingsFile(settingsIn, &params, &error))
    return Fail(kExitUsage, error);
  if (!mode.empty() && !ParseMode(mode, &params.mode, &error)) return Fail(kExitUsage, error);
  if (!match.empty() && !ParseMatchColour(match, &params, &error)) return Fail(kExitUsage, error);
  for (int i = kParamThreshold; i < kParamCount; ++i)
    if (values[i] &&
        !ParseParamValue(ParamIndex(i), *values[i], &(params.*kParamRanges[i].field), &error))
      return Fail(kExitUsage, error);

  // Every path is checked before any work: what is refused here is never touched.
  std::vector<Job> jobs;
  if (batch) {
    const PathInfo dir = InspectPath(outDir);
    if (dir.kind != PathInfo::kDirectory)
      return Fail(kExitUsage,
                  "--out-dir " + outDir +
                      (dir.kind == PathInfo::kMissing ? ": no such folder" : ": not a folder"));
    for (const std::string& input : files) {
      Job job;
      job.input = input;
      if (input == "-")
        return Fail(kExitUsage,
                    "standard input cannot be part of a batch: it has no name to "
                    "keep (give - OUTPUT --format EXT for it)");
      {
        std::string name = BaseName(input);
        if (!forcedFormat.empty())
          name = name.substr(0, name.find_last_of('.')) + "." + forcedFormat;
        const std::string out = outDir + (outDir.back() == '/' ? "" : "/") + name;
        std::string why;
        if (!OutputFormatFor(out, &job.format, &why))
          job.refused = "cannot write " + out + ": " + why + "; --format EXT chooses one";
        else if (!CheckOutput(out, out, &job.output, &why))
          job.refused = why;
      }
      jobs.push_back(job);
    }
  } else {
    Job job;
    job.input = files[0];
    const std::string& out = files[1];
    if (out == "-" && forcedFormat.empty())
      return Fail(kExitUsage, "standard output as OUTPUT needs --format EXT");
    if (!CheckOutput(out, out, &job.output, &error)) return Fail(kExitFailure, error + useOutDir);
    std::string named;
    const bool hasFormat = out != "-" && OutputFormatFor(out, &named, &error);
    if (!forcedFormat.empty() && hasFormat && named != forcedFormat)
      return Fail(kExitUsage,
                  out + " names the ." + named + " format but --format says ." + forcedFormat);
    job.format = forcedFormat.empty() ? named : forcedFormat;
    if (job.format.empty())
      return Fail(kExitUsage, "cannot write " + out + ": " + error + "; --format EXT chooses one");
    jobs.push_back(job);
  }
  OutputFile settingsFile;
  if (!settingsOut.empty() &&
      !CheckOutput(settingsOut, SettingsFileName(settingsOut), &settingsFile, &error))
    return Fail(kExitFailure, error);

  // No output may be an input or another output, under whatever name or link.
  std::map<std::string, std::string> inputs;  // identity -> name
  for (Job& job : jobs) {
    if (!job.refused.empty()) continue;
    std::string identity;
    if (!CheckInput(job.input, job.input, &identity, &error)) {
      job.refused = error;
      continue;
    }
    inputs.emplace(identity, job.input);
  }
  std::string settingsIdentity;
  if (!settingsIn.empty() && CheckInput(settingsIn, settingsIn, &settingsIdentity, &error)) {
    if (inputs.count(settingsIdentity))
      return Fail(kExitUsage, "standard input cannot give both the image and the settings");
    inputs.emplace(settingsIdentity, settingsIn);
  }
  std::map<std::string, std::string> outputs;  // identity -> name
  auto claim = [&](const OutputFile& out) -> bool {
    const auto input = inputs.find(out.identity);
    if (input != inputs.end()) {
      error = out.name + " is the input " + input->second +
              "; writing it would destroy the input (nothing written)";
      return false;
    }
    const auto other = outputs.find(out.identity);
    if (other != outputs.end()) {
      error = out.isStdout() ? std::string(
                                   "standard output cannot take both the image and the "
                                   "settings (nothing written)")
              : out.name == other->second
                  ? out.name + " would be written twice (nothing written)"
                  : out.name + " and " + other->second + " are the same file (nothing written)";
      return false;
    }
    outputs.emplace(out.identity, out.name);
    return true;
  };
  for (const Job& job : jobs)
    if (job.refused.empty() && !claim(job.output)) return Fail(kExitFailure, error);
  if (!settingsOut.empty()) {
    // Rewriting the settings file that was read is allowed: it was read in full already.
    if (settingsIdentity != "stdin") inputs.erase(settingsIdentity);
    if (!claim(settingsFile)) return Fail(kExitFailure, error);
  }

  if (pluginPath.empty()) pluginPath = ProgramDirectory() + "Corvanel.8bf";
  std::unique_ptr<PluginModule> plugin = PluginModule::Load(pluginPath, &error);
  if (!plugin) return Fail(kExitFailure, error);
  FilterHost host(*plugin);

  ProgressBar bar(!quiet && StderrIsTerminal());
  LoadOptions loadOptions;
  loadOptions.maxPixels = uint64_t(megapixels * 1e6);
  loadOptions.stop = &FilterHost::AbortRequested;
  loadOptions.progress = [&bar](int percent) { bar.Phase("loading", percent); };
  SaveOptions saveOptions;
  saveOptions.quality = quality;
  saveOptions.stop = &FilterHost::AbortRequested;
  saveOptions.progress = [&bar](int percent) { bar.Phase("saving", percent); };
  std::set<std::string> said;  // notes already given
  Totals all;
  int written = 0, failed = 0;
  const double start = NowMilliseconds();
  EffectParams used = params;

  std::string current;  // the output being made, for the message when interrupted
  // One file at a time: the filter itself uses both cores.
  for (Job& job : jobs) {
    const double fileStart = NowMilliseconds();
    const std::string& outName =
        job.output.isStdout() ? std::string("standard output") : job.output.name;
    auto fileFailed = [&](const std::string& why) {
      bar.End();
      Say(why);
      ++failed;
    };
    if (!job.refused.empty()) {
      fileFailed(job.refused);
      continue;
    }
    current = outName;
    bar.Phase("loading", 0);
    loadOptions.outputFormat = job.format;
    ImageFile image;
    if (!LoadImageFile(job.input, loadOptions, &image, &error)) {
      if (FilterHost::AbortRequested()) break;
      fileFailed(error);
      continue;
    }
    bar.Phase("loading", 100);
    if (!HoldsFrames(job.format, image.frames.size(), &error)) {
      fileFailed("cannot write " + outName + ": " + error);
      continue;
    }
    for (const std::string& note : image.notes)
      if (said.insert(note).second) {
        bar.End();
        Say("note: " + note + " (" + job.input + ")");
      }

    Totals totals;
    OSErr result = kNoErr;
    const int frames = int(image.frames.size());
    for (int f = 0; f < frames && result == kNoErr; ++f) {
      Image& frame = image.frames[size_t(f)];
      totals.window += CountWindowPixels(frame, used);
      totals.pixels += uint64_t(frame.width) * uint64_t(frame.height);
      if (!host.SetImage(std::move(frame))) {
        result = kFilterBadParameters;
        break;
      }
      host.SetParams(used);
      host.SetProgressHandler(
          [&bar, f, frames](int32_t done, int32_t total) { bar.Rows(done, total, f, frames); });
      result = host.Run(dialog);
      if (result == kNoErr && dialog) {  // what was chosen holds for every later image
        used = *host.params();
        used.showDialog = 0;
        dialog = false;
        totals.window = CountWindowPixels(host.source(), used);
      }
      image.frames[size_t(f)] = host.output();
    }
    if (FilterHost::AbortRequested()) break;
    if (result != kNoErr) {
      const std::string notWritten = "; " + outName + " not written";
      if (result == kDialogFailedErr)
        fileFailed("the plug-in's dialog could not be shown" + notWritten);
      else if (result == kUserCancelled && dialog)
        fileFailed("cancelled in the dialog" + notWritten);
      else
        fileFailed("the filter failed on " + job.input + ": " + FilterHost::DescribeResult(result) +
                   notWritten);
      if (result == kUserCancelled || result == kDialogFailedErr) break;  // nothing to go on with
      continue;
    }

    bar.Phase("saving", 0);
    std::string bytes;
    if (!EncodeImage(image, job.format, saveOptions, &bytes, &error) ||
        !WriteOutput(job.output, bytes, outName, &FilterHost::AbortRequested, &error)) {
      if (FilterHost::AbortRequested()) break;
      fileFailed(error);
      continue;
    }
    bar.Phase("saving", 100);
    bar.End();
    ++written;
    all.window += totals.window;
    all.pixels += totals.pixels;
    if (totals.window == 0)
      Say("warning: " + std::string(batch ? job.input + ": " : "") +
          "no pixel lies within Threshold of " + Colour(used) +
          ": the image is unchanged (Threshold " + std::to_string(used.threshold) + ")");
    else if (!quiet)
      Say((batch ? job.input + " -> " + outName + ": " : std::string()) +
          std::to_string(totals.window) + " of " + std::to_string(totals.pixels) + " pixels (" +
          Percent(totals.window, totals.pixels) + ") in the colour window, " +
          Seconds(NowMilliseconds() - fileStart));
  }
  bar.End();

  if (FilterHost::AbortRequested()) {
    const std::string rest = written ? " (" + std::to_string(written) + " written before)" : "";
    return Fail(kExitInterrupted, "interrupted; " + current + " not written" + rest);
  }
  // The settings are saved once they have made an image (with --dialog: once chosen).
  if (!settingsOut.empty() && written > 0 && !WriteSettingsFile(settingsFile, used, &error))
    return Fail(kExitFailure, error);
  if (batch && !quiet)
    Say(std::to_string(written) + " of " + std::to_string(jobs.size()) + " files written" +
        (failed ? ", " + std::to_string(failed) + " failed" : std::string()) + "; " +
        std::to_string(all.window) + " of " + std::to_string(all.pixels) + " pixels (" +
        Percent(all.window, all.pixels) + ") in the colour window; " +
        Seconds(NowMilliseconds() - start));
  return failed ? kExitFailure : 0;
}
