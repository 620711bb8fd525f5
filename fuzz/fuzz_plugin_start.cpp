// The plug-in through ENTRYPOINT Start, as a careless host might drive it: any parameter
// record (every field, out-of-range and NaN values), a small document of one to eight
// planes with a filter rectangle anywhere in it, rows padded or not, buffers that point
// into the document or are copies, callbacks missing or failing, and a host that asks to
// stop at any row. Whatever it gets, the plug-in must ask for exactly the filter rectangle,
// read and write only inside the rows it was given, never write the input, only brighten
// colour samples, pass every other plane through, and report the host's codes.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "host/EffectParams.h"
#include "host/Entry.h"
#include "platform/NativeStandIns.h"

namespace {

// Every block the plug-in hands over stays reachable, as it would in a host that keeps it.
std::vector<void*> g_keptHandles;
intptr_t g_data = 0;

int32_t FuzzSetting(FuzzedDataProvider& in, const ParamRange& range) {
  switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0:
      return in.ConsumeIntegralInRange(range.min, range.max);
    case 1:
      return in.PickValueInArray({range.min - 1, range.max + 1, INT32_MIN, INT32_MAX, 0, -1});
    case 2:
      return in.ConsumeIntegral<int32_t>();
    default:
      return range.defaultValue;
  }
}

float FuzzScale(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange(0, 2)) {
    case 0:
      return float(in.ConsumeIntegralInRange(1, 8));
    case 1: {
      const uint32_t bits = in.ConsumeIntegral<uint32_t>();  // NaN, infinities, negatives
      float f;
      std::memcpy(&f, &bits, sizeof f);
      return f;
    }
    default:
      return 1.0f;
  }
}

// Where the host's buffers live, and how their rows are laid out.
enum class Delivery { kIntoDocument, kPaddedCopy, kPackedRowBytesUnset };

struct Host {
  // The document: width x height pixels of `planes` samples, rows of `stride` bytes.
  int32_t width, height, planes, stride;
  std::vector<uint8_t> source, target;  // input document and output document
  Rect filter;
  Delivery inMode, outMode;
  int32_t inPad, outPad;  // extra bytes per row of a padded copy
  OSErr firstResult, secondResult;
  bool deliverNothing;  // success, but no buffers
  int32_t abortAtRow;   // -1: never
  Boolean abortTrue;    // any nonzero byte means stop

  FilterRecord record{};
  int advanceCalls = 0;
  int abortPolls = 0;
  std::vector<uint8_t> inCopy, outCopy;

  int32_t Columns() const { return filter.right - filter.left; }
  int32_t Rows() const { return filter.bottom - filter.top; }
  size_t Offset(int32_t row, int32_t column) const {
    return size_t(row) * size_t(stride) + size_t(column) * size_t(planes);
  }

  // Lays the filter rectangle out as the delivery mode says; an exact-size copy, so that
  // a read or write one byte outside it is caught.
  // The record's fields are written only by the caller: the record may be packed.
  void Deliver(Delivery mode, int32_t pad, std::vector<uint8_t>& doc, std::vector<uint8_t>& copy,
               void** data, int32_t* rowBytes) {
    const size_t packed = size_t(Columns()) * size_t(planes);
    if (mode == Delivery::kIntoDocument) {
      *data = doc.data() + Offset(filter.top, filter.left);
      *rowBytes = stride;
      return;
    }
    const size_t rowSize = mode == Delivery::kPaddedCopy ? packed + size_t(pad) : packed;
    copy.assign(rowSize * size_t(Rows()) - (rowSize - packed), 0xA5);  // no tail after the last row
    for (int32_t y = 0; y < Rows(); ++y)
      std::memcpy(copy.data() + size_t(y) * rowSize,
                  doc.data() + Offset(filter.top + y, filter.left), packed);
    *data = copy.data();
    *rowBytes = mode == Delivery::kPaddedCopy ? int32_t(rowSize) : 0;
  }

  void WriteBack() {
    if (outMode == Delivery::kIntoDocument || outCopy.empty()) return;
    const size_t packed = size_t(Columns()) * size_t(planes);
    const size_t rowSize = outMode == Delivery::kPaddedCopy ? packed + size_t(outPad) : packed;
    for (int32_t y = 0; y < Rows(); ++y) {
      std::memcpy(target.data() + Offset(filter.top + y, filter.left),
                  outCopy.data() + size_t(y) * rowSize, packed);
      for (size_t p = packed; y + 1 < Rows() && p < rowSize; ++p)
        FUZZ_CHECK(outCopy[size_t(y) * rowSize + p] == 0xA5);  // row padding is the host's
    }
  }

  OSErr Advance() {
    ++advanceCalls;
    FilterRecord& r = record;
    if (advanceCalls == 1) {
      // Start asks for the whole filter rectangle, every plane, at full size.
      FUZZ_CHECK(std::memcmp(&r.inRect, &filter, sizeof filter) == 0);
      FUZZ_CHECK(std::memcmp(&r.outRect, &filter, sizeof filter) == 0);
      FUZZ_CHECK(r.inLoPlane == 0 && r.outLoPlane == 0);
      FUZZ_CHECK(r.inHiPlane == planes - 1 && r.outHiPlane == planes - 1);
      FUZZ_CHECK(r.inputRate == IntToFixed(1));
      r.inData = r.outData = nullptr;
      r.inRowBytes = r.outRowBytes = 0;
      if (firstResult != kNoErr || deliverNothing) return firstResult;
      void *in, *out;
      int32_t inRowBytes, outRowBytes;
      Deliver(inMode, inPad, source, inCopy, &in, &inRowBytes);
      Deliver(outMode, outPad, target, outCopy, &out, &outRowBytes);
      r.inData = in, r.outData = out, r.inRowBytes = inRowBytes, r.outRowBytes = outRowBytes;
      return kNoErr;
    }
    WriteBack();
    return secondResult;
  }
};

Host* g_host = nullptr;

Boolean Abort() {
  const bool stop = g_host->abortAtRow >= 0 && g_host->abortPolls >= g_host->abortAtRow;
  ++g_host->abortPolls;
  return stop ? g_host->abortTrue : 0;
}

void Progress(int32_t done, int32_t total) {
  FUZZ_CHECK(done >= 0 && done <= total);
}

OSErr Advance() {
  return g_host->Advance();
}

OSErr DisplayPixels(const PSPixelMap*, const VRect*, int32_t, int32_t, void*) {
  return kNoErr;
}

OSErr FuzzResult(FuzzedDataProvider& in) {
  return in.ConsumeIntegralInRange(0, 3) == 0
             ? in.PickValueInArray<OSErr>({kMemFullErr, kUserCancelled, -1, 0x7FFF, -32768})
             : kNoErr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  Host host;
  host.width = in.ConsumeIntegralInRange(1, 40);
  host.height = in.ConsumeIntegralInRange(1, 40);
  host.planes = in.ConsumeIntegralInRange(1, 8);
  host.stride = host.width * host.planes + in.ConsumeIntegralInRange(0, 9);
  Rect& f = host.filter;
  f.left = int16_t(in.ConsumeIntegralInRange(0, host.width - 1));
  f.right = int16_t(in.ConsumeIntegralInRange(f.left + 1, host.width));
  f.top = int16_t(in.ConsumeIntegralInRange(0, host.height - 1));
  f.bottom = int16_t(in.ConsumeIntegralInRange(f.top + 1, host.height));
  host.inMode = Delivery(in.ConsumeIntegralInRange(0, 2));
  host.outMode = Delivery(in.ConsumeIntegralInRange(0, 2));
  host.inPad = in.ConsumeIntegralInRange(1, 9);
  host.outPad = in.ConsumeIntegralInRange(1, 9);
  host.firstResult = FuzzResult(in);
  host.secondResult = FuzzResult(in);
  host.deliverNothing = in.ConsumeIntegralInRange(0, 15) == 0;
  host.abortAtRow = in.ConsumeBool() ? in.ConsumeIntegralInRange(0, 40) : -1;
  host.abortTrue = in.ConsumeIntegralInRange<Boolean>(1, 255);

  // A few colours, some of them near each other, so that the colour window finds pixels.
  uint8_t palette[4][8];
  for (auto& colour : palette)
    for (uint8_t& sample : colour) sample = in.ConsumeIntegral<uint8_t>();
  uint32_t noise = in.ConsumeIntegral<uint32_t>() | 1;
  host.source.resize(size_t(host.stride) * size_t(host.height));
  for (int32_t y = 0; y < host.height; ++y)
    for (int32_t x = 0; x < host.width; ++x) {
      noise ^= noise << 13, noise ^= noise >> 17, noise ^= noise << 5;
      for (int32_t p = 0; p < host.planes; ++p)
        host.source[host.Offset(y, x) + size_t(p)] =
            (noise & 3) == 3 ? uint8_t(noise >> (8 + p)) : palette[(noise >> 2) & 3][p];
    }
  host.target.assign(host.source.size(), 0x3C);  // what the output held before the run
  const std::vector<uint8_t> original = host.source;

  EffectParams stored{};
  for (const ParamRange& range : kParamRanges) stored.*range.field = FuzzSetting(in, range);
  stored.mode = in.ConsumeBool() ? in.ConsumeIntegralInRange(0, 1) : in.ConsumeIntegral<int32_t>();
  stored.reserved = in.ConsumeIntegral<int32_t>();
  stored.scale = FuzzScale(in);
  stored.showDialog = in.ConsumeIntegral<int16_t>();  // no window system: runs as if OK
  PseudoHandle hostHandle{&stored, kPseudoHandleSignature};
  const bool noParameters = in.ConsumeIntegralInRange(0, 15) == 0 && g_keptHandles.size() < 100000;

  FilterRecord& r = host.record;
  r.planes = int16_t(host.planes);
  r.filterRect = f;
  r.parameters = noParameters ? nullptr : &hostHandle;
  r.advanceState = in.ConsumeIntegralInRange(0, 31) ? Advance : nullptr;
  r.abortProc = in.ConsumeIntegralInRange(0, 7) ? Abort : nullptr;
  r.progressProc = in.ConsumeIntegralInRange(0, 7) ? Progress : nullptr;
  r.displayPixels = in.ConsumeIntegralInRange(0, 7) ? DisplayPixels : nullptr;
  r.inputPadding = in.ConsumeIntegral<int16_t>();
  r.outputPadding = in.ConsumeIntegral<int16_t>();
  r.maskPadding = in.ConsumeIntegral<int16_t>();
  r.inputRate = r.maskRate = in.ConsumeIntegral<int32_t>();
  r.hostSig = in.ConsumeIntegral<uint32_t>();
  r.imageMode = in.ConsumeIntegral<int16_t>();
  if (in.ConsumeIntegralInRange(0, 31) == 0) {
    g_keptHandles.push_back(reinterpret_cast<void*>(g_data));  // the host forgot the data word
    g_data = 0;
  }

  const bool ranDialog = stored.showDialog != 0 && !noParameters;
  const bool missing = !r.advanceState || (ranDialog && !r.displayPixels);

  g_host = &host;
  int16_t result = 12345;
  {
    // The native stand-in prints each "Invalid Host" box; they are counted, not read.
    QuietStderr quiet(missing);
    ENTRYPOINT(kSelectorStart, &r, &g_data, &result);
  }
  g_host = nullptr;
  if (noParameters && r.parameters)
    g_keptHandles.push_back(Handle(r.parameters));  // a copy: packed
  FUZZ_CHECK(platform::ShownMessages().size() == (missing ? 1u : 0u));
  platform::ShownMessages().clear();
  // Every request is withdrawn when Start returns.
  for (const Rect& rect : {r.inRect, r.outRect, r.maskRect})
    FUZZ_CHECK(rect.top == 0 && rect.left == 0 && rect.bottom == 0 && rect.right == 0);
  if (missing) {
    FUZZ_CHECK(result == kUserCancelled);
    FUZZ_CHECK(host.advanceCalls == 0);
    return 0;
  }
  if (host.firstResult != kNoErr) {
    FUZZ_CHECK(result == host.firstResult);
    FUZZ_CHECK(host.advanceCalls == 1);
  } else {
    FUZZ_CHECK(result == host.secondResult);
    FUZZ_CHECK(host.advanceCalls == 2);
  }
  if (ranDialog) {
    FUZZ_CHECK(stored.showDialog == 0);
  }

  // The input is never written; outside the filter rectangle the output is untouched.
  FUZZ_CHECK(host.source == original);
  const bool rendered = host.firstResult == kNoErr && !host.deliverNothing;
  for (int32_t y = 0; y < host.height; ++y)
    for (int32_t x = 0; x < host.width; ++x) {
      const bool inside = y >= f.top && y < f.bottom && x >= f.left && x < f.right;
      for (int32_t p = 0; p < host.planes; ++p) {
        const uint8_t in = host.source[host.Offset(y, x) + size_t(p)];
        const uint8_t out = host.target[host.Offset(y, x) + size_t(p)];
        if (!inside || !rendered) {
          FUZZ_CHECK(out == 0x3C);
        } else if (host.planes < 3 || host.planes > 4 || p == 3) {
          FUZZ_CHECK(out == in);  // passed through
        } else {
          FUZZ_CHECK(out >= in);  // screen blending only brightens
        }
      }
    }
  for (size_t i = 0; i < host.source.size(); ++i) {
    const size_t column = i % size_t(host.stride);
    if (column >= size_t(host.width * host.planes)) {
      FUZZ_CHECK(host.target[i] == 0x3C);  // the document's own row padding
    }
  }
  return 0;
}
