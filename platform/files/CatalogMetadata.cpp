// The catalog's two questions to the fork stores: what the resource fork's
// size and the FinderInfo are, and how FinderInfo is written.
#include "platform/files/CatalogMetadata.h"

#include <cstring>

#include "platform/files/StoreIO.h"

namespace tv::files {

using tv::forks::ForkFormatError;
using tv::forks::ForkStore;

OSStatus ForkStoreReadInfo(const ItemLocation &where, const struct stat &st, bool wantRsrc, UInt64 *rsrcSize,
                           bool wantFinderInfo, UInt8 finderInfo[32]) {
  if ((wantRsrc && !rsrcSize) || (wantFinderInfo && !finderInfo)) return paramErr;
  // Links, FIFOs, sockets and devices: empty forks, no FinderInfo, nothing
  // opened. Only a regular file has a resource fork.
  wantRsrc = wantRsrc && S_ISREG(st.st_mode);
  const bool hasStores = S_ISREG(st.st_mode) || S_ISDIR(st.st_mode);
  ItemStores stores;
  const XattrTarget target = XattrTargetOf(where);
  OSStatus result = noErr;
  if (hasStores && (wantRsrc || wantFinderInfo)) result = ReadXattrStores(where, st, target, &stores);

  // Most files hold no metadata at all: no attribute of ours, and no sidecar
  // beside them in the listing just made. Their fork is empty and their
  // FinderInfo all zero, with nothing more to read or parse.
  const bool bare = result == noErr && hasStores && stores.empty() && ListingShowedNoSidecar(where, st);
  // The sidecar comes first for the fork and last for FinderInfo: when only
  // FinderInfo is asked and an attribute holds it, the sidecar is not opened.
  bool needSidecar = hasStores && wantRsrc && !bare;
  tv::forks::FinderInfoBytes info{};
  ForkStore infoStore = ForkStore::kNone;
  if (result == noErr && hasStores && wantFinderInfo && !needSidecar && !bare) {
    if (tv::forks::ReadFinderInfo(stores.Snapshot(), &info, &infoStore) != ForkFormatError::kNone)
      result = kForkStoreDamagedErr;
    needSidecar = infoStore == ForkStore::kNone;
  }
  if (result == noErr && needSidecar) result = ReadSidecarStore(where, st, false, SidecarBytes::kSkipLargeFork, &stores);

  UInt64 size = 0;
  if (result == noErr && wantRsrc && !bare) {
    ResourceForkPlace place;
    result = LocateResourceFork(stores, &place);
    size = place.size;
  }
  if (result == noErr && wantFinderInfo && needSidecar &&
      tv::forks::ReadFinderInfo(stores.Snapshot(), &info, &infoStore) != ForkFormatError::kNone)
    result = kForkStoreDamagedErr;
  if (result == noErr) {
    if (wantRsrc) *rsrcSize = size;
    else if (rsrcSize) *rsrcSize = 0;
    if (wantFinderInfo) std::memcpy(finderInfo, info.data(), info.size());
  }
  return result;
}

OSStatus ForkStoreWriteFinderInfo(const ItemLocation &where, const ItemStat &item, const UInt8 finderInfo[32],
                                  unsigned halves) {
  if (!finderInfo || (halves & ~unsigned(kFinderInfoWhole)) || !halves) return paramErr;
  const struct stat &st = item.st;
  tv::forks::FinderInfoBytes info;
  std::memcpy(info.data(), finderInfo, info.size());
  const bool whole = halves == kFinderInfoWhole;
  const size_t kept = halves == kFinderInfoFirstHalf ? 16 : 0;  // where the half not given is
  // Linux keeps no user attributes on links and special files, and a
  // sidecar for one would name what the link points at on another system.
  // What they hold is all zero, the half that is kept too.
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
    if (!whole) std::memset(info.data() + kept, 0, 16);
    return tv::forks::IsAllZero(info) ? noErr : afpObjectTypeErr;
  }

  ItemStores stores;
  const XattrTarget target = XattrTargetOf(where);
  // Adding an entry 9 rewrites the sidecar with its fork: read it all.
  OSStatus result = ReadItemStores(where, st, target, true, SidecarBytes::kWhole, &stores);
  tv::forks::FinderInfoBytes now{};
  if (result == noErr && !whole &&
      tv::forks::ReadFinderInfo(stores.Snapshot(), &now, nullptr) != ForkFormatError::kNone)
    result = kForkStoreDamagedErr;
  if (result == noErr && !whole) std::memcpy(info.data() + kept, now.data() + kept, 16);
  tv::forks::ForkStorePlan plan;
  if (result == noErr &&
      tv::forks::PlanWriteFinderInfoEverywhere(stores.Snapshot(), info, &plan) != ForkFormatError::kNone)
    result = kForkStoreDamagedErr;
  if (result != noErr || plan.nothing()) return result;
  // A locked item, a read-only volume or an item the user may not write
  // keeps its FinderInfo in every store, the sidecar included.
  result = CheckItemWritable(where, item, -1);
  if (result == noErr) result = ApplyForkStorePlan(where, st, target, stores, plan, PlanOrder::kFinderInfo);
  return result;
}

}  // namespace tv::files
