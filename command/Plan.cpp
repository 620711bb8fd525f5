#include "command/Plan.h"

#include <algorithm>
#include <map>

#include "command/Console.h"
#include "command/Report.h"
#include "command/Settings.h"
#include "command/Step.h"
#include "files/FileSystem.h"
#include "imagefile/ImageFile.h"

namespace {

#ifdef _WIN32
constexpr bool kHasDialog = true;
#else
constexpr bool kHasDialog = false;
#endif

// Each check says why it refuses in *refusal and returns false.
bool Refuse(Refusal* refusal, int status, const std::string& message) {
  *refusal = {status, message};
  return false;
}

bool CheckHost(const Arguments& args, Refusal* refusal) {
  if (args.dialog && !kHasDialog)
    return Refuse(refusal, kExitUsage,
                  "--dialog needs the Windows build: the plug-in's dialog is a Windows dialog");
  if (args.dialog && !CanShowWindows())
    return Refuse(refusal, kExitFailure,
                  "the plug-in's dialog could not be shown: no window can be created here "
                  "(is there a display?); nothing written");
  if (!args.pluginPath.empty() && !kHasDialog)
    return Refuse(refusal, kExitUsage,
                  "--plugin needs the Windows build: here the plug-in is built in");
  return true;
}

// INPUT OUTPUT, or inputs and a folder. *useOutDir: the hint for a folder given last, as
// cp takes it; that is named with --out-dir, a directory given as OUTPUT is refused.
bool CheckFileCount(const Arguments& args, std::string* useOutDir, Refusal* refusal) {
  const auto& files = args.files;
  const bool batch = !args.outDir.empty();
  if (files.empty())
    return Refuse(refusal, kExitUsage, "INPUT and OUTPUT are required (see corvanel --help)");
  if (!batch && files.size() == 1)
    return Refuse(refusal, kExitUsage, "OUTPUT is required, or --out-dir DIR for a batch");
  if (InspectPath(files.back()).kind == PathInfo::kDirectory)
    *useOutDir =
        " (to write into the folder " + files.back() + ", give --out-dir " + files.back() + ")";
  if (!batch && files.size() > 2)
    return Refuse(refusal, kExitUsage,
                  "several inputs need --out-dir DIR: " + std::to_string(files.size()) +
                      " files were given" + *useOutDir);
  return true;
}

// The defaults of a new record, then the settings file, then the options.
bool ReadParams(const Arguments& args, EffectParams* params, Refusal* refusal) {
  std::string error;
  *params = DefaultEffectParams();
  if ((!args.settingsIn.empty() && !ReadSettingsFile(args.settingsIn, params, &error)) ||
      (!args.mode.empty() && !ParseMode(args.mode, &(params->*kModeParam.field), &error)) ||
      (!args.match.empty() && !ParseMatchColour(args.match, params, &error)))
    return Refuse(refusal, kExitUsage, error);
  for (int i = kParamThreshold; i < kParamCount; ++i)
    if (args.values[i] &&
        !ParseParamValue(ParamIndex(i), *args.values[i], &(params->*kParamRanges[i].field), &error))
      return Refuse(refusal, kExitUsage, error);
  return true;
}

// A step to play gives every setting, so no other source of settings goes with it; step
// files are named files, never standard input or output.
bool PlanSteps(const Arguments& args, Plan* plan, Refusal* refusal) {
  std::string error;
  bool settingsGiven = !args.settingsIn.empty() || !args.mode.empty() || !args.match.empty();
  for (const std::optional<std::string>& value : args.values) settingsGiven |= bool(value);
  if (!args.playStep.empty()) {
    if (settingsGiven)
      return Refuse(refusal, kExitUsage,
                    "--play gives every setting: it does not go with --settings or the settings' "
                    "own options");
    if (args.playStep == "-")
      return Refuse(refusal, kExitUsage, "--play needs a step file, not standard input");
    if (!ReadStepFile(args.playStep, &plan->play, &error))
      return Refuse(refusal, kExitUsage, error);
    plan->playing = true;
  }
  if (!args.recordStep.empty()) {
    if (args.recordStep == "-")
      return Refuse(refusal, kExitUsage, "--record needs a step file, not standard output");
    if (!CheckOutput(args.recordStep, "the step file " + args.recordStep, &plan->recordOut, &error))
      return Refuse(refusal, kExitFailure, error);
  }
  return true;
}

// Each input into the folder under its own name (the extension of --format, if given).
bool PlanBatch(const Arguments& args, const std::string& forcedFormat, Plan* plan,
               Refusal* refusal) {
  const std::string& outDir = args.outDir;
  const PathInfo dir = InspectPath(outDir);
  if (dir.kind != PathInfo::kDirectory)
    return Refuse(
        refusal, kExitUsage,
        "--out-dir " + outDir +
            (dir.kind == PathInfo::kMissing ? ": no such folder (make it first: corvanel creates "
                                              "no folders)"
                                            : ": not a folder"));
  for (const std::string& input : args.files) {
    if (input == "-")
      return Refuse(refusal, kExitUsage,
                    "standard input cannot be part of a batch: it has no name to "
                    "keep (give - OUTPUT --format EXT for it)");
    Job job;
    job.input = input;
    std::string name = BaseName(input);
    if (!forcedFormat.empty()) name = name.substr(0, name.find_last_of('.')) + "." + forcedFormat;
    const std::string out = outDir + (outDir.back() == '/' ? "" : "/") + name;
    std::string why;
    if (!OutputFormatFor(out, &job.format, &why))
      job.refused = "cannot write " + out + ": " + why + "; --format EXT chooses one";
    else if (!CheckOutput(out, out, &job.output, &why))
      job.refused = why;
    plan->jobs.push_back(job);
  }
  return true;
}

bool PlanSingle(const Arguments& args, const std::string& forcedFormat,
                const std::string& useOutDir, Plan* plan, Refusal* refusal) {
  Job job;
  job.input = args.files[0];
  const std::string& out = args.files[1];
  std::string error;
  if (out == "-" && forcedFormat.empty())
    return Refuse(refusal, kExitUsage, "standard output as OUTPUT needs --format EXT");
  if (out == "-" && StdoutIsTerminal())
    return Refuse(refusal, kExitUsage,
                  "standard output is a terminal: send it to a file or a program "
                  "(> out." +
                      forcedFormat + " or | ...)");
  if (!CheckOutput(out, out, &job.output, &error))
    return Refuse(refusal, kExitFailure, error + useOutDir);
  std::string named;
  // A name without an extension names no format (OutputFormatFor would read it as one).
  const bool noExtension = out != "-" && BaseName(out).find('.') == std::string::npos;
  if (noExtension) error = "the name has no extension";
  const bool hasFormat = out != "-" && !noExtension && OutputFormatFor(out, &named, &error);
  if (!forcedFormat.empty() && hasFormat && named != forcedFormat)
    return Refuse(refusal, kExitUsage,
                  out + " names the ." + named + " format but --format says ." + forcedFormat);
  job.format = forcedFormat.empty() ? named : forcedFormat;
  if (job.format.empty())
    return Refuse(refusal, kExitUsage,
                  "cannot write " + out + ": " + error + "; --format EXT chooses one");
  plan->jobs.push_back(job);
  return true;
}

// No output may be an input or another output, under whatever name or link.
class Claims {
 public:
  void Input(const std::string& identity, const std::string& name) {
    inputs_.emplace(identity, name);
  }
  bool IsInput(const std::string& identity) const { return inputs_.count(identity) > 0; }
  void Release(const std::string& identity) { inputs_.erase(identity); }
  // `from`: the input written there, or empty for the settings.
  bool Output(const OutputFile& out, const std::string& from, std::string* error) {
    const auto input = inputs_.find(out.identity);
    if (input != inputs_.end()) {
      *error = out.name + " is the input " + input->second + "; writing it would destroy the input";
      return false;
    }
    const auto other = outputs_.find(out.identity);
    if (other != outputs_.end()) {
      *error = out.isStdout() ? std::string(
                                    "standard output cannot take both the image and the "
                                    "settings")
               : out.name == other->second.name
                   ? out.name + " would be written twice" + From(other->second.from, from)
                   : out.name + " and " + other->second.name + " are the same file" +
                         From(other->second.from, from);
      return false;
    }
    outputs_.emplace(out.identity, Claim{out.name, from});
    return true;
  }

 private:
  // ", from a/x.png and b/x.png": what would have made the output twice.
  static std::string From(const std::string& first, const std::string& second) {
    return first.empty() || second.empty() ? std::string()
                                           : " (from " + first + " and " + second + ")";
  }
  struct Claim {
    std::string name, from;  // the output, and the input that makes it
  };
  std::map<std::string, std::string> inputs_;  // identity -> name
  std::map<std::string, Claim> outputs_;
};

bool CheckCollisions(const Arguments& args, Plan* plan, Refusal* refusal) {
  Claims claims;
  std::string error;
  for (Job& job : plan->jobs) {
    std::string identity;
    if (job.refused.empty() && CheckInput(job.input, job.input, &identity, &job.refused))
      claims.Input(identity, job.input);
  }
  std::string stepIdentity;
  if (!args.playStep.empty() && CheckInput(args.playStep, args.playStep, &stepIdentity, &error))
    claims.Input(stepIdentity, args.playStep);
  std::string settingsIdentity;
  if (!args.settingsIn.empty() &&
      CheckInput(args.settingsIn, args.settingsIn, &settingsIdentity, &error)) {
    if (claims.IsInput(settingsIdentity))
      return Refuse(refusal, kExitUsage,
                    "standard input cannot give both the image and the settings");
    claims.Input(settingsIdentity, args.settingsIn);
  }
  // Every clash is listed, so that one run shows all there is to change; nothing is done.
  std::string clashes;
  int status = 0;
  for (const Job& job : plan->jobs)
    if (job.refused.empty() && !claims.Output(job.output, job.input, &error)) {
      // An output that is an input is refused as an unwritable output is; outputs that meet
      // are the command line's contradiction.
      status = std::max(status, claims.IsInput(job.output.identity) ? kExitFailure : kExitUsage);
      clashes += (clashes.empty() ? "" : "; ") + error;
    }
  if (!args.settingsOut.empty()) {
    // Rewriting the settings file that was read is allowed: it was read in full already.
    if (settingsIdentity != "stdin") claims.Release(settingsIdentity);
    if (!claims.Output(plan->settingsOut, "", &error)) {
      status =
          std::max(status, claims.IsInput(plan->settingsOut.identity) ? kExitFailure : kExitUsage);
      clashes += (clashes.empty() ? "" : "; ") + error;
    }
  }
  if (!args.recordStep.empty() && !claims.Output(plan->recordOut, "", &error)) {
    status = std::max(status, claims.IsInput(plan->recordOut.identity) ? kExitFailure : kExitUsage);
    clashes += (clashes.empty() ? "" : "; ") + error;
  }
  if (clashes.empty()) return true;
  return Refuse(refusal, status, clashes + " (nothing written)");
}

}  // namespace

bool PlanRun(const Arguments& args, Plan* plan, Refusal* refusal) {
  *plan = Plan{};
  plan->batch = !args.outDir.empty();
  std::string useOutDir, forcedFormat, error;
  if (!CheckHost(args, refusal)) return false;
  // --save-settings alone writes the settings the command line gives, with no image.
  if (args.files.empty() && args.outDir.empty() && !args.settingsOut.empty() && !args.dialog) {
    if (!ReadParams(args, &plan->params, refusal)) return false;
    if (!CheckOutput(args.settingsOut, SettingsFileName(args.settingsOut), &plan->settingsOut,
                     &error))
      return Refuse(refusal, kExitFailure, error);
    if (!args.settingsIn.empty()) {
      std::string identity;
      if (CheckInput(args.settingsIn, args.settingsIn, &identity, &error) &&
          identity == plan->settingsOut.identity)
        return Refuse(refusal, kExitUsage,
                      args.settingsOut + " is the settings file read; writing it would destroy it");
    }
    plan->settingsOnly = true;
    return true;
  }
  if (!CheckFileCount(args, &useOutDir, refusal)) return false;
  if (!args.formatName.empty() && !OutputFormatFor(args.formatName, &forcedFormat, &error))
    return Refuse(refusal, kExitUsage, "--format " + args.formatName + ": " + error);
  if (args.settingsIn == "-" && !plan->batch && args.files[0] == "-")
    return Refuse(refusal, kExitUsage,
                  "standard input cannot give both the image and the settings");
  if (!ReadParams(args, &plan->params, refusal) || !PlanSteps(args, plan, refusal)) return false;
  if (plan->batch ? !PlanBatch(args, forcedFormat, plan, refusal)
                  : !PlanSingle(args, forcedFormat, useOutDir, plan, refusal))
    return false;
  if (!args.settingsOut.empty() &&
      !CheckOutput(args.settingsOut, SettingsFileName(args.settingsOut), &plan->settingsOut,
                   &error))
    return Refuse(refusal, kExitFailure, error);
  return CheckCollisions(args, plan, refusal);
}
