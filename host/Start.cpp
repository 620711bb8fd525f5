#include "dialog/ParametersDialog.h"
#include "host/KnownHosts.h"
#include "host/PseudoHandle.h"
#include "host/RememberedSettings.h"
#include "host/RenderEffect.h"
#include "host/Scripting.h"
#include "host/ScriptingTypes.h"
#include "host/Selectors.h"

namespace {

// What the dialog of this run is handed: the call's records, the host's advanceState, and
// preview renders in the run's context with the loaded plug-in's dialog state.
class StartDialogHost final : public DialogHost {
 public:
  StartDialogHost(PluginGlobals* globals, RenderContext& context)
      : globals_(globals), context_(context) {}

  EffectParams* Params() override { return ParamsOf(*globals_); }
  FilterRecord& Record() override { return *globals_->filterRecord; }
  Rect& PreviewRect() override { return globals_->previewRect; }
  int16_t AdvanceState() override {
    globals_->result = globals_->filterRecord->advanceState();
    return globals_->result;
  }
  bool RenderPreview(PixelBuffers& rendered) override {
    RenderOptions options;
    options.colour = State().customColour;
    options.previewing = true;
    return RenderEffect(globals_, context_, options, &rendered);
  }
  DialogState& State() override { return LoadedDialogState(); }
  bool ReducesPreview() override {
    return TraitsOfHost(globals_->filterRecord->hostSig).reducesPreview;
  }

 private:
  PluginGlobals* globals_;
  RenderContext& context_;
};

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
  if (!EnsureDefaultParameters(globals)) return;
  // The tables of this run's renders, the dialog's previews and the final one, kept from Start
  // to Start; the threads of the renders end before this call returns.
  RenderContext* const context = LoadedRenderContext();
  if (!context) {
    globals->result = kMemFullErr;
    return;
  }
  const RenderThreadScope renderThreads(*context);

  // A host that records and plays back hands its descriptor structure: a descriptor to play
  // back, and whether the user is to see the dialog for it.
  PIDescriptorParameters* scripting = UsableDescriptorParameters(*record);
  bool showDialog = ParamsOf(*globals)->showDialog != 0;
  if (scripting && scripting->descriptor) {
    EffectParams params = *ParamsOf(*globals);
    CustomColour colour = LoadedDialogState().customColour;
    const ScriptedSettings played = ReadScriptedSettings(*record, *scripting, params, colour);
    // Nobody may be asked in a silent run: settings that are not enough end it, say why, and
    // leave the stored ones as they were.
    if (scripting->playInfo == kPlaySilent && !played.complete) {
      globals->result =
          ReportToHost(*record, "Corvanel cannot run with these settings: " + played.problem + ".");
      return;
    }
    *ParamsOf(*globals) = params;
    LoadedDialogState().customColour = colour;
    showDialog = scripting->playInfo == kPlayDisplay ||
                 (scripting->playInfo != kPlaySilent && !played.complete);
    // Its dialog opens on the step's own effect colour.
    LoadedDialogState().openOnEffectColour = showDialog ? 1 : 0;
  } else if (scripting && scripting->playInfo == kPlaySilent) {
    showDialog = false;  // a script that runs silently waits for no one
  }

  if (showDialog) {
    if (!HostHasDisplayPixels(record->displayPixels)) {
      LoadedDialogState().openOnEffectColour = 0;
      globals->result = kUserCancelled;
      return;
    }
    StartDialogHost dialogHost(globals, *context);
    const DialogOutcome outcome = RunParametersDialog(dialogHost, HostWindow(*record));
    LoadedDialogState().openOnEffectColour = 0;
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
  // A run without the dialog draws with the colour the last dialog left.
  RenderOptions options;
  options.colour = LoadedDialogState().customColour;
  RenderEffect(globals, *context, options);
  globals->result = record->advanceState();
  // The host records what was rendered, for the step or Smart Filter to play it again.
  if (scripting && globals->result == kNoErr)
    WriteScriptedSettings(*record, *scripting, *ParamsOf(*globals),
                          LoadedDialogState().customColour);
  // A host that will forget the record: the plug-in keeps what this run drew for its next.
  if (globals->result == kNoErr && !TraitsOfHost(record->hostSig).keepsParameters)
    RememberSettings(*ParamsOf(*globals), LoadedDialogState().customColour);
}

}  // namespace

void DoStart(PluginGlobals* globals) {
  RunStart(globals);
  EmptyRequests(globals->filterRecord);
}
