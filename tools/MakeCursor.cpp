// Turns a text drawing of a 32 x 32 monochrome cursor into a .cur file:
//   MakeCursor DRAWING.txt OUTPUT.cur
// Lines starting with '#' followed by a space, and empty lines, are comments. Every other
// line is a row of 32 pixels: '.' transparent, '#' black, 'o' white, 'X' black and the
// hot spot, which must appear exactly once. Built and run on the build machine.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kSize = 32;

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "MakeCursor: %s\n", message.c_str());
  return 1;
}

// The .cur file of one 32 x 32 two-colour image with those masks.
std::vector<uint8_t> CursorFile(const std::vector<uint8_t>& xorMask,
                                const std::vector<uint8_t>& andMask, int hotX, int hotY) {
  std::vector<uint8_t> image;
  Put32(image, 40);         // BITMAPINFOHEADER
  Put32(image, kSize);      // width
  Put32(image, kSize * 2);  // height of both masks together
  Put16(image, 1);          // planes
  Put16(image, 1);          // bits per pixel
  Put32(image, 0);          // uncompressed
  Put32(image, uint32_t(xorMask.size() + andMask.size()));
  for (int i = 0; i < 4; ++i) Put32(image, 0);
  Put32(image, 0x00000000);  // colour 0: black
  Put32(image, 0x00FFFFFF);  // colour 1: white
  image.insert(image.end(), xorMask.begin(), xorMask.end());
  image.insert(image.end(), andMask.begin(), andMask.end());

  std::vector<uint8_t> file;
  Put16(file, 0);  // reserved
  Put16(file, 2);  // a cursor
  Put16(file, 1);  // one image
  file.push_back(kSize);
  file.push_back(kSize);
  file.push_back(2);  // colours
  file.push_back(0);
  Put16(file, uint32_t(hotX));
  Put16(file, uint32_t(hotY));
  Put32(file, uint32_t(image.size()));
  Put32(file, 22);  // the image follows this directory
  file.insert(file.end(), image.begin(), image.end());
  return file;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return Fail("usage: MakeCursor DRAWING.txt OUTPUT.cur");
  std::ifstream in(argv[1]);
  if (!in) return Fail(std::string("cannot read ") + argv[1]);

  std::vector<std::string> rows;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line.rfind("# ", 0) == 0 || line == "#") continue;
    rows.push_back(line);
  }
  if (rows.size() != kSize) return Fail("the drawing needs 32 rows of pixels");

  // Masks bottom row first, leftmost pixel in the high bit; 32 pixels fill a whole word.
  std::vector<uint8_t> xorMask, andMask;
  int hotX = -1, hotY = -1;
  for (int y = kSize - 1; y >= 0; --y) {
    const std::string& row = rows[size_t(y)];
    if (row.size() != kSize) return Fail("row " + std::to_string(y) + " is not 32 pixels wide");
    uint32_t xorBits = 0, andBits = 0;
    for (int x = 0; x < kSize; ++x) {
      const uint32_t bit = 1u << (kSize - 1 - x);
      switch (row[size_t(x)]) {
        case '.':
          andBits |= bit;
          break;
        case 'X':
          if (hotX >= 0) return Fail("more than one hot spot");
          hotX = x;
          hotY = y;
          break;
        case '#':
          break;
        case 'o':
          xorBits |= bit;
          break;
        default:
          return Fail("unknown pixel '" + std::string(1, row[size_t(x)]) + "' in row " +
                      std::to_string(y));
      }
    }
    for (int shift = 24; shift >= 0; shift -= 8) {
      xorMask.push_back(uint8_t(xorBits >> shift));
      andMask.push_back(uint8_t(andBits >> shift));
    }
  }
  if (hotX < 0) return Fail("no hot spot");

  const std::vector<uint8_t> file = CursorFile(xorMask, andMask, hotX, hotY);
  std::ofstream out(argv[2], std::ios::binary);
  out.write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
  if (!out) return Fail(std::string("cannot write ") + argv[2]);
  return 0;
}
