// FSOpenIterator, FSGetCatalogInfoBulk and FSCloseIterator: a flat listing
// read once, when the iterator is opened, and handed out in name order.
#include <algorithm>
#include <dirent.h>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_set>
#include <vector>

#include "platform/Files.h"
#include "platform/files/Catalog.h"
#include "platform/files/CatalogConvert.h"
#include "platform/files/Errors.h"
#include "platform/files/Listing.h"
#include "platform/files/PathNodes.h"
#include "platform/files/Refs.h"

struct OpaqueFSIterator {
  uint32_t folderNode = 0;
  std::vector<tv::files::FolderEntry> entries;
  size_t next = 0;
};

namespace {

// The iterators that are open, so that a stale or made-up one is refused
// with errFSBadIteratorRef instead of being used.
struct LiveIterators {
  std::mutex mutex;
  std::unordered_set<FSIterator> open;
};
LiveIterators &Live() {
  static LiveIterators *live = new LiveIterators();
  return *live;
}
bool IsOpen(FSIterator it) {
  std::lock_guard<std::mutex> lock(Live().mutex);
  return Live().open.count(it) != 0;
}

// The kind a listing's DT_* value tells.
TVListedKind ListedKindOf(uint8_t type) {
  switch (type) {
    case DT_UNKNOWN:
      return kTVListedKindUnknown;
    case DT_DIR:
      return kTVListedKindFolder;
    case DT_REG:
      return kTVListedKindFile;
    default:
      return kTVListedKindOther;
  }
}

}  // namespace

using namespace tv::files;

TVListedKind TVGetListedKind(const FSRef *ref) {
  RefFields fields;
  if (DecodeRef(ref, &fields) != noErr) return kTVListedKindUnknown;
  return fields.listedKind;
}

// A non-folder gives dirNFErr, as ENOTDIR does everywhere else; only flat
// iteration exists.
OSErr FSOpenIterator(const FSRef *container, FSIteratorFlags iteratorFlags, FSIterator *iterator) {
  TVClearFailureCause();
  return OSErr(MemFullOnThrow([&]() -> OSStatus {
    if (!container || !iterator) return paramErr;
    if (iteratorFlags != kFSIterateFlat) return errFSBadIteratorFlags;
    // No look at the path first: the folder is opened (O_DIRECTORY refuses
    // anything else with dirNFErr) and checked to be the ref's item once open.
    RefFields fields;
    OSStatus result = DecodeRef(container, &fields);
    ItemLocation where;
    if (result == noErr) result = LocateNode(fields.node, &where, FromListing(fields));
    ItemStat st;
    st.st.st_dev = dev_t(fields.device);
    st.st.st_ino = ino_t(fields.inode);
    st.st.st_mode = S_IFDIR;
    std::vector<FolderEntry> entries;
    if (result == noErr) result = ListFolderRemovingLeftovers(where, st, &entries);
    if (result == noErr) {
      auto it = std::make_unique<OpaqueFSIterator>();
      it->folderNode = where.node;
      it->entries = std::move(entries);
      {
        std::lock_guard<std::mutex> lock(Live().mutex);
        Live().open.insert(it.get());
      }
      *iterator = it.release();
    }
    return result;
  }));
}

OSErr FSCloseIterator(FSIterator iterator) {
  if (!iterator) return paramErr;
  {
    std::lock_guard<std::mutex> lock(Live().mutex);
    if (!Live().open.erase(iterator)) return errFSBadIteratorRef;
  }
  delete iterator;
  return noErr;
}

// Up to maximumObjects entries from where the last call stopped. With
// catalogInfos, an entry that went away since the listing was read is left
// out of the batch rather than failing it.
OSErr FSGetCatalogInfoBulk(FSIterator iterator, ItemCount maximumObjects, ItemCount *actualObjects,
                           Boolean *containerChanged, FSCatalogInfoBitmap whichInfo,
                           FSCatalogInfo *catalogInfos, FSRef *refs, FSSpecPtr specs, HFSUniStr255 *names) {
  if (!iterator || !actualObjects || specs) return paramErr;
  if (!IsOpen(iterator)) return errFSBadIteratorRef;
  if (maximumObjects == 0) return errFSBadItemCount;
  if (containerChanged) *containerChanged = false;
  OSStatus result = noErr;
  ItemCount count = 0;
  PathNodeTable &nodes = PathNodes();
  try {
    // The names of a batch are interned together, a group at a time.
    constexpr size_t kGroup = 64;
    PathNodeTable::ListedName listed[kGroup];
    uint32_t groupNodes[kGroup];
    bool stopped = false;
    while (!stopped && count < maximumObjects && iterator->next < iterator->entries.size()) {
      const size_t first = iterator->next;
      const size_t take = std::min({kGroup, size_t(maximumObjects - count), iterator->entries.size() - first});
      for (size_t j = 0; j < take; j++) {
        const FolderEntry &e = iterator->entries[first + j];
        listed[j] = {e.name,
                     uint8_t(PathNodeTable::kHintListed | (e.hasSidecar ? PathNodeTable::kHintSidecar : 0) |
                             (e.onFolderVolume ? PathNodeTable::kHintOnFolderVolume : 0)),
                     e.sidecarName};
      }
      nodes.InternListed(iterator->folderNode, listed, take, groupNodes);
      for (size_t j = 0; j < take && !stopped; j++) {
        const FolderEntry &e = iterator->entries[first + j];
        iterator->next = first + j + 1;
        const uint32_t node = groupNodes[j];
        if (node == PathNodeTable::kNone) continue;  // not a name a path can hold
        FSRef ref = EncodeRef(RefFields{e.device, e.inode, node, ListedKindOf(e.type)});
        if (catalogInfos && whichInfo != kFSCatInfoNone) {
          ItemLocation where;
          ItemStat st;
          OSStatus r = ResolveRef(&ref, &where, &st);
          if (r == noErr) r = ReadCatalogInfo(where, st, whichInfo, &catalogInfos[count]);
          if (r == fnfErr) continue;
          if (r != noErr) {
            result = r;
            stopped = true;
            break;
          }
        }
        if (refs) refs[count] = ref;
        if (names) UniStrFromName(e.name, &names[count]);
        count++;
      }
    }
  } catch (const std::bad_alloc &) {
    result = memFullErr;
  }
  if (result == noErr && iterator->next >= iterator->entries.size()) result = errFSNoMoreItems;
  *actualObjects = count;
  return OSErr(result);
}
