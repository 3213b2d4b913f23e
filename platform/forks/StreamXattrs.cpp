#include "platform/forks/StreamXattrs.h"

#include <algorithm>

namespace tv::forks {

ForkFormatError ParseFinderInfoXattr(Bytes value, FinderInfoBytes *out) {
  if (value.size() != kFinderInfoSize) return ForkFormatError::kBadLength;
  *out = FinderInfoFrom(value);
  return ForkFormatError::kNone;
}

XattrPlan PlanFinderInfoXattr(bool exists, Bytes current, const FinderInfoBytes &info) {
  XattrPlan plan;
  if (IsAllZero(info)) {
    if (exists) plan.kind = XattrPlanKind::kRemove;
  } else if (!exists || !std::equal(current.begin(), current.end(), info.begin(), info.end())) {
    plan.kind = XattrPlanKind::kSet;
    plan.value.assign(info.begin(), info.end());
  }
  return plan;
}

ForkFormatError ParseAfpInfo(Bytes value, FinderInfoBytes *out) {
  const bool plain = value.size() == kAfpInfoSize;
  const bool trailingZero = value.size() == kAfpInfoSize + 1 && value.back() == 0;
  if (!plain && !trailingZero) return ForkFormatError::kBadLength;
  if (GetBE32(value, 0) != kAfpInfoMagic) return ForkFormatError::kAfpInfoBadMagic;
  if (GetBE32(value, 4) != kAfpInfoVersion) return ForkFormatError::kAfpInfoBadVersion;
  *out = FinderInfoFrom(value.subspan(kAfpInfoFinderInfoOffset));
  return ForkFormatError::kNone;
}

ForkFormatError PlanAfpInfoSetFinderInfo(Bytes value, const FinderInfoBytes &info, XattrPlan *out) {
  FinderInfoBytes current;
  ForkFormatError error = ParseAfpInfo(value, &current);
  if (error != ForkFormatError::kNone) return error;
  XattrPlan plan;
  if (current == info) {
    // Unchanged: nothing to do.
  } else if (IsAllZero(info)) {
    plan.kind = XattrPlanKind::kRemove;
  } else {
    plan.kind = XattrPlanKind::kSet;
    plan.value.assign(value.begin(), value.end());
    std::copy(info.begin(), info.end(), plan.value.begin() + kAfpInfoFinderInfoOffset);
  }
  *out = std::move(plan);
  return ForkFormatError::kNone;
}

ForkFormatError ParseNetatalkMetadata(Bytes value, AppleDoubleView *out) {
  AppleDoubleView view;
  ForkFormatError error = ParseSidecar(value, &view);
  if (error == ForkFormatError::kNone && !view.finderInfoEntry())
    error = ForkFormatError::kNoFinderInfo;
  if (error == ForkFormatError::kNone) *out = std::move(view);
  return error;
}

ForkFormatError PlanNetatalkSetFinderInfo(Bytes value, const FinderInfoBytes &info, XattrPlan *out) {
  AppleDoubleView view;
  ForkFormatError error = ParseNetatalkMetadata(value, &view);
  if (error != ForkFormatError::kNone) return error;
  XattrPlan plan;
  if (view.finderInfo() != info) {
    plan.kind = XattrPlanKind::kSet;
    plan.value.assign(value.begin(), value.end());
    std::copy(info.begin(), info.end(), plan.value.begin() + view.finderInfoEntry()->offset);
  }
  *out = std::move(plan);
  return ForkFormatError::kNone;
}

UInt64 AfpResourceForkSize(Bytes value) { return value.empty() ? 0 : value.size() - 1; }

Bytes AfpResourceFork(Bytes value) { return value.first(size_t(AfpResourceForkSize(value))); }

std::vector<UInt8> EmptyAfpResourceValue() { return {0}; }

XattrPlan PlanAfpResourceEmpty(Bytes value) {
  XattrPlan plan;
  if (AfpResourceForkSize(value) != 0) {
    plan.kind = XattrPlanKind::kSet;
    plan.value = EmptyAfpResourceValue();
  }
  return plan;
}

}  // namespace tv::forks
