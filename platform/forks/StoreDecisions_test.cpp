#include "platform/forks/StoreDecisions.h"

#include <gtest/gtest.h>

#include "tests/support/ForksFixture.h"

namespace tv::forks {
namespace {

using namespace tv::test;

const FinderInfoBytes kNoInfo{};
const FinderInfoBytes kIconInfo = MakeFinderInfo(FOUR_CHAR_CODE("TEXT"), FOUR_CHAR_CODE("ttxt"), 0x0400);
const FinderInfoBytes kOtherInfo = MakeFinderInfo(FOUR_CHAR_CODE("PDF "), FOUR_CHAR_CODE("prvw"), 0x0100);

std::vector<UInt8> Raw(const FinderInfoBytes &info) { return {info.begin(), info.end()}; }

TEST(ForkStoresTest, ReadsTheFirstStoreThatHoldsAFork) {
  const std::vector<UInt8> sidecarFork = MakeResourceFork(10), rsync = MakeResourceFork(20),
                           stream = MakeResourceFork(30);
  const std::vector<UInt8> sidecar = BuildSambaSidecar(kNoInfo, sidecarFork);
  const std::vector<UInt8> emptySidecar = BuildSambaSidecar(kNoInfo);
  const std::vector<UInt8> afpResource = BuildAfpResource(stream);

  ForkStoreSnapshot stores{.sidecar = Bytes(sidecar), .resourceForkXattr = Bytes(rsync), .afpResource = Bytes(afpResource)};
  Bytes fork;
  ForkStore where = ForkStore::kNone;
  ASSERT_EQ(ForkFormatError::kNone, ReadResourceFork(stores, &fork, &where));
  EXPECT_EQ(ForkStore::kSidecar, where);
  EXPECT_TRUE(std::ranges::equal(sidecarFork, fork));

  // An empty fork in a store is no fork: the next store is read.
  stores.sidecar = Bytes(emptySidecar);
  ASSERT_EQ(ForkFormatError::kNone, ReadResourceFork(stores, &fork, &where));
  EXPECT_EQ(ForkStore::kResourceForkXattr, where);
  EXPECT_TRUE(std::ranges::equal(rsync, fork));

  stores.resourceForkXattr.reset();
  ASSERT_EQ(ForkFormatError::kNone, ReadResourceFork(stores, &fork, &where));
  EXPECT_EQ(ForkStore::kAfpResource, where);
  EXPECT_TRUE(std::ranges::equal(stream, fork));  // without the trailing 0

  const std::vector<UInt8> emptyStream = EmptyAfpResourceValue();
  stores.afpResource = Bytes(emptyStream);
  ASSERT_EQ(ForkFormatError::kNone, ReadResourceFork(stores, &fork, &where));
  EXPECT_EQ(ForkStore::kNone, where);
  EXPECT_TRUE(fork.empty());

  // The blank placeholder is a fork of 286 bytes.
  const std::vector<UInt8> kernel = BuildMacOSKernelSidecar(kNoInfo);
  ASSERT_EQ(ForkFormatError::kNone, ReadResourceFork({.sidecar = Bytes(kernel)}, &fork, nullptr));
  EXPECT_EQ(286u, fork.size());
}

TEST(ForkStoresTest, ReadingFailsOnASidecarThatDoesNotParse) {
  std::vector<UInt8> sidecar = BuildSambaSidecar(kIconInfo, MakeResourceFork(5));
  PutBE16(sidecar, 24, 0);
  const std::vector<UInt8> rsync = MakeResourceFork(3);
  Bytes fork = Bytes(rsync).first(1);
  EXPECT_EQ(ForkFormatError::kBadEntryCount,
            ReadResourceFork({.sidecar = Bytes(sidecar), .resourceForkXattr = Bytes(rsync)}, &fork, nullptr));
  EXPECT_EQ(1u, fork.size());
  FinderInfoBytes info = kOtherInfo;
  EXPECT_EQ(ForkFormatError::kBadEntryCount, ReadFinderInfo({.sidecar = Bytes(sidecar)}, &info, nullptr));
  EXPECT_EQ(kOtherInfo, info);
  // A store of higher priority that holds FinderInfo is read without looking further.
  const std::vector<UInt8> raw = Raw(kIconInfo);
  EXPECT_EQ(ForkFormatError::kNone,
            ReadFinderInfo({.sidecar = Bytes(sidecar), .finderInfoXattr = Bytes(raw)}, &info, nullptr));
  EXPECT_EQ(kIconInfo, info);
}

TEST(ForkStoresTest, ReadsFinderInfoInPriorityOrderSkippingZeros) {
  const std::vector<UInt8> zeroRaw = Raw(kNoInfo), afp = BuildAfpInfo(kOtherInfo),
                           netatalk = BuildNetatalkMetadata(kIconInfo),
                           sidecar = BuildMacOSKernelSidecar(MakeFinderInfo(0, 0, 0x4000));
  ForkStoreSnapshot stores{.sidecar = Bytes(sidecar), .finderInfoXattr = Bytes(zeroRaw), .afpInfo = Bytes(afp),
                           .netatalkMetadata = Bytes(netatalk)};
  FinderInfoBytes info;
  ForkStore where;
  ASSERT_EQ(ForkFormatError::kNone, ReadFinderInfo(stores, &info, &where));
  EXPECT_EQ(ForkStore::kAfpInfo, where);
  EXPECT_EQ(kOtherInfo, info);
  stores.afpInfo.reset();
  ASSERT_EQ(ForkFormatError::kNone, ReadFinderInfo(stores, &info, &where));
  EXPECT_EQ(ForkStore::kNetatalkMetadata, where);
  stores.netatalkMetadata.reset();
  ASSERT_EQ(ForkFormatError::kNone, ReadFinderInfo(stores, &info, &where));
  EXPECT_EQ(ForkStore::kSidecar, where);
  EXPECT_EQ(0x4000, GetFinderFlags(info));
  ASSERT_EQ(ForkFormatError::kNone, ReadFinderInfo({}, &info, &where));
  EXPECT_EQ(ForkStore::kNone, where);
  EXPECT_EQ(kNoInfo, info);
}

TEST(ForkStoresTest, EmptiesTheForkInEveryStoreThatHoldsOne) {
  const std::vector<UInt8> sidecar = BuildCopyfileSidecar(kIconInfo, TypicalAttributes(), MakeResourceFork(40));
  const std::vector<UInt8> rsync = MakeResourceFork(20), stream = BuildAfpResource(MakeResourceFork(9));
  ForkStorePlan plan;
  ASSERT_EQ(ForkFormatError::kNone,
            PlanEmptyResourceForkEverywhere(
                {.sidecar = Bytes(sidecar), .resourceForkXattr = Bytes(rsync), .afpResource = Bytes(stream)}, &plan));
  EXPECT_EQ(SidecarPlanKind::kInPlace, plan.sidecar.kind);
  EXPECT_EQ(XattrPlanKind::kRemove, plan.resourceForkXattr.kind);
  EXPECT_EQ(XattrPlanKind::kSet, plan.afpResource.kind);
  EXPECT_EQ(EmptyAfpResourceValue(), plan.afpResource.value);
  EXPECT_EQ(XattrPlanKind::kNothing, plan.finderInfoXattr.kind);
  // The fork's bytes in each store; none of the sidecar's when other names keep it.
  const ForkStoreSnapshot before = {.sidecar = Bytes(sidecar), .resourceForkXattr = Bytes(rsync),
                                    .afpResource = Bytes(stream)};
  EXPECT_EQ(40u + 20u + 9u, BytesFreedByPlan(before, plan, false));
  EXPECT_EQ(20u + 9u, BytesFreedByPlan(before, plan, true));
  // A sidecar left with nothing goes, all of it.
  const std::vector<UInt8> forkOnly = BuildSambaSidecar(FinderInfoBytes{}, MakeResourceFork(40));
  ForkStorePlan removal;
  ASSERT_EQ(ForkFormatError::kNone, PlanEmptyResourceForkEverywhere({.sidecar = Bytes(forkOnly)}, &removal));
  ASSERT_EQ(SidecarPlanKind::kRemove, removal.sidecar.kind);
  EXPECT_EQ(forkOnly.size(), BytesFreedByPlan({.sidecar = Bytes(forkOnly)}, removal, false));

  const std::vector<UInt8> emptySidecar = BuildSambaSidecar(kIconInfo), emptyStream = EmptyAfpResourceValue();
  ASSERT_EQ(ForkFormatError::kNone,
            PlanEmptyResourceForkEverywhere({.sidecar = Bytes(emptySidecar), .afpResource = Bytes(emptyStream)}, &plan));
  EXPECT_TRUE(plan.nothing());

  std::vector<UInt8> broken = sidecar;
  broken.resize(100);
  ForkStorePlan untouched;
  untouched.afpInfo.kind = XattrPlanKind::kSet;
  EXPECT_EQ(ForkFormatError::kEntryOutsideFile,
            PlanEmptyResourceForkEverywhere({.sidecar = Bytes(broken), .resourceForkXattr = Bytes(rsync)}, &untouched));
  EXPECT_EQ(XattrPlanKind::kSet, untouched.afpInfo.kind);
}

TEST(ForkStoresTest, WritesPrimaryAndClearsOnlyTheClearedBitsInCopies) {
  // Primary: the FinderInfo attribute with the custom icon. Copies: netatalk
  // metadata with the custom icon and "invisible"; a sidecar without FinderInfo.
  const FinderInfoBytes netatalkInfo = MakeFinderInfo(FOUR_CHAR_CODE("TEXT"), FOUR_CHAR_CODE("ttxt"), 0x4400);
  const std::vector<UInt8> raw = Raw(kIconInfo), netatalk = BuildNetatalkMetadata(netatalkInfo),
                           sidecar = BuildSambaSidecar(kNoInfo, MakeResourceFork(4));
  FinderInfoBytes cleared = kIconInfo;
  ClearFinderFlags(cleared, kFinderFlagHasCustomIcon);
  SetFinderFlags(cleared, 0x0100);  // and the change sets "inited"

  ForkStorePlan plan;
  ASSERT_EQ(ForkFormatError::kNone,
            PlanWriteFinderInfoEverywhere(
                {.sidecar = Bytes(sidecar), .finderInfoXattr = Bytes(raw), .netatalkMetadata = Bytes(netatalk)},
                cleared, &plan));
  EXPECT_EQ(XattrPlanKind::kSet, plan.finderInfoXattr.kind);
  EXPECT_EQ(Raw(cleared), plan.finderInfoXattr.value);
  ASSERT_EQ(XattrPlanKind::kSet, plan.netatalkMetadata.kind);
  AppleDoubleView after;
  ASSERT_EQ(ForkFormatError::kNone, ParseNetatalkMetadata(plan.netatalkMetadata.value, &after));
  EXPECT_EQ(0x4000, GetFinderFlags(after.finderInfo()));
  EXPECT_EQ(SidecarPlanKind::kNothing, plan.sidecar.kind);
  EXPECT_EQ(XattrPlanKind::kNothing, plan.afpInfo.kind);
}

TEST(ForkStoresTest, AllZeroRemovesAttributesAndKeepsNetatalkZeros) {
  // Every copy holds just the custom-icon flag, which the change clears.
  const FinderInfoBytes icon = MakeFinderInfo(0, 0, kFinderFlagHasCustomIcon);
  const std::vector<UInt8> raw = Raw(icon), afp = BuildAfpInfo(icon), netatalk = BuildNetatalkMetadata(icon),
                           sidecar = BuildMacOSKernelSidecar(icon);
  ForkStorePlan plan;
  ASSERT_EQ(ForkFormatError::kNone,
            PlanWriteFinderInfoEverywhere({.sidecar = Bytes(sidecar), .finderInfoXattr = Bytes(raw),
                                           .afpInfo = Bytes(afp), .netatalkMetadata = Bytes(netatalk)},
                                          kNoInfo, &plan));
  EXPECT_EQ(XattrPlanKind::kRemove, plan.finderInfoXattr.kind);
  EXPECT_EQ(XattrPlanKind::kRemove, plan.afpInfo.kind);
  ASSERT_EQ(XattrPlanKind::kSet, plan.netatalkMetadata.kind);
  AppleDoubleView after;
  ASSERT_EQ(ForkFormatError::kNone, ParseNetatalkMetadata(plan.netatalkMetadata.value, &after));
  EXPECT_EQ(kNoInfo, after.finderInfo());
  // The sidecar held only FinderInfo and the blank fork.
  EXPECT_EQ(SidecarPlanKind::kRemove, plan.sidecar.kind);
}

TEST(ForkStoresTest, WithoutFinderInfoAnywhereWritesTheFirstStoreThatExists) {
  // A Samba share: the metadata attribute and a sidecar holding the fork.
  const std::vector<UInt8> netatalk = BuildNetatalkMetadata(kNoInfo), sidecar = BuildSambaSidecar(kNoInfo, MakeResourceFork(8));
  ForkStorePlan plan;
  ASSERT_EQ(ForkFormatError::kNone,
            PlanWriteFinderInfoEverywhere({.sidecar = Bytes(sidecar), .netatalkMetadata = Bytes(netatalk)}, kOtherInfo, &plan));
  EXPECT_EQ(XattrPlanKind::kSet, plan.netatalkMetadata.kind);
  EXPECT_EQ(SidecarPlanKind::kNothing, plan.sidecar.kind);
  EXPECT_EQ(XattrPlanKind::kNothing, plan.finderInfoXattr.kind);

  ASSERT_EQ(ForkFormatError::kNone, PlanWriteFinderInfoEverywhere({.sidecar = Bytes(sidecar)}, kOtherInfo, &plan));
  EXPECT_EQ(SidecarPlanKind::kInPlace, plan.sidecar.kind);

  ASSERT_EQ(ForkFormatError::kNone, PlanWriteFinderInfoEverywhere({}, kOtherInfo, &plan));
  EXPECT_EQ(XattrPlanKind::kSet, plan.finderInfoXattr.kind);
  EXPECT_EQ(Raw(kOtherInfo), plan.finderInfoXattr.value);
  ASSERT_EQ(ForkFormatError::kNone, PlanWriteFinderInfoEverywhere({}, kNoInfo, &plan));
  EXPECT_TRUE(plan.nothing());
}

TEST(ForkStoresTest, WritingFailsWhenAnyFinderInfoStoreDoesNotParse) {
  const std::vector<UInt8> raw = Raw(kIconInfo);
  std::vector<UInt8> afp = BuildAfpInfo(kIconInfo);
  afp[0] = 'X';
  ForkStorePlan untouched;
  untouched.resourceForkXattr.kind = XattrPlanKind::kRemove;
  EXPECT_EQ(ForkFormatError::kAfpInfoBadMagic,
            PlanWriteFinderInfoEverywhere({.finderInfoXattr = Bytes(raw), .afpInfo = Bytes(afp)}, kNoInfo, &untouched));
  EXPECT_EQ(XattrPlanKind::kRemove, untouched.resourceForkXattr.kind);
  const std::vector<UInt8> shortRaw(31, 1);
  EXPECT_EQ(ForkFormatError::kBadLength,
            PlanWriteFinderInfoEverywhere({.finderInfoXattr = Bytes(shortRaw)}, kOtherInfo, &untouched));
}

}  // namespace
}  // namespace tv::forks
