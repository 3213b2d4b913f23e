// Live plug-in instance counts per factory, keyed by the factory UUID's bytes.
#include "platform/cf/CFInternal.h"
#include "platform/cf/CFUUIDText.h"
#include "platform/HostServices.h"

namespace {

std::map<tvcf::UUIDBytes, CFIndex> &InstanceCounts() {
  static auto *counts = new std::map<tvcf::UUIDBytes, CFIndex>;
  return *counts;
}

}  // namespace

void CFPlugInAddInstanceForFactory(CFUUIDRef factoryID) {
  if (!tvcf::As<__CFUUID>(factoryID, tvcf::kUUIDTypeID)) return;
  ++InstanceCounts()[tvcf::BytesOf(factoryID)];
}

void CFPlugInRemoveInstanceForFactory(CFUUIDRef factoryID) {
  if (!tvcf::As<__CFUUID>(factoryID, tvcf::kUUIDTypeID)) return;
  auto it = InstanceCounts().find(tvcf::BytesOf(factoryID));
  if (it == InstanceCounts().end()) return;
  if (it->second > 1) --it->second;
  else InstanceCounts().erase(it);  // never below 0
}

CFIndex TVPlugInGetInstanceCount(CFUUIDRef factoryID) {
  if (!tvcf::As<__CFUUID>(factoryID, tvcf::kUUIDTypeID)) return 0;
  auto it = InstanceCounts().find(tvcf::BytesOf(factoryID));
  return it == InstanceCounts().end() ? 0 : it->second;
}
