#include <cstdio>
#include <fstream>

#include "filterhost/PluginModule.h"

namespace {

uint32_t Little(const uint8_t* p, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

std::string MachineName(uint16_t machine) {
  switch (machine) {
    case kMachineX86:
      return "32-bit (x86)";
    case kMachineX64:
      return "64-bit (x64)";
    default: {
      char hex[8];
      std::snprintf(hex, sizeof hex, "%04X", unsigned(machine));
      return std::string("machine 0x") + hex;
    }
  }
}

}  // namespace

bool ReadPeMachine(const std::string& path, uint16_t* machine, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *error = "cannot open the plug-in " + path;
    return false;
  }
  // The DOS header says where the PE header starts; its file header begins with the machine.
  uint8_t dos[64] = {};
  uint8_t pe[6] = {};
  if (!file.read(reinterpret_cast<char*>(dos), sizeof dos) || dos[0] != 'M' || dos[1] != 'Z' ||
      !file.seekg(std::streamoff(Little(dos + 0x3C, 4))) ||
      !file.read(reinterpret_cast<char*>(pe), sizeof pe) || pe[0] != 'P' || pe[1] != 'E' ||
      pe[2] != 0 || pe[3] != 0) {
    *error = path + " is not a Windows DLL";
    return false;
  }
  *machine = uint16_t(Little(pe + 4, 2));
  return true;
}

bool CheckPluginMachine(const std::string& path, std::string* error) {
  uint16_t machine = 0;
  if (!ReadPeMachine(path, &machine, error)) return false;
  if (machine == kMachineOfThisBuild) return true;
  *error = path + " is a " + MachineName(machine) + " plug-in, but this corvanel is " +
           MachineName(kMachineOfThisBuild) +
           ": a plug-in loads only into a host of the same bitness";
  if (machine == kMachineX86) *error += " (use the 32-bit corvanel.exe)";
  if (machine == kMachineX64) *error += " (use the 64-bit corvanel.exe)";
  return false;
}
