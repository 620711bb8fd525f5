#pragma once

#include "host/PluginGlobals.h"

enum class DialogOutcome {
  kConfirmed,  // OK
  kCancelled,  // Cancel or the close box
  kFailed,     // the dialog could not be created; the user saw nothing
};

// Runs the parameters dialog modally on the call's globals, owned by the host's window
// (null for none).
DialogOutcome RunParametersDialog(PluginGlobals* globals, void* ownerWindow);
