#include "platform/forks/StoreDecisions.h"

namespace tv::forks {

namespace {

// The FinderInfo stores in priority order.
constexpr ForkStore kFinderInfoOrder[] = {ForkStore::kFinderInfoXattr, ForkStore::kAfpInfo,
                                          ForkStore::kNetatalkMetadata, ForkStore::kSidecar};

const std::optional<Bytes> &ValueOf(const ForkStoreSnapshot &stores, ForkStore store) {
  static const std::optional<Bytes> kAbsent;
  switch (store) {
    case ForkStore::kSidecar: return stores.sidecar;
    case ForkStore::kFinderInfoXattr: return stores.finderInfoXattr;
    case ForkStore::kResourceForkXattr: return stores.resourceForkXattr;
    case ForkStore::kAfpInfo: return stores.afpInfo;
    case ForkStore::kNetatalkMetadata: return stores.netatalkMetadata;
    case ForkStore::kAfpResource: return stores.afpResource;
    case ForkStore::kNone: break;
  }
  return kAbsent;
}

XattrPlan &XattrPlanOf(ForkStorePlan &plan, ForkStore store) {
  switch (store) {
    case ForkStore::kFinderInfoXattr: return plan.finderInfoXattr;
    case ForkStore::kResourceForkXattr: return plan.resourceForkXattr;
    case ForkStore::kAfpInfo: return plan.afpInfo;
    case ForkStore::kNetatalkMetadata: return plan.netatalkMetadata;
    default: return plan.afpResource;
  }
}

// The FinderInfo an existing store holds (zero when it holds none).
ForkFormatError StoreFinderInfo(ForkStore store, Bytes value, FinderInfoBytes *out) {
  AppleDoubleView view;
  ForkFormatError error = ForkFormatError::kNone;
  switch (store) {
    case ForkStore::kFinderInfoXattr:
      return ParseFinderInfoXattr(value, out);
    case ForkStore::kAfpInfo:
      return ParseAfpInfo(value, out);
    case ForkStore::kNetatalkMetadata:
      error = ParseNetatalkMetadata(value, &view);
      break;
    default:
      error = ParseSidecar(value, &view);
      break;
  }
  if (error == ForkFormatError::kNone) *out = view.finderInfo();
  return error;
}

}  // namespace

bool ForkStorePlan::nothing() const {
  return sidecar.kind == SidecarPlanKind::kNothing && finderInfoXattr.kind == XattrPlanKind::kNothing &&
         resourceForkXattr.kind == XattrPlanKind::kNothing && afpInfo.kind == XattrPlanKind::kNothing &&
         netatalkMetadata.kind == XattrPlanKind::kNothing && afpResource.kind == XattrPlanKind::kNothing;
}

ForkFormatError ReadResourceFork(const ForkStoreSnapshot &stores, Bytes *fork, ForkStore *store) {
  Bytes found;
  ForkStore where = ForkStore::kNone;
  if (stores.sidecar) {
    AppleDoubleView view;
    ForkFormatError error = ParseSidecar(*stores.sidecar, &view);
    if (error != ForkFormatError::kNone) return error;
    if (!view.resourceFork().empty()) {
      found = view.resourceFork();
      where = ForkStore::kSidecar;
    }
  }
  if (where == ForkStore::kNone && stores.resourceForkXattr && !stores.resourceForkXattr->empty()) {
    found = *stores.resourceForkXattr;
    where = ForkStore::kResourceForkXattr;
  }
  if (where == ForkStore::kNone && stores.afpResource && AfpResourceForkSize(*stores.afpResource) != 0) {
    found = AfpResourceFork(*stores.afpResource);
    where = ForkStore::kAfpResource;
  }
  *fork = found;
  if (store) *store = where;
  return ForkFormatError::kNone;
}

ForkFormatError ReadFinderInfo(const ForkStoreSnapshot &stores, FinderInfoBytes *info, ForkStore *store) {
  for (ForkStore candidate : kFinderInfoOrder) {
    const std::optional<Bytes> &value = ValueOf(stores, candidate);
    if (!value) continue;
    FinderInfoBytes held{};
    ForkFormatError error = StoreFinderInfo(candidate, *value, &held);
    if (error != ForkFormatError::kNone) return error;
    if (!IsAllZero(held)) {
      *info = held;
      if (store) *store = candidate;
      return ForkFormatError::kNone;
    }
  }
  *info = FinderInfoBytes{};
  if (store) *store = ForkStore::kNone;
  return ForkFormatError::kNone;
}

ForkFormatError PlanEmptyResourceForkEverywhere(const ForkStoreSnapshot &stores, ForkStorePlan *out) {
  ForkStorePlan plan;
  if (stores.sidecar) {
    ForkFormatError error = PlanSidecarEmptyResourceFork(*stores.sidecar, &plan.sidecar);
    if (error != ForkFormatError::kNone) return error;
  }
  // An empty fork in this attribute is no fork: the attribute goes.
  if (stores.resourceForkXattr && !stores.resourceForkXattr->empty())
    plan.resourceForkXattr.kind = XattrPlanKind::kRemove;
  if (stores.afpResource) plan.afpResource = PlanAfpResourceEmpty(*stores.afpResource);
  *out = std::move(plan);
  return ForkFormatError::kNone;
}

ForkFormatError PlanWriteFinderInfoEverywhere(const ForkStoreSnapshot &stores, const FinderInfoBytes &info,
                                              ForkStorePlan *out) {
  // Every store that is there must parse before anything is planned.
  FinderInfoBytes held[std::size(kFinderInfoOrder)] = {};
  ForkStore primary = ForkStore::kNone, firstExisting = ForkStore::kNone;
  FinderInfoBytes oldPrimary{};
  for (size_t i = 0; i < std::size(kFinderInfoOrder); ++i) {
    const std::optional<Bytes> &value = ValueOf(stores, kFinderInfoOrder[i]);
    if (!value) continue;
    ForkFormatError error = StoreFinderInfo(kFinderInfoOrder[i], *value, &held[i]);
    if (error != ForkFormatError::kNone) return error;
    if (firstExisting == ForkStore::kNone) firstExisting = kFinderInfoOrder[i];
    if (primary == ForkStore::kNone && !IsAllZero(held[i])) {
      primary = kFinderInfoOrder[i];
      oldPrimary = held[i];
    }
  }
  if (primary == ForkStore::kNone)
    primary = firstExisting != ForkStore::kNone ? firstExisting : ForkStore::kFinderInfoXattr;

  ForkStorePlan plan;
  for (size_t i = 0; i < std::size(kFinderInfoOrder); ++i) {
    const ForkStore store = kFinderInfoOrder[i];
    const std::optional<Bytes> &value = ValueOf(stores, store);
    if (store != primary && !value) continue;
    const FinderInfoBytes target =
        store == primary ? info : MergeFinderFlagsIntoSecondary(held[i], oldPrimary, info);
    if (store != primary && target == held[i]) continue;  // a copy the change does not touch
    ForkFormatError error = ForkFormatError::kNone;
    switch (store) {
      case ForkStore::kFinderInfoXattr:
        plan.finderInfoXattr = PlanFinderInfoXattr(value.has_value(), value.value_or(Bytes()), target);
        break;
      case ForkStore::kAfpInfo:
        error = PlanAfpInfoSetFinderInfo(*value, target, &XattrPlanOf(plan, store));
        break;
      case ForkStore::kNetatalkMetadata:
        error = PlanNetatalkSetFinderInfo(*value, target, &XattrPlanOf(plan, store));
        break;
      default:
        error = PlanSidecarSetFinderInfo(*value, target, &plan.sidecar);
        break;
    }
    if (error != ForkFormatError::kNone) return error;
  }
  *out = std::move(plan);
  return ForkFormatError::kNone;
}

namespace {

UInt64 Shrinks(UInt64 before, UInt64 after) { return before > after ? before - after : 0; }

UInt64 XattrFreed(const std::optional<Bytes> &before, const XattrPlan &plan) {
  if (!before) return 0;
  switch (plan.kind) {
    case XattrPlanKind::kNothing: return 0;
    case XattrPlanKind::kSet: return Shrinks(before->size(), plan.value.size());
    case XattrPlanKind::kRemove: return before->size();
  }
  return 0;
}

UInt64 SidecarFreed(const std::optional<Bytes> &before, const SidecarPlan &plan, bool shared) {
  if (!before || shared) return 0;
  switch (plan.kind) {
    case SidecarPlanKind::kNothing: return 0;
    case SidecarPlanKind::kInPlace: return Shrinks(before->size(), plan.truncateTo);
    case SidecarPlanKind::kRewrite: return Shrinks(before->size(), plan.content.size());
    case SidecarPlanKind::kRemove: return before->size();
  }
  return 0;
}

}  // namespace

UInt64 BytesFreedByPlan(const ForkStoreSnapshot &stores, const ForkStorePlan &plan, bool sidecarShared) {
  return SidecarFreed(stores.sidecar, plan.sidecar, sidecarShared) +
         XattrFreed(stores.finderInfoXattr, plan.finderInfoXattr) +
         XattrFreed(stores.resourceForkXattr, plan.resourceForkXattr) + XattrFreed(stores.afpInfo, plan.afpInfo) +
         XattrFreed(stores.netatalkMetadata, plan.netatalkMetadata) +
         XattrFreed(stores.afpResource, plan.afpResource);
}

}  // namespace tv::forks
