#include "platform/forks/FinderInfo.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/support/Sidecars.h"

namespace tv::forks {
namespace {

using tv::test::MakeFinderInfo;

TEST(FinderInfoTest, FlagsLiveAtByteEightBigEndian) {
  FinderInfoBytes info{};
  SetFinderFlags(info, 0x4401);
  EXPECT_EQ(0x44, info[8]);
  EXPECT_EQ(0x01, info[9]);
  EXPECT_EQ(0x4401, GetFinderFlags(info));
  EXPECT_TRUE(ClearFinderFlags(info, kFinderFlagHasCustomIcon));
  EXPECT_EQ(0x4001, GetFinderFlags(info));
  EXPECT_FALSE(ClearFinderFlags(info, kFinderFlagHasCustomIcon));
  EXPECT_EQ(0x4001, GetFinderFlags(info));
}

TEST(FinderInfoTest, AllZeroMeansNoFinderInfo) {
  FinderInfoBytes info{};
  EXPECT_TRUE(IsAllZero(info));
  for (size_t i = 0; i < info.size(); ++i) {
    FinderInfoBytes one{};
    one[i] = 0x80;
    EXPECT_FALSE(IsAllZero(one)) << "byte " << i;
  }
}

TEST(FinderInfoTest, SecondaryCopyLosesWhatThePrimaryLostAndNeverGainsBits) {
  const FinderInfoBytes oldPrimary = MakeFinderInfo(FOUR_CHAR_CODE("TEXT"), FOUR_CHAR_CODE("ttxt"), 0x4400);
  const FinderInfoBytes newPrimary = MakeFinderInfo(FOUR_CHAR_CODE("TEXT"), FOUR_CHAR_CODE("ttxt"), 0x0100);
  // A stale copy with another type, the custom-icon bit and the locked-name bit.
  FinderInfoBytes secondary = MakeFinderInfo(FOUR_CHAR_CODE("APPL"), FOUR_CHAR_CODE("????"), 0x1400);
  secondary[20] = 0x7E;
  FinderInfoBytes merged = MergeFinderFlagsIntoSecondary(secondary, oldPrimary, newPrimary);
  // 0x0400 was cleared by the change; 0x0100 set by it is not gained; 0x1000
  // was never in the primary and stays.
  EXPECT_EQ(0x1000, GetFinderFlags(merged));
  FinderInfoBytes rest = merged, restBefore = secondary;
  SetFinderFlags(rest, 0);
  SetFinderFlags(restBefore, 0);
  EXPECT_EQ(restBefore, rest);

  // A change that clears nothing leaves the copy as it was.
  EXPECT_EQ(secondary, MergeFinderFlagsIntoSecondary(secondary, newPrimary, oldPrimary));
}

TEST(BlankResourceForkTest, IsTheDocumentedPlaceholder) {
  const BlankResourceFork &blank = GetBlankResourceFork();
  ASSERT_EQ(286u, blank.size());
  EXPECT_EQ(0x100u, GetBE32(blank, 0));
  EXPECT_EQ(0x100u, GetBE32(blank, 4));
  EXPECT_EQ(0u, GetBE32(blank, 8));
  EXPECT_EQ(0x1Eu, GetBE32(blank, 12));
  const char *text = reinterpret_cast<const char *>(blank.data() + 16);
  EXPECT_EQ(std::string("This resource fork intentionally left blank   "), std::string(text));
  for (size_t i = 16 + std::strlen(text); i < 256; ++i) ASSERT_EQ(0, blank[i]) << "byte " << i;
  EXPECT_TRUE(std::equal(blank.begin(), blank.begin() + 16, blank.begin() + 256));
  for (size_t i = 272; i < 280; ++i) EXPECT_EQ(0, blank[i]) << "byte " << i;
  EXPECT_EQ(0x1C, GetBE16(blank, 280));
  EXPECT_EQ(0x1E, GetBE16(blank, 282));
  EXPECT_EQ(0xFFFF, GetBE16(blank, 284));
}

TEST(BlankResourceForkTest, RecognisesOnlyTheExactBytes) {
  const BlankResourceFork &blank = GetBlankResourceFork();
  EXPECT_TRUE(IsBlankResourceFork(blank));
  std::vector<UInt8> copy(blank.begin(), blank.end());
  for (size_t i = 0; i < copy.size(); ++i) {
    copy[i] ^= 0x01;
    EXPECT_FALSE(IsBlankResourceFork(copy)) << "byte " << i;
    copy[i] ^= 0x01;
  }
  copy.push_back(0);
  EXPECT_FALSE(IsBlankResourceFork(copy));
  copy.resize(285);
  EXPECT_FALSE(IsBlankResourceFork(copy));
  EXPECT_FALSE(IsBlankResourceFork(Bytes()));
}

}  // namespace
}  // namespace tv::forks
