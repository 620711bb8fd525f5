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
    bool confirmed = RunParametersDialog(globals);
    if (!confirmed) globals->result = kUserCancelled;
    ParamsOf(*globals)->showDialog = 0;
  }
  if (globals->result == kUserCancelled) return;

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
