#include "platform/forks/SidecarPlan.h"

#include <gtest/gtest.h>

#include "tests/support/ForksFixture.h"

namespace tv::forks {
namespace {

using namespace tv::test;

const FinderInfoBytes kInfo = MakeFinderInfo(FOUR_CHAR_CODE("APPL"), FOUR_CHAR_CODE("ttxt"), kFinderFlagHasCustomIcon);
const FinderInfoBytes kNoInfo{};

SidecarPlan PlanEmptyFork(const std::vector<UInt8> &file) {
  SidecarPlan plan;
  EXPECT_EQ(ForkFormatError::kNone, PlanSidecarEmptyResourceFork(file, &plan));
  return plan;
}

SidecarPlan PlanSetInfo(const std::vector<UInt8> &file, const FinderInfoBytes &info) {
  SidecarPlan plan;
  EXPECT_EQ(ForkFormatError::kNone, PlanSidecarSetFinderInfo(file, info, &plan));
  return plan;
}

// Carries out an in-place plan in its two steps and checks that the file
// parses after each, as it must at every instant on disk.
std::vector<UInt8> ApplyInPlaceStepByStep(const std::vector<UInt8> &file, const SidecarPlan &plan) {
  EXPECT_EQ(SidecarPlanKind::kInPlace, plan.kind);
  EXPECT_LE(plan.patchOffset + plan.patch.size(), file.size());
  EXPECT_LE(plan.truncateTo, file.size());
  SidecarPlan patchOnly = plan;
  patchOnly.truncateTo = file.size();
  std::vector<UInt8> patched = ApplySidecarPlan(file, patchOnly);
  EXPECT_EQ(ForkFormatError::kNone, ParseError(patched));
  std::vector<UInt8> result = ApplySidecarPlan(file, plan);
  EXPECT_EQ(ForkFormatError::kNone, ParseError(result));
  return result;
}

// Zaps the fork of `file`, which must be an in-place plan, and checks the
// result: an empty fork and everything else as it was.
void ExpectInPlaceZap(const std::vector<UInt8> &file) {
  const AppleDoubleView before = MustParse(file);
  SidecarPlan plan = PlanEmptyFork(file);
  ASSERT_EQ(SidecarPlanKind::kInPlace, plan.kind);
  EXPECT_EQ(before.resourceForkEntry()->descriptorOffset + 8, plan.patchOffset);
  EXPECT_EQ(before.resourceForkEntry()->offset, plan.truncateTo);
  std::vector<UInt8> result = ApplyInPlaceStepByStep(file, plan);
  const AppleDoubleView after = MustParse(result);
  EXPECT_EQ(0u, after.resourceForkEntry()->length);
  EXPECT_EQ("", CompareKeptMetadata(before, after, kEntryResourceFork));
  // Nothing but the length field changes before the cut.
  std::vector<UInt8> expected(file.begin(), file.begin() + ptrdiff_t(plan.truncateTo));
  PutBE32(expected, size_t(plan.patchOffset), 0);
  EXPECT_EQ(expected, result);
}

TEST(SidecarPlanTest, EmptiesBlankKernelForkInPlaceAndKeepsQuarantine) {
  std::vector<UInt8> file = BuildMacOSKernelSidecar(kNoInfo, TypicalAttributes());
  ExpectInPlaceZap(file);
  std::vector<UInt8> result = ApplySidecarPlan(file, PlanEmptyFork(file));
  EXPECT_EQ(0xEE2u, result.size());
  AppleDoubleView after = MustParse(result);
  ASSERT_TRUE(after.attr.has_value());
  EXPECT_EQ("com.apple.quarantine", after.attr->attributes[0].name);
}

TEST(SidecarPlanTest, EmptiesForkInPlaceInEveryToolsLayout) {
  std::vector<UInt8> fork = MakeResourceFork(500);
  ExpectInPlaceZap(BuildMacOSKernelSidecar(kInfo, {}, fork));
  ExpectInPlaceZap(BuildCopyfileSidecar(kInfo, TypicalAttributes(), fork));
  ExpectInPlaceZap(BuildOldCopyfileSidecar(kInfo, fork));
  ExpectInPlaceZap(BuildSambaSidecar(kInfo, fork));  // descriptor order 2, 9
  ExpectInPlaceZap(BuildUnarchiverSidecar(kInfo, fork));
  ExpectInPlaceZap(BuildUnarchiverSidecar(kNoInfo, fork, TypicalAttributes()));
}

TEST(SidecarPlanTest, RemovesSidecarThatHoldsNothingOnceTheForkIsGone) {
  std::vector<UInt8> fork = MakeResourceFork(20);
  EXPECT_EQ(SidecarPlanKind::kRemove, PlanEmptyFork(BuildMacOSKernelSidecar(kNoInfo)).kind);
  EXPECT_EQ(SidecarPlanKind::kRemove, PlanEmptyFork(BuildSambaSidecar(kNoInfo, fork)).kind);
  EXPECT_EQ(SidecarPlanKind::kRemove, PlanEmptyFork(BuildCopyfileSidecar(kNoInfo, {}, fork)).kind);
  EXPECT_EQ(SidecarPlanKind::kRemove, PlanEmptyFork(BuildForkFirstSidecar(kNoInfo, fork)).kind);
  // Anything left keeps it: FinderInfo, a packed attribute, a comment.
  EXPECT_NE(SidecarPlanKind::kRemove, PlanEmptyFork(BuildSambaSidecar(kInfo, fork)).kind);
  EXPECT_NE(SidecarPlanKind::kRemove,
            PlanEmptyFork(BuildCopyfileSidecar(kNoInfo, {{"com.apple.quarantine", BytesOf("q")}}, fork)).kind);
  std::vector<UInt8> commented = BuildAppleDouble(
      kZeroFiller, {{kEntryFinderInfo, std::vector<UInt8>(32)}, {kEntryComment, BytesOf("note")}, {kEntryResourceFork, fork}});
  EXPECT_EQ(SidecarPlanKind::kInPlace, PlanEmptyFork(commented).kind);
}

TEST(SidecarPlanTest, LeavesAbsentOrEmptyForkAlone) {
  EXPECT_EQ(SidecarPlanKind::kNothing, PlanEmptyFork(BuildSambaSidecar(kNoInfo)).kind);
  EXPECT_EQ(SidecarPlanKind::kNothing, PlanEmptyFork(BuildCopyfileSidecar(kInfo)).kind);
  std::vector<UInt8> noFork = BuildAppleDouble(kZeroFiller, {{kEntryFinderInfo, {kInfo.begin(), kInfo.end()}}});
  EXPECT_EQ(SidecarPlanKind::kNothing, PlanEmptyFork(noFork).kind);
}

TEST(SidecarPlanTest, RewritesWhenEntry9FollowsTheForkAndFixesAttrOffsets) {
  // Also with the ATTR block beyond the first 64 KiB of the file.
  for (size_t forkSize : {333, 70000}) {
    SCOPED_TRACE(forkSize);
    std::vector<UInt8> fork = MakeResourceFork(forkSize);
    std::vector<UInt8> file = BuildForkFirstSidecar(kInfo, fork, TypicalAttributes());
    const AppleDoubleView before = MustParse(file);
    SidecarPlan plan = PlanEmptyFork(file);
    ASSERT_EQ(SidecarPlanKind::kRewrite, plan.kind);
    ASSERT_EQ(file.size() - fork.size(), plan.content.size());
    const AppleDoubleView after = MustParse(plan.content);
    EXPECT_EQ("", CompareKeptMetadata(before, after, kEntryResourceFork));
    // Entry 9 moved down to where the fork was; the empty fork is at the end.
    EXPECT_EQ(0x32u, after.finderInfoEntry()->offset);
    EXPECT_EQ(0u, after.resourceForkEntry()->length);
    EXPECT_EQ(plan.content.size(), after.resourceForkEntry()->offset);
    ASSERT_TRUE(after.attr.has_value());
    EXPECT_EQ(before.attr->totalSize - fork.size(), after.attr->totalSize);
    EXPECT_EQ(before.attr->dataStart - fork.size(), after.attr->dataStart);
    // The same sidecar built directly in the moved layout, byte for byte.
    std::vector<UInt8> expected = BuildAppleDouble(
        kZeroFiller, {{kEntryResourceFork, {}}, {kEntryFinderInfo, BuildFinderInfoWithAttr(kInfo, TypicalAttributes(), 0x32)}},
        {1, 0});
    EXPECT_EQ(expected, plan.content);
  }
}

TEST(SidecarPlanTest, RewritesWhenAnEmptyEntryLiesBeyondTheFork) {
  // A cut at the fork would leave the empty comment entry outside the file.
  std::vector<UInt8> fork = MakeResourceFork(64);
  std::vector<UInt8> file = BuildAppleDouble(
      kZeroFiller, {{kEntryFinderInfo, {kInfo.begin(), kInfo.end()}}, {kEntryResourceFork, fork}, {kEntryComment, {}}});
  SidecarPlan plan = PlanEmptyFork(file);
  ASSERT_EQ(SidecarPlanKind::kRewrite, plan.kind);
  const AppleDoubleView after = MustParse(plan.content);
  EXPECT_EQ("", CompareKeptMetadata(MustParse(file), after, kEntryResourceFork));
  EXPECT_EQ(file.size() - fork.size(), plan.content.size());
}

TEST(SidecarPlanTest, RewriteKeepsEntriesBeforeAndAfterTheFork) {
  std::vector<UInt8> fork = MakeResourceFork(100);
  std::vector<UInt8> file = BuildAppleDouble(kNetatalkFiller, {{kEntryComment, BytesOf("before")},
                                                                {kEntryResourceFork, fork},
                                                                {kEntryFinderInfo, {kInfo.begin(), kInfo.end()}},
                                                                {kEntryFileDates, std::vector<UInt8>(16, 0x80)}});
  SidecarPlan plan = PlanEmptyFork(file);
  ASSERT_EQ(SidecarPlanKind::kRewrite, plan.kind);
  EXPECT_EQ("", CompareKeptMetadata(MustParse(file), MustParse(plan.content), kEntryResourceFork));
}

TEST(SidecarPlanTest, RefusesToPlanForWhatDoesNotParse) {
  std::vector<UInt8> file = BuildSambaSidecar(kInfo, MakeResourceFork(10));
  PutBE32(file, 34, 200);  // fork runs past the end
  SidecarPlan untouched;
  untouched.truncateTo = 12345;
  EXPECT_EQ(ForkFormatError::kEntryOutsideFile, PlanSidecarEmptyResourceFork(file, &untouched));
  EXPECT_EQ(ForkFormatError::kEntryOutsideFile, PlanSidecarSetFinderInfo(file, kNoInfo, &untouched));
  EXPECT_EQ(12345u, untouched.truncateTo);

  std::vector<UInt8> single = BuildAppleDouble(kZeroFiller, {{kEntryDataFork, BytesOf("d")}, {kEntryResourceFork, BytesOf("r")}},
                                               {}, kAppleSingleMagic);
  EXPECT_EQ(ForkFormatError::kAppleSingle, PlanSidecarEmptyResourceFork(single, &untouched));

  std::vector<UInt8> badAttr = BuildCopyfileSidecar(kInfo, TypicalAttributes(), MakeResourceFork(4));
  PutBE16(badAttr, 0x54 + 34, 3);  // one attribute more than there are entries for
  EXPECT_NE(ForkFormatError::kNone, PlanSidecarEmptyResourceFork(badAttr, &untouched));
  EXPECT_EQ(12345u, untouched.truncateTo);
}

TEST(SidecarPlanTest, SetsFinderInfoInPlaceKeepingEverythingElse) {
  const FinderInfoBytes newInfo = MakeFinderInfo(FOUR_CHAR_CODE("TEXT"), FOUR_CHAR_CODE("R*ch"), 0x0100);
  for (const std::vector<UInt8> &file :
       {BuildMacOSKernelSidecar(kInfo, TypicalAttributes()), BuildSambaSidecar(kInfo, MakeResourceFork(9)),
        BuildForkFirstSidecar(kInfo, MakeResourceFork(9), TypicalAttributes())}) {
    const AppleDoubleView before = MustParse(file);
    SidecarPlan plan = PlanSetInfo(file, newInfo);
    ASSERT_EQ(SidecarPlanKind::kInPlace, plan.kind);
    EXPECT_EQ(before.finderInfoEntry()->offset, plan.patchOffset);
    EXPECT_EQ(file.size(), plan.truncateTo);
    std::vector<UInt8> result = ApplyInPlaceStepByStep(file, plan);
    const AppleDoubleView after = MustParse(result);
    EXPECT_EQ(newInfo, after.finderInfo());
    EXPECT_EQ("", CompareKeptMetadata(before, after, kEntryFinderInfo));
    EXPECT_EQ(SidecarPlanKind::kNothing, PlanSetInfo(result, newInfo).kind);
  }
}

TEST(SidecarPlanTest, ClearingFinderInfoRemovesSidecarOnlyWhenNothingElseIsLeft) {
  // The blank fork is not content; a real fork or an attribute is.
  EXPECT_EQ(SidecarPlanKind::kRemove, PlanSetInfo(BuildMacOSKernelSidecar(kInfo), kNoInfo).kind);
  EXPECT_EQ(SidecarPlanKind::kRemove, PlanSetInfo(BuildSambaSidecar(kInfo), kNoInfo).kind);
  EXPECT_EQ(SidecarPlanKind::kInPlace,
            PlanSetInfo(BuildMacOSKernelSidecar(kInfo, TypicalAttributes()), kNoInfo).kind);
  EXPECT_EQ(SidecarPlanKind::kInPlace, PlanSetInfo(BuildSambaSidecar(kInfo, MakeResourceFork(3)), kNoInfo).kind);
  // Already zero: nothing to do, even though the sidecar holds nothing.
  EXPECT_EQ(SidecarPlanKind::kNothing, PlanSetInfo(BuildSambaSidecar(kNoInfo), kNoInfo).kind);
}

TEST(SidecarPlanTest, AddsFinderInfoEntryWhenThereIsNone) {
  std::vector<UInt8> fork = MakeResourceFork(50);
  std::vector<UInt8> file = BuildAppleDouble(kNetatalkFiller, {{kEntryResourceFork, fork}});
  EXPECT_EQ(SidecarPlanKind::kNothing, PlanSetInfo(file, kNoInfo).kind);
  SidecarPlan plan = PlanSetInfo(file, kInfo);
  ASSERT_EQ(SidecarPlanKind::kRewrite, plan.kind);
  const AppleDoubleView after = MustParse(plan.content);
  ASSERT_EQ(2u, after.entries.size());
  EXPECT_EQ(kEntryFinderInfo, after.entries[0].id);
  EXPECT_EQ(kInfo, after.finderInfo());
  EXPECT_EQ("", CompareKeptMetadata(MustParse(file), after, kEntryFinderInfo));
  // The fork still ends the file, so a later zap is in place.
  EXPECT_EQ(SidecarPlanKind::kInPlace, PlanEmptyFork(plan.content).kind);

  std::vector<Entry> full;
  for (UInt32 i = 0; i < 15; ++i) full.push_back({100 + i, {}});
  SidecarPlan untouched;
  EXPECT_EQ(ForkFormatError::kTooManyEntries,
            PlanSidecarSetFinderInfo(BuildAppleDouble(kZeroFiller, full), kInfo, &untouched));
}

TEST(SidecarPlanTest, NewSidecarIsTheCopyfileLayout) {
  std::vector<UInt8> made = BuildSidecarWithFinderInfo(kInfo);
  EXPECT_EQ(120u, made.size());
  EXPECT_EQ(BuildCopyfileSidecar(kInfo), made);
  const AppleDoubleView view = MustParse(made);
  EXPECT_EQ(kInfo, view.finderInfo());
  ASSERT_TRUE(view.attr.has_value());
  EXPECT_TRUE(view.attr->attributes.empty());
  EXPECT_EQ(made.size(), view.resourceForkEntry()->offset);
  // Clearing it again removes it.
  EXPECT_EQ(SidecarPlanKind::kRemove, PlanSetInfo(made, kNoInfo).kind);
}

}  // namespace
}  // namespace tv::forks
