#include "command/Run.h"

#include <cstdlib>
#include <memory>
#include <set>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

#include "command/ColourWindow.h"
#include "command/Console.h"
#include "command/Report.h"
#include "command/Settings.h"
#include "command/Step.h"
#include "files/SafeWrite.h"
#include "filterhost/Descriptors.h"
#include "filterhost/FilterHost.h"
#include "filterhost/PluginModule.h"
#include "imagefile/ImageFile.h"
#include "imagefile/ImageSupport.h"

namespace {

struct Totals {
  uint64_t window = 0;
  uint64_t pixels = 0;
  int depth = 8;    // of the render
  int written = 8;  // of the file written
};

// How one job ended.
enum class Outcome { kWritten, kFailed, kStop };

class Runner {
 public:
  Runner(const Arguments& args, const Plan& plan, FilterHost& host)
      : args_(args),
        plan_(plan),
        host_(host),
        bar_(!args.quiet && StderrIsTerminal()),
        dialog_(args.dialog),
        used_(plan.params) {
    load_.maxPixels = uint64_t(args.megapixels * 1e6);
    load_.stop = &FilterHost::AbortRequested;
    load_.progress = [this](int percent) { bar_.Phase("loading", percent); };
    // A plug-in without 16-bit RGB is handed 8-bit images, as a host that has only those.
    load_.depth = host.TakesSixteenBit() ? args.depth : 8;
    save_.quality = args.quality;
    save_.stop = &FilterHost::AbortRequested;
    save_.progress = [this](int percent) { bar_.Phase("saving", percent); };
    // Steps are recorded and played as an editor with scripting does it; other runs see a
    // host without scripting.
    if (plan.playing || !args.recordStep.empty()) {
      if (plan.playing) scripting_.setup.descriptor = EncodeDescriptor(plan.play);
      scripting_.setup.playInfo = dialog_        ? kPlayDisplay
                                  : plan.playing ? kPlaySilent
                                                 : kPlayDontDisplay;
      host.SetScripting(&scripting_);
    }
  }

  int Run() {
    const double start = NowMilliseconds();
    // One file at a time: the filter itself uses every core.
    for (const Job& job : plan_.jobs) {
      const Outcome outcome = Do(job);
      if (outcome == Outcome::kStop) {
        stopped_ = true;
        break;
      }
      ++(outcome == Outcome::kWritten ? written_ : failed_);
    }
    bar_.End();
    return Finish(start);
  }

 private:
  Outcome Failed(const std::string& why) {
    bar_.End();
    Say(why);
    return Outcome::kFailed;
  }

  // A failure that is not a stop; an interruption ends the run.
  Outcome FailedUnlessStopped(const std::string& why) {
    return FilterHost::AbortRequested() ? Outcome::kStop : Failed(why);
  }

  Outcome Do(const Job& job) {
    const std::string& outName =
        job.output.isStdout() ? std::string("standard output") : job.output.name;
    if (!job.refused.empty()) return Failed(job.refused);
    current_ = outName;
    SetStopMessage(InterruptedMessage());
    ImageFile image;
    std::string step = "the memory to read it";
    try {
      return Make(job, outName, &image, &step);
    } catch (const std::bad_alloc& e) {
      // Whatever the step held is let go before the next file.
      const uint64_t pixels = image.pixels;
      image = ImageFile{};
      host_.TakeOutput();
      const auto* library = dynamic_cast<const OutOfMemory*>(&e);
      return OutOfMemoryFailure(job, outName, pixels, step,
                                library ? library->detail() : std::string());
    }
  }

  Outcome OutOfMemoryFailure(const Job& job, const std::string& outName, uint64_t pixels,
                             const std::string& what, const std::string& detail) {
    if (FilterHost::AbortRequested()) return Outcome::kStop;
    return Failed("not enough memory for " + job.input +
                  (pixels ? " (" + Megapixels(pixels) + ")" : std::string()) + ": " + what +
                  " could not be had" + (detail.empty() ? std::string() : " (" + detail + ")") +
                  "; " + outName + " not written");
  }

  // What the output format cannot keep of the image or the options, and where the depth
  // changes on the way, said once.
  void AddFormatNotes(const std::string& format, ImageFile* image) const {
    const ImageFormatInfo* info = FindImageFormat(format);
    if (!info) return;
    const int depth = image->frames.empty() ? 8 : image->frames.front().depth;
    const std::string bits = std::to_string(image->fileDepth) + "-bit samples ";
    if (image->fileDepth > 8 && depth == 8)
      image->notes.push_back(
          bits + "are filtered and written as 8-bit (each its nearest 8-bit value): " +
          (args_.depth == 8 ? std::string("--depth 8") : "the plug-in takes 8-bit images only"));
    if (image->fileDepth > 16 && depth == 16)
      image->notes.push_back(bits + "are filtered at 16 bits");
    if (depth == 16 && !info->deep)
      image->notes.push_back("." + format +
                             " keeps 8-bit samples: the 16-bit result is written as 8-bit "
                             "(each its nearest 8-bit value)");
    if (!info->alpha && !image->frames.empty() && image->frames.front().planes == 4)
      image->notes.push_back("." + format + " keeps no alpha channel: it is dropped");
    if (!info->lossy && save_.quality > 0)
      image->notes.push_back("--quality does not apply to ." + format + ": it is ignored");
  }

  Outcome Make(const Job& job, const std::string& outName, ImageFile* image, std::string* step) {
    const double start = NowMilliseconds();
    bar_.Phase("loading", 0);
    load_.outputFormat = job.format;
    std::string error, contents;
    if (!ReadInputFile(job.input, job.input, &contents, &error)) return FailedUnlessStopped(error);
    *step = "the memory to decode it";
    const std::string name = job.input == "-" ? "standard input" : job.input;
    if (!DecodeImage(contents, name, load_, image, &error)) return FailedUnlessStopped(error);
    std::string().swap(contents);  // assigning an empty string would keep the file's memory
    if (load_.depth)               // where the decoder gave another (an 8-bit file, --depth 16)
      for (Image& frame : image->frames) ConvertDepth(&frame, load_.depth);
    bar_.Phase("loading", 100);
    if (!HoldsFrames(job.format, image->frames.size(), &error))
      return Failed("cannot write " + outName + ": " + error);
    AddFormatNotes(job.format, image);
    for (const std::string& note : image->notes)
      if (said_.insert(note).second) {
        bar_.End();
        Say("note: " + note + " (" + job.input + ")");
      }
    Totals totals;
    totals.depth = image->frames.empty() ? 8 : image->frames.front().depth;
    const ImageFormatInfo* info = FindImageFormat(job.format);
    totals.written = totals.depth == 16 && info && !info->deep ? 8 : totals.depth;
    *step = "the host's image buffers for the filter";
    const OSErr result = Filter(*image, &totals);
    if (FilterHost::AbortRequested()) return Outcome::kStop;
    if (result == kMemFullErr)
      return OutOfMemoryFailure(job, outName, image->pixels, "the filter's work memory", "");
    if (result != kNoErr) return FilterFailed(result, job, outName);
    *step = "the memory to encode it as " + job.format;
    bar_.Phase("saving", 0);
    std::string bytes;
    if (!EncodeImage(*image, job.format, save_, &bytes, &error)) return FailedUnlessStopped(error);
    const uint64_t pixels = image->pixels;  // the frames are not needed for writing
    *image = ImageFile{};
    image->pixels = pixels;
    *step = "the memory to write it";
    if (!WriteOutput(job.output, bytes, outName, &FilterHost::AbortRequested, &error))
      return FailedUnlessStopped(error);
    bar_.Phase("saving", 100);
    bar_.End();
    Written(job, outName, totals, NowMilliseconds() - start);
    return Outcome::kWritten;
  }

  // Every frame through the plug-in, counting the pixels in the colour window.
  OSErr Filter(ImageFile& image, Totals* totals) {
    OSErr result = kNoErr;
    const int frames = int(image.frames.size());
    for (int f = 0; f < frames && result == kNoErr; ++f) {
      Image& frame = image.frames[size_t(f)];
      totals->pixels += uint64_t(frame.width) * uint64_t(frame.height);
      if (!host_.SetImage(std::move(frame))) return kFilterBadParameters;
      host_.SetParams(used_);
      host_.SetProgressHandler(
          [this, f, frames](int32_t done, int32_t total) { bar_.Rows(done, total, f, frames); });
      result = host_.Run(dialog_);
      // What was chosen in the dialog, or played from a step, holds for every later image.
      if (result == kNoErr && (dialog_ || plan_.playing)) {
        used_ = *host_.params();
        used_.showDialog = 0;
        dialog_ = false;
      }
      if (result == kNoErr && scripting_.recorded) {
        recorded_ = scripting_.descriptor;
        if (plan_.playing) {
          scripting_.setup.descriptor = EncodeDescriptor(recorded_);
          scripting_.setup.playInfo = kPlaySilent;
        }
      }
      totals->window += CountWindowPixels(host_.source(), used_);
      image.frames[size_t(f)] = host_.TakeOutput();
    }
    return result;
  }

  Outcome FilterFailed(OSErr result, const Job& job, const std::string& outName) {
    const std::string notWritten = "; " + outName + " not written";
    if (result == kDialogFailedErr)
      Failed("the plug-in's dialog could not be shown" + notWritten);
    else if (result == kUserCancelled && dialog_)
      Failed("cancelled in the dialog" + notWritten);
    else if (result == kErrReportString && !scripting_.message.empty())
      Failed("the filter failed on " + job.input + ": " + scripting_.message + notWritten);
    else
      Failed("the filter failed on " + job.input + ": " + FilterHost::DescribeResult(result) +
             notWritten);
    if (result == kUserCancelled || result == kDialogFailedErr) {  // nothing to go on with
      ++failed_;
      return Outcome::kStop;
    }
    return Outcome::kFailed;
  }

  void Written(const Job& job, const std::string& outName, const Totals& totals, double ms) {
    all_.window += totals.window;
    all_.pixels += totals.pixels;
    const bool batch = plan_.batch;
    const std::string depth =
        std::to_string(totals.depth) + "-bit" +
        (totals.written != totals.depth ? ", written as " + std::to_string(totals.written) + "-bit"
                                        : std::string());
    if (totals.window == 0)
      Say("warning: " + std::string(batch ? job.input + ": " : "") +
          "no pixel lies within Threshold of " + Colour(used_) +
          ": the image is unchanged (Threshold " + std::to_string(used_.threshold) + "; " + depth +
          ")");
    else if (!args_.quiet)
      Say((batch ? job.input + " -> " + outName + ": " : std::string()) +
          std::to_string(totals.window) + " of " + std::to_string(totals.pixels) + " pixels (" +
          Percent(totals.window, totals.pixels) + ") in the colour window, " + depth + ", " +
          Seconds(ms));
  }

  std::string InterruptedMessage() const {
    const std::string rest = written_ ? " (" + std::to_string(written_) + " written before)" : "";
    return "interrupted; " + current_ + " not written" + rest;
  }

  int Finish(double start) {
    std::string error;
    // An interrupt after the last file was written finds the run complete.
    if (stopped_) return Fail(kExitInterrupted, InterruptedMessage());
    // The settings are saved once they have made an image (with --dialog: once chosen).
    if (!args_.settingsOut.empty() && written_ > 0 &&
        !WriteSettingsFile(plan_.settingsOut, used_, &error))
      return Fail(kExitFailure, error);
    if (!args_.recordStep.empty() && written_ > 0 &&
        !WriteOutput(plan_.recordOut, FormatStep(recorded_), "the step file " + args_.recordStep,
                     &FilterHost::AbortRequested, &error))
      return Fail(kExitFailure, error);
    if (plan_.batch && !args_.quiet)
      Say(std::to_string(written_) + " of " + std::to_string(plan_.jobs.size()) + " files written" +
          (failed_ ? ", " + std::to_string(failed_) + " failed" : std::string()) + "; " +
          std::to_string(all_.window) + " of " + std::to_string(all_.pixels) + " pixels (" +
          Percent(all_.window, all_.pixels) + ") in the colour window; " +
          Seconds(NowMilliseconds() - start));
    return failed_ ? kExitFailure : 0;
  }

  const Arguments& args_;
  const Plan& plan_;
  FilterHost& host_;
  ProgressBar bar_;
  bool dialog_;        // the dialog is still to be shown
  EffectParams used_;  // what the images are filtered with
  LoadOptions load_;
  SaveOptions save_;
  std::set<std::string> said_;  // notes already given
  Totals all_;
  int written_ = 0, failed_ = 0;
  std::string current_;   // the output being made, for the message when interrupted
  bool stopped_ = false;  // a job was stopped by an interrupt
  DescriptorHost scripting_;
  Descriptor recorded_;  // what the plug-in last recorded, for --record
};

// The plug-in takes its thread count from CORVANEL_THREADS (host/RenderEffect.cpp): --threads
// sets it in this process's environment before the plug-in is loaded.
void HandOnThreads(int threads) {
  if (threads < 0) return;
  const std::string value = std::to_string(threads);
#ifdef _WIN32
  SetEnvironmentVariableA("CORVANEL_THREADS", value.c_str());
#else
  setenv("CORVANEL_THREADS", value.c_str(), 1);
#endif
}

}  // namespace

int RunPlan(const Arguments& args, const Plan& plan) {
  HandOnThreads(args.threads);
  const std::string path =
      args.pluginPath.empty() ? ProgramDirectory() + "Corvanel.8bf" : args.pluginPath;
  std::string error;
  std::unique_ptr<PluginModule> plugin = PluginModule::Load(path, &error);
  if (!plugin)
    return Fail(kExitFailure, error + (args.pluginPath.empty()
                                           ? " (corvanel.exe loads the Corvanel.8bf beside it; "
                                             "--plugin PATH names another)"
                                           : ""));
  SetStopMessage("interrupted; nothing written");
  FilterHost host(*plugin);
  return Runner(args, plan, host).Run();
}
