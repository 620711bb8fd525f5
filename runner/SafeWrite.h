#pragma once

#include <string>

// Writes the bytes beside `path` and then moves them into place in one step, so an
// existing file is never left half-written. When `stop` says so just before the move, the
// new file is thrown away. `what` names the file in messages ("the settings file x").
bool WriteFileBeside(const std::string& path, const std::string& bytes, const std::string& what,
                     bool (*stop)(), std::string* error);
