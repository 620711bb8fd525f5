// The effect's settings as the command takes them: checked against the dialog's ranges,
// and kept in a small text file.
//
// Settings file: one "name = value" per line, the names of kModeParam, kParamRanges and
// kMatchParam (case ignored); '#' starts a comment that runs to the end of the line; blank
// lines and a leading UTF-8 byte-order mark are ignored. A name may appear once; names left
// out keep their value (the defaults, unless the command line says otherwise).
//
//   mode = glow          glow or sparkle
//   red = 255            each within its range
//   match = 255,255,255  red, green and blue at once
#pragma once

#include <string>

#include "files/SafeWrite.h"
#include "host/EffectParams.h"

// Reads a whole number for the setting of kParamRanges[index]; false, naming the range,
// when it is not a number or lies outside it.
bool ParseParamValue(ParamIndex index, const std::string& text, int32_t* value, std::string* error);

// "glow" or "sparkle" (case ignored).
bool ParseMode(const std::string& text, int32_t* mode, std::string* error);

// "R,G,B" into red, green and blue.
bool ParseMatchColour(const std::string& text, EffectParams* params, std::string* error);

// Applies a settings file's text to *params; on error *params is unchanged and *error
// names the line.
bool ParseSettings(const std::string& text, EffectParams* params, std::string* error);
std::string FormatSettings(const EffectParams& params);

bool ReadSettingsFile(const std::string& path, EffectParams* params, std::string* error);
// Writes to an output that CheckOutput accepted ("-": standard output).
bool WriteSettingsFile(const OutputFile& out, const EffectParams& params, std::string* error);
// How messages name a settings output.
std::string SettingsFileName(const std::string& path);
