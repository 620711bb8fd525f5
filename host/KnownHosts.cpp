#include "host/KnownHosts.h"

#include <string>

#include "platform/MessageBox.h"

namespace {

// The host's own code for a run the user stopped from the host's progress window.
constexpr OSErr kHostUserCanceled = -128;

}  // namespace

HostTraits TraitsOfHost(OSType hostSig) {
  HostTraits traits;
  if (hostSig == kIrfanViewHostSig) {
    traits.reportsErrors = false;
    traits.keepsParameters = false;
  } else if (hostSig == kGimpPspiHostSig) {
    traits.keepsParameters = false;
    traits.reducesPreview = false;
  }
  return traits;
}

void TellWhereTheHostWouldNot(const FilterRecord& record, int16_t* result) {
  if (*result >= 0 || *result == kHostUserCanceled) return;
  if (TraitsOfHost(record.hostSig).reportsErrors) return;
  std::string text;
  if (*result == kMemFullErr) {
    text = "Corvanel could not complete the filter because there is not enough memory.";
  } else if (*result == kInternalErr) {
    text = "Corvanel could not complete the filter because of an internal error.";
  } else {
    text = "Corvanel could not complete the filter: the editor reported error ";
    text.append(std::to_string(*result)).append(".");
  }
  platform::ShowMessage(nullptr, text.c_str(), "Corvanel", platform::MessageIcon::Warning);
  *result = kUserCancelled;
}
