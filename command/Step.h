// Step files: a recorded step's descriptor as text, one setting a line, named as the
// terminology names it. `--record` writes what the plug-in recorded for the host; `--play`
// hands it back, as an editor plays a step of an action.
#pragma once

#include <string>

#include "filterhost/Descriptors.h"

std::string FormatStep(const Descriptor& descriptor);
// False with the line and what is wrong with it; keys the terminology does not declare are
// refused, so that a mistyped key is not silently left out.
bool ParseStep(const std::string& text, Descriptor* descriptor, std::string* error);

// Reads and writes a step file (the name is only read or written when the plan allows it).
bool ReadStepFile(const std::string& path, Descriptor* descriptor, std::string* error);
