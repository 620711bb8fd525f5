#pragma once

#include <cstddef>
#include <filesystem>

namespace platform {

// The process environment's value of `name` copied into `text` (at most size - 1
// characters and a terminating zero); false when it is unset or does not fit. On Windows
// this is the process's own environment, whichever C runtime of the host set it.
bool EnvironmentValue(const char* name, char* text, size_t size);

// The folder where the plug-in keeps what must outlive the host's process: the user's
// application data (%APPDATA%\Tessory\Corvanel) on Windows, the user's configuration folder
// ($XDG_CONFIG_HOME/corvanel, or ~/.config/corvanel) elsewhere. False when the environment
// names no such place; the folder itself may not exist yet.
bool UserSettingsFolder(std::filesystem::path* folder);

}  // namespace platform
