// Settings as the command takes them, and image files in and out.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "command/Settings.h"
#include "files/FileSystem.h"
#include "files/SafeWrite.h"
#include "imagefile/ImageFile.h"

namespace {

TEST(Settings, RoundTripThroughTheTextForm) {
  EffectParams p = DefaultEffectParams();
  p.red = 1;
  p.green = 2;
  p.blue = 3;
  p.threshold = 100;
  p.radius = 0;
  p.angle = 180;
  p.streaks = 40;
  p.mode = kModeSparkle;
  EffectParams back = DefaultEffectParams();
  std::string error;
  ASSERT_TRUE(ParseSettings(FormatSettings(p), &back, &error)) << error;
  for (const ParamRange& r : kParamRanges) EXPECT_EQ(back.*r.field, p.*r.field) << r.label;
  EXPECT_EQ(back.mode, kModeSparkle);

  // Partial files keep the rest; names and modes ignore case; comments and blanks skip.
  back = DefaultEffectParams();
  ASSERT_TRUE(ParseSettings("# mine\n\n  Radius = 12 \r\nMODE=Sparkle\n", &back, &error));
  EXPECT_EQ(back.radius, 12);
  EXPECT_EQ(back.mode, kModeSparkle);
  EXPECT_EQ(back.threshold, 5);

  // A byte-order mark, comments after values, and match for the three colours at once.
  back = DefaultEffectParams();
  ASSERT_TRUE(
      ParseSettings("\xEF\xBB\xBFradius = 5 # small\nmatch = 10, 20,30#lamps\n", &back, &error))
      << error;
  EXPECT_EQ(back.radius, 5);
  EXPECT_EQ(back.red, 10);
  EXPECT_EQ(back.blue, 30);
}

TEST(Settings, RefusesMalformedFilesAndValuesOutsideTheRanges) {
  const struct {
    const char* text;
    const char* says;
  } bad[] = {
      {"radius 12\n", "line 1: expected"},
      {"radius = 101\n", "Radius must be a whole number from 0 to 100 (got 101)"},
      {"\nangle = -1\n", "line 2: Angle must be a whole number from 0 to 180"},
      {"streaks = 4x\n", "Streaks"},
      {"red = 99999999999999999999\n", "Red must be a whole number from 0 to 255"},
      {"colour = 3\n", "unknown setting 'colour'"},
      {"radius = 1\nradius = 2\n", "given twice"},
      {"mode = blur\n", "glow or sparkle"},
      {"threshold =\n", "Threshold"},
      {"threshold = # none\n", "Threshold"},
      {"green = 3\nmatch = 1,2,3\n", "line 2: 'green' is given twice: line 1 set it; match sets"},
      {"match = 1,2,3\n# red\nred = 200\n",
       "line 3: 'red' is given twice: line 1 set it (with 'match')"},
      {"match = 1,2\n", "three numbers"},
      {"x\xEF\xBB\xBFradius = 1\n", "unknown setting"},
  };
  for (const auto& c : bad) {
    EffectParams p = DefaultEffectParams();
    std::string error;
    EXPECT_FALSE(ParseSettings(c.text, &p, &error)) << c.text;
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
    EXPECT_EQ(p.radius, 30);  // unchanged
  }
  EffectParams p = DefaultEffectParams();
  std::string error;
  EXPECT_TRUE(ParseMatchColour("10, 20,30", &p, &error));
  EXPECT_EQ(p.blue, 30);
  for (const char* text : {"1,2", "1,2,3,4", "1,2,256", "a,b,c", ""})
    EXPECT_FALSE(ParseMatchColour(text, &p, &error)) << text;
  EXPECT_EQ(p.red, 10);
}

TEST(ImageFile, WritesAndReadsBackEveryFormatOfThisBuild) {
  Image rgba{3, 2, 4, {}};
  for (int i = 0; i < 24; ++i) rgba.pixels.push_back(uint8_t(i * 10));
  int tried = 0;
  for (const ImageFormatInfo& f : ImageFormats()) {
    if (!f.writes) continue;
    const std::string name = std::string("corvanel_t.") + f.name;
    std::string error;
    ASSERT_TRUE(SaveImageFile(name, rgba, &error)) << error;
    Image back;
    ASSERT_TRUE(LoadImageFile(name, &back, &error)) << error;
    EXPECT_EQ(back.width, 3) << name;
    EXPECT_EQ(back.planes, f.alpha ? 4 : 3) << name;
    if (f.alpha && !f.lossy && std::string(f.name) != "gif") {  // GIF has a palette
      EXPECT_EQ(back.pixels, rgba.pixels) << name;
    }
    std::remove(name.c_str());
    ++tried;
  }
  EXPECT_GE(tried, 4);  // PNG, JPEG, BMP and TGA at least
  // Grey comes in as RGB.
  Image grey{2, 1, 1, {7, 200}};
  std::string error;
  ASSERT_TRUE(SaveImageFile("corvanel_g.png", grey, &error));
  Image back;
  ASSERT_TRUE(LoadImageFile("corvanel_g.png", &back, &error));
  EXPECT_EQ(back.planes, 3);
  EXPECT_EQ(back.pixels, (std::vector<uint8_t>{7, 7, 7, 200, 200, 200}));
  std::remove("corvanel_g.png");
}

TEST(ImageFile, EveryChannelLayoutComesInAsRgbOrRgbaAndDamagedFilesAreRefused) {
  std::string error;
  Image greyAlpha{2, 1, 2, {7, 70, 200, 20}};
  ASSERT_TRUE(SaveImageFile("corvanel_ga.png", greyAlpha, &error)) << error;
  { std::ofstream("corvanel_16.pgm", std::ios::binary) << "P5\n2 1\n65535\n\x12\x34\xAB\xCD"; }
  { std::ofstream("corvanel_8.ppm", std::ios::binary) << "P6\n1 1\n255\n\x01\x02\x03"; }
  { std::ofstream("corvanel_0.pgm", std::ios::binary) << "P5\nP5\n3 2\n255\n\x7f\x7f"; }
  {  // a bitmap header of 2 x 0 pixels
    std::string bmp = "BM";
    for (uint32_t v : {54u, 0u, 54u, 40u, 2u, 0u}) bmp.append(reinterpret_cast<char*>(&v), 4);
    bmp += std::string("\x01\x00\x18\x00", 4) + std::string(24, '\0');
    std::ofstream("corvanel_0.bmp", std::ios::binary) << bmp;
  }
  {  // a Huffman table of 16 x 17 codes, where stb has room for 256
    std::ofstream("corvanel_huff.jpg", std::ios::binary)
        << std::string("\xFF\xD8\xFF\xC4\x00\x13\x00", 7) + std::string(16, '\x11');
  }
  const struct {
    const char* name;
    int planes;
    std::vector<uint8_t> pixels;  // empty: refused
  } cases[] = {
      {"corvanel_ga.png", 4, {7, 7, 7, 70, 200, 200, 200, 20}},
      {"corvanel_16.pgm", 0, {}},  // PNM is not read: stb reads it unsafely
      {"corvanel_8.ppm", 0, {}},
      {"corvanel_0.pgm", 0, {}},
      {"corvanel_0.bmp", 0, {}},
      {"corvanel_huff.jpg", 0, {}},
  };
  for (const auto& c : cases) {
    Image back;
    const bool loaded = LoadImageFile(c.name, &back, &error);
    EXPECT_EQ(loaded, !c.pixels.empty()) << c.name << ": " << error;
    if (loaded) {
      EXPECT_EQ(back.planes, c.planes) << c.name;
      EXPECT_EQ(back.pixels, c.pixels) << c.name;
    }
    std::remove(c.name);
  }
}

TEST(ImageFile, RefusesBadImagesAndLeavesAnExistingOutputWhole) {
  std::string error;
  Image image;
  EXPECT_FALSE(LoadImageFile("corvanel_missing.png", &image, &error));
  EXPECT_NE(error.find("cannot open"), std::string::npos);
  { std::ofstream("corvanel_bad.png", std::ios::binary) << "\x89PNG\r\n\x1a\nnot really"; }
  EXPECT_FALSE(LoadImageFile("corvanel_bad.png", &image, &error));
  EXPECT_NE(error.find("corvanel_bad.png"), std::string::npos);
  { std::ofstream("corvanel_empty.png"); }
  EXPECT_FALSE(LoadImageFile("corvanel_empty.png", &image, &error));
  EXPECT_NE(error.find("empty"), std::string::npos);
  std::remove("corvanel_empty.png");

  std::string format;
  EXPECT_FALSE(OutputFormatFor("out.xyz", &format, &error));
  EXPECT_NE(error.find(".xyz"), std::string::npos);
  EXPECT_NE(error.find(".png"), std::string::npos);  // says what it writes
  EXPECT_FALSE(OutputFormatFor("dir.png/out", &format, &error));
  EXPECT_TRUE(OutputFormatFor("OUT.JPEG", &format, &error));
  EXPECT_EQ(format, "jpg");
  EXPECT_TRUE(OutputFormatFor(".Png", &format, &error));
  EXPECT_EQ(format, "png");

  // A stop before the rename leaves the old file as it was, and no temporary file.
  OutputFile out;
  ASSERT_TRUE(CheckOutput("corvanel_bad.png", "it", &out, &error)) << error;
  EXPECT_FALSE(WriteOutput(
      out, "new", "it", [] { return true; }, &error));
  EXPECT_NE(error.find("stopped"), std::string::npos);
  std::ifstream kept("corvanel_bad.png", std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text.substr(8), "not really");
  std::remove("corvanel_bad.png");
}

// The temporary files an interruption must not leave behind: unique names beside the
// output, removed by what the interrupt handler calls.
TEST(SafeWrite, TemporaryFilesAreNewAndAnInterruptionRemovesThem) {
  TempFile a, b;
  std::string error;
  ASSERT_TRUE(CreateTempBeside("corvanel_out.png", &a, &error)) << error;
  ASSERT_TRUE(CreateTempBeside("corvanel_out.png", &b, &error)) << error;
  EXPECT_NE(a.name, b.name);
  EXPECT_NE(a.name, "corvanel_out.png.part");
  ASSERT_TRUE(WriteAll(a, "x", &error)) << error;
  ASSERT_TRUE(CloseTemp(a, "", &error)) << error;
  ASSERT_TRUE(CloseTemp(b, "", &error)) << error;
  EXPECT_TRUE(std::ifstream(a.name).good());
  RemoveTempFilesNow();
  EXPECT_FALSE(std::ifstream(a.name).good());
  EXPECT_FALSE(std::ifstream(b.name).good());
  DiscardTemp(a);
  DiscardTemp(b);
}

}  // namespace
