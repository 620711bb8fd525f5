// The native build's image files: libvips for the formats it does well, stb for BMP and
// TGA, which libvips reads only through ImageMagick (not trusted with arbitrary files).
#include <vips/vips.h>

#include <cstring>
#include <memory>
#include <mutex>

#include "engine/Engine.h"
#include "imagefile/ImageFile.h"
#include "imagefile/ImageSupport.h"
#include "imagefile/StbCodec.h"

namespace {

struct Unref {
  void operator()(VipsImage* image) const { g_object_unref(image); }
};
using ImagePtr = std::unique_ptr<VipsImage, Unref>;

bool HasSaver(const char* suffix);
bool AvifWorks();

// The largest JPEG written with optimised Huffman tables.
constexpr uint64_t kOptimisedJpegPixels = 8'000'000;

using Saver = int (*)(VipsImage* in, void** buffer, size_t* size, int quality);

// The one format table of this build: what is read and written, with what, and the options.
struct Format {
  ImageFormatInfo info;  // `writes` is where writable() says so
  const char* loader;    // the libvips loader let loose on such files; none: stb or another row
  bool pages;            // its loader takes n=-1 for every page or frame
  bool optional;         // listed only where this libvips can write it
  bool (*writable)();
  Saver save;  // none: stb writes it
};
const Format kFormats[] = {
    {{"jpg", "jpg jpeg jpe", true, true, true, false, false, false},
     "VipsForeignLoadJpeg",
     false,
     false,
     [] { return HasSaver(".jpg"); },
     [](VipsImage* in, void** b, size_t* n, int q) {
       // Optimised Huffman tables make smaller files of the same pixels, but libjpeg holds
       // the whole image's coefficients for them (6 bytes a pixel at 4:4:4): beyond a few
       // megapixels that is more than the image itself and its render, so large ones get
       // the standard tables.
       const bool optimise = uint64_t(in->Xsize) * uint64_t(in->Ysize) <= kOptimisedJpegPixels;
       return vips_jpegsave_buffer(in, b, n, "Q", q, "optimize_coding", optimise, NULL);
     }},
    {{"png", "png", true, true, false, true, false, true},
     "VipsForeignLoadPng",
     false,
     false,
     [] { return HasSaver(".png"); },
     [](VipsImage* in, void** b, size_t* n, int) {
       return vips_pngsave_buffer(in, b, n, "compression", 6, NULL);
     }},
    {{"tif", "tif tiff", true, true, false, true, true, true},
     "VipsForeignLoadTiff",
     true,
     false,
     [] { return HasSaver(".tif"); },
     [](VipsImage* in, void** b, size_t* n, int) {
       return vips_tiffsave_buffer(in, b, n, "compression", VIPS_FOREIGN_TIFF_COMPRESSION_DEFLATE,
                                   "predictor", VIPS_FOREIGN_TIFF_PREDICTOR_HORIZONTAL, NULL);
     }},
    {{"webp", "webp", true, true, true, true, true, false},
     "VipsForeignLoadWebp",
     true,
     false,
     [] { return HasSaver(".webp"); },
     [](VipsImage* in, void** b, size_t* n, int q) {
       return vips_webpsave_buffer(in, b, n, "Q", q, NULL);
     }},
    {{"gif", "gif", true, true, false, true, true, false},
     "VipsForeignLoadNsgif",
     true,
     false,
     [] { return HasSaver(".gif"); },
     [](VipsImage* in, void** b, size_t* n, int) { return vips_gifsave_buffer(in, b, n, NULL); }},
    {{"heic", "heic heif", true, true, true, true, false, false},
     "VipsForeignLoadHeif",
     true,
     true,
     [] { return HasSaver(".heic"); },
     [](VipsImage* in, void** b, size_t* n, int q) {
       return vips_heifsave_buffer(in, b, n, "Q", q, NULL);
     }},
    // Read by the HEIF loader.
    {{"avif", "avif", true, true, true, true, false, false},
     nullptr,
     false,
     true,
     AvifWorks,
     [](VipsImage* in, void** b, size_t* n, int q) {
       return vips_heifsave_buffer(in, b, n, "Q", q, "compression",
                                   VIPS_FOREIGN_HEIF_COMPRESSION_AV1, NULL);
     }},
    {{"jxl", "jxl", true, true, true, true, false, true},
     "VipsForeignLoadJxl",
     false,
     true,
     [] { return HasSaver(".jxl"); },
     [](VipsImage* in, void** b, size_t* n, int q) {
       return vips_jxlsave_buffer(in, b, n, "Q", q, NULL);
     }},
    // libvips reads these only through ImageMagick: stb reads and writes them.
    {{"bmp", "bmp", true, true, false, true, false, false},
     nullptr,
     false,
     false,
     [] { return true; },
     nullptr},
    {{"tga", "tga", true, true, false, true, false, false},
     nullptr,
     false,
     false,
     [] { return true; },
     nullptr},
};

const Format* FindFormat(const std::string& name) {
  for (const Format& format : kFormats)
    if (name == format.info.name) return &format;
  return nullptr;
}

// libvips' warnings (a damaged file's details) are kept to explain a failure, never
// printed as they come: every line the command prints is its own.
// They come from libvips' worker threads too, and while memory runs out: kept in a fixed
// buffer, since nothing may throw through libvips' C code.
std::mutex g_warningLock;
char g_lastWarning[512] = {};

void KeepWarning(const gchar*, GLogLevelFlags, const gchar* message, gpointer) {
  std::lock_guard<std::mutex> lock(g_warningLock);
  g_strlcpy(g_lastWarning, message ? message : "", sizeof g_lastWarning);
}

std::string TakeWarning() {
  std::lock_guard<std::mutex> lock(g_warningLock);
  std::string warning(g_lastWarning);
  g_lastWarning[0] = '\0';
  return warning;
}

bool Started() {
  static const bool started = [] {
    if (VIPS_INIT("corvanel")) return false;
    g_log_set_handler("VIPS",
                      GLogLevelFlags(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE | G_LOG_LEVEL_INFO),
                      KeepWarning, nullptr);
    vips_operation_block_set("VipsForeignLoad", TRUE);
    for (const Format& format : kFormats)
      if (format.loader) vips_operation_block_set(format.loader, FALSE);
    vips_cache_set_max(0);  // one image at a time: nothing to gain from keeping results
    return true;
  }();
  return started;
}

// What libvips said of its failure; memory it could not have is thrown as OutOfMemory.
std::string LibraryError() {
  std::string s = vips_error_buffer();
  vips_error_clear();
  const std::string warning = TakeWarning();
  if (s.empty()) s = warning;
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  const size_t newline = s.find('\n');
  if (newline != std::string::npos) s = s.substr(0, newline);  // the first says most
  if (SaysOutOfMemory(s)) throw OutOfMemory("libvips: " + s);
  return s.empty() ? "libvips failed" : s;
}

bool HasSaver(const char* suffix) {
  if (!Started()) return false;
  const char* saver = vips_foreign_find_save_buffer(suffix);
  vips_error_clear();
  return saver != nullptr;
}

bool AvifWorks() {
  // libheif may be built without an AV1 encoder; try a tiny image once.
  static const bool works = [] {
    if (!HasSaver(".heic")) return false;
    const uint8_t pixel[3 * 16 * 16] = {};
    ImagePtr tiny(
        vips_image_new_from_memory_copy(pixel, sizeof pixel, 16, 16, 3, VIPS_FORMAT_UCHAR));
    void* buffer = nullptr;
    size_t size = 0;
    const bool ok = tiny && vips_heifsave_buffer(tiny.get(), &buffer, &size, "compression",
                                                 VIPS_FOREIGN_HEIF_COMPRESSION_AV1, NULL) == 0;
    g_free(buffer);
    vips_error_clear();
    return ok;
  }();
  return works;
}

// What a file said about itself, kept to be written again: EXIF, XMP, ICC profile, IPTC,
// comments, animation timing, and the resolution.
struct Metadata {
  std::vector<std::pair<std::string, GValue>> fields;
  double xres = 0, yres = 0;
  ~Metadata() {
    for (auto& field : fields) g_value_unset(&field.second);
  }
};

bool Skipped(const std::string& name, bool keepProfile) {
  static const char* const kStale[] = {"vips-",        "heif-",           "jpeg-",
                                       "png-bitdepth", "bits-per-sample", "palette-bit-depth",
                                       "bitdepth",     "interlaced",      "n-pages",
                                       "page-height",  "orientation",     "exif-ifd0-Orientation",
                                       "gif-palette"};
  for (const char* prefix : kStale)
    if (name.rfind(prefix, 0) == 0) return true;
  return !keepProfile && name == VIPS_META_ICC_NAME;
}

std::shared_ptr<const Metadata> KeepMetadata(VipsImage* image, bool keepProfile) {
  auto meta = std::make_shared<Metadata>();
  meta->xres = image->Xres;
  meta->yres = image->Yres;
  gchar** names = vips_image_get_fields(image);
  for (gchar** name = names; *name; ++name) {
    if (Skipped(*name, keepProfile)) continue;
    GValue value = G_VALUE_INIT;
    if (vips_image_get(image, *name, &value) == 0) meta->fields.emplace_back(*name, value);
  }
  g_strfreev(names);
  vips_error_clear();
  return meta;
}

// The row whose loader takes these bytes; none for bytes no allowed loader takes.
const Format* FindLoader(const std::string& bytes) {
  const char* name = vips_foreign_find_load_buffer(bytes.data(), bytes.size());
  vips_error_clear();
  if (!name) return nullptr;
  for (const Format& format : kFormats)
    if (format.loader && std::strncmp(name, format.loader, std::strlen(format.loader)) == 0)
      return &format;
  return nullptr;
}

// Sequential access decodes as the pixels are written out, top to bottom, straight into the
// frame; random access (what turning or stacking frames needs) first decodes the whole file
// into memory of libvips' own.
bool Open(const std::string& bytes, bool allPages, VipsAccess access, ImagePtr* image) {
  image->reset(vips_image_new_from_buffer(bytes.data(), bytes.size(), allPages ? "[n=-1]" : "",
                                          "access", access, "fail_on", VIPS_FAIL_ON_TRUNCATED,
                                          NULL));
  return *image != nullptr;
}

// Whether EXIF says the pixels must be turned or flipped to stand upright.
bool NeedsTurning(VipsImage* image) {
  int orientation = 1;
  if (vips_image_get_typeof(image, VIPS_META_ORIENTATION) &&
      vips_image_get_int(image, VIPS_META_ORIENTATION, &orientation))
    return false;
  return orientation > 1 && orientation <= 8;
}

// Whether the samples are deeper than 8 bits: such files are filtered at 16.
bool Deep(const VipsImage* image) {
  return image->BandFmt != VIPS_FORMAT_UCHAR && image->BandFmt != VIPS_FORMAT_CHAR;
}

// A table for vips_maplut: entry i is of(i), for every value of an 8- or 16-bit sample.
template <typename Out>
ImagePtr Table(int entries, Out (*of)(uint32_t)) {
  std::vector<Out> table(static_cast<size_t>(entries));
  for (int i = 0; i < entries; ++i) table[size_t(i)] = of(uint32_t(i));
  return ImagePtr(
      vips_image_new_from_memory_copy(table.data(), table.size() * sizeof(Out), entries, 1, 1,
                                      sizeof(Out) == 2 ? VIPS_FORMAT_USHORT : VIPS_FORMAT_UCHAR));
}

// Each sample through the table (every band alike, alpha too). Lazy: no copy of the image.
bool MapSamples(ImagePtr* image, const ImagePtr& table) {
  VipsImage* out = nullptr;
  if (!table || vips_maplut(image->get(), &out, table.get(), NULL)) return false;
  image->reset(out);
  return true;
}

uint16_t HostOfFile(uint32_t v) {
  return HostOfFileSample(v);
}
uint8_t EightBitOfFile(uint32_t v) {
  return EightBitOfFileSample(uint16_t(v));
}
uint16_t HostOfEightBit(uint32_t v) {
  return SixteenOfEightBit(uint8_t(v));
}
uint16_t FileOfHost(uint32_t h) {
  return FileOfHostSample(h);
}
uint8_t EightBitOfHost(uint32_t h) {
  return NearestEightBit(h);
}

// Into sRGB with or without alpha, at `depth` bits (0: 16 where the file has more than 8),
// in the host's range; records what changed on the way and sets *depth.
bool ToFilterFormat(ImagePtr* image, ImageFile* file, int* depth, bool* keepProfile,
                    bool* plainCmyk) {
  VipsImage* in = image->get();
  const VipsInterpretation was = vips_image_guess_interpretation(in);
  const bool deep = Deep(in);
  file->fileDepth = !deep                                                                   ? 8
                    : in->BandFmt == VIPS_FORMAT_USHORT || in->BandFmt == VIPS_FORMAT_SHORT ? 16
                                                                                            : 32;
  if (*depth == 0) *depth = deep ? 16 : 8;
  // CMYK with a profile is converted through it; without one, by the plain rule that the
  // Windows build uses too, when the frames are taken (libvips' default profile would give
  // other colours than that build's).
  *plainCmyk = false;
  if (was == VIPS_INTERPRETATION_CMYK) {
    *keepProfile = false;
    if (in->BandFmt == VIPS_FORMAT_UCHAR && (in->Bands == 4 || in->Bands == 5) &&
        vips_image_get_typeof(in, VIPS_META_ICC_NAME) == 0) {
      *plainCmyk = true;
      file->notes.push_back(kPlainCmykNote);
      return true;
    }
    file->notes.push_back("CMYK images are converted to RGB with their embedded colour profile");
  }
  const bool grey = was == VIPS_INTERPRETATION_B_W || was == VIPS_INTERPRETATION_GREY16;
  const bool rgb = was == VIPS_INTERPRETATION_sRGB || was == VIPS_INTERPRETATION_RGB16 ||
                   was == VIPS_INTERPRETATION_RGB;
  *keepProfile = rgb;  // a grey or CMYK profile would not describe the RGB written
  if (grey) file->notes.push_back("grey images are filtered and written as RGB");
  // Deeper samples by way of 16 bits; then every sample through one table into the host's
  // range, or to its nearest 8-bit value.
  VipsImage* out = nullptr;
  if (vips_colourspace(in, &out, deep ? VIPS_INTERPRETATION_RGB16 : VIPS_INTERPRETATION_sRGB, NULL))
    return false;
  image->reset(out);
  const VipsBandFormat wide = deep ? VIPS_FORMAT_USHORT : VIPS_FORMAT_UCHAR;
  if (out->BandFmt != wide) {
    if (vips_cast(out, &in, wide, NULL)) return false;
    image->reset(in);
  }
  if ((*image)->Bands > 4) {
    if (vips_extract_band(image->get(), &out, 0, "n", 4, NULL)) return false;
    image->reset(out);
    file->notes.push_back("bands beyond the fourth are dropped");
  }
  if (deep)
    return MapSamples(image,
                      *depth == 16 ? Table(65536, HostOfFile) : Table(65536, EightBitOfFile));
  return *depth == 8 || MapSamples(image, Table(256, HostOfEightBit));
}

// What libvips' work on an image answers to: the caller's stop(), which ends it early,
// and its progress display. Lives as long as the work.
struct Watch {
  bool (*stop)() = nullptr;
  const ProgressFunction* progress = nullptr;
};

void WatchWork(VipsImage* image, Watch* watch) {
  if (!watch->stop && !(watch->progress && *watch->progress)) return;
  vips_image_set_progress(image, TRUE);
  g_signal_connect(image, "eval", G_CALLBACK(+[](VipsImage* im, VipsProgress* p, gpointer data) {
                     const Watch* w = static_cast<const Watch*>(data);
                     if (w->stop && w->stop()) vips_image_set_kill(im, TRUE);
                     try {  // nothing may throw through libvips
                       if (w->progress && *w->progress) (*w->progress)(p->percent);
                     } catch (...) {
                     }
                   }),
                   watch);
}

// The decoded pixels, frame by frame, in the filter's planes.
bool TakeFrames(VipsImage* image, int pages, int frameHeight, bool plainCmyk,
                const LoadOptions& options, ImageFile* file) {
  size_t size = 0;
  Watch watch{options.stop, &options.progress};
  WatchWork(image, &watch);
  const int planes = image->Bands == 2 || image->Bands == 4 ? 4 : 3;  // but CMYK
  const int sample = image->BandFmt == VIPS_FORMAT_USHORT ? 2 : 1;
  if (pages == 1 && !plainCmyk && image->Bands == planes) {
    // Rendered straight into the frame's memory: no copy of the whole image beside it.
    Image frame{image->Xsize, frameHeight, planes, {}, sample * 8};
    frame.pixels.resize(frame.rowBytes() * size_t(frameHeight));
    ImagePtr target(vips_image_new_from_memory(frame.pixels.data(), frame.pixels.size(),
                                               image->Xsize, frameHeight, planes, image->BandFmt));
    if (!target || vips_image_write(image, target.get())) return false;
    file->frames.push_back(std::move(frame));
    return true;
  }
  // Freed however this ends: copying the frames out may run out of memory.
  std::unique_ptr<void, decltype(&g_free)> buffer(vips_image_write_to_memory(image, &size), g_free);
  if (!buffer) return false;
  const void* pixels = buffer.get();
  const int bands = image->Bands;
  const size_t frameSamples = size_t(image->Xsize) * size_t(frameHeight);
  for (int f = 0; f < pages; ++f) {
    const uint8_t* start = static_cast<const uint8_t*>(pixels) +
                           frameSamples * size_t(bands) * size_t(sample) * size_t(f);
    if (plainCmyk) {
      file->frames.push_back(CmykToFilterPlanes(start, image->Xsize, frameHeight, bands));
    } else if (bands == planes) {
      Image frame{image->Xsize, frameHeight, planes, {}, sample * 8};
      frame.pixels.assign(start, start + frameSamples * size_t(planes) * size_t(sample));
      file->frames.push_back(std::move(frame));
    } else if (sample == 2) {
      file->frames.push_back(ToFilterPlanes(reinterpret_cast<const uint16_t*>(start), image->Xsize,
                                            frameHeight, bands));
    } else {
      file->frames.push_back(ToFilterPlanes(start, image->Xsize, frameHeight, bands));
    }
  }
  return true;
}

}  // namespace

const std::vector<ImageFormatInfo>& ImageFormats() {
  static const std::vector<ImageFormatInfo> formats = [] {
    std::vector<ImageFormatInfo> list;
    for (const Format& format : kFormats) {
      ImageFormatInfo info = format.info;
      info.writes = format.writable();
      if (info.writes || !format.optional) list.push_back(info);
    }
    return list;
  }();
  return formats;
}

std::string ImageLibraryVersions() {
  std::string s = "libvips ";
  s += Started() ? vips_version_string() : "(failed to start)";
  return s + ", stb_image " + "(BMP, TGA)";
}

bool DecodeImage(const std::string& bytes, const std::string& name, const LoadOptions& options,
                 ImageFile* file, std::string* error) {
  *file = ImageFile{};
  const uint64_t limit = options.maxPixels ? options.maxPixels : DefaultPixelLimit();
  if (bytes.empty()) {
    *error = name + " is empty";
    return false;
  }
  if (!Started()) {
    *error = "libvips could not start: " + LibraryError();
    return false;
  }
  TakeWarning();  // only this file's warnings explain its failure
  const Format* loader = FindLoader(bytes);
  if (!loader) {
    if (StbDecode(bytes, name, limit, file, error)) return true;
    if (error->find("not an image this program reads") != std::string::npos)
      *error = name + " is not an image this program reads";
    return false;
  }
  ImagePtr image;
  if (!Open(bytes, false, VIPS_ACCESS_SEQUENTIAL, &image)) {
    *error = name + " is damaged or unsupported (" + LibraryError() + ")";
    return false;
  }
  int pages = 1;
  if (loader->pages && vips_image_get_typeof(image.get(), VIPS_META_N_PAGES))
    pages = std::max(1, vips_image_get_n_pages(image.get()));
  const uint64_t width = uint64_t(image->Xsize), height = uint64_t(image->Ysize);
  file->pixels = width * height * uint64_t(pages);
  if (!options.outputFormat.empty() && !HoldsFrames(options.outputFormat, size_t(pages), error)) {
    *error = name + ": " + *error;
    return false;
  }
  if (file->pixels > limit) {
    *error = TooLargeMessage(name, width, height, uint64_t(pages), limit);
    return false;
  }
  EnsureMemoryFor(file->pixels, Deep(image.get()) && options.depth != 8 ? 16 : 8);
  if (pages > 1 && !Open(bytes, true, VIPS_ACCESS_RANDOM, &image)) {
    *error = name + " has " + std::to_string(pages) +
             " frames or pages that cannot be read together (" + LibraryError() +
             "); only images whose frames are all one size are filtered";
    return false;
  }
  if (pages == 1) {  // turned upright as EXIF says; animations have no such tag
    if (NeedsTurning(image.get()) && !Open(bytes, false, VIPS_ACCESS_RANDOM, &image)) {
      *error = name + " is damaged or unsupported (" + LibraryError() + ")";
      return false;
    }
    VipsImage* upright = nullptr;
    if (vips_autorot(image.get(), &upright, NULL)) {
      *error = name + " cannot be turned upright (" + LibraryError() + ")";
      return false;
    }
    image.reset(upright);
  }
  const int frameHeight = pages > 1 ? vips_image_get_page_height(image.get()) : image->Ysize;
  if (image->Xsize > INT16_MAX || frameHeight > INT16_MAX) {
    *error = name + " is " + std::to_string(image->Xsize) + " x " + std::to_string(frameHeight) +
             " pixels; the filter takes at most 32767 in each direction";
    return false;
  }
  bool keepProfile = false, plainCmyk = false;
  int depth = options.depth;
  if (!ToFilterFormat(&image, file, &depth, &keepProfile, &plainCmyk)) {
    *error = name + " cannot be converted to RGB (" + LibraryError() + ")";
    return false;
  }
  if (!TakeFrames(image.get(), pages, frameHeight, plainCmyk, options, file)) {
    *error = name + " is damaged or unsupported (" + LibraryError() + ")";
    return false;
  }
  file->format = loader->info.name;
  file->source = KeepMetadata(image.get(), keepProfile);
  return true;
}

namespace {

// The frames as one libvips image, one above the other, with what the source file said
// about itself. The image reads the pixels where they are (a single frame's, or the frames
// put together in *all), without a copy: they must outlive it.
bool ToVipsImage(const ImageFile& file, const Format* format, std::vector<uint8_t>* all,
                 ImagePtr* image, std::string* error) {
  const Image& first = file.frames.front();
  for (const Image& frame : file.frames) {
    if (frame.width != first.width || frame.height != first.height ||
        frame.planes != first.planes || frame.depth != first.depth) {
      *error = "the frames differ in size";
      return false;
    }
    if (file.frames.size() > 1) all->insert(all->end(), frame.pixels.begin(), frame.pixels.end());
  }
  const int frames = int(file.frames.size());
  const std::vector<uint8_t>& pixels = frames > 1 ? *all : first.pixels;
  const bool sixteen = first.depth == 16;
  ImagePtr raw(vips_image_new_from_memory(pixels.data(), pixels.size(), first.width,
                                          first.height * frames, first.planes,
                                          sixteen ? VIPS_FORMAT_USHORT : VIPS_FORMAT_UCHAR));
  // 16-bit samples into the file's range where the format keeps them, else to 8 bits.
  const bool deep = sixteen && format && format->info.deep;
  if (!raw || (sixteen &&
               !MapSamples(&raw, deep ? Table(65536, FileOfHost) : Table(65536, EightBitOfHost)))) {
    *error = LibraryError();
    return false;
  }
  if (first.planes == 4 && format && !format->info.alpha) {  // JPEG has no alpha: it goes
    VipsImage* colour = nullptr;
    if (vips_extract_band(raw.get(), &colour, 0, "n", 3, NULL)) {
      *error = LibraryError();
      return false;
    }
    raw.reset(colour);
  }
  auto meta = std::static_pointer_cast<const Metadata>(file.source);
  const VipsInterpretation kind =
      first.planes >= 3 ? (deep ? VIPS_INTERPRETATION_RGB16 : VIPS_INTERPRETATION_sRGB)
                        : (deep ? VIPS_INTERPRETATION_GREY16 : VIPS_INTERPRETATION_B_W);
  VipsImage* copied = nullptr;
  if (vips_copy(raw.get(), &copied, "interpretation", kind, "xres", meta ? meta->xres : 72.0 / 25.4,
                "yres", meta ? meta->yres : 72.0 / 25.4, NULL)) {
    *error = LibraryError();
    return false;
  }
  image->reset(copied);
  if (meta)
    for (const auto& field : meta->fields)
      vips_image_set(copied, field.first.c_str(), const_cast<GValue*>(&field.second));
  if (vips_image_get_typeof(copied, VIPS_META_EXIF_NAME))
    vips_image_set_int(copied, VIPS_META_ORIENTATION, 1);  // the pixels are upright now
  if (frames > 1) vips_image_set_int(copied, VIPS_META_PAGE_HEIGHT, first.height);
  return true;
}

}  // namespace

bool EncodeImage(const ImageFile& file, const std::string& format, const SaveOptions& options,
                 std::string* bytes, std::string* error) {
  if (file.frames.empty()) {
    *error = "there is no image to write";
    return false;
  }
  if (!HoldsFrames(format, file.frames.size(), error)) return false;
  const Format* row = FindFormat(format);
  if (row && !row->save) {
    const std::unique_ptr<Image> narrow = EightBitCopy(file.frames.front());
    return StbEncode(narrow ? *narrow : file.frames.front(), format, options.quality, bytes, error);
  }
  if (!Started()) {
    *error = "libvips could not start: " + LibraryError();
    return false;
  }
  TakeWarning();
  std::vector<uint8_t> all;  // declared first: the image reads it to the end
  ImagePtr image;
  if (!ToVipsImage(file, row, &all, &image, error)) return false;
  Watch watch{options.stop, &options.progress};
  WatchWork(image.get(), &watch);
  void* buffer = nullptr;
  size_t size = 0;
  int failed = -1;
  if (row)
    failed = row->save(image.get(), &buffer, &size,
                       options.quality > 0 ? options.quality : kDefaultQuality);
  else
    vips_error("corvanel", "no encoder for .%s", format.c_str());
  std::unique_ptr<void, decltype(&g_free)> encoded(buffer, g_free);
  if (failed) {
    *error = options.stop && options.stop()
                 ? "stopped"
                 : "cannot encode the image as " + format + " (" + LibraryError() + ")";
    return false;
  }
  bytes->assign(static_cast<const char*>(buffer), size);
  return true;
}
