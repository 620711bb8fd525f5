// The command's options and help: what the command line says, before anything is checked
// against the files.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/EffectParams.h"

struct Arguments {
  std::vector<std::string> files;  // INPUT OUTPUT, or the INPUTs of a batch
  std::string mode, match, settingsIn, settingsOut, pluginPath, outDir, formatName;
  std::string playStep, recordStep;                // step files: --play and --record
  std::optional<std::string> values[kParamCount];  // of the number settings given by name
  int quality = 0;
  int depth = 0;                                       // --depth 8 or 16; 0: each file's own
  double megapixels = 0;                               // set to the default by ParseArguments
  int threads = -1;                                    // --threads N (0: every core); -1: not given
  std::string qualityText, megapixelsText, depthText;  // as given, checked by ParseArguments
  std::string threadsText;
  bool dialog = false, quiet = false;
};

// Parses the command line into *args. -1 to go on; otherwise the status to exit with, after
// the help, the version or the reason the arguments were refused was written.
int ParseArguments(int argc, char** argv, Arguments* args);
