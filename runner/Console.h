// What the command needs from the operating system beside the plug-in.
#pragma once

#include <string>

// Ctrl-C (and, on Windows, Ctrl-Break) sets the host's abort flag; a second Ctrl-C ends
// the program at once.
void InstallInterruptHandler();

bool StderrIsTerminal();

// Puts the file `from` in place of `to` in one step, so `to` is never half-written.
bool MoveIntoPlace(const std::string& from, const std::string& to, std::string* error);

// The folder of the running program, with a trailing separator.
std::string ProgramDirectory();
