// The planning step: the parsed arguments turned into jobs, with every path checked before
// any work, so that what is refused is never touched.
#pragma once

#include <string>
#include <vector>

#include "command/Options.h"
#include "files/SafeWrite.h"
#include "filterhost/Descriptors.h"
#include "host/EffectParams.h"

// One image to filter and where it goes.
struct Job {
  std::string input;
  std::string format;  // to write
  OutputFile output;
  std::string refused;  // why it cannot be done, found before any work
};

struct Plan {
  EffectParams params{};  // the defaults, then the settings file, then the options
  std::vector<Job> jobs;
  bool batch = false;         // --out-dir
  OutputFile settingsOut;     // when --save-settings is given
  bool settingsOnly = false;  // --save-settings without an image: nothing to filter
  bool playing = false;       // --play: the step's descriptor is handed to the plug-in
  Descriptor play;
  OutputFile recordOut;  // when --record is given
};

// Why nothing is done: the exit status and the message.
struct Refusal {
  int status = 0;
  std::string message;
};

// True with the plan; false with the refusal, when the arguments cannot be carried out at
// all. A single file of a batch that cannot be done is a job with `refused` set instead.
bool PlanRun(const Arguments& args, Plan* plan, Refusal* refusal);
