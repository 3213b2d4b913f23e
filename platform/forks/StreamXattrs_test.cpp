#include "platform/forks/StreamXattrs.h"

#include <gtest/gtest.h>

#include "tests/support/ForksFixture.h"

namespace tv::forks {
namespace {

using namespace tv::test;

const FinderInfoBytes kInfo = MakeFinderInfo(FOUR_CHAR_CODE("TEXT"), FOUR_CHAR_CODE("ttxt"), 0x0500);
const FinderInfoBytes kOther = MakeFinderInfo(FOUR_CHAR_CODE("PDF "), FOUR_CHAR_CODE("prvw"), 0x0100);
const FinderInfoBytes kNoInfo{};

TEST(FinderInfoXattrTest, TakesExactly32Bytes) {
  FinderInfoBytes info{};
  std::vector<UInt8> value(kInfo.begin(), kInfo.end());
  EXPECT_EQ(ForkFormatError::kNone, ParseFinderInfoXattr(value, &info));
  EXPECT_EQ(kInfo, info);
  value.push_back(0);
  info = {};
  EXPECT_EQ(ForkFormatError::kBadLength, ParseFinderInfoXattr(value, &info));
  EXPECT_EQ(kNoInfo, info);
  value.resize(31);
  EXPECT_EQ(ForkFormatError::kBadLength, ParseFinderInfoXattr(value, &info));
}

TEST(FinderInfoXattrTest, AllZeroRemovesTheAttribute) {
  std::vector<UInt8> current(kInfo.begin(), kInfo.end());
  EXPECT_EQ(XattrPlanKind::kRemove, PlanFinderInfoXattr(true, current, kNoInfo).kind);
  EXPECT_EQ(XattrPlanKind::kNothing, PlanFinderInfoXattr(false, {}, kNoInfo).kind);
  EXPECT_EQ(XattrPlanKind::kNothing, PlanFinderInfoXattr(true, current, kInfo).kind);
  XattrPlan set = PlanFinderInfoXattr(true, current, kOther);
  EXPECT_EQ(XattrPlanKind::kSet, set.kind);
  EXPECT_EQ(std::vector<UInt8>(kOther.begin(), kOther.end()), set.value);
  // A malformed current value is replaced whole.
  EXPECT_EQ(XattrPlanKind::kSet, PlanFinderInfoXattr(true, BytesOf("junk"), kInfo).kind);
}

TEST(AfpInfoTest, AcceptsSixtyBytesWithOrWithoutTheTrailingZero) {
  FinderInfoBytes info{};
  EXPECT_EQ(ForkFormatError::kNone, ParseAfpInfo(BuildAfpInfo(kInfo, true), &info));
  EXPECT_EQ(kInfo, info);
  info = {};
  EXPECT_EQ(ForkFormatError::kNone, ParseAfpInfo(BuildAfpInfo(kInfo, false), &info));
  EXPECT_EQ(kInfo, info);
}

TEST(AfpInfoTest, RefusesOtherLengthsMagicsAndVersions) {
  FinderInfoBytes info = kOther;
  std::vector<UInt8> value = BuildAfpInfo(kInfo, true);
  value.back() = 1;  // the 61st byte must be the 0 streams_xattr adds
  EXPECT_EQ(ForkFormatError::kBadLength, ParseAfpInfo(value, &info));
  value.back() = 0;
  value.push_back(0);
  EXPECT_EQ(ForkFormatError::kBadLength, ParseAfpInfo(value, &info));
  value.resize(59);
  EXPECT_EQ(ForkFormatError::kBadLength, ParseAfpInfo(value, &info));
  EXPECT_EQ(ForkFormatError::kBadLength, ParseAfpInfo({}, &info));

  value = BuildAfpInfo(kInfo);
  value[3] = 1;
  EXPECT_EQ(ForkFormatError::kAfpInfoBadMagic, ParseAfpInfo(value, &info));
  value = BuildAfpInfo(kInfo);
  value[6] = 2;
  EXPECT_EQ(ForkFormatError::kAfpInfoBadVersion, ParseAfpInfo(value, &info));
  EXPECT_EQ(kOther, info);
}

TEST(AfpInfoTest, ReplacesFinderInfoAndKeepsEveryOtherByte) {
  for (bool trailingZero : {true, false}) {
    std::vector<UInt8> value = BuildAfpInfo(kInfo, trailingZero);
    XattrPlan plan;
    ASSERT_EQ(ForkFormatError::kNone, PlanAfpInfoSetFinderInfo(value, kOther, &plan));
    ASSERT_EQ(XattrPlanKind::kSet, plan.kind);
    ASSERT_EQ(value.size(), plan.value.size());
    for (size_t i = 0; i < value.size(); ++i)
      if (i < 16 || i >= 48) {
        EXPECT_EQ(value[i], plan.value[i]) << "byte " << i;
      }
    FinderInfoBytes info{};
    ASSERT_EQ(ForkFormatError::kNone, ParseAfpInfo(plan.value, &info));
    EXPECT_EQ(kOther, info);

    ASSERT_EQ(ForkFormatError::kNone, PlanAfpInfoSetFinderInfo(value, kInfo, &plan));
    EXPECT_EQ(XattrPlanKind::kNothing, plan.kind);
    ASSERT_EQ(ForkFormatError::kNone, PlanAfpInfoSetFinderInfo(value, kNoInfo, &plan));
    EXPECT_EQ(XattrPlanKind::kRemove, plan.kind);
    // Zero already: a change nobody asked for is not made.
    ASSERT_EQ(ForkFormatError::kNone, PlanAfpInfoSetFinderInfo(BuildAfpInfo(kNoInfo), kNoInfo, &plan));
    EXPECT_EQ(XattrPlanKind::kNothing, plan.kind);
  }
  XattrPlan untouched;
  untouched.kind = XattrPlanKind::kSet;
  EXPECT_EQ(ForkFormatError::kBadLength, PlanAfpInfoSetFinderInfo(BytesOf("AFP"), kOther, &untouched));
  EXPECT_EQ(XattrPlanKind::kSet, untouched.kind);
}

TEST(NetatalkMetadataTest, ParsesThe402ByteHeader) {
  std::vector<UInt8> value = BuildNetatalkMetadata(kInfo);
  ASSERT_EQ(402u, value.size());
  AppleDoubleView view;
  ASSERT_EQ(ForkFormatError::kNone, ParseNetatalkMetadata(value, &view));
  EXPECT_EQ(8u, view.entries.size());
  EXPECT_EQ(122u, view.finderInfoEntry()->offset);
  EXPECT_EQ(kInfo, view.finderInfo());
  EXPECT_EQ(0x05, value[130]);  // finderFlags' high byte
}

TEST(NetatalkMetadataTest, ReplacesFinderInfoInPlaceAndKeepsItWhenZero) {
  std::vector<UInt8> value = BuildNetatalkMetadata(kInfo);
  for (const FinderInfoBytes &info : {kOther, kNoInfo}) {
    XattrPlan plan;
    ASSERT_EQ(ForkFormatError::kNone, PlanNetatalkSetFinderInfo(value, info, &plan));
    ASSERT_EQ(XattrPlanKind::kSet, plan.kind);
    ASSERT_EQ(value.size(), plan.value.size());
    for (size_t i = 0; i < value.size(); ++i)
      if (i < 122 || i >= 154) {
        EXPECT_EQ(value[i], plan.value[i]) << "byte " << i;
      }
    AppleDoubleView after;
    ASSERT_EQ(ForkFormatError::kNone, ParseNetatalkMetadata(plan.value, &after));
    EXPECT_EQ(info, after.finderInfo());
  }
  XattrPlan plan;
  ASSERT_EQ(ForkFormatError::kNone, PlanNetatalkSetFinderInfo(value, kInfo, &plan));
  EXPECT_EQ(XattrPlanKind::kNothing, plan.kind);
}

TEST(NetatalkMetadataTest, RefusesMetadataWithoutFinderInfoOrUnsound) {
  AppleDoubleView view;
  std::vector<UInt8> noInfo = BuildAppleDouble(kZeroFiller, {{kEntryFileDates, std::vector<UInt8>(16)}});
  EXPECT_EQ(ForkFormatError::kNoFinderInfo, ParseNetatalkMetadata(noInfo, &view));
  std::vector<UInt8> value = BuildNetatalkMetadata(kInfo);
  value.resize(380);  // the empty entries at 382, 390 and 398 now lie past the end
  XattrPlan plan;
  EXPECT_EQ(ForkFormatError::kEntryOutsideFile, PlanNetatalkSetFinderInfo(value, kOther, &plan));
  EXPECT_EQ(XattrPlanKind::kNothing, plan.kind);
}

TEST(AfpResourceTest, SizeIsTheValueLessItsTrailingByte) {
  std::vector<UInt8> fork = MakeResourceFork(77);
  std::vector<UInt8> value = BuildAfpResource(fork);
  EXPECT_EQ(77u, AfpResourceForkSize(value));
  EXPECT_TRUE(std::ranges::equal(fork, AfpResourceFork(value)));
  EXPECT_EQ(0u, AfpResourceForkSize(EmptyAfpResourceValue()));
  EXPECT_EQ(std::vector<UInt8>{0}, EmptyAfpResourceValue());
  EXPECT_EQ(0u, AfpResourceForkSize({}));
  EXPECT_TRUE(AfpResourceFork({}).empty());
}

TEST(AfpResourceTest, EmptyingSetsTheSingleZeroByte) {
  XattrPlan plan = PlanAfpResourceEmpty(BuildAfpResource(MakeResourceFork(5)));
  EXPECT_EQ(XattrPlanKind::kSet, plan.kind);
  EXPECT_EQ(EmptyAfpResourceValue(), plan.value);
  EXPECT_EQ(XattrPlanKind::kNothing, PlanAfpResourceEmpty(EmptyAfpResourceValue()).kind);
  EXPECT_EQ(XattrPlanKind::kNothing, PlanAfpResourceEmpty({}).kind);
}

}  // namespace
}  // namespace tv::forks
