#include "host/Selectors.h"

#include "host/KnownHosts.h"
#include "host/PluginGlobals.h"
#include "host/PseudoHandle.h"
#include "host/RememberedSettings.h"
#include "platform/MessageBox.h"

const char kAboutText[] = "Corvanel\nCopyright (c) 2026 Tessory. All rights reserved.";

void DoAbout() {
  platform::ShowMessage(nullptr, kAboutText, "About", platform::MessageIcon::Information);
}

bool EnsureDefaultParameters(PluginGlobals* globals) {
  FilterRecord* record = globals->filterRecord;
  if (record->parameters) return true;
  record->parameters = NewPseudoHandle(sizeof(EffectParams));
  if (!record->parameters) {
    globals->result = kMemFullErr;
    return false;
  }
  EffectParams* params = ParamsFromHandle(record->parameters);
  *params = DefaultEffectParams();
  // A host that forgot the record of its last run: its settings come from the plug-in's file.
  if (!TraitsOfHost(record->hostSig).keepsParameters)
    RecallSettings(params, &LoadedDialogState().customColour);
  return true;
}

void DoParameters(PluginGlobals* globals) {
  if (!EnsureDefaultParameters(globals)) return;
  ParamsFromHandle(globals->filterRecord->parameters)->showDialog = 1;
}

void DoPrepare(PluginGlobals* globals) {
  globals->filterRecord->bufferSpace = 0;
}

void EmptyRequests(FilterRecord* record) {
  RectSet(record->inRect, 0, 0, 0, 0);
  RectSet(record->outRect, 0, 0, 0, 0);
  RectSet(record->maskRect, 0, 0, 0, 0);
}

void DoContinue(PluginGlobals* globals) {
  EmptyRequests(globals->filterRecord);
}

void DoFinish(PluginGlobals*) {}

static bool HostHas(const void* proc, const char* text) {
  if (proc) return true;
  platform::ShowMessage(nullptr, text, "Invalid Host", platform::MessageIcon::Warning);
  return false;
}

bool HostHasAdvanceState(AdvanceStateProc proc) {
  return HostHas(reinterpret_cast<const void*>(proc),
                 "AdvanceStateProc not available in this plug-in host.");
}

bool HostHasDisplayPixels(DisplayPixelsProc proc) {
  return HostHas(reinterpret_cast<const void*>(proc),
                 "DisplayPixelsProc not available in this plug-in host.");
}
