// The property-list reader on the list Corvanel carries and on broken ones.
#include <gtest/gtest.h>

#include "runner/Pipl.h"
#include "tests/ExpectedPipl.h"

namespace {

std::string Reject(const std::vector<uint8_t>& bytes) {
  PiplInfo info;
  std::string error;
  EXPECT_FALSE(ParsePipl(bytes.data(), bytes.size(), &info, &error));
  return error;
}

// Offset of the data of property `n` (0-based) in the expected list.
size_t DataOffset(int n) {
  std::vector<uint8_t> b = ExpectedPiplBytes();
  size_t at = 10;
  for (int i = 0; i < n; ++i) at += 16 + b[at + 12];
  return at + 16;
}

TEST(Pipl, ReadsCorvanelsList) {
  std::vector<uint8_t> bytes = ExpectedPiplBytes();
  PiplInfo info;
  std::string error;
  ASSERT_TRUE(ParsePipl(bytes.data(), bytes.size(), &info, &error)) << error;
  EXPECT_EQ(info.entryName, "ENTRYPOINT");
  EXPECT_EQ(info.name, "Corvanel...");
  EXPECT_EQ(info.category, "Tessory");
  EXPECT_EQ(info.interfaceVersion, 0x00040000u);
  EXPECT_EQ(info.supportedModes, 0x5FC0);
  EXPECT_EQ(info.filterCaseInfo.size(), 28u);
}

TEST(Pipl, RefusesTruncatedListsAndWrongLengths) {
  std::vector<uint8_t> good = ExpectedPiplBytes();
  for (size_t cut : {size_t(0), size_t(5), size_t(20), good.size() - 1}) {
    std::vector<uint8_t> b(good.begin(), good.begin() + long(cut));
    EXPECT_FALSE(Reject(b).empty()) << cut;
  }
  std::vector<uint8_t> b = good;
  b[10 + 12] = 6;  // kind's length: not a multiple of 4
  EXPECT_NE(Reject(b).find("multiple of 4"), std::string::npos);
  b = good;
  b[10 + 12] = 200;  // past the end
  EXPECT_NE(Reject(b).find("past the end"), std::string::npos);
  b = good;
  b[6] = 8;  // one property more than there is
  EXPECT_NE(Reject(b).find("truncated"), std::string::npos);
  b = good;
  b.push_back(0);
  EXPECT_NE(Reject(b).find("after its last"), std::string::npos);
  b = good;
  b[DataOffset(1)] = 40;  // name's counted string longer than its 12 bytes
  EXPECT_NE(Reject(b).find("counted string"), std::string::npos);
  b = good;
  b[DataOffset(6) - 4] = 24;  // six filter cases instead of seven
  b.erase(b.begin() + long(DataOffset(6)), b.begin() + long(DataOffset(6)) + 4);
  EXPECT_NE(Reject(b).find("filter cases"), std::string::npos);
}

TEST(Pipl, RefusesAMissingEntryNameWrongKindAndModes) {
  std::vector<uint8_t> good = ExpectedPiplBytes();
  std::vector<uint8_t> b = good;
  b[DataOffset(4)] = 0;  // empty entry name
  EXPECT_NE(Reject(b).find("no entry point"), std::string::npos);
  b = good;
  for (size_t i = DataOffset(4); i < DataOffset(4) + 12; ++i) b[i] = 'X';  // no terminator
  EXPECT_NE(Reject(b).find("terminating zero"), std::string::npos);
  b = good;
  b[DataOffset(0)] = 'X';  // kind 8BFX
  EXPECT_NE(Reject(b).find("not a filter"), std::string::npos);
  b = good;
  b[DataOffset(5)] = 0x4F;  // RGB bit cleared
  EXPECT_NE(Reject(b).find("RGB"), std::string::npos);
  b = good;
  b[DataOffset(5) - 12] = 'x';  // the mode property renamed away
  EXPECT_FALSE(Reject(b).empty());
}

}  // namespace
