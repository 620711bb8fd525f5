#include "dialog/ParametersDialog.h"
#include "host/PseudoHandle.h"
#include "host/RenderEffect.h"
#include "host/Selectors.h"

namespace {

// A host may start a run without ever calling Parameters. The run then applies the
// defaults, as a record created by Parameters holds them, without a dialog; the record is
// left in the host's handle so that later runs keep it.
bool EnsureParameters(PluginGlobals* globals) {
  FilterRecord* record = globals->filterRecord;
  if (record->parameters) return true;
  record->parameters = NewPseudoHandle(sizeof(EffectParams));
  if (!record->parameters) {
    globals->result = kMemFullErr;
    return false;
  }
  *ParamsFromHandle(record->parameters) = DefaultEffectParams();
  return true;
}

// The window a Windows host hands in platformData, which owns the dialog; null for none.
void* HostWindow(const FilterRecord& record) {
  const auto* platform = static_cast<const PlatformData*>(record.platformData);
  return platform ? platform->hwnd : nullptr;
}

void RunStart(PluginGlobals* globals) {
  FilterRecord* record = globals->filterRecord;
  if (!HostHasAdvanceState(record->advanceState)) {
    globals->result = kUserCancelled;
    return;
  }
  if (!EnsureParameters(globals)) return;

  if (ParamsOf(*globals)->showDialog) {
    if (!HostHasDisplayPixels(record->displayPixels)) {
      globals->result = kUserCancelled;
      return;
    }
    const DialogOutcome outcome = RunParametersDialog(globals, HostWindow(*record));
    // Settings nobody confirmed are not rendered, and the host must not take this for
    // success (0) or for a cancel the user chose (1). The dialog is still due next time.
    if (outcome == DialogOutcome::kFailed) {
      globals->result = kDialogFailedErr;
      return;
    }
    ParamsOf(*globals)->showDialog = 0;
    if (outcome == DialogOutcome::kCancelled) {
      globals->result = kUserCancelled;
      return;
    }
    // What the preview's own request left in result does not stop the run.
  }

  record->inLoPlane = record->outLoPlane = 0;
  record->outHiPlane = record->inHiPlane = int16_t(record->planes - 1);
  record->outRect = record->filterRect;
  record->inRect = record->outRect;
  record->inputRate = IntToFixed(1);
  record->maskRate = IntToFixed(1);

  globals->result = record->advanceState();
  if (globals->result != kNoErr) return;

  ParamsOf(*globals)->scale = 1.0f;
  RenderEffect(globals);
  globals->result = record->advanceState();
}

}  // namespace

void DoStart(PluginGlobals* globals) {
  RunStart(globals);
  EmptyRequests(globals->filterRecord);
}
