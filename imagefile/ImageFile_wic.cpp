// The Windows build's image files: the Windows Imaging Component, maintained and patched
// with the system, reads PNG, JPEG, TIFF, GIF and BMP and writes all but GIF; TGA, which it
// lacks, goes through stb_image built with its TGA code alone.
#include <wincodec.h>
#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "engine/Engine.h"
#include "imagefile/ImageFile.h"
#include "imagefile/ImageSupport.h"
#include "imagefile/MetadataBlocks.h"
#include "imagefile/StbFrame.h"
#include "stb_image.h"
#include "stb_image_write.h"

namespace {

template <class T>
class Com {
 public:
  Com() = default;
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  ~Com() {
    if (p_) p_->Release();
  }
  T** put() { return &p_; }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

// COM for the length of one decode or encode, on whatever thread calls; a thread that has
// it already, in either model, keeps it.
class ComScope {
 public:
  ComScope() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
  ~ComScope() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  bool ok() const { return SUCCEEDED(hr_) || hr_ == RPC_E_CHANGED_MODE; }

 private:
  HRESULT hr_;
};

// What the source file said about itself, to be written again.
struct Metadata {
  MetadataBlocks blocks;  // EXIF with the orientation reset, XMP, ICC profile
  double dpiX = 0, dpiY = 0;
};

struct Container {
  const char* format;
  const GUID* guid;
  bool writes;
};
const Container kContainers[] = {
    {"png", &GUID_ContainerFormatPng, true},  {"jpg", &GUID_ContainerFormatJpeg, true},
    {"tif", &GUID_ContainerFormatTiff, true}, {"gif", &GUID_ContainerFormatGif, false},
    {"bmp", &GUID_ContainerFormatBmp, true},
};

const Container* FindContainer(const std::string& format) {
  for (const Container& c : kContainers)
    if (format == c.format) return &c;
  return nullptr;
}

// The format by its signature. The decoder is chosen by this, never by the component's
// own search, which would also try any third-party codec installed on the machine.
const Container* Sniff(const std::string& b) {
  auto starts = [&](const char* s, size_t n) {
    return b.size() >= n && std::memcmp(b.data(), s, n) == 0;
  };
  const char* format = nullptr;
  if (starts("\x89PNG\r\n\x1a\n", 8))
    format = "png";
  else if (starts("\xFF\xD8\xFF", 3))
    format = "jpg";
  else if (starts("II*\0", 4) || starts("MM\0*", 4))
    format = "tif";
  else if (starts("GIF87a", 6) || starts("GIF89a", 6))
    format = "gif";
  else if (starts("BM", 2))
    format = "bmp";
  return format ? FindContainer(format) : nullptr;
}

// The code of a failure, for its message. Memory the component could not have is no
// damage or fault of the file: it is thrown as the allocator's failure is.
std::string Hresult(HRESULT hr) {
  if (hr == E_OUTOFMEMORY) throw OutOfMemory("the Windows Imaging Component");
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
  return std::string("error ") + text;
}

bool Factory(Com<IWICImagingFactory>* factory, std::string* error) {
  const HRESULT hr =
      CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                       IID_IWICImagingFactory, reinterpret_cast<void**>(factory->put()));
  if (FAILED(hr)) *error = "the Windows Imaging Component could not start (" + Hresult(hr) + ")";
  return SUCCEEDED(hr);
}

bool Is(const WICPixelFormatGUID& a, const GUID& b) {
  return IsEqualGUID(a, b) != 0;
}

// What a decoded frame's pixel format holds, for the conversion and its notes.
struct Layout {
  bool deep = false, grey = false, alpha = false, cmyk = false;
  int bits = 8;  // a sample
};

Layout Describe(IWICImagingFactory* factory, IWICBitmapFrameDecode* frame,
                const WICPixelFormatGUID& format) {
  Layout l;
  for (const GUID* g :
       {&GUID_WICPixelFormatBlackWhite, &GUID_WICPixelFormat2bppGray, &GUID_WICPixelFormat4bppGray,
        &GUID_WICPixelFormat8bppGray, &GUID_WICPixelFormat16bppGray,
        &GUID_WICPixelFormat16bppGrayFixedPoint, &GUID_WICPixelFormat16bppGrayHalf,
        &GUID_WICPixelFormat32bppGrayFloat, &GUID_WICPixelFormat32bppGrayFixedPoint})
    l.grey = l.grey || Is(format, *g);
  for (const GUID* g : {&GUID_WICPixelFormat32bppCMYK, &GUID_WICPixelFormat64bppCMYK,
                        &GUID_WICPixelFormat40bppCMYKAlpha, &GUID_WICPixelFormat80bppCMYKAlpha})
    l.cmyk = l.cmyk || Is(format, *g);
  const bool indexed =
      Is(format, GUID_WICPixelFormat1bppIndexed) || Is(format, GUID_WICPixelFormat2bppIndexed) ||
      Is(format, GUID_WICPixelFormat4bppIndexed) || Is(format, GUID_WICPixelFormat8bppIndexed);
  if (indexed) {  // a palette may have transparent entries, as GIF's and PNG's do
    Com<IWICPalette> palette;
    BOOL alpha = FALSE;
    if (SUCCEEDED(factory->CreatePalette(palette.put())) &&
        SUCCEEDED(frame->CopyPalette(palette.get())) && SUCCEEDED(palette->HasAlpha(&alpha)))
      l.alpha = alpha != FALSE;
    return l;
  }
  Com<IWICComponentInfo> component;
  Com<IWICPixelFormatInfo2> info;
  UINT bits = 0, channels = 0;
  BOOL transparency = FALSE;
  if (SUCCEEDED(factory->CreateComponentInfo(format, component.put())) &&
      SUCCEEDED(component->QueryInterface(IID_IWICPixelFormatInfo2,
                                          reinterpret_cast<void**>(info.put())))) {
    if (SUCCEEDED(info->GetBitsPerPixel(&bits)) && SUCCEEDED(info->GetChannelCount(&channels)) &&
        channels > 0)
      l.deep = bits / channels > 8;
    if (l.deep) l.bits = bits / channels > 16 ? 32 : 16;
    if (SUCCEEDED(info->SupportsTransparency(&transparency))) l.alpha = transparency != FALSE;
  }
  return l;
}

// The orientation the file's EXIF or TIFF tag gives, 1 to 8.
int Orientation(IWICBitmapFrameDecode* frame, const std::string& format, const std::string& bytes,
                const MetadataBlocks& blocks) {
  const wchar_t* query = format == "jpg"   ? L"/app1/ifd/{ushort=274}"
                         : format == "tif" ? L"/ifd/{ushort=274}"
                                           : nullptr;
  Com<IWICMetadataQueryReader> reader;
  if (query && SUCCEEDED(frame->GetMetadataQueryReader(reader.put()))) {
    PROPVARIANT value;
    PropVariantInit(&value);
    int orientation = 0;
    if (SUCCEEDED(reader->GetMetadataByName(query, &value)) && value.vt == VT_UI2)
      orientation = value.uiVal;
    PropVariantClear(&value);
    if (orientation >= 1 && orientation <= 8) return orientation;
  }
  // The component of some systems (Wine's, for one) has no such query: the tag itself.
  const int tag = format == "tif" ? TiffOrientation(bytes) : TiffOrientation(blocks.exif);
  return tag ? tag : 1;
}

std::string Profile(IWICImagingFactory* factory, IWICBitmapFrameDecode* frame) {
  UINT count = 0;
  if (FAILED(frame->GetColorContexts(0, nullptr, &count)) || count == 0 || count > 16) return {};
  std::vector<IWICColorContext*> contexts(count, nullptr);
  std::string profile;
  UINT made = 0;
  while (made < count && SUCCEEDED(factory->CreateColorContext(&contexts[made]))) ++made;
  UINT got = 0;
  if (made == count && SUCCEEDED(frame->GetColorContexts(count, contexts.data(), &got))) {
    for (UINT i = 0; i < got && profile.empty(); ++i) {
      WICColorContextType type{};
      UINT size = 0;
      if (FAILED(contexts[i]->GetType(&type)) || type != WICColorContextProfile ||
          FAILED(contexts[i]->GetProfileBytes(0, nullptr, &size)) || size == 0)
        continue;
      profile.resize(size);
      if (FAILED(
              contexts[i]->GetProfileBytes(size, reinterpret_cast<BYTE*>(profile.data()), &size)))
        profile.clear();
      else
        profile.resize(size);
    }
  }
  for (UINT i = 0; i < made; ++i) contexts[i]->Release();
  return profile;
}

// Turns the pixels upright as an EXIF orientation says (2 to 8; 1 is upright).
Image Upright(const Image& in, int orientation) {
  if (orientation < 2 || orientation > 8) return in;
  const bool swap = orientation >= 5;
  const int w = in.width, h = in.height;
  const size_t p = size_t(in.planes) * in.sampleBytes();
  Image out{swap ? h : w, swap ? w : h, in.planes, {}, in.depth};
  out.pixels.resize(in.pixels.size());
  for (int y = 0; y < out.height; ++y)
    for (int x = 0; x < out.width; ++x) {
      int sx = x, sy = y;
      switch (orientation) {
        case 2:
          sx = w - 1 - x;
          break;  // mirrored
        case 3:
          sx = w - 1 - x, sy = h - 1 - y;
          break;  // upside down
        case 4:
          sy = h - 1 - y;
          break;  // mirrored upside down
        case 5:
          sx = y, sy = x;
          break;  // transposed
        case 6:
          sx = y, sy = h - 1 - x;
          break;  // turned left
        case 7:
          sx = w - 1 - y, sy = h - 1 - x;
          break;  // transversed
        default:
          sx = w - 1 - y, sy = x;
          break;  // turned right
      }
      std::memcpy(&out.pixels[(size_t(y) * size_t(out.width) + size_t(x)) * p],
                  &in.pixels[(size_t(sy) * size_t(w) + size_t(sx)) * p], p);
    }
  return out;
}

// Rows at a time, so that stop() and the progress display are heard during large images.
int BandRows(int width, int bytesPerPixel) {
  return std::max(1, (4 << 20) / std::max(1, width * bytesPerPixel));
}

bool DecodeTga(const std::string& bytes, const std::string& name, uint64_t limit, ImageFile* file,
               std::string* error) {
  int channels = 0;
  if (!StbReadHeader(bytes, name, limit, file, &channels, error) ||
      !StbDecodeFrame(bytes, name, channels, file, error))
    return false;
  if (channels <= 2) file->notes.push_back("grey images are filtered and written as RGB");
  file->format = "tga";
  return true;
}

void AppendBytes(void* context, void* data, int size) {
  static_cast<std::string*>(context)->append(static_cast<const char*>(data), size_t(size));
}

HRESULT StreamBytes(IStream* stream, std::string* bytes);

bool WriteOption(IPropertyBag2* options, const wchar_t* name, VARIANT value) {
  PROPBAG2 option{};
  option.pstrName = const_cast<LPOLESTR>(name);
  return SUCCEEDED(options->Write(1, &option, &value));
}

// Wine's TIFF decoder hands over the 16-bit samples of a big-endian file in the file's byte
// order, where Windows' turns them little-endian as for every other file: a one-pixel file
// says which this system does, once.
bool BigEndianTiffSamplesKeptAsTheyAre(IWICImagingFactory* factory) {
  static const bool kept = [factory] {
    std::string t("MM\0*\0\0\0\x08\0\x09", 10);
    const uint16_t entries[9][3] = {{256, 3, 1}, {257, 3, 1}, {258, 3, 16},
                                    {259, 3, 1}, {262, 3, 1}, {273, 4, 122},
                                    {277, 3, 1}, {278, 3, 1}, {279, 4, 2}};
    for (const auto& e : entries) {
      t += std::string{char(e[0] >> 8), char(e[0]), 0, char(e[1]), 0, 0, 0, 1};
      t += e[1] == 3 ? std::string{char(e[2] >> 8), char(e[2]), 0, 0}
                     : std::string{0, 0, char(e[2] >> 8), char(e[2])};
    }
    t += std::string(4, '\0') + "\x12\x34";
    Com<IWICStream> stream;
    Com<IWICBitmapDecoder> decoder;
    Com<IWICBitmapFrameDecode> frame;
    uint8_t sample[2] = {};
    const WICRect pixel{0, 0, 1, 1};
    return SUCCEEDED(factory->CreateStream(stream.put())) &&
           SUCCEEDED(
               stream->InitializeFromMemory(reinterpret_cast<BYTE*>(t.data()), DWORD(t.size()))) &&
           SUCCEEDED(factory->CreateDecoder(GUID_ContainerFormatTiff, &GUID_VendorMicrosoftBuiltIn,
                                            decoder.put())) &&
           SUCCEEDED(decoder->Initialize(stream.get(), WICDecodeMetadataCacheOnDemand)) &&
           SUCCEEDED(decoder->GetFrame(0, frame.put())) &&
           SUCCEEDED(frame->CopyPixels(&pixel, 2, 2, sample)) && sample[0] == 0x12 &&
           sample[1] == 0x34;
  }();
  return kept;
}

// Wine's PNG encoder writes 16-bit samples in the byte order it is handed them, where PNG
// stores them high byte first and Windows' turns them so (its decoder reads them right): a
// one-pixel file written and read again says which this system does, once.
bool PngEncoderSwapsSixteenBitSamples(IWICImagingFactory* factory) {
  static const bool swaps = [factory] {
    Com<IStream> stream;
    Com<IWICBitmapEncoder> encoder;
    Com<IWICBitmapFrameEncode> frame;
    Com<IWICStream> readStream;
    Com<IWICBitmapDecoder> decoder;
    Com<IWICBitmapFrameDecode> decoded;
    WICPixelFormatGUID format = GUID_WICPixelFormat48bppRGB;
    BYTE pixel[6] = {0x34, 0x12, 0, 0, 0, 0}, back[6] = {};
    std::string bytes;
    const WICRect one{0, 0, 1, 1};
    const bool written =
        SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, stream.put())) &&
        SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, &GUID_VendorMicrosoftBuiltIn,
                                         encoder.put())) &&
        SUCCEEDED(encoder->Initialize(stream.get(), WICBitmapEncoderNoCache)) &&
        SUCCEEDED(encoder->CreateNewFrame(frame.put(), nullptr)) &&
        SUCCEEDED(frame->Initialize(nullptr)) && SUCCEEDED(frame->SetSize(1, 1)) &&
        SUCCEEDED(frame->SetPixelFormat(&format)) && Is(format, GUID_WICPixelFormat48bppRGB) &&
        SUCCEEDED(frame->WritePixels(1, 6, 6, pixel)) && SUCCEEDED(frame->Commit()) &&
        SUCCEEDED(encoder->Commit()) && SUCCEEDED(StreamBytes(stream.get(), &bytes));
    return written && SUCCEEDED(factory->CreateStream(readStream.put())) &&
           SUCCEEDED(readStream->InitializeFromMemory(reinterpret_cast<BYTE*>(bytes.data()),
                                                      DWORD(bytes.size()))) &&
           SUCCEEDED(factory->CreateDecoder(GUID_ContainerFormatPng, &GUID_VendorMicrosoftBuiltIn,
                                            decoder.put())) &&
           SUCCEEDED(decoder->Initialize(readStream.get(), WICDecodeMetadataCacheOnDemand)) &&
           SUCCEEDED(decoder->GetFrame(0, decoded.put())) &&
           SUCCEEDED(decoded->CopyPixels(&one, 6, 6, back)) && back[0] == 0x12 && back[1] == 0x34;
  }();
  return swaps;
}

// Whether this system's BMP encoder keeps alpha (Windows' does with a version 5 header,
// Wine's writes 24 bits): asked once with a frame that is never written.
bool BmpKeepsAlpha() {
  static const bool keeps = [] {
    ComScope com;
    Com<IWICImagingFactory> factory;
    Com<IStream> stream;
    Com<IWICBitmapEncoder> encoder;
    Com<IWICBitmapFrameEncode> frame;
    Com<IPropertyBag2> options;
    std::string error;
    if (!com.ok() || !Factory(&factory, &error) ||
        FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.put())) ||
        FAILED(factory->CreateEncoder(GUID_ContainerFormatBmp, &GUID_VendorMicrosoftBuiltIn,
                                      encoder.put())) ||
        FAILED(encoder->Initialize(stream.get(), WICBitmapEncoderNoCache)) ||
        FAILED(encoder->CreateNewFrame(frame.put(), options.put())))
      return false;
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = VARIANT_TRUE;
    if (!options || !WriteOption(options.get(), L"EnableV5Header32bppBGRA", v)) return false;
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
    return SUCCEEDED(frame->Initialize(options.get())) && SUCCEEDED(frame->SetSize(1, 1)) &&
           SUCCEEDED(frame->SetPixelFormat(&format)) && Is(format, GUID_WICPixelFormat32bppBGRA);
  }();
  return keeps;
}

}  // namespace

const std::vector<ImageFormatInfo>& ImageFormats() {
  static const std::vector<ImageFormatInfo> formats = std::vector<ImageFormatInfo>{
      {"png", "png", true, true, false, true, false, true},
      {"jpg", "jpg jpeg jpe", true, true, true, false, false, false},
      {"tif", "tif tiff", true, true, false, true, false, true},
      {"gif", "gif (single-frame)", true, false, false, true, false, false},
      {"bmp", "bmp", true, true, false, BmpKeepsAlpha(), false, false},
      {"tga", "tga", true, true, false, true, false, false},
  };
  return formats;
}

std::string ImageLibraryVersions() {
  return "Windows Imaging Component, stb_image (TGA)";
}

namespace {

// The one frame of a still image: the decoder keeps the stream, the frame its decoder.
struct OpenedFrame {
  Com<IWICStream> stream;
  Com<IWICBitmapDecoder> decoder;
  Com<IWICBitmapFrameDecode> frame;
  UINT width = 0, height = 0;
  WICPixelFormatGUID format{};
};

bool OpenFrame(IWICImagingFactory* factory, const std::string& bytes, const Container& container,
               const std::string& name, OpenedFrame* f, std::string* error) {
  HRESULT hr = factory->CreateStream(f->stream.put());
  if (SUCCEEDED(hr))
    hr = f->stream->InitializeFromMemory(reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data())),
                                         DWORD(bytes.size()));
  if (SUCCEEDED(hr))
    hr = factory->CreateDecoder(*container.guid, &GUID_VendorMicrosoftBuiltIn, f->decoder.put());
  if (SUCCEEDED(hr)) hr = f->decoder->Initialize(f->stream.get(), WICDecodeMetadataCacheOnDemand);
  UINT frames = 0;
  if (SUCCEEDED(hr)) hr = f->decoder->GetFrameCount(&frames);
  if (SUCCEEDED(hr) && frames == 0) hr = WINCODEC_ERR_BADIMAGE;
  if (SUCCEEDED(hr) && frames > 1) {  // this build writes no format that keeps them
    *error = name + " has " + std::to_string(frames) +
             " frames or pages; this build reads only single images";
    return false;
  }
  if (SUCCEEDED(hr)) hr = f->decoder->GetFrame(0, f->frame.put());
  if (SUCCEEDED(hr)) hr = f->frame->GetSize(&f->width, &f->height);
  if (SUCCEEDED(hr)) hr = f->frame->GetPixelFormat(&f->format);
  if (SUCCEEDED(hr) && (f->width == 0 || f->height == 0)) hr = WINCODEC_ERR_BADIMAGE;
  if (FAILED(hr)) {
    *error = name + " is damaged or unsupported (" + Hresult(hr) + ")";
    return false;
  }
  return true;
}

// The size checks, before any pixel is decoded.
bool SizeFits(const std::string& name, UINT width, UINT height, uint64_t limit,
              std::string* error) {
  if (uint64_t(width) * uint64_t(height) > limit) {
    *error = TooLargeMessage(name, width, height, 1, limit);
    return false;
  }
  if (width > INT16_MAX || height > INT16_MAX) {
    *error = name + " is " + std::to_string(width) + " x " + std::to_string(height) +
             " pixels; the filter takes at most 32767 in each direction";
    return false;
  }
  return true;
}

// Where the pixels are copied from, and how their samples lie.
struct PixelSource {
  IWICBitmapSource* source = nullptr;
  Com<IWICFormatConverter> converter;
  int channels = 4, bytes = 1;
  bool bgr = false;
  bool cmyk = false;  // converted by the plain rule both builds share
};

// 16-bit layouts are copied as they come (Wine converts none of them) and reduced while
// copying, the same way on every system; the rest go through the component's converter,
// 16 bits wide where the samples are deeper than 8.
bool ChoosePixelSource(IWICImagingFactory* factory, const OpenedFrame& f, const Layout& layout,
                       const std::string& name, PixelSource* p, std::string* error) {
  struct Direct {
    const GUID* format;
    int channels, bytes;
    bool bgr, cmyk;
  };
  static const Direct kDirect[] = {
      {&GUID_WICPixelFormat64bppRGBA, 4, 2, false, false},
      {&GUID_WICPixelFormat64bppBGRA, 4, 2, true, false},
      {&GUID_WICPixelFormat48bppRGB, 3, 2, false, false},
      {&GUID_WICPixelFormat48bppBGR, 3, 2, true, false},
      {&GUID_WICPixelFormat16bppGray, 1, 2, false, false},
      {&GUID_WICPixelFormat32bppCMYK, 4, 1, false, true},
      {&GUID_WICPixelFormat40bppCMYKAlpha, 5, 1, false, true},
  };
  for (const Direct& d : kDirect)
    if (Is(f.format, *d.format)) {
      p->source = f.frame.get();
      p->channels = d.channels;
      p->bytes = d.bytes;
      p->bgr = d.bgr;
      p->cmyk = d.cmyk;
      return true;
    }
  HRESULT hr = E_FAIL;
  auto convert = [&](const GUID& to) {
    Com<IWICFormatConverter> fresh;
    if (FAILED(factory->CreateFormatConverter(fresh.put()))) return false;
    hr = fresh->Initialize(f.frame.get(), to, WICBitmapDitherTypeNone, nullptr, 0.0,
                           WICBitmapPaletteTypeCustom);
    if (FAILED(hr)) return false;
    std::swap(*p->converter.put(), *fresh.put());
    p->source = p->converter.get();
    return true;
  };
  if (layout.deep && convert(GUID_WICPixelFormat64bppRGBA)) {
    p->bytes = 2;
    return true;
  }
  if (convert(GUID_WICPixelFormat32bppRGBA)) return true;
  *error = name + " cannot be converted to RGB (" + Hresult(hr) + ")";
  return false;
}

// Copies the source in bands of rows into the filter's planes. 16-bit samples go into the
// host's range for a 16-bit image, else to their nearest 8-bit values.
bool CopyPlanes(const PixelSource& p, bool highByteFirst, const std::string& name,
                const LoadOptions& options, Image* image, std::string* error) {
  const int w = image->width, h = image->height, planes = image->planes;
  const int pixelBytes = p.channels * p.bytes;
  const UINT stride = UINT(w) * UINT(pixelBytes);
  const int band = BandRows(w, pixelBytes);
  std::vector<uint8_t> rows(size_t(stride) * size_t(std::min(band, h)));
  int at[4];
  for (int c = 0; c < 4; ++c) {
    const int channel = p.channels < 3   ? (c < 3 ? 0 : p.channels - 1)
                        : c < 3 && p.bgr ? 2 - c
                        : c < 3          ? c
                                         : p.channels - 1;
    at[c] = channel * p.bytes;
  }
  const bool sixteen = image->depth == 16;
  for (int y = 0; y < h; y += band) {
    if (options.stop && options.stop()) {
      *error = "stopped";
      return false;
    }
    const int n = std::min(band, h - y);
    const WICRect rect{0, y, w, n};
    const HRESULT hr = p.source->CopyPixels(&rect, stride, stride * UINT(n), rows.data());
    if (FAILED(hr)) {
      *error = name + " is damaged or unsupported (" + Hresult(hr) + ")";
      return false;
    }
    uint8_t* out = &image->pixels[size_t(y) * image->rowBytes()];
    if (p.cmyk) {
      const Image band = CmykToFilterPlanes(rows.data(), w, n, p.channels);
      std::copy(band.pixels.begin(), band.pixels.end(), out);
      if (options.progress) options.progress(int(int64_t(y + n) * 100 / h));
      continue;
    }
    const uint8_t* in = rows.data();
    const size_t count = size_t(w) * size_t(n);
    if (p.bytes == 1) {
      for (size_t i = 0; i < count; ++i, out += planes, in += pixelBytes)
        for (int c = 0; c < planes; ++c) out[c] = in[at[c]];
    } else {
      const int high = highByteFirst ? 0 : 1;
      for (size_t i = 0; i < count; ++i, in += pixelBytes)
        for (int c = 0; c < planes; ++c) {
          const uint16_t v = uint16_t(in[at[c] + high] << 8 | in[at[c] + 1 - high]);
          if (!sixteen) {
            *out++ = EightBitOfFileSample(v);
            continue;
          }
          const uint16_t h = HostOfFileSample(v);
          *out++ = uint8_t(h);
          *out++ = uint8_t(h >> 8);
        }
    }
    if (options.progress) options.progress(int(int64_t(y + n) * 100 / h));
  }
  return true;
}

// What the file says about itself, to be written again, and its orientation.
std::shared_ptr<Metadata> ReadMetadata(IWICImagingFactory* factory, const OpenedFrame& f,
                                       const Container& container, const std::string& bytes,
                                       const Layout& layout, int* orientation, bool* hadProfile) {
  auto meta = std::make_shared<Metadata>();
  meta->blocks = FindMetadataBlocks(bytes);
  *orientation = Orientation(f.frame.get(), container.format, bytes, meta->blocks);
  ResetTiffOrientation(&meta->blocks.exif);  // the pixels are upright now
  const std::string profile = Profile(factory, f.frame.get());
  if (!profile.empty()) meta->blocks.icc = profile;
  *hadProfile = !meta->blocks.icc.empty();
  if (layout.grey || layout.cmyk) meta->blocks.icc.clear();  // it would not describe the RGB
  if (FAILED(f.frame->GetResolution(&meta->dpiX, &meta->dpiY))) meta->dpiX = meta->dpiY = 0;
  if (*orientation >= 5) std::swap(meta->dpiX, meta->dpiY);
  return meta;
}

// Rows top to top + rows - 1 of the frame as the encoders take them: BGR or BGRA of 8-bit samples
// (16-bit ones at their nearest 8-bit values), or with `deep` RGB or RGBA of 16-bit ones in the
// file's range (high byte first with `swapped`). Grey is written as RGB, and the fourth plane only
// where the format has one.
void EncoderRows(const Image& image, int top, int rows, bool alpha, bool deep, bool swapped,
                 uint8_t* pixels) {
  const int channels = alpha ? 4 : 3, p = image.planes;
  const size_t first = size_t(top) * size_t(image.width);
  const size_t count = size_t(image.width) * size_t(rows);
  const bool sixteen = image.depth == 16;
  auto sample = [&](size_t i, int plane) -> uint32_t {
    const uint8_t* s = &image.pixels[((first + i) * size_t(p) + size_t(plane)) * (sixteen ? 2 : 1)];
    return sixteen ? uint32_t(s[0] | s[1] << 8) : s[0];
  };
  const int from[4] = {0, p >= 3 ? 1 : 0, p >= 3 ? 2 : 0, p - 1};
  for (size_t i = 0; i < count; ++i)
    for (int c = 0; c < channels; ++c) {
      const uint32_t v = sample(i, from[c]);
      if (deep) {
        const uint16_t w = FileOfHostSample(v);
        pixels[(i * size_t(channels) + size_t(c)) * 2 + swapped] = uint8_t(w);
        pixels[(i * size_t(channels) + size_t(c)) * 2 + !swapped] = uint8_t(w >> 8);
      } else {
        const int at = c < 3 ? 2 - c : 3;  // BGR
        pixels[i * size_t(channels) + size_t(at)] = sixteen ? NearestEightBit(v) : uint8_t(v);
      }
    }
}

// The encoder options of each format; false only where --quality cannot be honoured.
bool SetEncoderOptions(IPropertyBag2* frameOptions, const std::string& format, int quality,
                       bool alpha) {
  if (!frameOptions) return true;
  VARIANT v;
  VariantInit(&v);
  if (format == "jpg") {
    v.vt = VT_R4;
    v.fltVal = float(quality > 0 ? quality : kDefaultQuality) / 100.0f;
    if (!WriteOption(frameOptions, L"ImageQuality", v)) return false;
    // Full-resolution colour, as the native build writes; where the option is missing the
    // component chooses.
    v.vt = VT_UI1;
    v.bVal = WICJpegYCrCbSubsampling444;
    WriteOption(frameOptions, L"JpegYCrCbSubsampling", v);
  } else if (format == "tif") {
    v.vt = VT_UI1;
    v.bVal = WICTiffCompressionZIP;
    WriteOption(frameOptions, L"TiffCompressionMethod", v);
  } else if (format == "bmp" && alpha) {
    v.vt = VT_BOOL;
    v.boolVal = VARIANT_TRUE;
    WriteOption(frameOptions, L"EnableV5Header32bppBGRA", v);
  }
  return true;
}

// JPEG and PNG get their profile as a block after encoding; TIFF through the component,
// where it can (Windows; Wine cannot yet).
void SetTiffProfile(IWICImagingFactory* factory, IWICBitmapFrameEncode* frame,
                    const std::string& icc) {
  Com<IWICColorContext> context;
  if (SUCCEEDED(factory->CreateColorContext(context.put())) &&
      SUCCEEDED(context->InitializeFromMemory(reinterpret_cast<const BYTE*>(icc.data()),
                                              UINT(icc.size())))) {
    IWICColorContext* one = context.get();
    frame->SetColorContexts(1, &one);
  }
}

// Writes the pixels into the frame in bands of rows, converted where the encoder asked for
// another layout than the one given.
// The frame to the encoder in bands of rows, each put in the encoder's layout as it goes:
// the whole image in that layout would be one more copy of it, and a bitmap made of that
// memory another.
HRESULT WritePixels(IWICImagingFactory* factory, IWICBitmapFrameEncode* frame, const Image& image,
                    bool alpha, bool deep, bool swapped, const WICPixelFormatGUID& given,
                    const WICPixelFormatGUID& chosen, const SaveOptions& options, bool* stopped) {
  const int w = image.width, h = image.height;
  const int pixelBytes = (alpha ? 4 : 3) * (deep ? 2 : 1);
  const UINT stride = UINT(w) * UINT(pixelBytes);
  const int band = BandRows(w, pixelBytes);
  std::vector<uint8_t> rows(size_t(stride) * size_t(std::min(band, h)));
  HRESULT hr = S_OK;
  for (int y = 0; SUCCEEDED(hr) && y < h; y += band) {
    if (options.stop && options.stop()) {
      *stopped = true;
      return E_ABORT;
    }
    const int n = std::min(band, h - y);
    const UINT size = stride * UINT(n);
    EncoderRows(image, y, n, alpha, deep, swapped, rows.data());
    if (Is(chosen, given)) {
      hr = frame->WritePixels(UINT(n), stride, size, rows.data());
    } else {  // the encoder's own layout, through the component's converter
      Com<IWICBitmap> bitmap;
      Com<IWICBitmapSource> converted;
      hr = factory->CreateBitmapFromMemory(UINT(w), UINT(n), given, stride, size, rows.data(),
                                           bitmap.put());
      if (SUCCEEDED(hr)) hr = WICConvertBitmapSource(chosen, bitmap.get(), converted.put());
      WICRect rect{0, 0, w, n};
      if (SUCCEEDED(hr)) hr = frame->WriteSource(converted.get(), &rect);
    }
    if (options.progress) options.progress(int(int64_t(y + n) * 100 / h));
  }
  return hr;
}

// The bytes an encoder wrote into its stream on global memory.
HRESULT StreamBytes(IStream* stream, std::string* bytes) {
  HGLOBAL memory = nullptr;
  STATSTG stat{};
  HRESULT hr = GetHGlobalFromStream(stream, &memory);
  if (SUCCEEDED(hr)) hr = stream->Stat(&stat, STATFLAG_NONAME);
  const void* data = SUCCEEDED(hr) ? GlobalLock(memory) : nullptr;
  if (!data || stat.cbSize.QuadPart == 0) return FAILED(hr) ? hr : E_FAIL;
  bytes->assign(static_cast<const char*>(data), size_t(stat.cbSize.QuadPart));
  GlobalUnlock(memory);
  return S_OK;
}

bool EncodeTga(const Image& given, std::string* bytes, std::string* error) {
  const std::unique_ptr<Image> narrow = EightBitCopy(given);
  const Image& image = narrow ? *narrow : given;
  if (!stbi_write_tga_to_func(AppendBytes, bytes, image.width, image.height, image.planes,
                              image.pixels.data()) ||
      bytes->empty()) {
    *error = "cannot encode the image as tga";
    return false;
  }
  return true;
}

bool StartComponent(ComScope& com, Com<IWICImagingFactory>* factory, std::string* error) {
  if (!com.ok()) {
    *error = "COM could not start";
    return false;
  }
  return Factory(factory, error);
}

}  // namespace

bool DecodeImage(const std::string& bytes, const std::string& name, const LoadOptions& options,
                 ImageFile* file, std::string* error) {
  *file = ImageFile{};
  const uint64_t limit = options.maxPixels ? options.maxPixels : DefaultPixelLimit();
  if (bytes.empty()) {
    *error = name + " is empty";
    return false;
  }
  const Container* container = Sniff(bytes);
  if (!container) return DecodeTga(bytes, name, limit, file, error);  // TGA has no signature
  if (bytes.size() > UINT_MAX) {
    *error = name + " is too large a file for this build to read";
    return false;
  }
  ComScope com;
  Com<IWICImagingFactory> factory;
  OpenedFrame f;
  if (!StartComponent(com, &factory, error) ||
      !OpenFrame(factory.get(), bytes, *container, name, &f, error))
    return false;
  file->pixels = uint64_t(f.width) * uint64_t(f.height);
  if (!SizeFits(name, f.width, f.height, limit, error)) return false;
  const Layout layout = Describe(factory.get(), f.frame.get(), f.format);
  EnsureMemoryFor(file->pixels, layout.deep && options.depth != 8 ? 16 : 8);
  PixelSource source;
  if (!ChoosePixelSource(factory.get(), f, layout, name, &source, error)) return false;
  const bool alpha = source.cmyk ? source.channels > 4 : layout.alpha;
  // 16 bits where the samples are deeper than 8, unless 8 are asked for.
  const int depth = source.bytes == 2 && options.depth != 8 ? 16 : 8;
  Image image{int(f.width), int(f.height), alpha ? 4 : 3, {}, depth};
  image.pixels.resize(image.rowBytes() * size_t(image.height));
  const bool highByteFirst = source.source == f.frame.get() && source.bytes == 2 &&
                             bytes[0] == 'M' && BigEndianTiffSamplesKeptAsTheyAre(factory.get());
  if (!CopyPlanes(source, highByteFirst, name, options, &image, error)) return false;

  int orientation = 1;
  bool hadProfile = false;
  file->source =
      ReadMetadata(factory.get(), f, *container, bytes, layout, &orientation, &hadProfile);
  if (source.cmyk)
    file->notes.push_back(hadProfile ? "CMYK images are converted to RGB by the plain rule (this "
                                       "build does not apply their embedded colour profile)"
                                     : kPlainCmykNote);
  file->fileDepth = layout.bits;
  if (layout.grey) file->notes.push_back("grey images are filtered and written as RGB");
  file->frames.push_back(orientation > 1 ? Upright(image, orientation) : std::move(image));
  file->format = container->format;
  return true;
}

bool EncodeImage(const ImageFile& file, const std::string& format, const SaveOptions& options,
                 std::string* bytes, std::string* error) {
  bytes->clear();
  if (file.frames.empty()) {
    *error = "there is no image to write";
    return false;
  }
  if (!HoldsFrames(format, file.frames.size(), error)) return false;
  const Image& image = file.frames.front();
  const int w = image.width, h = image.height;
  if (format == "tga") return EncodeTga(image, bytes, error);
  const Container* container = FindContainer(format);
  const ImageFormatInfo* info = FindImageFormat(format);
  if (!container || !container->writes || !info) {
    *error = "no encoder for ." + format;
    return false;
  }
  const bool alpha = (image.planes == 2 || image.planes == 4) && info->alpha;
  const bool deep = image.depth == 16 && info->deep;

  ComScope com;
  Com<IWICImagingFactory> factory;
  if (!StartComponent(com, &factory, error)) return false;
  const bool swapped = deep && format == "png" && PngEncoderSwapsSixteenBitSamples(factory.get());
  auto meta = std::static_pointer_cast<const Metadata>(file.source);
  const std::string failed = "cannot encode the image as " + format + " (";
  Com<IStream> stream;
  Com<IWICBitmapEncoder> encoder;
  Com<IWICBitmapFrameEncode> frame;
  Com<IPropertyBag2> frameOptions;
  HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, stream.put());
  if (SUCCEEDED(hr))
    hr = factory->CreateEncoder(*container->guid, &GUID_VendorMicrosoftBuiltIn, encoder.put());
  if (SUCCEEDED(hr)) hr = encoder->Initialize(stream.get(), WICBitmapEncoderNoCache);
  if (SUCCEEDED(hr)) hr = encoder->CreateNewFrame(frame.put(), frameOptions.put());
  if (FAILED(hr)) {
    *error = failed + Hresult(hr) + ")";
    return false;
  }
  if (!SetEncoderOptions(frameOptions.get(), format, options.quality, alpha)) {
    *error = failed + "its quality cannot be set)";
    return false;
  }
  const WICPixelFormatGUID given =
      deep ? (alpha ? GUID_WICPixelFormat64bppRGBA : GUID_WICPixelFormat48bppRGB)
           : (alpha ? GUID_WICPixelFormat32bppBGRA : GUID_WICPixelFormat24bppBGR);
  WICPixelFormatGUID chosen = given;  // the encoder may ask for another
  hr = frame->Initialize(frameOptions.get());
  if (SUCCEEDED(hr)) hr = frame->SetSize(UINT(w), UINT(h));
  if (SUCCEEDED(hr)) {
    const bool said = meta && meta->dpiX > 0 && meta->dpiY > 0;
    frame->SetResolution(said ? meta->dpiX : 72.0, said ? meta->dpiY : 72.0);
  }
  if (SUCCEEDED(hr)) hr = frame->SetPixelFormat(&chosen);
  // An encoder that would take 16-bit samples only at 8 bits would reduce them unsaid.
  if (SUCCEEDED(hr) && deep && !Is(chosen, given)) {
    *error = failed + "its encoder here does not take 16-bit samples; --depth 8 writes 8)";
    return false;
  }
  if (SUCCEEDED(hr) && meta && !meta->blocks.icc.empty() && format == "tif")
    SetTiffProfile(factory.get(), frame.get(), meta->blocks.icc);
  bool stopped = false;
  if (SUCCEEDED(hr))
    hr = WritePixels(factory.get(), frame.get(), image, alpha, deep, swapped, given, chosen,
                     options, &stopped);
  if (stopped) {
    *error = "stopped";
    return false;
  }
  if (SUCCEEDED(hr)) hr = frame->Commit();
  if (SUCCEEDED(hr)) hr = encoder->Commit();
  if (SUCCEEDED(hr)) hr = StreamBytes(stream.get(), bytes);
  if (FAILED(hr)) {
    bytes->clear();
    *error = failed + Hresult(hr) + ")";
    return false;
  }
  if (meta) AddMetadataBlocks(meta->blocks, bytes);
  return true;
}
