#pragma once

#include "host/PluginGlobals.h"

// Runs the parameters dialog modally on the call's globals. True when the user confirmed
// (OK), false when the dialog was cancelled.
bool RunParametersDialog(PluginGlobals* globals);
