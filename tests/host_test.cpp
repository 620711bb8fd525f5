#include <gtest/gtest.h>

#include "host/PluginGlobals.h"
#include "tests/support/EntryCall.h"

namespace {

PluginGlobals* StoredGlobals(intptr_t data) {
  return static_cast<PluginGlobals*>(PseudoHandleData(reinterpret_cast<void*>(data)));
}

TEST(Entry, FirstCallCreatesTheStateBlockAndLaterCallsReuseIt) {
  EntryCall host;
  EXPECT_EQ(host.Call(kSelectorPrepare), 0);
  ASSERT_NE(host.data, 0);
  auto* handle = reinterpret_cast<PseudoHandle*>(host.data);
  EXPECT_EQ(handle->signature, kPseudoHandleSignature);
  EXPECT_EQ(std::memcmp(&handle->signature, "OTOF", 4), 0);

  intptr_t first = host.data;
  StoredGlobals(first)->previewRect = Rect{1, 2, 3, 4};
  EXPECT_EQ(host.Call(kSelectorFinish), 0);
  EXPECT_EQ(host.data, first);
  // previewRect carries over; filterRecord is the last call's record.
  EXPECT_EQ(StoredGlobals(first)->previewRect.right, 4);
  EXPECT_EQ(StoredGlobals(first)->filterRecord, &host.record);
}

TEST(Entry, SelectorsOutsideZeroToFiveAreRefusedAndTheBlockIsStillStored) {
  EntryCall host;
  for (int16_t selector : {int16_t(6), int16_t(-1), int16_t(32767), int16_t(-32768)}) {
    host.record.bufferSpace = 77;
    EXPECT_EQ(host.Call(selector), kFilterBadParameters) << selector;
    EXPECT_EQ(host.record.bufferSpace, 77);  // no handler ran
    EXPECT_EQ(StoredGlobals(host.data)->result, kFilterBadParameters);
  }
}

TEST(Entry, PrepareContinueAndFinishDoTheirSmallWork) {
  EntryCall host;
  host.record.bufferSpace = 1 << 20;
  EXPECT_EQ(host.Call(kSelectorPrepare), 0);
  EXPECT_EQ(host.record.bufferSpace, 0);

  host.record.inRect = Rect{1, 2, 3, 4};
  host.record.outRect = Rect{5, 6, 7, 8};
  host.record.maskRect = Rect{9, 10, 11, 12};
  host.record.filterRect = Rect{1, 1, 9, 9};
  EXPECT_EQ(host.Call(kSelectorContinue), 0);
  for (const Rect& r : {host.record.inRect, host.record.outRect, host.record.maskRect}) {
    EXPECT_EQ(r.top | r.left | r.bottom | r.right, 0);
  }
  EXPECT_EQ(host.record.filterRect.bottom, 9);
  EXPECT_EQ(host.Call(kSelectorFinish), 0);
}

TEST(Parameters, ANewRecordHoldsTheDefaultsInFieldOrder) {
  EntryCall host;
  EXPECT_EQ(host.Call(kSelectorParameters), 0);
  ASSERT_NE(Handle(host.record.parameters), nullptr);  // copies: the field is packed
  EXPECT_EQ(static_cast<PseudoHandle*>(host.record.parameters)->signature, kPseudoHandleSignature);
  const EffectParams& p = *host.params();
  int32_t ints[9];
  std::memcpy(ints, &p, sizeof ints);
  EXPECT_EQ(std::vector<int32_t>(ints, ints + 9),
            (std::vector<int32_t>{255, 255, 255, 5, 30, 45, 4, 0, 0}));
  EXPECT_EQ(p.scale, 0.0f);
  EXPECT_EQ(p.showDialog, 1);
  EXPECT_EQ(p.unused[0] | p.unused[1], 0);
}

TEST(Parameters, AKeptRecordKeepsItsValuesAndAsksForTheDialogAgain) {
  EntryCall host;
  host.Call(kSelectorParameters);
  void* handle = host.record.parameters;
  EffectParams changed = *host.params();
  changed.red = 12;
  changed.threshold = 99;
  changed.mode = kModeSparkle;
  changed.scale = 3.0f;
  changed.showDialog = 0;
  *host.params() = changed;

  EXPECT_EQ(host.Call(kSelectorParameters), 0);
  EXPECT_EQ(Handle(host.record.parameters), handle);
  changed.showDialog = 1;
  EXPECT_EQ(std::memcmp(host.params(), &changed, sizeof changed), 0);
}

TEST(Parameters, AHostMadeRecordInTheTwoWordFormIsReadTheSameWay) {
  // A host that restores stored settings hands its own handle in the same form.
  EffectParams stored = DefaultEffectParams();
  stored.green = 7;
  stored.showDialog = 0;
  PseudoHandle handle{&stored, kPseudoHandleSignature};
  EntryCall host;
  host.record.parameters = &handle;
  EXPECT_EQ(host.Call(kSelectorParameters), 0);
  EXPECT_EQ(Handle(host.record.parameters), &handle);
  EXPECT_EQ(stored.green, 7);
  EXPECT_EQ(stored.showDialog, 1);
}

TEST(HostValues, IntToFixedAndRectSetUseTheHostsConventions) {
  EXPECT_EQ(IntToFixed(1), 0x00010000);
  EXPECT_EQ(IntToFixed(4), 0x00040000);
  EXPECT_EQ(IntToFixed(-1), int32_t(0xFFFF0000));
  Rect r{};
  RectSet(r, 1, 2, 3, 4);  // left, top, right, bottom
  EXPECT_EQ(r.left, 1);
  EXPECT_EQ(r.top, 2);
  EXPECT_EQ(r.right, 3);
  EXPECT_EQ(r.bottom, 4);
}

TEST(ParamRanges, EveryDefaultLiesInItsRange) {
  for (const ParamRange& range : kParamRanges) {
    EXPECT_LE(range.min, range.defaultValue) << range.label;
    EXPECT_LE(range.defaultValue, range.max) << range.label;
  }
}

}  // namespace
