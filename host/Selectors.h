// Selector handlers. Each works on the call's globals and reports through result.
#pragma once

#include "host/PluginGlobals.h"

void DoAbout();
void DoParameters(PluginGlobals* globals);
void DoPrepare(PluginGlobals* globals);
void DoStart(PluginGlobals* globals);
void DoContinue(PluginGlobals* globals);
void DoFinish(PluginGlobals* globals);

// A record of the defaults in the host's parameters handle when there is none (a host
// may start a run without ever calling Parameters); false, with memFullErr, when no
// memory is left for it.
bool EnsureDefaultParameters(PluginGlobals* globals);

// Empties inRect, outRect and maskRect: nothing more is asked of the host.
void EmptyRequests(FilterRecord* record);

// True when the callback exists; otherwise tells the user and returns false.
bool HostHasAdvanceState(AdvanceStateProc proc);
bool HostHasDisplayPixels(DisplayPixelsProc proc);

// The About text: the product name, a line feed and the maker's notice.
extern const char kAboutText[];
