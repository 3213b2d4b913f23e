// libFuzzer target: every parser and every planner of the fork formats on
// arbitrary bytes. A planner must never fail its own check, and what it plans
// must parse again, keep everything it was not asked to change, stay inside
// the input when done in place, and leave nothing more to do when run again.
#include "platform/FuzzCheck.h"
#include "platform/forks/AppleDouble.h"
#include "tests/support/Sidecars.h"
#include "platform/forks/StoreDecisions.h"
#include "platform/forks/SidecarPlan.h"
#include "platform/forks/StreamXattrs.h"

namespace tv::forks {
namespace {

// Reads every byte a view hands out, so that the sanitizers see a view that
// points outside the input.
unsigned TouchView(const AppleDoubleView &view) {
  unsigned sum = 0;
  for (const AppleDoubleEntry &entry : view.entries)
    for (UInt8 b : view.data(entry)) sum += b;
  if (view.attr)
    for (const PackedAttribute &attribute : view.attr->attributes) {
      for (char c : attribute.name) sum += UInt8(c);
      for (UInt8 b : attribute.value) sum += b;
    }
  for (UInt8 b : view.filler()) sum += b;
  return sum;
}

void CheckPlan(Bytes input, const SidecarPlan &plan, UInt32 changedId, const FinderInfoBytes *info) {
  AppleDoubleView before;
  FUZZ_CHECK(ParseAppleDouble(input, &before) == ForkFormatError::kNone);
  SidecarContent left = GetSidecarContent(before);
  if (changedId == kEntryResourceFork) left.resourceFork = false;
  if (info) left.finderInfo = !IsAllZero(*info);

  std::vector<UInt8> result;
  switch (plan.kind) {
    case SidecarPlanKind::kNothing:
      return;
    case SidecarPlanKind::kRemove:
      FUZZ_CHECK(!left.any());
      return;
    case SidecarPlanKind::kInPlace: {
      FUZZ_CHECK(plan.patchOffset + plan.patch.size() <= input.size());
      FUZZ_CHECK(plan.truncateTo <= input.size());
      SidecarPlan patchOnly = plan;
      patchOnly.truncateTo = input.size();
      std::vector<UInt8> patched = ApplySidecarPlan(input, patchOnly);
      AppleDoubleView midway;
      FUZZ_CHECK(ParseAppleDouble(patched, &midway) == ForkFormatError::kNone);
      result = ApplySidecarPlan(input, plan);
      break;
    }
    case SidecarPlanKind::kRewrite:
      result = plan.content;
      break;
  }
  FUZZ_CHECK(left.any());
  AppleDoubleView after;
  FUZZ_CHECK(ParseAppleDouble(result, &after) == ForkFormatError::kNone);
  TouchView(after);
  FUZZ_CHECK(tv::test::CompareKeptMetadata(before, after, changedId).empty());

  SidecarPlan again;
  if (changedId == kEntryResourceFork) {
    FUZZ_CHECK(after.resourceFork().empty());
    FUZZ_CHECK(PlanSidecarEmptyResourceFork(result, &again) == ForkFormatError::kNone);
  } else {
    FUZZ_CHECK(after.finderInfo() == *info);
    FUZZ_CHECK(PlanSidecarSetFinderInfo(result, *info, &again) == ForkFormatError::kNone);
  }
  FUZZ_CHECK(again.kind == SidecarPlanKind::kNothing);
}

void FuzzSidecar(Bytes input) {
  AppleDoubleView view;
  const ForkFormatError parsed = ParseAppleDouble(input, &view);
  const bool sidecar = parsed == ForkFormatError::kNone && view.format == AppleDoubleFormat::kAppleDouble;
  if (parsed == ForkFormatError::kNone) {
    TouchView(view);
    GetSidecarContent(view);
  }

  SidecarPlan plan;
  ForkFormatError error = PlanSidecarEmptyResourceFork(input, &plan);
  FUZZ_CHECK(error != ForkFormatError::kInternal);
  FUZZ_CHECK((error == ForkFormatError::kNone) == sidecar);
  if (error == ForkFormatError::kNone) CheckPlan(input, plan, kEntryResourceFork, nullptr);

  // Clear everything, set a value, and clear one flag of the current value.
  FinderInfoBytes values[3] = {};
  values[1] = tv::test::MakeFinderInfo(FOUR_CHAR_CODE("TEXT"), FOUR_CHAR_CODE("ttxt"), 0x4400);
  values[2] = parsed == ForkFormatError::kNone ? view.finderInfo() : values[1];
  ClearFinderFlags(values[2], kFinderFlagHasCustomIcon);
  for (const FinderInfoBytes &info : values) {
    SidecarPlan set;
    error = PlanSidecarSetFinderInfo(input, info, &set);
    FUZZ_CHECK(error != ForkFormatError::kInternal);
    if (error == ForkFormatError::kTooManyEntries) continue;
    FUZZ_CHECK((error == ForkFormatError::kNone) == sidecar);
    if (error == ForkFormatError::kNone) CheckPlan(input, set, kEntryFinderInfo, &info);
  }
}

void FuzzXattrs(Bytes input) {
  const FinderInfoBytes info = tv::test::MakeFinderInfo(FOUR_CHAR_CODE("APPL"), FOUR_CHAR_CODE("????"), 0x2000);
  const FinderInfoBytes zero{};

  FinderInfoBytes current;
  ParseFinderInfoXattr(input, &current);
  PlanFinderInfoXattr(true, input, info);

  for (const FinderInfoBytes &value : {info, zero}) {
    XattrPlan plan;
    if (PlanAfpInfoSetFinderInfo(input, value, &plan) == ForkFormatError::kNone &&
        plan.kind == XattrPlanKind::kSet) {
      FUZZ_CHECK(plan.value.size() == input.size());
      FinderInfoBytes now;
      FUZZ_CHECK(ParseAfpInfo(plan.value, &now) == ForkFormatError::kNone && now == value);
    }
    if (PlanNetatalkSetFinderInfo(input, value, &plan) == ForkFormatError::kNone &&
        plan.kind == XattrPlanKind::kSet) {
      FUZZ_CHECK(plan.value.size() == input.size());
      AppleDoubleView after;
      FUZZ_CHECK(ParseNetatalkMetadata(plan.value, &after) == ForkFormatError::kNone);
      FUZZ_CHECK(after.finderInfo() == value);
    }
  }

  FUZZ_CHECK(AfpResourceFork(input).size() == AfpResourceForkSize(input));
  XattrPlan empty = PlanAfpResourceEmpty(input);
  FUZZ_CHECK(empty.kind == XattrPlanKind::kNothing || AfpResourceForkSize(empty.value) == 0);
  IsBlankResourceFork(input);
}

// The input in each store in turn, beside well-formed neighbours: reads and
// plans fail exactly when a store they need does not parse, and never fail
// their own checks.
void FuzzStores(Bytes input) {
  const FinderInfoBytes info = tv::test::MakeFinderInfo(FOUR_CHAR_CODE("TEXT"), FOUR_CHAR_CODE("ttxt"), 0x0400);
  const FinderInfoBytes cleared = tv::test::MakeFinderInfo(FOUR_CHAR_CODE("TEXT"), FOUR_CHAR_CODE("ttxt"), 0);
  const std::vector<UInt8> netatalk = tv::test::BuildNetatalkMetadata(info);
  const std::vector<UInt8> sidecar = tv::test::BuildSambaSidecar(info, tv::test::MakeResourceFork(5));
  ForkStoreSnapshot variants[6];
  variants[0] = {.sidecar = input, .netatalkMetadata = Bytes(netatalk)};
  variants[1] = {.sidecar = Bytes(sidecar), .finderInfoXattr = input};
  variants[2] = {.sidecar = Bytes(sidecar), .resourceForkXattr = input};
  variants[3] = {.sidecar = Bytes(sidecar), .afpInfo = input, .netatalkMetadata = Bytes(netatalk)};
  variants[4] = {.sidecar = Bytes(sidecar), .netatalkMetadata = input};
  variants[5] = {.afpResource = input};
  for (const ForkStoreSnapshot &stores : variants) {
    Bytes fork;
    ForkStore where;
    ReadResourceFork(stores, &fork, &where);
    FinderInfoBytes now;
    ForkFormatError read = ReadFinderInfo(stores, &now, &where);
    ForkStorePlan plan;
    FUZZ_CHECK(PlanEmptyResourceForkEverywhere(stores, &plan) != ForkFormatError::kInternal);
    for (const FinderInfoBytes &value : {info, cleared, FinderInfoBytes{}}) {
      ForkFormatError error = PlanWriteFinderInfoEverywhere(stores, value, &plan);
      FUZZ_CHECK(error != ForkFormatError::kInternal);
      // What can be written can be read.
      if (error == ForkFormatError::kNone) FUZZ_CHECK(read == ForkFormatError::kNone);
    }
  }
}

}  // namespace
}  // namespace tv::forks

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  tv::forks::Bytes input(data, size);
  tv::forks::FuzzSidecar(input);
  tv::forks::FuzzXattrs(input);
  tv::forks::FuzzStores(input);
  return 0;
}
