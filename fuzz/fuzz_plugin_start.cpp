// The plug-in through the command's filter host with the hostile hosts' quirks, as a
// careless host might drive it: any parameter record (every field, out-of-range and NaN
// values), a small document of one to eight planes with a filter rectangle anywhere in it,
// rows padded or packed (rowBytes set or left 0), callbacks missing, failing, or leaving
// garbage above their results, any edge padding, rate and host signature, and a host that
// asks to stop at any row with any nonzero Boolean. Whatever it gets, the plug-in must ask
// for exactly the filter rectangle, read and write only inside the rows it was given, never
// write the input or the row padding, only brighten colour samples, pass every other plane
// through, and report the host's codes (or tell the user, where the host would not).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "host/EffectParams.h"
#include "host/Entry.h"
#include "host/KnownHosts.h"
#include "platform/NativeStandIns.h"
#include "tests/support/TestHost.h"

// What the plug-in keeps for hosts that forget their records would carry one input's
// settings into the next: the folder it names cannot be made.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("XDG_CONFIG_HOME", "/dev/null/corvanel-fuzz", 1);
  return 0;
}

namespace {

// Every block the plug-in hands over stays reachable, as it would in a host that keeps it.
std::vector<void*> g_keptHandles;

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

OSErr FuzzResult(FuzzedDataProvider& in) {
  return in.ConsumeIntegralInRange(0, 3) == 0
             ? in.PickValueInArray<OSErr>({kMemFullErr, kUserCancelled, -1, 0x7FFF, -32768})
             : kNoErr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // One loaded plug-in for every input, as in an editor: its state block carries over.
  static TestHost host(ENTRYPOINT);
  FuzzedDataProvider in(data, size);
  const int32_t width = in.ConsumeIntegralInRange(1, 40);
  const int32_t height = in.ConsumeIntegralInRange(1, 40);
  const int32_t planes = in.ConsumeIntegralInRange(1, 8);
  HostQuirks& q = host.quirks;
  q = HostQuirks{};
  Rect& f = q.filterRect;
  f.left = int16_t(in.ConsumeIntegralInRange(0, width - 1));
  f.right = int16_t(in.ConsumeIntegralInRange(f.left + 1, width));
  f.top = int16_t(in.ConsumeIntegralInRange(0, height - 1));
  f.bottom = int16_t(in.ConsumeIntegralInRange(f.top + 1, height));
  switch (in.ConsumeIntegralInRange(0, 2)) {
    case 0:
      break;  // packed
    case 1:
      q.rowPadding = in.ConsumeIntegralInRange(1, 330);  // up to a whole document row and more
      break;
    default:
      q.rowBytesUnset = true;
  }
  q.advanceResults = {FuzzResult(in), FuzzResult(in)};
  q.deliverNothing = in.ConsumeIntegralInRange(0, 15) == 0;
  host.polling.abortAtCall = in.ConsumeBool() ? in.ConsumeIntegralInRange(0, 40) : -1;
  q.abortAnswer = in.ConsumeIntegralInRange<Boolean>(1, 255);
  q.garbageInResults = in.ConsumeBool();
  // Mostly codes a host may use; any other is refused by the host.
  q.edgePadding = in.ConsumeIntegralInRange(0, 3)
                      ? in.PickValueInArray<int16_t>({-1, -2, -3, 0, 255})
                      : in.ConsumeIntegral<int16_t>();
  q.noAdvanceState = in.ConsumeIntegralInRange(0, 31) == 0;
  q.noAbort = in.ConsumeIntegralInRange(0, 7) == 0;
  q.noProgress = in.ConsumeIntegralInRange(0, 7) == 0;
  q.noDisplayPixels = in.ConsumeIntegralInRange(0, 7) == 0;
  q.hostSig = in.ConsumeIntegral<uint32_t>();
  q.staleRate = in.ConsumeIntegral<int32_t>();
  if (in.ConsumeBool())
    q.staleRequest = Rect{in.ConsumeIntegral<int16_t>(), in.ConsumeIntegral<int16_t>(),
                          in.ConsumeIntegral<int16_t>(), in.ConsumeIntegral<int16_t>()};

  // A few colours, some of them near each other, so that the colour window finds pixels.
  uint8_t palette[4][8];
  for (auto& colour : palette)
    for (uint8_t& sample : colour) sample = in.ConsumeIntegral<uint8_t>();
  uint32_t noise = in.ConsumeIntegral<uint32_t>() | 1;
  std::vector<uint8_t> pixels(size_t(width) * size_t(height) * size_t(planes));
  for (size_t i = 0; i < pixels.size(); i += size_t(planes)) {
    noise ^= noise << 13, noise ^= noise >> 17, noise ^= noise << 5;
    for (int32_t p = 0; p < planes; ++p)
      pixels[i + size_t(p)] =
          (noise & 3) == 3 ? uint8_t(noise >> (8 + p)) : palette[(noise >> 2) & 3][p];
  }
  FUZZ_CHECK(host.SetImage(width, height, planes, std::move(pixels)));

  EffectParams stored{};
  for (const ParamRange& range : kParamRanges) stored.*range.field = FuzzSetting(in, range);
  stored.mode = in.ConsumeBool() ? in.ConsumeIntegralInRange(0, 1) : in.ConsumeIntegral<int32_t>();
  stored.reserved = in.ConsumeIntegral<int32_t>();
  stored.scale = FuzzScale(in);
  host.SetParams(stored);
  const int16_t showDialog = in.ConsumeIntegral<int16_t>();  // no window system: runs as if OK
  const int16_t imageMode = in.ConsumeIntegral<int16_t>();
  q.adjust = [&](FilterRecord& r) {
    if (r.parameters) ParamsFromHandle(r.parameters)->showDialog = showDialog;
    r.imageMode = imageMode;
  };
  q.dropParameters = in.ConsumeIntegralInRange(0, 15) == 0 && g_keptHandles.size() < 100000;
  if (in.ConsumeIntegralInRange(0, 31) == 0) {
    g_keptHandles.push_back(reinterpret_cast<void*>(host.pluginData()));  // forgotten
    host.pluginData() = 0;
  }

  const bool ranDialog = showDialog != 0 && !q.dropParameters;
  const bool missing = q.noAdvanceState || (ranDialog && q.noDisplayPixels);
  OSErr result;
  {
    // The native stand-in prints each "Invalid Host" box; they are counted, not read.
    QuietStderr quiet(missing || q.hostSig == kIrfanViewHostSig);
    result = host.Run();
  }
  q.adjust = nullptr;
  if (q.dropParameters && host.record().parameters)
    g_keptHandles.push_back(Handle(host.record().parameters));  // a copy: packed
  // IrfanView drops error codes: the plug-in tells the user itself and returns 1.
  const OSErr answered = host.answers.empty() ? kNoErr : host.answers.back();
  const bool told = !missing && q.hostSig == kIrfanViewHostSig && answered < 0 && answered != -128;
  FUZZ_CHECK(platform::ShownMessages().size() == (missing || told ? 1u : 0u));
  platform::ShownMessages().clear();
  FUZZ_CHECK(host.RequestsWithdrawn());  // every request is withdrawn when Start returns
  if (missing) {
    FUZZ_CHECK(result == kUserCancelled);
    FUZZ_CHECK(host.requests.empty());
    return 0;
  }
  // Start asks for the whole filter rectangle, every plane, at full size, and passes on
  // the host's answer: the first if it failed, else the second.
  FUZZ_CHECK(host.AskedForTheFilterRect());
  FUZZ_CHECK(!host.answers.empty());
  FUZZ_CHECK(host.answers.size() == (host.answers[0] != kNoErr ? 1u : 2u));
  FUZZ_CHECK(result == (told ? kUserCancelled : answered));
  if (ranDialog) FUZZ_CHECK(host.params()->showDialog == 0);
  FUZZ_CHECK(host.inputKept && host.paddingKept);
  for (const oracle::HostCall& call : host.polling.calls)
    FUZZ_CHECK(call.isAbort || (call.done >= 0 && call.done <= call.total));

  // Outside the filter rectangle, and everywhere when nothing was taken, the output is the
  // source.
  const bool rendered = answered == kNoErr && !q.deliverNothing;
  const Image& source = host.source();
  const Image& output = host.output();
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      const bool inside = y >= f.top && y < f.bottom && x >= f.left && x < f.right;
      for (int32_t p = 0; p < planes; ++p) {
        const size_t i = (size_t(y) * size_t(width) + size_t(x)) * size_t(planes) + size_t(p);
        const uint8_t before = source.pixels[i], after = output.pixels[i];
        if (!inside || !rendered || planes < 3 || planes > 4 || p == 3) {
          FUZZ_CHECK(after == before);  // untouched or passed through
        } else {
          FUZZ_CHECK(after >= before);  // screen blending only brightens
        }
      }
    }
  return 0;
}
