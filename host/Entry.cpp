#include "host/Entry.h"

#include <new>

#include "host/KnownHosts.h"
#include "host/PseudoHandle.h"
#include "host/Selectors.h"

namespace {

void Dispatch(int16_t selector, void* record, intptr_t* data, int16_t* result) {
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

}  // namespace

// An exception that left here would unwind into the host, which cannot catch it and dies
// with the user's documents. It ends the call with a result code instead; a host that loops
// on the request rectangles is stopped by emptying them.
extern "C" void ENTRYPOINT(int16_t selector, void* record, intptr_t* data, int16_t* result) {
  bool thrown = true;
  try {
    Dispatch(selector, record, data, result);
    thrown = false;
  } catch (const std::bad_alloc&) {
    *result = kMemFullErr;
  } catch (...) {
    *result = kInternalErr;
  }
  if (thrown && (selector == kSelectorStart || selector == kSelectorContinue) && record)
    EmptyRequests(static_cast<FilterRecord*>(record));
  if (selector != kSelectorAbout && record)
    TellWhereTheHostWouldNot(*static_cast<const FilterRecord*>(record), result);
}
