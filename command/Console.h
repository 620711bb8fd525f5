// What the command needs from the operating system beside the plug-in and the files.
#pragma once

#include <string>

// Ctrl-C (and, on Windows, Ctrl-Break) sets the host's abort flag, so the work stops at
// the next row; a second Ctrl-C, or a request to terminate, ends the program at once,
// removing any temporary file first.
void InstallInterruptHandler();

// Keeps the allocator from reserving address space it may not use, first thing in main.
void LimitAllocatorReserve();

bool StderrIsTerminal();

// Whether this session can show a window at all (Windows; never elsewhere), so that
// --dialog fails before any work where no dialog could appear.
bool CanShowWindows();

// The folder of the running program, with a trailing separator.
std::string ProgramDirectory();

// Milliseconds from an arbitrary start, for saying how long a run took.
double NowMilliseconds();
