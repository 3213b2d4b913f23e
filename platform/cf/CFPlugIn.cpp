// Live plug-in instance counts per factory, keyed by the factory UUID's bytes.
#include "platform/cf/CFInternal.h"
#include "platform/cf/CFUUIDText.h"
#include "platform/HostServices.h"

namespace {

std::map<tv::cf::UUIDBytes, CFIndex> &InstanceCounts() {
  static auto *counts = new std::map<tv::cf::UUIDBytes, CFIndex>;
  return *counts;
}

}  // namespace

void CFPlugInAddInstanceForFactory(CFUUIDRef factoryID) {
  if (!tv::cf::As<__CFUUID>(factoryID, tv::cf::kUUIDTypeID)) return;
  ++InstanceCounts()[tv::cf::BytesOf(factoryID)];
}

void CFPlugInRemoveInstanceForFactory(CFUUIDRef factoryID) {
  if (!tv::cf::As<__CFUUID>(factoryID, tv::cf::kUUIDTypeID)) return;
  auto it = InstanceCounts().find(tv::cf::BytesOf(factoryID));
  if (it == InstanceCounts().end()) return;
  if (it->second > 1) --it->second;
  else InstanceCounts().erase(it);  // never below 0
}

CFIndex TVPlugInGetInstanceCount(CFUUIDRef factoryID) {
  if (!tv::cf::As<__CFUUID>(factoryID, tv::cf::kUUIDTypeID)) return 0;
  auto it = InstanceCounts().find(tv::cf::BytesOf(factoryID));
  return it == InstanceCounts().end() ? 0 : it->second;
}
