// What the command needs from the operating system beside the plug-in and the files.
#pragma once

#include <string>

// Ctrl-C (and, on Windows, Ctrl-Break) sets the host's abort flag, so the work stops at
// the next row and the run says what was not written; a second Ctrl-C (half a second or
// more after the first: some senders deliver one interrupt twice), or natively a request
// to terminate, ends the program at once, removing any temporary file and saying first
// the message of SetStopMessage. On Windows closing the console, logging off and shutting
// down stop the work as Ctrl-C does, and every interrupt ends with status 130. Installed
// once, before main runs.
void InstallInterruptHandler();

// The line said when the program is ended at once ("interrupted; out.png not written"):
// kept ready, since the handler may not allocate.
void SetStopMessage(const std::string& message);

// Keeps the allocator from reserving address space it may not use, first thing in main.
void LimitAllocatorReserve();

bool StderrIsTerminal();
// Image bytes are never written to a terminal, where they would only garble it.
bool StdoutIsTerminal();

// Whether this session can show a window at all (Windows; never elsewhere), so that
// --dialog fails before any work where no dialog could appear.
bool CanShowWindows();

// The folder of the running program, with a trailing separator.
std::string ProgramDirectory();

// Milliseconds from an arbitrary start, for saying how long a run took.
double NowMilliseconds();
