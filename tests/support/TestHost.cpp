#include "tests/support/TestHost.h"

#include <cstring>

#include "filterhost/PluginModule.h"

#if defined(__clang__)
// UBSan checks the type of a function called through a pointer; these are meant to differ.
#define RETURNS_WIDER_TYPE __attribute__((no_sanitize("function")))
#else
#define RETURNS_WIDER_TYPE
#endif

namespace {

// The callbacks carry no context.
TestHost* g_current = nullptr;

bool Empty(const Rect& r) {
  return r.right <= r.left || r.bottom <= r.top;
}

bool Same(const Rect& a, const Rect& b) {
  return std::memcmp(&a, &b, sizeof(Rect)) == 0;
}

}  // namespace

TestHost::TestHost(const PluginModule& plugin)
    : TestHost(plugin.entry(), plugin.pipl().enablesRGB48) {}

TestHost::TestHost(PluginEntryProc entry, bool sixteenBit) : FilterHost(entry, sixteenBit) {
  SetHooks(this);
}

TestHost::~TestHost() {
  if (g_current == this) g_current = nullptr;
}

bool TestHost::SetDocument(const oracle::Image& document) {
  return SetImage(
      Image{document.width, document.height, document.planes, document.samples, document.depth});
}

oracle::Image TestHost::Output() const {
  return {output().width, output().height, output().planes, output().pixels, output().depth};
}

Rect TestHost::FilterRect() const {
  if (!Empty(quirks.filterRect)) return quirks.filterRect;
  return Rect{0, 0, int16_t(source().height), int16_t(source().width)};
}

OSErr TestHost::Run() {
  g_current = this;
  requests.clear();
  answers.clear();
  inputKept = paddingKept = true;
  served_ = Served{};
  polling.calls.clear();
  polling.abortCalls = 0;
  const OSErr result = FilterHost::Run(false);
  served_ = Served{};
  g_current = nullptr;
  return result;
}

void TestHost::RunStarting(FilterRecord& r) {
  hostAdvance_ = r.advanceState;
  const HostQuirks& q = quirks;
  if (q.garbageInResults) {
    r.abortProc = reinterpret_cast<TestAbortProc>(reinterpret_cast<void*>(&WideAbortThunk));
    r.advanceState =
        reinterpret_cast<::AdvanceStateProc>(reinterpret_cast<void*>(&WideAdvanceThunk));
  } else {
    r.abortProc = &AbortThunk;
    r.advanceState = &AdvanceThunk;
  }
  r.progressProc = &ProgressThunk;
  if (q.noAdvanceState) r.advanceState = nullptr;
  if (q.noAbort) r.abortProc = nullptr;
  if (q.noProgress) r.progressProc = nullptr;
  if (q.noDisplayPixels) r.displayPixels = nullptr;
  r.inputPadding = r.outputPadding = r.maskPadding = q.edgePadding;
  r.hostSig = q.hostSig;
  r.filterRect = FilterRect();
  r.inRect = r.outRect = r.maskRect = q.staleRequest;
  if (q.staleRate) r.inputRate = r.maskRate = q.staleRate;
  if (q.dropParameters) r.parameters = nullptr;
  if (q.adjust) q.adjust(r);
}

OSErr TestHost::Advance() {
  CheckServed();
  FilterRecord& r = record();
  requests.push_back({r.inRect, r.outRect, r.maskRect, r.inLoPlane, r.inHiPlane, r.outLoPlane,
                      r.outHiPlane, r.inputRate, r.maskRate});
  const size_t call = requests.size() - 1;
  OSErr answer = call < quirks.advanceResults.size() ? quirks.advanceResults[call] : kNoErr;
  if (answer != kNoErr) {
    r.inData = r.outData = nullptr;
    r.inRowBytes = r.outRowBytes = 0;
  } else {
    answer = hostAdvance_();
    if (answer == kNoErr && quirks.deliverNothing) {
      r.inData = r.outData = nullptr;
      r.inRowBytes = r.outRowBytes = 0;
    }
    if (answer == kNoErr) KeepServed();
  }
  answers.push_back(answer);
  return answer;
}

// Fills the row padding of what was just served and keeps what is needed to check, at the
// next call, that the plug-in wrote neither into the input nor into the output's padding.
void TestHost::KeepServed() {
  FilterRecord& r = record();
  served_ = Served{};
  auto rows = [](const Rect& rect) { return Empty(rect) ? 0 : rect.bottom - rect.top; };
  const int32_t sampleBytes = int32_t(source().sampleBytes());
  auto packed = [&](const Rect& rect, int16_t lo, int16_t hi) {
    return Empty(rect) ? 0 : (rect.right - rect.left) * (hi - lo + 1) * sampleBytes;
  };
  auto pad = [](void* data, int32_t rowBytes, int32_t packed, int32_t rows) {
    for (int32_t y = 0; y + 1 < rows; ++y)
      std::memset(static_cast<uint8_t*>(data) + size_t(y) * rowBytes + packed, kRowPaddingByte,
                  size_t(rowBytes - packed));
  };
  if (r.inData) {
    const int32_t n = rows(r.inRect), width = packed(r.inRect, r.inLoPlane, r.inHiPlane);
    pad(r.inData, r.inRowBytes, width, n);
    served_.in = static_cast<const uint8_t*>(r.inData);
    served_.inCopy.assign(served_.in, served_.in + size_t(r.inRowBytes) * (n - 1) + width);
  }
  if (r.outData) {
    served_.out = static_cast<uint8_t*>(r.outData);
    served_.outRows = rows(r.outRect);
    served_.outPacked = packed(r.outRect, r.outLoPlane, r.outHiPlane);
    served_.outRowBytes = r.outRowBytes;
    pad(r.outData, r.outRowBytes, served_.outPacked, served_.outRows);
  }
  if (quirks.rowBytesUnset) r.inRowBytes = r.outRowBytes = 0;
}

void TestHost::CheckServed() {
  if (served_.in)
    inputKept =
        inputKept && std::memcmp(served_.in, served_.inCopy.data(), served_.inCopy.size()) == 0;
  for (int32_t y = 0; served_.out && y + 1 < served_.outRows; ++y)
    for (int32_t p = served_.outPacked; p < served_.outRowBytes; ++p)
      paddingKept =
          paddingKept && served_.out[size_t(y) * served_.outRowBytes + p] == kRowPaddingByte;
  served_ = Served{};
}

Boolean TestHost::Poll() {
  return polling.Abort() ? quirks.abortAnswer : 0;
}

bool TestHost::AskedForTheFilterRect() {
  const Rect filter = FilterRect();
  const int16_t hi = int16_t(source().planes - 1);
  for (const Request& q : requests)
    if (!Same(q.inRect, filter) || !Same(q.outRect, filter) || q.inLoPlane != 0 ||
        q.outLoPlane != 0 || q.inHiPlane != hi || q.outHiPlane != hi ||
        q.inputRate != IntToFixed(1) || q.maskRate != IntToFixed(1))
      return false;
  return true;
}

bool TestHost::RequestsWithdrawn() {
  const FilterRecord& r = record();
  const Rect none{};
  return Same(r.inRect, none) && Same(r.outRect, none) && Same(r.maskRect, none);
}

Boolean TestHost::AbortThunk() {
  return g_current->Poll();
}

OSErr TestHost::AdvanceThunk() {
  return g_current->Advance();
}

RETURNS_WIDER_TYPE uint64_t TestHost::WideAbortThunk() {
  return kBooleanGarbage | g_current->Poll();
}

RETURNS_WIDER_TYPE uint64_t TestHost::WideAdvanceThunk() {
  return kOSErrGarbage | uint16_t(g_current->Advance());
}

void TestHost::ProgressThunk(int32_t done, int32_t total) {
  g_current->polling.Progress(done, total);
}
