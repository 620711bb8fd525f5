// What the parameters dialog is handed by the run that opens it: the dialog reaches the
// host's callbacks, the parameter record and the engine only through this. Start
// implements it (host/Start.cpp).
#pragma once

#include <cstdint>

#include "engine/Engine.h"
#include "host/EffectParams.h"
#include "host/HostTypes.h"

// What the dialog leaves for later runs of the loaded plug-in: the effect colour chosen with
// Set Color and its flag, and the preview-disabled flag. Owned by the host layer, zero
// when the library is loaded, kept for as long as it stays loaded.
struct DialogState {
  CustomColour customColour;
  int32_t previewDisabled = 0;  // while nonzero the dialog neither renders nor paints its preview
  // Set by a run that plays back a recorded step before its dialog opens: the dialog opens on
  // the step's effect colour and flag instead of the colour to match, unticked.
  uint8_t openOnEffectColour = 0;
  // Where the dialog was when it last closed, in screen coordinates; it opens there again.
  uint8_t placed = 0;
  int32_t left = 0, top = 0;
};

class DialogHost {
 public:
  // The host's parameter record; null when there is none.
  virtual EffectParams* Params() = 0;
  // The call's host record: the dialog writes its preview request into it and reads the
  // delivered buffers and the display callback from it.
  virtual FilterRecord& Record() = 0;
  // The preview frame in 16-bit dialog coordinates, kept with the call's globals.
  virtual Rect& PreviewRect() = 0;
  // Asks the host for the request the dialog wrote into the record (advanceState); the
  // host's answer is also the call's result.
  virtual int16_t AdvanceState() = 0;
  // Renders the delivered buffers with the parameters as a preview, with the state's custom
  // colour. False when nothing was rendered; otherwise `rendered` holds the buffers drawn.
  virtual bool RenderPreview(PixelBuffers& rendered) = 0;
  virtual DialogState& State() = 0;
  // False for a host known to ignore inputRate: it would hand the corner of the image at full
  // size for a reduced request, so the preview asks it for an unreduced part instead.
  virtual bool ReducesPreview() { return true; }

 protected:
  ~DialogHost() = default;
};
