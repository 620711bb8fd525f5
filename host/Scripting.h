// Scripting: the settings of a run as a descriptor the host records (an action step, a
// Smart Filter, a script's call) and hands back to play the run again. Reached only through
// the host's descriptor structure; hosts without a usable one see no difference.
#pragma once

#include <string>

#include "engine/Engine.h"
#include "host/EffectParams.h"
#include "host/HostTypes.h"

struct ScriptedSettings {
  bool complete = true;  // every setting was there, of its type and within its range
  std::string problem;   // the first that was not, as the user is told it
};

// The record's descriptor structure, when the plug-in can use it: version 0, both suites
// with at least their counts and every procedure this file calls, and the host's handle
// suite to dispose descriptors with. Null otherwise.
PIDescriptorParameters* UsableDescriptorParameters(const FilterRecord& record);

// Reads the descriptor into the settings, clamped into their ranges as the dialog clamps
// them, then disposes it and leaves the structure's descriptor null. Settings the
// descriptor lacks keep their values.
ScriptedSettings ReadScriptedSettings(FilterRecord& record, PIDescriptorParameters& scripting,
                                      EffectParams& params, CustomColour& colour);

// Writes every setting as a new descriptor in place of the old one, recording optional.
// False, with the old descriptor kept, when the host's suite fails.
bool WriteScriptedSettings(FilterRecord& record, PIDescriptorParameters& scripting,
                           const EffectParams& params, const CustomColour& colour);

// Hands the host a message to show for a failed run; the result code that says so.
OSErr ReportToHost(FilterRecord& record, const std::string& message);
