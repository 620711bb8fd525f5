// What public reports tell of particular hosts, by the signature they put in the record.
// Every host not named here is taken to behave as Photoshop does.
#pragma once

#include "host/HostTypes.h"

struct HostTraits {
  // The host tells the user when a call ends with an error code. Some drop every code
  // without a word, so a run that failed would look like one that did nothing.
  bool reportsErrors = true;
  // The host hands the parameter record back at its next run. Some start each run without
  // one (and unload the plug-in in between), so every dialog would open on the defaults.
  bool keepsParameters = true;
  // The host reduces the image for a request at an inputRate above 1.
  bool reducesPreview = true;
};

inline constexpr OSType kIrfanViewHostSig = FourCC('U', 'P', '2', '0');
inline constexpr OSType kGimpPspiHostSig = FourCC('P', 'M', 'I', 'G');

HostTraits TraitsOfHost(OSType hostSig);

// After a call that ended in an error on a host that would not say so: tells the user what
// went wrong and makes the result 1 (the user was told). Any other result, or a host that
// reports errors itself, is left alone. Not for About, whose record holds no signature.
void TellWhereTheHostWouldNot(const FilterRecord& record, int16_t* result);
