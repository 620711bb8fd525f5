// Writes the terminology resource and the property-list entries that point at it, both from
// the parameter table: compiled for the build machine while the plug-in is built, since the
// Windows compilers' programs cannot run here.
//   MakeTerminology TERMINOLOGY-FILE PROPERTIES-FILE
#include <cstdio>
#include <string>
#include <vector>

#include "host/Terminology.h"

namespace {

bool WriteFile(const char* path, const std::string& bytes) {
  FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

// Property-list entries as resource-script words: 16-bit little-endian numbers.
std::string Words(const std::vector<uint8_t>& bytes) {
  std::string out;
  char word[16];
  for (size_t i = 0; i < bytes.size(); i += 2) {
    const unsigned v = bytes[i] | (i + 1 < bytes.size() ? bytes[i + 1] << 8 : 0);
    const bool last = i + 2 >= bytes.size();
    std::snprintf(word, sizeof word, "0x%04X%s", v, last ? "" : (i / 2) % 8 == 7 ? ",\n" : ", ");
    out += word;
  }
  return out;
}

void Code(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

void Property(std::vector<uint8_t>& out, OSType type, std::vector<uint8_t> data) {
  while (data.size() % 4) data.push_back(0);
  Code(out, FourCC('8', 'B', 'I', 'M'));
  Code(out, type);
  Code(out, 0);
  Code(out, uint32_t(data.size()));
  out.insert(out.end(), data.begin(), data.end());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: MakeTerminology TERMINOLOGY-FILE PROPERTIES-FILE\n");
    return 2;
  }
  const std::vector<uint8_t> aete = EncodeTerminology(CorvanelTerminology());

  // HasTerminology: version 0, the class and event, the resource's id, the scope.
  std::vector<uint8_t> hstm;
  Code(hstm, 0);
  Code(hstm, kCorvanelClassID);
  Code(hstm, kCorvanelEventID);
  hstm.push_back(uint8_t(kTerminologyID));
  hstm.push_back(uint8_t(kTerminologyID >> 8));
  for (const char* c = kTerminologyScope; *c; ++c) hstm.push_back(uint8_t(*c));
  hstm.push_back(0);
  std::vector<uint8_t> properties;
  Property(properties, FourCC('h', 's', 't', 'm'), hstm);
  // FilterLayerSupport: the host may apply the filter as a Smart Filter.
  Property(properties, FourCC('f', 'l', 'l', 'y'), {0x80, 0, 0, 0});

  const std::string text = "// Written by tools/MakeTerminology.cpp: the scripting properties.\n" +
                           Words(properties) + "\n";
  if (!WriteFile(argv[1], std::string(aete.begin(), aete.end())) || !WriteFile(argv[2], text)) {
    std::perror("MakeTerminology");
    return 1;
  }
  return 0;
}
