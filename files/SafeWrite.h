// The files the command reads and writes, checked before any work is done, and written so
// that nothing is lost: never half-written, never under a name that was already in use,
// keeping an existing file's permissions and links.
#pragma once

#include <string>

// A file the command is going to write. "-" is standard output.
struct OutputFile {
  std::string name;      // as the user gave it
  std::string path;      // the file really replaced: a symbolic link's target
  std::string identity;  // equal for two outputs, or an output and an input, that are one file
  bool exists = false;
  bool inPlace = false;  // it has other hard links: overwritten in place so they all see it
  bool isStdout() const { return name == "-"; }
};

// Checks that `name` can be written: not a directory, not read-only, in a folder that
// exists and takes new files. `what` names it in messages ("the settings file x").
bool CheckOutput(const std::string& name, const std::string& what, OutputFile* out,
                 std::string* error);

// Checks that `name` is something to read from: a file or a pipe, or "-" for standard
// input; never a directory. *identity is what CheckOutput gives for the same file.
bool CheckInput(const std::string& name, const std::string& what, std::string* identity,
                std::string* error);

// Reads the whole of an input that CheckInput accepts ("-": standard input); `what` names
// it in messages.
bool ReadInputFile(const std::string& path, const std::string& what, std::string* bytes,
                   std::string* error);

// Writes the bytes to a new file beside the output, then puts it in place of the output in
// one step. When stop() says so just before, the new file is thrown away and the output
// left as it was. On any failure nothing is left behind.
bool WriteOutput(const OutputFile& out, const std::string& bytes, const std::string& what,
                 bool (*stop)(), std::string* error);

// While one exists, an interruption that would end the program only sets the abort flag:
// for the few steps that must not be cut short.
class HardExitGuard {
 public:
  HardExitGuard();
  ~HardExitGuard();
  HardExitGuard(const HardExitGuard&) = delete;
  HardExitGuard& operator=(const HardExitGuard&) = delete;
};
// Whether a HardExitGuard exists now; safe inside an interrupt handler.
bool HardExitDeferred();
