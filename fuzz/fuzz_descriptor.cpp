// The plug-in handed any descriptor to play back: the keys it knows and others, each with
// any type and value, repeated or missing, nested objects, or bytes that are no descriptor
// at all; shown, not shown or silent; a host with or without coercion and a message buffer.
// Whatever it gets, the run ends in a render or in an error with a message, nothing
// handed over is leaked or disposed twice, and what the plug-in records plays back silently
// to the same pixels.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <vector>

#include "filterhost/Descriptors.h"
#include "filterhost/FilterHost.h"
#include "host/EffectParams.h"
#include "host/Entry.h"

namespace {

// The keys the plug-in knows, from its parameter table, and a colour's channels.
DescriptorKeyID FuzzKey(FuzzedDataProvider& in) {
  const DescriptorKeyID known[] = {kMatchParam.key,
                                   kParamRanges[kParamThreshold].key,
                                   kParamRanges[kParamRadius].key,
                                   kParamRanges[kParamStreaks].key,
                                   kParamRanges[kParamAngle].key,
                                   kModeParam.key,
                                   kEffectColourParam.key,
                                   kUseColourParam.key,
                                   kKeyRed,
                                   kKeyGreen,
                                   kKeyBlue};
  return in.ConsumeBool() ? in.PickValueInArray(known) : in.ConsumeIntegral<uint32_t>();
}

Descriptor FuzzDescriptor(FuzzedDataProvider& in, int depth) {
  Descriptor d;
  const int count = in.ConsumeIntegralInRange(0, 12);
  for (int i = 0; i < count && in.remaining_bytes(); ++i) {
    const DescriptorKeyID key = FuzzKey(in);
    switch (in.ConsumeIntegralInRange(0, 5)) {
      case 0:
        d.push_back(DescriptorItem::Integer(key, in.ConsumeIntegral<int32_t>()));
        break;
      case 1:
        d.push_back(DescriptorItem::Float(key, in.ConsumeFloatingPoint<double>()));
        break;
      case 2:
        d.push_back(DescriptorItem::Bool(key, in.ConsumeBool()));
        break;
      case 3:
        d.push_back(DescriptorItem::Enum(key, in.ConsumeIntegral<uint32_t>(),
                                         in.PickValueInArray({kModeValueKeys[0], kModeValueKeys[1],
                                                              in.ConsumeIntegral<uint32_t>()})));
        break;
      case 4:
        if (depth < 3)
          d.push_back(DescriptorItem::Object(
              key, in.ConsumeBool() ? kClassRGBColor : in.ConsumeIntegral<uint32_t>(),
              FuzzDescriptor(in, depth + 1)));
        break;
      default:
        d.push_back(
            DescriptorItem::Raw(key, in.ConsumeIntegral<uint32_t>(),
                                in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange(0, 16))));
        break;
    }
  }
  return d;
}

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  ScriptingSetup setup;
  setup.playInfo = in.ConsumeIntegralInRange<int16_t>(-1, 3);
  setup.coercion = in.ConsumeBool();
  setup.errorString = in.ConsumeBool();
  const bool parameters = in.ConsumeBool();
  if (in.ConsumeBool())
    setup.descriptor = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange(0, 512));
  else
    setup.descriptor = EncodeDescriptor(FuzzDescriptor(in, 0));

  std::vector<uint8_t> pixels(8 * 6 * 3);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i * 37 + 200);
  FilterHost host(ENTRYPOINT, true);
  Check(host.SetImage(8, 6, 3, pixels));
  DescriptorHost scripting;
  scripting.setup = setup;
  host.SetScripting(&scripting);
  const OSErr result = host.Run(parameters);
  Check(scripting.LiveHandles() == 0 && scripting.OpenTokens() == 0 &&
        scripting.badDisposals == 0 && scripting.handedDescriptorDisposed);
  if (result != kNoErr) {
    Check(result == kErrReportString || result == kFilterBadParameters);
    Check(host.output().pixels == pixels && !scripting.recorded);
    return 0;
  }
  Check(scripting.recorded && scripting.recordedDecodes);

  // What was recorded is enough to play the run again without anyone asked.
  const std::vector<uint8_t> rendered = host.output().pixels;
  FilterHost again(ENTRYPOINT, true);
  Check(again.SetImage(8, 6, 3, pixels));
  DescriptorHost replay;
  replay.setup.playInfo = kPlaySilent;
  replay.setup.descriptor = EncodeDescriptor(scripting.descriptor);
  again.SetScripting(&replay);
  Check(again.Run(false) == kNoErr);
  Check(again.output().pixels == rendered && replay.descriptor == scripting.descriptor);
  return 0;
}
