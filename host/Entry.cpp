#include "host/Entry.h"

#include "host/PseudoHandle.h"
#include "host/Selectors.h"

extern "C" void ENTRYPOINT(int16_t selector, void* record, intptr_t* data, int16_t* result) {
  if (*data == 0) {
    PseudoHandle* handle = NewPseudoHandle(sizeof(PluginGlobals));
    if (!handle) {
      *result = kMemFullErr;
      return;  // the data word stays 0, so the next call tries again
    }
    *data = reinterpret_cast<intptr_t>(handle);
  }
  auto* stored = static_cast<PluginGlobals*>(PseudoHandleData(reinterpret_cast<void*>(*data)));

  PluginGlobals globals = *stored;
  globals.filterRecord = static_cast<FilterRecord*>(record);
  globals.result = kNoErr;

  switch (selector) {
    case kSelectorAbout:
      DoAbout();
      break;
    case kSelectorParameters:
      DoParameters(&globals);
      break;
    case kSelectorPrepare:
      DoPrepare(&globals);
      break;
    case kSelectorStart:
      DoStart(&globals);
      break;
    case kSelectorContinue:
      DoContinue(&globals);
      break;
    case kSelectorFinish:
      DoFinish(&globals);
      break;
    default:
      globals.result = kFilterBadParameters;
      break;
  }

  *result = globals.result;
  *stored = globals;
}
