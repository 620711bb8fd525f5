// The run loop: one job after another through the plug-in, then the summary.
#pragma once

#include "command/Options.h"
#include "command/Plan.h"

// Loads the plug-in, filters every job and writes the settings; the exit status.
int RunPlan(const Arguments& args, const Plan& plan);
