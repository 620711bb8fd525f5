#pragma once

#include "dialog/DialogHost.h"

enum class DialogOutcome {
  kConfirmed,  // OK
  kCancelled,  // Cancel or the close box
  kFailed,     // the dialog could not be created; the user saw nothing
};

// Runs the parameters dialog modally for the run that hands it `host`, owned by the host's
// window (null for none).
DialogOutcome RunParametersDialog(DialogHost& host, void* ownerWindow);
