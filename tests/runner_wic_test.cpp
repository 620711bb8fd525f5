// The Windows build's image files through the system's imaging component, under Wine here.
#include <wincodec.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "engine/Engine.h"
#include "imagefile/ImageFile.h"
#include "imagefile/ImageSupport.h"
#include "imagefile/MetadataBlocks.h"

namespace {

Image Pattern(int width, int height, int planes) {
  Image image{width, height, planes, {}};
  for (int i = 0; i < width * height * planes; ++i) image.pixels.push_back(uint8_t(i * 37 + 11));
  return image;
}

bool Encode(const Image& image, const std::string& format, std::string* bytes, std::string* error,
            std::shared_ptr<const void> source = nullptr) {
  ImageFile file;
  file.frames.push_back(image);
  file.source = std::move(source);
  return EncodeImage(file, format, SaveOptions{}, bytes, error);
}

// Small, and tall enough to be written and read in more than one band of rows.
TEST(WicImageFile, EachFormatReadsBackWhatItWrote) {
  int tried = 0;
  for (const ImageFormatInfo& f : ImageFormats()) {
    if (!f.writes) continue;
    for (const auto& [w, h] : {std::pair{17, 5}, std::pair{600, 2400}})
      for (int planes : {3, 4}) {
        const Image image = Pattern(w, h, planes);
        std::string bytes, error;
        ASSERT_TRUE(Encode(image, f.name, &bytes, &error)) << f.name << ": " << error;
        ImageFile back;
        ASSERT_TRUE(DecodeImage(bytes, "it", LoadOptions{}, &back, &error)) << f.name << error;
        EXPECT_EQ(back.format, f.name);
        ASSERT_EQ(back.frames.size(), 1u);
        const Image& got = back.frames[0];
        EXPECT_EQ(got.width, w);
        EXPECT_EQ(got.height, h);
        EXPECT_EQ(got.planes, planes == 4 && f.alpha ? 4 : 3) << f.name;
        EXPECT_TRUE(back.notes.empty()) << f.name << ": " << back.notes.front();
        if (f.lossy) continue;
        for (size_t i = 0; i < size_t(w) * size_t(h); ++i)
          for (int c = 0; c < got.planes; ++c)
            ASSERT_EQ(got.pixels[i * size_t(got.planes) + size_t(c)],
                      image.pixels[i * size_t(planes) + size_t(c)])
                << f.name << " " << w << " x " << h << " pixel " << i << " plane " << c;
      }
    ++tried;
  }
  EXPECT_EQ(tried, 5);  // PNG, JPEG, TIFF, BMP, TGA
}

// An uncompressed TIFF file of 16-bit samples, one row, in either byte order (the
// component's encoders are no reference: Wine's writes 16-bit PNG samples byte-swapped).
std::string DeepTiff(bool little, int channels, const std::vector<uint16_t>& samples) {
  std::string t = little ? std::string("II*\0\x08\0\0\0", 8) : std::string("MM\0*\0\0\0\x08", 8);
  auto put = [&](uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) t += char(little ? v >> (8 * i) : v >> (8 * (bytes - 1 - i)));
  };
  const uint32_t width = uint32_t(samples.size()) / uint32_t(channels);
  const uint32_t bits = channels == 1 ? 16 : 8 + 2 + 9 * 12 + 4;  // inline, or after the IFD
  const uint32_t data = 8 + 2 + 9 * 12 + 4 + (channels == 1 ? 0 : 6);
  const uint32_t entries[9][3] = {{256, 3, width},
                                  {257, 3, 1},
                                  {258, 3, bits},
                                  {259, 3, 1},
                                  {262, 3, channels == 1 ? 1u : 2u},
                                  {273, 4, data},
                                  {277, 3, uint32_t(channels)},
                                  {278, 3, 1},
                                  {279, 4, uint32_t(samples.size() * 2)}};
  put(9, 2);
  for (const auto& e : entries) {
    put(e[0], 2);
    put(e[1], 2);
    put(e[0] == 258 ? uint32_t(channels) : 1, 4);
    if (e[1] == 3 && !(e[0] == 258 && channels > 1)) {
      put(e[2], 2);
      put(0, 2);
    } else {
      put(e[2], 4);
    }
  }
  put(0, 4);
  if (channels > 1)
    for (int c = 0; c < channels; ++c) put(16, 2);
  for (uint16_t v : samples) put(v, 2);
  return t;
}

// 16-bit samples come in at 16 bits in the host's range, in either byte order, and at 8 bits
// as their nearest 8-bit values when asked.
TEST(WicImageFile, SixteenBitSamplesComeInAtSixteenBitsOrNearestEight) {
  const struct {
    const char* what;
    bool little;
    int channels;
    std::vector<uint16_t> samples;
    bool grey;
  } cases[] = {
      {"RGB, big-endian", false, 3, {0x12FF, 0xAB00, 0xFFFF, 0x0080, 0x7F7F, 0x0100}, false},
      {"RGB, little-endian", true, 3, {0x12FF, 0xAB00, 0xFFFF, 0x0080, 0x7F7F, 0x0100}, false},
      {"grey", true, 1, {0x12FF, 0x80FF}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint16_t> rgb;  // grey as RGB
    for (uint16_t v : c.samples) rgb.insert(rgb.end(), c.channels == 1 ? 3 : 1, v);
    for (int depth : {0, 8}) {
      ImageFile file;
      std::string error;
      LoadOptions options;
      options.depth = depth;
      ASSERT_TRUE(
          DecodeImage(DeepTiff(c.little, c.channels, c.samples), c.what, options, &file, &error))
          << error;
      EXPECT_EQ(file.format, "tif");
      EXPECT_EQ(file.fileDepth, 16);
      const Image& got = file.frames[0];
      ASSERT_EQ(got.planes, 3);
      ASSERT_EQ(got.depth, depth == 8 ? 8 : 16);
      ASSERT_EQ(got.pixels.size(), rgb.size() * got.sampleBytes());
      for (size_t i = 0; i < rgb.size(); ++i) {
        if (depth == 8)
          EXPECT_EQ(got.pixels[i], EightBitOfFileSample(rgb[i])) << i;
        else
          EXPECT_EQ(got.pixels[2 * i] | got.pixels[2 * i + 1] << 8, HostOfFileSample(rgb[i])) << i;
      }
      EXPECT_EQ(file.notes.size(), c.grey ? 1u : 0u);
    }
  }
}

// Every host value written at 16 bits where the component takes them and read back
// unchanged; to BMP as the nearest 8-bit values.
TEST(WicImageFile, SixteenBitImagesKeepEveryHostValue) {
  const int w = 128, h = (32769 + 4 * w - 1) / (4 * w);
  Image image{w, h, 4, {}, 16};
  for (int i = 0; i < w * h * 4; ++i) {
    const uint16_t v = uint16_t(i % 32769);
    image.pixels.push_back(uint8_t(v));
    image.pixels.push_back(uint8_t(v >> 8));
  }
  for (const char* format : {"png", "tif", "bmp"}) {
    SCOPED_TRACE(format);
    std::string bytes, error;
    ASSERT_TRUE(Encode(image, format, &bytes, &error)) << error;
    ImageFile back;
    ASSERT_TRUE(DecodeImage(bytes, format, LoadOptions{}, &back, &error)) << error;
    const Image& got = back.frames[0];
    const bool deep = FindImageFormat(format)->deep;
    ASSERT_EQ(got.depth, deep ? 16 : 8);
    for (int i = 0; i < w * h * got.planes; ++i) {
      const int plane = i % got.planes, pixel = i / got.planes;
      const uint16_t v = uint16_t((pixel * 4 + plane) % 32769);
      if (deep)
        ASSERT_EQ(got.pixels[2 * size_t(i)] | got.pixels[2 * size_t(i) + 1] << 8, v) << i;
      else
        ASSERT_EQ(got.pixels[size_t(i)], NearestEightBit(v)) << i;
    }
  }
}

// The first IFD of an EXIF block with one entry: the orientation.
std::string ExifWithOrientation(int orientation) {
  std::string exif("II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0", 18);
  exif += char(orientation);
  exif += std::string(7, '\0');
  return exif;
}

TEST(WicImageFile, PhotosAreTurnedUprightAsTheirExifSays) {
  // Blocks of 16 x 16 pixels, 2 across and 3 down, in six colours far apart.
  const uint8_t colours[6][3] = {{250, 0, 0},     {0, 250, 0}, {0, 0, 250},
                                 {250, 250, 250}, {0, 0, 0},   {250, 250, 0}};
  Image image{32, 48, 3, {}};
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 32; ++x)
      for (int c = 0; c < 3; ++c) image.pixels.push_back(colours[(y / 16) * 2 + x / 16][c]);
  std::string jpeg, error;
  ASSERT_TRUE(Encode(image, "jpg", &jpeg, &error)) << error;
  // The blocks, read row by row, as they should look; the source is 0 1 / 2 3 / 4 5.
  const struct {
    int orientation, across;
    std::vector<int> blocks;
  } cases[] = {
      {1, 2, {0, 1, 2, 3, 4, 5}}, {2, 2, {1, 0, 3, 2, 5, 4}}, {3, 2, {5, 4, 3, 2, 1, 0}},
      {4, 2, {4, 5, 2, 3, 0, 1}}, {5, 3, {0, 2, 4, 1, 3, 5}}, {6, 3, {4, 2, 0, 5, 3, 1}},
      {7, 3, {5, 3, 1, 4, 2, 0}}, {8, 3, {1, 3, 5, 0, 2, 4}},
  };
  for (const auto& c : cases) {
    const std::string exif = "Exif" + std::string(2, '\0') + ExifWithOrientation(c.orientation);
    std::string tagged =
        jpeg.substr(0, 2) + "\xFF\xE1" + char(0) + char(exif.size() + 2) + exif + jpeg.substr(2);
    ImageFile file;
    ASSERT_TRUE(DecodeImage(tagged, "tagged", LoadOptions{}, &file, &error)) << error;
    const Image& up = file.frames[0];
    ASSERT_EQ(up.width, c.across * 16) << c.orientation;
    for (int b = 0; b < 6; ++b) {
      const int x = (b % c.across) * 16 + 8, y = (b / c.across) * 16 + 8;
      const uint8_t* px = &up.pixels[(size_t(y) * size_t(up.width) + size_t(x)) * 3];
      for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(px[k], colours[c.blocks[size_t(b)]][k], 40)
            << "orientation " << c.orientation << " block " << b;
    }
    // Written again, it says it is upright.
    std::string again;
    ASSERT_TRUE(Encode(up, "jpg", &again, &error, file.source)) << error;
    EXPECT_EQ(TiffOrientation(FindMetadataBlocks(again).exif), 1);
  }
}

TEST(WicImageFile, DamagedOversizedAndForeignFilesAreRefused) {
  std::string png, jpeg, tiff, bmp, error;
  const Image image = Pattern(40, 30, 3);
  ASSERT_TRUE(Encode(image, "png", &png, &error));
  ASSERT_TRUE(Encode(image, "jpg", &jpeg, &error));
  ASSERT_TRUE(Encode(image, "tif", &tiff, &error));
  ASSERT_TRUE(Encode(image, "bmp", &bmp, &error));
  std::string wide = png;  // the header says 40000 x 30
  wide[16] = 0, wide[17] = 0, wide[18] = char(0x9C), wide[19] = char(0x40);
  const struct {
    const char* what;
    std::string bytes;
    uint64_t maxPixels;
    const char* says;
  } cases[] = {
      {"png cut short", png.substr(0, png.size() / 2), 0, "damaged"},
      {"png with a broken header", png.substr(0, 20) + std::string(100, 'x'), 0, "damaged"},
      {"jpeg of its header alone", jpeg.substr(0, 200), 0, "damaged"},
      {"tiff cut short", tiff.substr(0, 60), 0, "damaged"},
      {"bmp cut short", bmp.substr(0, 40), 0, "damaged"},
      {"png over the limit", png, 1000, "--max-megapixels"},
      {"tiff over the limit", tiff, 1000, "--max-megapixels"},
      {"png too wide for the filter", wide, 0, ""},
      {"text", "hello, this is not an image", 0, "not an image this program reads"},
      {"empty", "", 0, "empty"},
  };
  for (const auto& c : cases) {
    ImageFile file;
    LoadOptions options;
    options.maxPixels = c.maxPixels;
    EXPECT_FALSE(DecodeImage(c.bytes, c.what, options, &file, &error)) << c.what;
    EXPECT_NE(error.find(c.what), std::string::npos) << error;
    EXPECT_NE(error.find(c.says), std::string::npos) << c.what << ": " << error;
  }
  LoadOptions stopped;
  stopped.stop = [] { return true; };
  ImageFile file;
  EXPECT_FALSE(DecodeImage(png, "it", stopped, &file, &error));
}

TEST(WicImageFile, MetadataBlocksGoIntoJpegAndPngOnlyOnce) {
  MetadataBlocks blocks{ExifWithOrientation(6), "<x:xmpmeta/>", std::string(70000, 'p')};
  const std::string profile = blocks.icc;
  for (const char* format : {"jpg", "png"}) {
    std::string bytes, error;
    ASSERT_TRUE(Encode(Pattern(4, 4, 3), format, &bytes, &error));
    AddMetadataBlocks(blocks, &bytes);
    AddMetadataBlocks(blocks, &bytes);  // a file that has them is left as it is
    const MetadataBlocks back = FindMetadataBlocks(bytes);
    EXPECT_EQ(back.exif, blocks.exif) << format;
    EXPECT_EQ(back.xmp, blocks.xmp) << format;
    if (std::string(format) == "jpg") {
      EXPECT_EQ(back.icc, profile);  // in two segments
    }
    EXPECT_EQ(TiffOrientation(back.exif), 6);
    ImageFile file;
    ASSERT_TRUE(DecodeImage(bytes, format, LoadOptions{}, &file, &error)) << format << error;
  }
  // Lengths that point past the end are where the walk stops.
  for (std::string damaged : {std::string("\xFF\xD8\xFF\xE1\xFF\xFF"
                                          "Exif",
                                          10),
                              std::string("\x89PNG\r\n\x1a\n\x7F\xFF\xFF\xFF"
                                          "eXIf",
                                          16),
                              std::string("MM\0*\0\0\0\x08\xFF\xFF", 10)}) {
    EXPECT_TRUE(FindMetadataBlocks(damaged).exif.empty());
    EXPECT_EQ(TiffOrientation(damaged), 0);
  }
}

// Every input of the loading fuzz target, whole and cut short: each is decoded or refused
// with a message, and quickly.
TEST(WicImageFile, TheFuzzCorpusIsDecodedOrRefused) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(FUZZ_CORPUS)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (size_t cut : {bytes.size(), bytes.size() / 2, bytes.size() / 5, size_t(30)}) {
      const auto start = std::chrono::steady_clock::now();
      ImageFile file;
      std::string error;
      LoadOptions options;
      options.maxPixels = 16 * 1000 * 1000;
      if (!DecodeImage(bytes.substr(0, cut), "it", options, &file, &error))
        EXPECT_FALSE(error.empty()) << entry.path();
      else
        EXPECT_FALSE(file.frames.empty()) << entry.path();
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20))
          << entry.path() << " cut at " << cut;
    }
    ++files;
  }
  EXPECT_GE(files, 10);
}

}  // namespace
