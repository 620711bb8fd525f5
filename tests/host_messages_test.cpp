// The paths that tell the user something, seen through the native message stand-in.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "platform/NativeStandIns.h"
#include "tests/support/EntryCall.h"

namespace {

class Messages : public ::testing::Test {
 protected:
  void SetUp() override { platform::ShownMessages().clear(); }
  void TearDown() override {
    platform::FailNextAllocations(0);
    platform::ThrowFromNextAllocation(nullptr);
  }
};

TEST_F(Messages, AboutShowsOneInformationBoxWithTheProductName) {
  EntryCall host;
  EXPECT_EQ(host.Call(kSelectorAbout), 0);
  ASSERT_EQ(platform::ShownMessages().size(), 1u);
  const auto& shown = platform::ShownMessages()[0];
  EXPECT_EQ(shown.title, "About");
  EXPECT_EQ(shown.text.substr(0, 9), "Corvanel\n");
  EXPECT_EQ(shown.text.find('\n', 9), std::string::npos);  // two lines
  EXPECT_EQ(shown.icon, platform::MessageIcon::Information);
  EXPECT_FALSE(shown.owned);
  EXPECT_NE(host.data, 0);  // About as the first call creates the state block too
}

TEST_F(Messages, StartWithoutAdvanceStateTellsTheUserAndEmptiesTheRequests) {
  EntryCall host;
  host.Call(kSelectorParameters);
  host.params()->showDialog = 0;
  host.record.inRect = Rect{0, 0, 5, 5};
  host.record.maskRect = Rect{0, 0, 5, 5};
  EXPECT_EQ(host.Call(kSelectorStart), kUserCancelled);
  ASSERT_EQ(platform::ShownMessages().size(), 1u);
  EXPECT_EQ(platform::ShownMessages()[0].title, "Invalid Host");
  EXPECT_EQ(platform::ShownMessages()[0].text,
            "AdvanceStateProc not available in this plug-in host.");
  EXPECT_EQ(platform::ShownMessages()[0].icon, platform::MessageIcon::Warning);
  EXPECT_EQ(host.record.inRect.bottom, 0);
  EXPECT_EQ(host.record.maskRect.right, 0);
}

TEST_F(Messages, AFailedStateBlockAllocationGivesMemFullAndLeavesTheDataWord) {
  EntryCall host;
  platform::FailNextAllocations(1);
  EXPECT_EQ(host.Call(kSelectorPrepare), kMemFullErr);
  EXPECT_EQ(host.data, 0);
  EXPECT_EQ(host.Call(kSelectorPrepare), 0);  // the next call tries again
  EXPECT_NE(host.data, 0);
}

TEST_F(Messages, AFailedRecordAllocationGivesMemFullAndNoRecord) {
  EntryCall host;
  host.Call(kSelectorFinish);
  for (int failing : {1, 2}) {
    platform::FailNextAllocations(failing);
    EXPECT_EQ(host.Call(kSelectorParameters), kMemFullErr);
    EXPECT_EQ(Handle(host.record.parameters), nullptr);  // a copy: the field is packed
    platform::FailNextAllocations(0);
  }
  EXPECT_TRUE(platform::ShownMessages().empty());
}

// Whatever a call throws ends it with a code, never in the host; the next call works.
TEST_F(Messages, AnExceptionInsideACallBecomesAResultCode) {
  struct Case {
    void (*thrower)();
    int16_t selector;
    OSErr expected;
  };
  const Case cases[] = {
      {[] { throw std::bad_alloc(); }, kSelectorPrepare, kMemFullErr},     // the state block
      {[] { throw std::bad_alloc(); }, kSelectorParameters, kMemFullErr},  // the record
      {[] { throw std::runtime_error("x"); }, kSelectorParameters, kInternalErr},
      {[] { throw 7; }, kSelectorStart, kInternalErr},  // Start's own record, requests emptied
  };
  for (const Case& c : cases) {
    EntryCall host;
    host.record.inRect = Rect{0, 0, 5, 5};
    host.record.advanceState = []() -> OSErr { return 0; };
    if (c.selector != kSelectorPrepare) host.Call(kSelectorFinish);
    platform::ThrowFromNextAllocation(c.thrower);
    EXPECT_EQ(host.Call(c.selector), c.expected) << c.selector;
    if (c.selector == kSelectorStart) {
      EXPECT_EQ(host.record.inRect.bottom, 0);
    }
    EXPECT_EQ(host.Call(kSelectorParameters), 0);
    EXPECT_NE(host.params(), nullptr);
  }
}

}  // namespace
