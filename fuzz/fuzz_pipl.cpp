// The property-list reader on arbitrary resource bytes: no read outside them, and what it
// accepts is a filter with an entry name and RGB among its modes.
#include "fuzz/FuzzSupport.h"
#include "filterhost/Pipl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact copy on the heap, so that a read one byte past the end is caught.
  std::vector<uint8_t> bytes(data, data + size);
  PiplInfo info;
  std::string error;
  if (!ParsePipl(bytes.data(), bytes.size(), &info, &error)) {
    FUZZ_CHECK(!error.empty());
    return 0;
  }
  FUZZ_CHECK(info.kind == FourCC('8', 'B', 'F', 'M'));
  FUZZ_CHECK(!info.entryName.empty());
  FUZZ_CHECK((info.supportedModes & kModeBitRGB) != 0);
  size_t total = 10;  // the header
  for (const PiplProperty& p : info.properties) {
    FUZZ_CHECK(p.data.size() % 4 == 0);
    total += 16 + p.data.size();
  }
  FUZZ_CHECK(total == size);
  return 0;
}
