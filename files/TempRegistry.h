// The names of the temporary files being written, for the interrupt handler to remove.
#pragma once

#include <string>

struct TempFile;

// A slot for the name, or -1 when none is free (the file is then still removed on any
// ordinary failure, only not by an interrupt that ends the program).
int RegisterTempName(const std::string& name);
void ReleaseTempName(int slot);
// Calls remove(name) for each registered name; uses no locks and allocates nothing.
void ForEachTempName(void (*remove)(const char*));

// The file is gone or has its final name: no longer ours to remove.
void ForgetTemp(TempFile& temp);
