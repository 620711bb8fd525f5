#include "command/Options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdlib>

#include "command/Console.h"
#include "command/Report.h"
#include "files/FileSystem.h"
#include "imagefile/ImageFile.h"

namespace {

// The plug-in --version speaks of: built in natively; on Windows the one beside
// corvanel.exe, where there is one.
std::string PluginVersion() {
#ifdef _WIN32
  if (InspectPath(ProgramDirectory() + "Corvanel.8bf").kind == PathInfo::kMissing)
    return "no Corvanel.8bf beside it: --plugin PATH names one";
  return std::string("the Corvanel plug-in ") + CORVANEL_VERSION + " beside it";
#else
  return std::string("the Corvanel plug-in ") + CORVANEL_VERSION + ", built in";
#endif
}

std::string Range(const ParamRange& r) {
  return std::to_string(r.min) + "-" + std::to_string(r.max);
}

// The settings of the parameter table, each under its own name.
void AddEffectOptions(CLI::App& app, Arguments* args) {
  std::string modes;
  for (int32_t i = 0; i < kModeParam.count; ++i)
    modes += std::string(i ? "|" : "") + kModeParam.names[i];
  app.add_option("--" + std::string(kModeParam.name), args->mode,
                 std::string(kModeParam.description) + " (default " +
                     kModeParam.names[kModeParam.defaultValue] + ")")
      ->type_name(modes);
  const ParamRange* rgb = &kParamRanges[kMatchParam.first];
  app.add_option("--" + std::string(kMatchParam.name), args->match,
                 std::string(kMatchParam.description) + ", " + rgb[0].name + "," + rgb[1].name +
                     "," + rgb[2].name + ", each " + Range(rgb[0]) + " (default " +
                     std::to_string(rgb[0].defaultValue) + "," +
                     std::to_string(rgb[1].defaultValue) + "," +
                     std::to_string(rgb[2].defaultValue) + ")")
      ->type_name("R,G,B");
  for (int i = kParamThreshold; i < kParamCount; ++i) {
    const ParamRange& r = kParamRanges[i];
    app.add_option("--" + std::string(r.name), args->values[i],
                   std::string(r.description) + "; " + Range(r) + " (default " +
                       std::to_string(r.defaultValue) + ")")
        ->type_name("N");
  }
}

void AddFileOptions(CLI::App& app, Arguments* args) {
  app.add_option("--settings", args->settingsIn,
                 "read settings from FILE (- standard input); options given override it")
      ->type_name("FILE");
  app.add_option("--save-settings", args->settingsOut,
                 "write the settings used to FILE (- standard output); alone, those given")
      ->type_name("FILE");
  app.add_option("--record", args->recordStep,
                 "write the settings of the run to FILE as a step, as an editor records a step "
                 "of an action")
      ->type_name("FILE");
  app.add_option("--play", args->playStep,
                 "play back a step recorded with --record: its settings, without the dialog "
                 "(with --dialog, the dialog opens on them)")
      ->type_name("FILE");
  app.add_option("--out-dir", args->outDir,
                 "write each INPUT into DIR under its own name (a batch)")
      ->type_name("DIR");
  app.add_option("--format", args->formatName,
                 "the format to write, by extension (png, jpg, ...): with --out-dir, or with - as "
                 "OUTPUT")
      ->type_name("EXT");
  app.add_option(
         "--quality", args->qualityText,
         "quality of lossy formats, 1-100 (default " + std::to_string(kDefaultQuality) + ")")
      ->type_name("N");
  app.add_option("--depth", args->depthText,
                 "filter and write at 8 or 16 bits a sample (default: 16 where the file has "
                 "more than 8; formats of 8-bit samples are written at 8)")
      ->type_name("8|16");
  app.add_option("--max-megapixels", args->megapixelsText,
                 "refuse images larger than this before decoding them; the default is what "
                 "this build can process in the memory it can address here (" +
                     std::to_string(PeakBytesPerPixel()) +
                     " bytes a pixel): " + Megapixels(DefaultPixelLimit()))
      ->type_name("N");
}

void AddRunOptions(CLI::App& app, Arguments* args) {
  app.add_flag("--dialog", args->dialog,
               "choose the settings in the plug-in's dialog (Windows; in a batch, once for all)");
  app.add_option("--plugin", args->pluginPath,
                 "the Corvanel.8bf to load (Windows; default: the one beside corvanel.exe)")
      ->type_name("PATH");
  app.add_option("--threads", args->threadsText,
                 "the most threads the filter uses, 1 to 64; 0 (the default) one for each core")
      ->type_name("N");
  app.add_flag("-q,--quiet", args->quiet,
               "no progress bar, no line per image and no summary; warnings and errors still");
  app.set_version_flag(
      "--version",
      [] {
        return std::string("corvanel ") + CORVANEL_VERSION + " (" + PluginVersion() + ")\n" +
               ImageLibraryVersions() + ", CLI11 " + CLI11_VERSION;
      },
      "show the versions of corvanel, the plug-in and the libraries");
}

// From the format table of this build's image backend.
std::string FormatsHelp() {
  std::string reads, writes, lossy, frames, deep;
  for (const ImageFormatInfo& f : ImageFormats()) {
    if (f.writes && f.deep) deep += std::string(deep.empty() ? "" : ", ") + f.name;
    if (f.reads) reads += std::string(reads.empty() ? "" : ", ") + f.extensions;
    if (f.writes) writes += std::string(writes.empty() ? "" : ", ") + f.name;
    if (f.writes && f.lossy) lossy += std::string(lossy.empty() ? "" : ", ") + f.name;
    if (f.writes && f.frames) frames += std::string(frames.empty() ? "" : ", ") + f.name;
  }
  std::string s = "Formats of this build (" + ImageLibraryVersions() + "):\n  reads  " + reads +
                  "\n  writes " + writes + " (by the output's extension or --format)\n";
  if (!lossy.empty()) s += "  --quality applies to " + lossy + "\n";
  // The conversions are the host interface's: 16-bit samples run 0 to 32768 there.
  s += "  files of more than 8 bits a sample are filtered at 16 bits and written at 16 in " + deep +
       "\n  (samples v of 0-65535 as round(v x 32768 / 65535) and back), at 8 (the nearest "
       "value) in the rest\n";
  if (!frames.empty())
    s += "  animations and multi-page files are filtered frame by frame and kept in " + frames +
         "\n";
  else
    s += "  animations are refused\n";
  return s;
}

// Words joined by ", ", a line broken before one that would pass the width.
std::string Wrapped(std::string line, const std::vector<std::string>& words, size_t width) {
  std::string text;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string word = words[i] + (i + 1 < words.size() ? "," : "");
    if (line.size() + 1 + word.size() > width) {
      text += line + "\n";
      line = word;
    } else {
      line += (line.empty() ? "" : " ") + word;
    }
  }
  return text + line;
}

std::string SettingsFileHelp() {
  std::vector<std::string> names{kModeParam.name};
  for (int i = 0; i < kParamCount; ++i) {
    names.push_back(kParamRanges[i].name);
    if (i == kMatchParam.first + 2) names.push_back(kMatchParam.name);
  }
  return Wrapped("Settings file: lines 'name = value' with the names", names, 90) +
         "; '#' starts a comment. --save-settings writes one.\n";
}

std::string Footer() {
  return "\nThe colour window: a pixel is lit when each of its red, green and blue lies within\n"
         "Threshold of --match (clamped to 0-255). Glow lights a halo around every such pixel.\n"
         "Sparkle turns some of them into stars; a star's streaks can brighten further pixels\n"
         "into the window, which then start stars of their own, mostly further down, so stars\n"
         "can spread over a dark picture: a lower Threshold, a shorter Radius or fewer Streaks\n"
         "keep that in check. Unless --quiet, a line after each image says how many pixels lay\n"
         "in the window (count and share) and the time taken; when none did, a warning says\n"
         "the image is unchanged (even with --quiet). Files of a batch are filtered one at a\n"
         "time (the filter uses every core); a file that fails is reported and the rest go on.\n"
         "Outputs of a batch that would meet (two inputs of one name) are all listed, and\n"
         "nothing is done. An image that does not fit in memory fails alone, saying so.\n\n" +
         FormatsHelp() + "\n" + SettingsFileHelp() +
         "\nExit status: 0 every image written; 1 an image failed, or was refused before any "
         "work\n"
         "(the rest of a batch is still done); 2 the command line cannot be carried out (bad\n"
         "options or settings, outputs that meet), nothing done; 130 interrupted (Ctrl-C): the\n"
         "file being made is not written, no partial file is left, and the message names it.";
}

// The option library's refusals in the command's own words.
std::string UsageError(const CLI::ParseError& e) {
  const std::string what = e.what();
  const size_t colon = what.find(':');
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&e) && colon != std::string::npos)
    return what.substr(0, colon) + " needs a value";
  if (dynamic_cast<const CLI::ExtrasError*>(&e) && colon != std::string::npos) {
    std::string extra = what.substr(colon + 1);
    extra.erase(0, extra.find_first_not_of(' '));
    return "unknown option " + extra;
  }
  if (dynamic_cast<const CLI::ConversionError*>(&e) ||
      dynamic_cast<const CLI::ValidationError*>(&e))
    return what.substr(0, colon) + ": not a value it takes";
  return "the command line cannot be read: " + what;
}

// --quality and --max-megapixels, checked as the effect's settings are.
bool CheckNumbers(Arguments* args, std::string* error) {
  if (!args->qualityText.empty()) {
    const std::string& t = args->qualityText;
    const bool digits = t.size() <= 3 && t.find_first_not_of("0123456789") == std::string::npos;
    const int q = digits ? std::stoi(t) : 0;
    if (q < 1 || q > 100) {
      *error = "--quality must be a whole number from 1 to 100 (got '" + t + "')";
      return false;
    }
    args->quality = q;
  }
  if (!args->depthText.empty()) {
    if (args->depthText != "8" && args->depthText != "16") {
      *error = "--depth must be 8 or 16 (got '" + args->depthText + "')";
      return false;
    }
    args->depth = std::stoi(args->depthText);
  }
  if (!args->threadsText.empty()) {
    const std::string& t = args->threadsText;
    const bool digits = t.size() <= 2 && t.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || std::stoi(t) > 64) {
      *error = "--threads must be a whole number from 0 to 64 (got '" + t + "')";
      return false;
    }
    args->threads = std::stoi(t);
  }
  if (!args->megapixelsText.empty()) {
    const std::string& t = args->megapixelsText;
    char* end = nullptr;
    const double mp = std::strtod(t.c_str(), &end);
    if (t.find_first_not_of("0123456789.") != std::string::npos || *end || !(mp > 0) ||
        mp > 100000) {
      *error = "--max-megapixels must be a number of megapixels above 0 and at most 100000 (got '" +
               t + "')";
      return false;
    }
    args->megapixels = mp;
  }
  return true;
}

}  // namespace

int ParseArguments(int argc, char** argv, Arguments* args) {
  CLI::App app{
      "Applies the Corvanel filter (Glow or Sparkle) to image files.\n\n"
      "  corvanel [options] INPUT OUTPUT\n"
      "  corvanel [options] INPUT... --out-dir DIR [--format EXT]\n",
      "corvanel"};
  app.allow_windows_style_options(false);  // on Windows "/x" is a path, never an option
  app.option_defaults()->take_last();      // a repeated option: the last one wins
  app.set_help_flag("-h,--help", "show this help and exit");
  args->megapixels = double(DefaultPixelLimit()) / 1e6;
  app.add_option("FILES", args->files,
                 "INPUT OUTPUT, or the INPUTs of a batch; - is standard input or output")
      ->type_name("")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  AddEffectOptions(app, args);
  AddFileOptions(app, args);
  AddRunOptions(app, args);
  app.footer(Footer());
#ifdef _WIN32
  // "/?" asks a Windows program for its help; it can name no file there.
  std::vector<std::string> given(argv + 1, argv + argc);
  for (std::string& a : given)
    if (a == "/?") a = "--help";
  std::reverse(given.begin(), given.end());  // CLI11 takes them last first
#endif
  try {
#ifdef _WIN32
    app.parse(std::move(given));
#else
    app.parse(argc, argv);
#endif
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return Fail(kExitUsage, UsageError(e) + " (see corvanel --help)");
  }
  std::string error;
  if (!CheckNumbers(args, &error)) return Fail(kExitUsage, error);
  return -1;
}
