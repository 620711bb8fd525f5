// Builds without a window system have no dialog; tests see where one would have opened.
#pragma once

#include "dialog/ParametersDialog.h"

// How many dialogs runs have asked for since the program started.
int DialogsAskedFor();
// What each such dialog answers: OK on the stored settings unless a test says otherwise.
void SetDialogAnswer(DialogOutcome outcome);
