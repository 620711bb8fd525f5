// The real Corvanel.8bf driven through a host record built as raw bytes, at the offsets
// 32-bit and 64-bit Windows hosts use. The offsets are written out here, not taken from
// our own declarations, so a mistake there cannot hide a mistake in the plug-in.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/oracle/Oracle.h"
#include "tests/support/PluginPath_win.h"

namespace {

constexpr size_t P = sizeof(void*);

struct Layout {
  const char* entryProperty;
  size_t abortProc, progressProc, parameters, planes, filterRect, bufferSpace;
  size_t inRect, inLoPlane, inHiPlane, outRect, outLoPlane, outHiPlane;
  size_t inData, inRowBytes, outData, outRowBytes, isFloating, haveMask;
  size_t maskRect, maskData, maskRowBytes, hostSig, imageMode, platformData;
  size_t displayPixels, advanceState, inputPadding, outputPadding, maskPadding;
  size_t inputRate, maskRate, inLayerPlanes, inTransparencyMask, depth;
  size_t handleProcs, descriptorParameters, errorString;  // scripting: null from this host
  size_t handleSignature;  // in the two-word parameters handle, after the pointer
};

constexpr Layout kLayout32 = {.entryProperty = "wx86",
                              .abortProc = 4,
                              .progressProc = 8,
                              .parameters = 12,
                              .planes = 20,
                              .filterRect = 22,
                              .bufferSpace = 48,
                              .inRect = 52,
                              .inLoPlane = 60,
                              .inHiPlane = 62,
                              .outRect = 64,
                              .outLoPlane = 72,
                              .outHiPlane = 74,
                              .inData = 76,
                              .inRowBytes = 80,
                              .outData = 84,
                              .outRowBytes = 88,
                              .isFloating = 92,
                              .haveMask = 93,
                              .maskRect = 96,
                              .maskData = 104,
                              .maskRowBytes = 108,
                              .hostSig = 120,
                              .imageMode = 128,
                              .platformData = 188,
                              .displayPixels = 204,
                              .advanceState = 224,
                              .inputPadding = 238,
                              .outputPadding = 240,
                              .maskPadding = 242,
                              .inputRate = 248,
                              .maskRate = 252,
                              .inLayerPlanes = 260,
                              .inTransparencyMask = 262,
                              .depth = 380,
                              .handleProcs = 208,
                              .descriptorParameters = 356,
                              .errorString = 360,
                              .handleSignature = 4};

constexpr Layout kLayout64 = {.entryProperty = "8664",
                              .abortProc = 4,
                              .progressProc = 12,
                              .parameters = 20,
                              .planes = 32,
                              .filterRect = 34,
                              .bufferSpace = 60,
                              .inRect = 64,
                              .inLoPlane = 72,
                              .inHiPlane = 74,
                              .outRect = 76,
                              .outLoPlane = 84,
                              .outHiPlane = 86,
                              .inData = 88,
                              .inRowBytes = 96,
                              .outData = 100,
                              .outRowBytes = 108,
                              .isFloating = 112,
                              .haveMask = 113,
                              .maskRect = 116,
                              .maskData = 124,
                              .maskRowBytes = 132,
                              .hostSig = 144,
                              .imageMode = 156,
                              .platformData = 216,
                              .displayPixels = 248,
                              .advanceState = 280,
                              .inputPadding = 302,
                              .outputPadding = 304,
                              .maskPadding = 306,
                              .inputRate = 312,
                              .maskRate = 316,
                              .inLayerPlanes = 328,
                              .inTransparencyMask = 330,
                              .depth = 480,
                              .handleProcs = 256,
                              .descriptorParameters = 432,
                              .errorString = 440,
                              .handleSignature = 8};

const Layout& L = P == 8 ? kLayout64 : kLayout32;

// Parameter record offsets (its layout is the same in both builds).
enum : size_t {
  kRed = 0,
  kGreen = 4,
  kBlue = 8,
  kThreshold = 12,
  kRadius = 16,
  kAngle = 20,
  kStreaks = 24,
  kMode = 32,
  kScale = 36,
  kShowDialog = 40,
  kParamsSize = 44
};

constexpr uint8_t kCanary = 0xA5;    // every byte the host does not set
constexpr size_t kRecordSize = 512;  // room past the last field the plug-in knows

template <typename T>
T Get(const uint8_t* base, size_t at) {
  T v;
  std::memcpy(&v, base + at, sizeof v);
  return v;
}
template <typename T>
void Put(uint8_t* base, size_t at, T v) {
  std::memcpy(base + at, &v, sizeof v);
}
uint8_t* PtrAt(const uint8_t* base, size_t at) {
  return reinterpret_cast<uint8_t*>(Get<uintptr_t>(base, at));
}
template <typename F>
void PutProc(uint8_t* base, size_t at, F* proc) {
  Put(base, at, reinterpret_cast<uintptr_t>(proc));
}

struct Rect16 {
  int16_t top, left, bottom, right;
  bool operator==(const Rect16&) const = default;
};

struct Field {
  size_t at, size;
};

// Byte offsets that changed outside the given fields.
std::vector<size_t> ChangedOutside(const std::vector<uint8_t>& before,
                                   const std::vector<uint8_t>& after,
                                   const std::vector<Field>& allowed) {
  std::vector<size_t> stray;
  for (size_t i = 0; i < before.size(); ++i) {
    if (before[i] == after[i]) continue;
    bool inField = false;
    for (const Field& f : allowed) inField |= i >= f.at && i < f.at + f.size;
    if (!inField) stray.push_back(i);
  }
  return stray;
}

using Entry = void (*)(int16_t selector, void* record, void* data, int16_t* result);

// The entry found as a host finds it: the PIPL resource's entry property of this
// architecture names the export.
struct Plugin {
  HMODULE module = nullptr;
  Entry entry = nullptr;
  std::string entryName;

  explicit Plugin(const std::string& path) {
    module = LoadLibraryA(path.c_str());
    if (!module) return;
    HRSRC res = FindResourceA(module, MAKEINTRESOURCEA(16000), "PIPL");
    if (!res) return;
    auto* list = static_cast<const uint8_t*>(LockResource(LoadResource(module, res)));
    const size_t size = SizeofResource(module, res);
    const uint32_t wanted =
        uint32_t(uint8_t(L.entryProperty[0])) << 24 | uint32_t(uint8_t(L.entryProperty[1])) << 16 |
        uint32_t(uint8_t(L.entryProperty[2])) << 8 | uint8_t(L.entryProperty[3]);
    const uint32_t count = Get<uint32_t>(list, 6);
    size_t at = 10;
    for (uint32_t i = 0; i < count && at + 16 <= size; ++i) {
      const uint32_t length = Get<uint32_t>(list, at + 12);
      if (Get<uint32_t>(list, at + 4) == wanted && at + 16 + length <= size)
        entryName.assign(reinterpret_cast<const char*>(list + at + 16),
                         strnlen(reinterpret_cast<const char*>(list + at + 16), length));
      at += 16 + length;
    }
    if (!entryName.empty())
      entry = reinterpret_cast<Entry>(
          reinterpret_cast<void*>(GetProcAddress(module, entryName.c_str())));
  }
  ~Plugin() {
    if (module) FreeLibrary(module);
  }
};

// One request as the plug-in left it in the record when it called advanceState.
struct Request {
  Rect16 inRect, outRect;
  int16_t inLo, inHi, outLo, outHi;
  int32_t inputRate, maskRate;
};

// The host side: a document, its record bytes, and advanceState serving the requests with
// padded rows (so the plug-in must read the row strides from the record).
class ByteHost {
 public:
  static ByteHost* current;

  oracle::Image document;
  Rect16 filterRect;
  std::vector<uint8_t> record = std::vector<uint8_t>(kRecordSize, kCanary);
  std::vector<Request> requests;
  oracle::ScriptedHost polling;
  int displayPixelsCalls = 0;

  ByteHost(const oracle::Image& image, Rect16 filter) : document(image), filterRect(filter) {
    current = this;
    uint8_t* r = record.data();
    Put<uint32_t>(r, 0, 0);
    PutProc(r, L.abortProc, &AbortProc);
    PutProc(r, L.progressProc, &ProgressProc);
    PutProc(r, L.advanceState, &AdvanceStateProc);
    PutProc(r, L.displayPixels, &DisplayPixelsProc);
    Put<uintptr_t>(r, L.parameters, 0);
    Put<int16_t>(r, L.planes, int16_t(image.planes));
    Put(r, L.filterRect, filter);
    Put<int32_t>(r, L.bufferSpace, 0x7EADBEEF);
    for (size_t rect : {L.inRect, L.outRect, L.maskRect}) Put(r, rect, Rect16{1, 2, 3, 4});
    for (size_t plane : {L.inLoPlane, L.inHiPlane, L.outLoPlane, L.outHiPlane})
      Put<int16_t>(r, plane, 9);
    for (size_t ptr : {L.inData, L.outData, L.maskData}) Put<uintptr_t>(r, ptr, 0);
    for (size_t rowBytes : {L.inRowBytes, L.outRowBytes, L.maskRowBytes})
      Put<int32_t>(r, rowBytes, 0);
    Put<uint8_t>(r, L.isFloating, 0);
    Put<uint8_t>(r, L.haveMask, 0);
    Put<uint32_t>(r, L.hostSig, 0x54455354);  // 'TEST'
    // The depth field says 8 bits where the mode would say 16 (RGB48): the plug-in must read
    // the field at its offset to render the 8-bit rows served here.
    Put<int16_t>(r, L.imageMode, 11);
    Put<int32_t>(r, L.depth, 8);
    Put<uintptr_t>(r, L.platformData, 0);
    // A host without scripting: no descriptor structure, no handle suite, no message buffer.
    for (size_t ptr : {L.handleProcs, L.descriptorParameters, L.errorString})
      Put<uintptr_t>(r, ptr, 0);
    for (size_t padding : {L.inputPadding, L.outputPadding, L.maskPadding})
      Put<int16_t>(r, padding, -1);
    Put<int32_t>(r, L.inputRate, 0x30000);  // Start must set both rates to 1
    Put<int32_t>(r, L.maskRate, 0x30000);
    Put<int16_t>(r, L.inLayerPlanes, int16_t(image.planes < 3 ? image.planes : 3));
    Put<int16_t>(r, L.inTransparencyMask, image.planes == 4 ? 1 : 0);
  }
  ~ByteHost() { current = nullptr; }

  // The filter rectangle of the document as the plug-in's output made it.
  oracle::Image Filtered() const { return Cut(result); }
  oracle::Image Cut(const oracle::Image& from) const {
    oracle::Image cut{
        filterRect.right - filterRect.left, filterRect.bottom - filterRect.top, from.planes, {}};
    for (int y = filterRect.top; y < filterRect.bottom; ++y)
      for (int x = filterRect.left; x < filterRect.right; ++x)
        for (int k = 0; k < from.planes; ++k) cut.samples.push_back(from.At(x, y, k));
    return cut;
  }

  oracle::Image result = document;  // the document as written back by the host

 private:
  // Register-wide results with garbage above the part that counts: only the low byte of
  // a Boolean and the low 16 bits of an OSErr are the answer.
  static uintptr_t AbortProc() {
    return current->polling.Abort() ? ~uintptr_t(0xFE) : ~uintptr_t(0xFF);
  }
  static void ProgressProc(int32_t done, int32_t total) { current->polling.Progress(done, total); }
  static uintptr_t AdvanceStateProc() { return ~uintptr_t(0xFFFF) | current->Advance(); }
  static uintptr_t DisplayPixelsProc(const void*, const void*, int32_t, int32_t, void*) {
    ++current->displayPixelsCalls;
    return 0;
  }

  static constexpr int kRowPadding = 7;

  uint16_t Advance() {
    uint8_t* r = record.data();
    WriteBack();
    Request q{Get<Rect16>(r, L.inRect),      Get<Rect16>(r, L.outRect),
              Get<int16_t>(r, L.inLoPlane),  Get<int16_t>(r, L.inHiPlane),
              Get<int16_t>(r, L.outLoPlane), Get<int16_t>(r, L.outHiPlane),
              Get<int32_t>(r, L.inputRate),  Get<int32_t>(r, L.maskRate)};
    requests.push_back(q);
    if (q.inLo != 0 || q.inHi != document.planes - 1 || q.outLo != 0 ||
        q.outHi != document.planes - 1 || q.inputRate != 0x10000)
      return uint16_t(-30100);
    Serve(q.inRect, document, &in_, L.inData, L.inRowBytes);
    Serve(q.outRect, result, &out_, L.outData, L.outRowBytes);
    served_ = q.outRect;
    return 0;
  }

  void Serve(const Rect16& rect, const oracle::Image& from, std::vector<uint8_t>* buffer,
             size_t dataAt, size_t rowBytesAt) {
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    const int stride = width * from.planes + kRowPadding;
    buffer->assign(size_t(stride) * size_t(height > 0 ? height : 0), 0x5A);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        for (int k = 0; k < from.planes; ++k)
          (*buffer)[size_t(y) * stride + size_t(x) * from.planes + k] =
              from.At(rect.left + x, rect.top + y, k);
    Put(record.data(), dataAt, reinterpret_cast<uintptr_t>(height > 0 ? buffer->data() : nullptr));
    Put<int32_t>(record.data(), rowBytesAt, stride);
  }

  void WriteBack() {
    const Rect16 rect = served_;
    const int stride = (rect.right - rect.left) * result.planes + kRowPadding;
    for (int y = rect.top; y < rect.bottom; ++y)
      for (int x = rect.left; x < rect.right; ++x)
        for (int k = 0; k < result.planes; ++k)
          result.At(x, y, k) =
              out_[size_t(y - rect.top) * stride + size_t(x - rect.left) * result.planes + k];
    served_ = Rect16{};
  }

  std::vector<uint8_t> in_, out_;
  Rect16 served_{};
};
ByteHost* ByteHost::current = nullptr;

// A document with dark noise and a block and scattered pixels near the match colour.
oracle::Image Document(int planes) {
  oracle::Image image{45, 30, planes, {}};
  uint32_t seed = 12345;
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x)
      for (int k = 0; k < planes; ++k) {
        seed = seed * 1103515245u + 12345u;
        const bool block = x >= 14 && x < 19 && y >= 9 && y < 13;
        const bool scattered = (seed >> 16) % 37 == 0;
        const uint8_t match[3] = {250, 205, 85};
        image.samples.push_back(k < 3 && (block || scattered) ? match[k]
                                                              : uint8_t((seed >> 24) & 0x7F));
      }
  return image;
}

struct Case {
  const char* name;
  int planes;
  int32_t mode;
};

class LayoutByBytes : public ::testing::TestWithParam<Case> {};

TEST_P(LayoutByBytes, EverySelectorReadsAndWritesTheHostsOffsets) {
  const Case& c = GetParam();
  Plugin plugin(PluginBesideThisProgram());
  ASSERT_NE(plugin.module, nullptr);
  ASSERT_EQ(plugin.entryName, "ENTRYPOINT") << "entry property " << L.entryProperty;
  ASSERT_NE(plugin.entry, nullptr);

  const Rect16 filter{3, 5, 27, 42};
  ByteHost host(Document(c.planes), filter);
  uint8_t* r = host.record.data();
  // The pointer-sized data slot, followed by bytes the plug-in must leave alone.
  alignas(8) uint8_t slot[24];
  std::memset(slot, kCanary, sizeof slot);
  std::memset(slot, 0, P);
  int16_t result[2] = {12345, 0x5A5A};
  auto call = [&](int16_t selector) {
    result[0] = 12345;
    plugin.entry(selector, r, slot, result);
    EXPECT_EQ(result[1], 0x5A5A) << "the result word is 16 bits";
    return result[0];
  };

  // Parameters: a new handle in the parameters field, nothing else.
  std::vector<uint8_t> before = host.record;
  ASSERT_EQ(call(1), 0);
  EXPECT_EQ(ChangedOutside(before, host.record, {{L.parameters, P}}), std::vector<size_t>{});
  for (size_t i = P; i < sizeof slot; ++i) ASSERT_EQ(slot[i], kCanary) << "slot byte " << i;
  const uint8_t* globalsHandle = PtrAt(slot, 0);
  ASSERT_NE(globalsHandle, nullptr);
  EXPECT_EQ(std::memcmp(globalsHandle + L.handleSignature, "OTOF", 4), 0);
  const uint8_t* handle = PtrAt(r, L.parameters);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(std::memcmp(handle + L.handleSignature, "OTOF", 4), 0);
  uint8_t* params = PtrAt(handle, 0);
  ASSERT_NE(params, nullptr);
  const int32_t defaults[][2] = {{kRed, 255},   {kGreen, 255}, {kBlue, 255},  {kThreshold, 5},
                                 {kRadius, 30}, {kAngle, 45},  {kStreaks, 4}, {kMode, 0}};
  for (const auto& [at, value] : defaults) EXPECT_EQ(Get<int32_t>(params, size_t(at)), value) << at;
  EXPECT_EQ(Get<int16_t>(params, kShowDialog), 1);

  // The settings of this case, stored as a host keeps them, and no dialog.
  const EffectSettings settings{255, 200, 90, 40, 6, 30, 5, c.mode, 1.0f};
  const int32_t stored[][2] = {{kRed, settings.red},         {kGreen, settings.green},
                               {kBlue, settings.blue},       {kThreshold, settings.threshold},
                               {kRadius, settings.radius},   {kAngle, settings.angle},
                               {kStreaks, settings.streaks}, {kMode, settings.mode}};
  for (const auto& [at, value] : stored) Put<int32_t>(params, size_t(at), value);
  Put<float>(params, kScale, 0.0f);
  Put<int16_t>(params, kShowDialog, 0);

  // Prepare: bufferSpace 0.
  before = host.record;
  ASSERT_EQ(call(2), 0);
  EXPECT_EQ(Get<int32_t>(r, L.bufferSpace), 0);
  EXPECT_EQ(ChangedOutside(before, host.record, {{L.bufferSpace, 4}}), std::vector<size_t>{});

  // Start: the whole filter rectangle with every plane at rate 1, rendered, handed back,
  // and the requests emptied.
  before = host.record;
  ASSERT_EQ(call(3), 0);
  EXPECT_EQ(host.displayPixelsCalls, 0);
  ASSERT_EQ(host.requests.size(), 2u) << "one request, then the output handed back";
  const Request& q = host.requests[0];
  EXPECT_EQ(q.inRect, filter);
  EXPECT_EQ(q.outRect, filter);
  EXPECT_EQ(q.maskRate, 0x10000);
  EXPECT_EQ(Get<float>(params, kScale), 1.0f);
  for (size_t rect : {L.inRect, L.outRect, L.maskRect}) EXPECT_EQ(Get<Rect16>(r, rect), Rect16{});
  EXPECT_EQ(ChangedOutside(before, host.record,
                           {{L.inRect, 8},
                            {L.outRect, 8},
                            {L.maskRect, 8},
                            {L.inLoPlane, 4},
                            {L.outLoPlane, 4},
                            {L.inputRate, 4},
                            {L.maskRate, 4},
                            // written by the host's advanceState
                            {L.inData, P + 4},
                            {L.outData, P + 4}}),
            std::vector<size_t>{});

  oracle::ScriptedHost oracleHost;
  const oracle::Image expected =
      oracle::Render(host.Cut(host.document), settings, oracle::FrameFlags{}, oracleHost);
  const oracle::Image got = host.Filtered();
  EXPECT_EQ(got.samples, expected.samples);
  EXPECT_NE(got.samples, host.Cut(host.document).samples) << "the effect drew nothing";
  EXPECT_EQ(host.polling.calls, oracleHost.calls) << "abort and progress polling";
  // Outside the filter rectangle the document is untouched.
  oracle::Image outside = host.result;
  for (int y = filter.top; y < filter.bottom; ++y)
    for (int x = filter.left; x < filter.right; ++x)
      for (int k = 0; k < outside.planes; ++k) outside.At(x, y, k) = host.document.At(x, y, k);
  EXPECT_EQ(outside.samples, host.document.samples);

  // Continue: the three request rectangles emptied.
  for (size_t rect : {L.inRect, L.outRect, L.maskRect}) Put(r, rect, Rect16{1, 2, 3, 4});
  before = host.record;
  ASSERT_EQ(call(4), 0);
  for (size_t rect : {L.inRect, L.outRect, L.maskRect}) EXPECT_EQ(Get<Rect16>(r, rect), Rect16{});
  EXPECT_EQ(ChangedOutside(before, host.record, {{L.inRect, 8}, {L.outRect, 8}, {L.maskRect, 8}}),
            std::vector<size_t>{});

  // Finish changes nothing.
  before = host.record;
  ASSERT_EQ(call(5), 0);
  EXPECT_EQ(host.record, before);
}

INSTANTIATE_TEST_SUITE_P(Renders, LayoutByBytes,
                         ::testing::Values(Case{"GlowRGB", 3, 0}, Case{"GlowRGBA", 4, 0},
                                           Case{"SparkleRGB", 3, 1}, Case{"SparkleRGBA", 4, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
