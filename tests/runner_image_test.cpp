// Image files as the native build reads and writes them, checked against libvips itself:
// every format, orientation, metadata, deep, grey and palette inputs, animations.
#include <vips/vips.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "engine/Engine.h"
#include "imagefile/ImageFile.h"
#include "imagefile/ImageSupport.h"

namespace {

struct Unref {
  void operator()(VipsImage* image) const { g_object_unref(image); }
};
using ImagePtr = std::unique_ptr<VipsImage, Unref>;

// A small picture with a different colour in every pixel of its corners.
Image Picture(int width, int height, int planes) {
  Image image{width, height, planes, {}};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const uint8_t px[4] = {uint8_t(x * 255 / (width - 1)), uint8_t(y * 255 / (height - 1)),
                             uint8_t(128 + (x + y) % 2 * 60), uint8_t(255 - x * 8)};
      image.pixels.insert(image.pixels.end(), px, px + planes);
    }
  return image;
}

ImagePtr FromPixels(const std::vector<uint8_t>& pixels, int width, int height, int bands,
                    VipsBandFormat format = VIPS_FORMAT_UCHAR) {
  VipsImage* image =
      vips_image_new_from_memory_copy(pixels.data(), pixels.size(), width, height, bands, format);
  return ImagePtr(image);
}

std::string Encode(VipsImage* image, const char* suffix) {
  void* buffer = nullptr;
  size_t size = 0;
  EXPECT_EQ(vips_image_write_to_buffer(image, suffix, &buffer, &size, NULL), 0)
      << vips_error_buffer();
  std::string bytes(static_cast<const char*>(buffer), size);
  g_free(buffer);
  return bytes;
}

ImagePtr Open(const std::string& bytes, const char* options = "") {
  ImagePtr image(vips_image_new_from_buffer(bytes.data(), bytes.size(), options, NULL));
  EXPECT_TRUE(image) << vips_error_buffer();
  return image;
}

// 16-bit RGB (or RGBA) samples of a file, as libvips keeps them.
ImagePtr SixteenBitRgb(const std::vector<uint16_t>& samples, int width, int height, int bands = 3) {
  ImagePtr raw(vips_image_new_from_memory_copy(samples.data(), samples.size() * 2, width, height,
                                               bands, VIPS_FORMAT_USHORT));
  VipsImage* rgb16 = nullptr;
  EXPECT_EQ(vips_copy(raw.get(), &rgb16, "interpretation", VIPS_INTERPRETATION_RGB16, NULL), 0);
  return ImagePtr(rgb16);
}

// Sample i of a 16-bit image.
uint32_t Word(const Image& image, size_t i) {
  return uint32_t(image.pixels[2 * i] | image.pixels[2 * i + 1] << 8);
}

double MeanDifference(const Image& a, const Image& b) {
  if (a.pixels.size() != b.pixels.size()) return 1e9;
  double sum = 0;
  for (size_t i = 0; i < a.pixels.size(); ++i) sum += std::abs(int(a.pixels[i]) - int(b.pixels[i]));
  return sum / double(a.pixels.size());
}

TEST(ImageFiles, EveryFormatThisBuildWritesIsReadBack) {
  const std::string listed = [] {
    std::string s;
    for (const ImageFormatInfo& f : ImageFormats()) s += std::string(f.name) + " ";
    return s;
  }();
  for (const char* wanted : {"jpg", "png", "tif", "webp", "gif"})  // the least a build has
    EXPECT_NE(listed.find(wanted), std::string::npos) << listed;
  for (const ImageFormatInfo& f : ImageFormats()) {
    if (!f.writes) continue;
    for (int planes : {3, 4}) {
      SCOPED_TRACE(std::string(f.name) + " " + std::to_string(planes) + " planes");
      ImageFile file;
      file.frames.push_back(Picture(24, 16, planes));
      std::string bytes, error;
      SaveOptions options;
      options.quality = 95;
      ASSERT_TRUE(EncodeImage(file, f.name, options, &bytes, &error)) << error;
      ImageFile back;
      ASSERT_TRUE(DecodeImage(bytes, "x", LoadOptions{}, &back, &error)) << error;
      ASSERT_EQ(back.frames.size(), 1u);
      const Image& got = back.frames[0];
      EXPECT_EQ(got.width, 24);
      EXPECT_EQ(got.height, 16);
      const int expectPlanes = f.alpha ? planes : 3;
      ASSERT_EQ(got.planes, expectPlanes);
      Image expected = Picture(24, 16, expectPlanes);
      if (!f.lossy && std::string(f.name) != "gif") {
        EXPECT_EQ(got.pixels, expected.pixels);
      } else if (planes == 3) {  // GIF's alpha is all or nothing; the others are near
        EXPECT_LT(MeanDifference(got, expected), 12.0);
      }
    }
  }
}

TEST(ImageFiles, OrientationIsAppliedAndMetadataKept) {
  // 4 x 2 with a pure red top-left pixel, stored sideways: orientation 6 turns it a
  // quarter clockwise, so it shows 2 x 4 with the red pixel top right.
  std::vector<uint8_t> px(4 * 2 * 3, 0);
  px[0] = 255;
  ImagePtr image = FromPixels(px, 4, 2, 3);
  VipsImage* tagged = nullptr;
  ASSERT_EQ(vips_copy(image.get(), &tagged, "interpretation", VIPS_INTERPRETATION_sRGB, "xres",
                      300 / 25.4, "yres", 300 / 25.4, NULL),
            0);
  image.reset(tagged);
  vips_image_set_int(image.get(), VIPS_META_ORIENTATION, 6);
  vips_image_set_string(image.get(), "exif-ifd0-Artist", "Corvanel test");
  const std::string xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'>corvanel</x:xmpmeta>";
  vips_image_set_blob_copy(image.get(), VIPS_META_XMP_NAME, xmp.data(), xmp.size());
  VipsBlob* profile = nullptr;
  ASSERT_EQ(vips_profile_load("srgb", &profile, NULL), 0);
  size_t profileSize = 0;
  const void* profileData = vips_blob_get(profile, &profileSize);
  vips_image_set_blob_copy(image.get(), VIPS_META_ICC_NAME, profileData, profileSize);
  const std::string jpeg = Encode(image.get(), ".jpg[Q=100]");

  ImageFile file;
  std::string error;
  ASSERT_TRUE(DecodeImage(jpeg, "sideways.jpg", LoadOptions{}, &file, &error)) << error;
  ASSERT_EQ(file.frames.size(), 1u);
  const Image& upright = file.frames[0];
  ASSERT_EQ(upright.width, 2);
  ASSERT_EQ(upright.height, 4);
  EXPECT_GT(upright.pixels[3], 200);  // (1, 0) is the red one
  EXPECT_LT(upright.pixels[0], 60);

  for (const char* format : {"jpg", "png", "webp", "tif"}) {
    SCOPED_TRACE(format);
    std::string bytes;
    ASSERT_TRUE(EncodeImage(file, format, SaveOptions{}, &bytes, &error)) << error;
    ImagePtr back = Open(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->Xsize, 2);
    int orientation = 1;
    if (vips_image_get_typeof(back.get(), VIPS_META_ORIENTATION))
      vips_image_get_int(back.get(), VIPS_META_ORIENTATION, &orientation);
    EXPECT_EQ(orientation, 1);
    if (std::string(format) != "webp") {  // WebP has no resolution
      EXPECT_NEAR(back->Xres, 300 / 25.4, 0.05);
    }
    const void* data = nullptr;
    size_t size = 0;
    ASSERT_EQ(vips_image_get_blob(back.get(), VIPS_META_ICC_NAME, &data, &size), 0);
    EXPECT_EQ(std::string(static_cast<const char*>(data), size),
              std::string(static_cast<const char*>(profileData), profileSize));
    ASSERT_EQ(vips_image_get_blob(back.get(), VIPS_META_XMP_NAME, &data, &size), 0);
    EXPECT_NE(std::string(static_cast<const char*>(data), size).find("corvanel"),
              std::string::npos);
    if (std::string(format) != "tif") {  // TIFF keeps the tags in its own header
      const char* artist = nullptr;
      ASSERT_EQ(vips_image_get_string(back.get(), "exif-ifd0-Artist", &artist), 0);
      EXPECT_NE(std::string(artist).find("Corvanel test"), std::string::npos);
    }
    vips_error_clear();
  }
  vips_area_unref(VIPS_AREA(profile));
}

TEST(ImageFiles, GreyAndPaletteImagesComeInAsRgbAndDeepOnesAtSixteenBits) {
  // Each input holds the same grey ramp 0, 64, 128, 192 in its own way.
  const std::vector<uint8_t> ramp = {0, 64, 128, 192};
  std::vector<uint16_t> deep;
  for (uint8_t v : ramp) deep.insert(deep.end(), 3, uint16_t(v * 257));
  std::vector<uint8_t> greyAlpha;
  for (uint8_t v : ramp) greyAlpha.insert(greyAlpha.end(), {v, 200});
  std::vector<uint8_t> rgb;
  for (uint8_t v : ramp) rgb.insert(rgb.end(), 3, v);

  ImagePtr deepRgb = SixteenBitRgb(deep, 4, 1);
  ImagePtr grey = FromPixels(ramp, 4, 1, 1);
  ImagePtr greyA = FromPixels(greyAlpha, 4, 1, 2);
  ImagePtr colour = FromPixels(rgb, 4, 1, 3);
  const struct {
    const char* name;
    std::string bytes;
    int planes;
    int depth;
    const char* note;
  } cases[] = {
      {"16-bit RGB PNG", Encode(deepRgb.get(), ".png"), 3, 16, nullptr},
      {"16-bit RGB TIFF", Encode(deepRgb.get(), ".tif"), 3, 16, nullptr},
      {"grey PNG", Encode(grey.get(), ".png"), 3, 8, "grey images"},
      {"grey and alpha PNG", Encode(greyA.get(), ".png"), 4, 8, "grey images"},
      {"palette PNG", Encode(colour.get(), ".png[palette,dither=0]"), 3, 8, nullptr},
      {"grey JPEG", Encode(grey.get(), ".jpg[Q=100]"), 3, 8, "grey images"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ImageFile file;
    std::string error;
    ASSERT_TRUE(DecodeImage(c.bytes, c.name, LoadOptions{}, &file, &error)) << error;
    ASSERT_EQ(file.frames.size(), 1u);
    const Image& got = file.frames[0];
    ASSERT_EQ(got.planes, c.planes);
    ASSERT_EQ(got.depth, c.depth);
    EXPECT_EQ(file.fileDepth, c.depth);
    for (int x = 0; x < 4; ++x) {
      for (int s = 0; s < 3; ++s) {
        const size_t i = size_t(x * c.planes + s);
        if (c.depth == 16)
          EXPECT_EQ(Word(got, i), HostOfFileSample(ramp[size_t(x)] * 257u));
        else
          EXPECT_NEAR(got.pixels[i], ramp[size_t(x)], 2);
      }
    }
    if (c.planes == 4) {
      EXPECT_EQ(got.pixels[3], 200);
    }
    std::string notes;
    for (const std::string& n : file.notes) notes += n + "; ";
    if (c.note) {
      EXPECT_NE(notes.find(c.note), std::string::npos) << notes;
    } else {
      EXPECT_EQ(notes, "");
    }
  }
}

// The file's 0..65535 and the host's 0..32768: each file value to the nearest host value,
// every host value back unchanged from a file; through PNG and TIFF (with alpha) exactly,
// and to 8 bits as the nearest 8-bit value of the host's, whether read so (--depth 8) or
// written to a format of 8-bit samples.
TEST(ImageFiles, SixteenBitFilesKeepEveryHostValueExactly) {
  for (uint32_t v = 0; v <= 65535; ++v) {
    ASSERT_EQ(HostOfFileSample(v), uint16_t(std::floor(v * 32768.0 / 65535 + 0.5))) << v;
    const uint16_t h = uint16_t(std::min<uint32_t>(v, 32769));
    ASSERT_EQ(FileOfHostSample(h),
              uint16_t(std::floor(std::min<uint32_t>(h, 32768) * 65535.0 / 32768 + 0.5)));
    if (v <= 32768) {
      ASSERT_EQ(HostOfFileSample(FileOfHostSample(v)), v) << v;
    }
  }
  // Every host value once, in RGBA pixels of 128 a row.
  const int w = 128, h = (32769 + 4 * w - 1) / (4 * w);
  std::vector<uint16_t> file(size_t(w) * size_t(h) * 4);
  for (size_t i = 0; i < file.size(); ++i) file[i] = FileOfHostSample(uint32_t(i % 32769));
  ImagePtr rgba = SixteenBitRgb(file, w, h, 4);
  for (const char* format : {"png", "tif"}) {
    SCOPED_TRACE(format);
    ImageFile in;
    std::string error, bytes;
    ASSERT_TRUE(DecodeImage(Encode(rgba.get(), (std::string(".") + format).c_str()), format,
                            LoadOptions{}, &in, &error))
        << error;
    ASSERT_EQ(in.frames.front().depth, 16);
    ASSERT_EQ(in.frames.front().planes, 4);
    for (size_t i = 0; i < file.size(); ++i) ASSERT_EQ(Word(in.frames.front(), i), i % 32769) << i;
    ASSERT_TRUE(EncodeImage(in, format, SaveOptions{}, &bytes, &error)) << error;
    ImagePtr back = Open(bytes);
    ASSERT_EQ(back->BandFmt, VIPS_FORMAT_USHORT);
    size_t size = 0;
    std::unique_ptr<void, decltype(&g_free)> samples(vips_image_write_to_memory(back.get(), &size),
                                                     g_free);
    ASSERT_EQ(size, file.size() * 2);
    EXPECT_EQ(std::memcmp(samples.get(), file.data(), size), 0);

    LoadOptions eight;
    eight.depth = 8;
    ImageFile narrow;
    ASSERT_TRUE(DecodeImage(bytes, format, eight, &narrow, &error)) << error;
    ASSERT_EQ(narrow.frames.front().depth, 8);
    for (size_t i = 0; i < file.size(); ++i)
      ASSERT_EQ(narrow.frames.front().pixels[i], NearestEightBit(uint32_t(i % 32769))) << i;
    // An 8-bit format gets the same values; BMP and TGA keep them exactly.
    for (const char* flat : {"bmp", "tga"}) {
      ImageFile written;
      ASSERT_TRUE(EncodeImage(in, flat, SaveOptions{}, &bytes, &error)) << error;
      ASSERT_TRUE(DecodeImage(bytes, flat, LoadOptions{}, &written, &error)) << error;
      EXPECT_EQ(written.frames.front().pixels, narrow.frames.front().pixels) << flat;
    }
  }
}

TEST(ImageFiles, AnimationsAreFilteredFrameByFrameAndKept) {
  // Three frames of 8 x 6, each one flat colour, with their delays.
  const uint8_t colours[3][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
  std::vector<uint8_t> px;
  for (const auto& c : colours)
    for (int i = 0; i < 8 * 6; ++i) px.insert(px.end(), c, c + 3);
  ImagePtr strip = FromPixels(px, 8, 18, 3);
  VipsImage* copy = nullptr;
  ASSERT_EQ(vips_copy(strip.get(), &copy, "interpretation", VIPS_INTERPRETATION_sRGB, NULL), 0);
  strip.reset(copy);
  vips_image_set_int(strip.get(), VIPS_META_PAGE_HEIGHT, 6);
  int delays[3] = {100, 200, 300};
  vips_image_set_array_int(strip.get(), "delay", delays, 3);
  for (const char* suffix : {".gif", ".tif", ".webp"}) {
    SCOPED_TRACE(suffix);
    ImageFile file;
    std::string error;
    ASSERT_TRUE(DecodeImage(Encode(strip.get(), suffix), suffix, LoadOptions{}, &file, &error))
        << error;
    ASSERT_EQ(file.frames.size(), 3u);
    for (int f = 0; f < 3; ++f) {
      EXPECT_EQ(file.frames[size_t(f)].height, 6);
      EXPECT_NEAR(file.frames[size_t(f)].pixels[size_t(f)], 255, 8);
    }
    std::string bytes;
    ASSERT_TRUE(EncodeImage(file, suffix + 1, SaveOptions{}, &bytes, &error)) << error;
    ImagePtr back = Open(bytes, "[n=-1]");
    ASSERT_TRUE(back);
    EXPECT_EQ(vips_image_get_page_height(back.get()), 6);
    EXPECT_EQ(back->Ysize, 18);
    if (std::string(suffix) != ".tif") {
      int* got = nullptr;
      int n = 0;
      ASSERT_EQ(vips_image_get_array_int(back.get(), "delay", &got, &n), 0);
      ASSERT_EQ(n, 3);
      EXPECT_EQ(got[2], 300);
    }
    // A format of one image refuses them, saying which would keep them: when writing, and
    // when reading for it, before the frames are decoded.
    EXPECT_FALSE(EncodeImage(file, "png", SaveOptions{}, &bytes, &error));
    EXPECT_NE(error.find("3 frames and .png holds one; write"), std::string::npos) << error;
    LoadOptions forPng;
    forPng.outputFormat = "png";
    EXPECT_FALSE(DecodeImage(bytes, "anim", forPng, &file, &error));
    EXPECT_NE(error.find("anim: the image has 3 frames and .png holds one"), std::string::npos)
        << error;
  }
}

TEST(ImageFiles, RefusesDamagedAndOversizedFilesWithAReason) {
  ImagePtr big = FromPixels(std::vector<uint8_t>(300 * 200 * 3, 9), 300, 200, 3);
  const std::string png = Encode(big.get(), ".png");
  const std::string jpeg = Encode(big.get(), ".jpg");
  const struct {
    const char* name;
    std::string bytes;
    uint64_t maxPixels;
    const char* says;
  } cases[] = {
      {"limit", png, 50000, "is 300 x 200 pixels (0.1 megapixels), more than the limit of 0.1"},
      {"truncated PNG", png.substr(0, png.size() / 2), 0, "damaged"},
      {"truncated JPEG", jpeg.substr(0, jpeg.size() / 2), 0, "damaged"},
      {"noise", std::string(1000, '\x5a'), 0, "not an image this program reads"},
      {"empty", "", 0, "is empty"},
      {"SVG (not trusted with files)",
       "<svg xmlns='http://www.w3.org/2000/svg' width='4' height='4'/>", 0,
       "not an image this program reads"},
  };
  for (const auto& c : cases) {
    ImageFile file;
    std::string error;
    LoadOptions options;
    options.maxPixels = c.maxPixels;
    EXPECT_FALSE(DecodeImage(c.bytes, c.name, options, &file, &error)) << c.name;
    EXPECT_NE(error.find(c.says), std::string::npos) << c.name << ": " << error;
  }
}

}  // namespace
