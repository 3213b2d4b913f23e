#include "selection/MyFSDirIter.h"

#include "selection/MyCMContext.h"

#include <algorithm>
#include <cstdlib>
#include <unordered_set>

static constexpr ItemCount kBulkCount = 10;

// The kind bits of FSPermissionInfo.mode, as the POSIX mode has them.
static constexpr UInt16 kModeKindMask = 0170000;
static constexpr UInt16 kModeRegularFile = 0100000;

static void ClearCache(MyFSDirIter iter) {
  iter->itemInfoFlags = 0;
  iter->userAccess = 0;
  iter->isContainer = false;
  iter->isFile = false;
  iter->itemInfoValid = false;
  iter->userAccessValid = false;
  iter->catalogInfoValid = false;
}

// Room in the snapshot for `more` entries past the last one; false when
// memory runs out. The block is a CFData that grows by doubling, so a listing
// costs a few reallocations in all rather than some per entry.
static bool ReserveRefs(MyFSDirIter iter, SInt32 more) {
  if (iter->refCapacity - iter->refCount >= more) return true;
  // The index must be able to pass the last entry without reaching kMyFSDirIterEnded.
  const SInt64 limit = SInt64(kMyFSDirIterEnded) - 1;
  const SInt64 needed = SInt64(iter->refCount) + more;
  if (needed > limit) return false;
  const SInt64 wanted = std::min(limit, std::max({needed, SInt64(iter->refCapacity) * 2, SInt64(16)}));
  const CFIndex bytes = CFIndex(wanted) * CFIndex(sizeof(FSRef));
  CFDataSetLength(iter->refBlock, bytes);
  if (CFDataGetLength(iter->refBlock) != bytes) return false;  // left as it was
  iter->refs = reinterpret_cast<FSRef *>(CFDataGetMutableBytePtr(iter->refBlock));
  iter->refCapacity = SInt32(wanted);
  return true;
}

// A snapshot with no entries yet, or NULL when memory runs out.
static MyFSDirIter NewSnapshot() {
  auto *iter = static_cast<MyFSDirIter>(calloc(1, sizeof(MyFSDirIterRecord)));
  if (iter == nullptr) return nullptr;
  iter->refBlock = CFDataCreateMutable(kCFAllocatorDefault, 0);
  if (iter->refBlock == nullptr) {
    free(iter);
    return nullptr;
  }
  return iter;
}

OSStatus MyFSDirIterCreateWithContext(MyCMContextRecord *context, MyFSDirIter *outIter) {
  if (outIter == nullptr) return paramErr;
  *outIter = nullptr;
  if (context == nullptr) return paramErr;
  MyFSDirIter iter = NewSnapshot();
  if (iter == nullptr) return memFullErr;
  UInt32 count = MyCMContextGetItemCount(context);
  for (UInt32 i = 1; i <= count; i++) {
    if (!ReserveRefs(iter, 1)) {
      MyFSDirIterDispose(iter);
      return memFullErr;
    }
    // An unresolvable item is left out: the next one takes its place.
    if (MyCMContextExtractFSRefAt(context, i, &iter->refs[iter->refCount])) iter->refCount += 1;
  }
  iter->index = -1;
  *outIter = iter;
  return noErr;
}

// The folder's listing, read into a new iterator.
static OSStatus ListFolder(const FSRef *folder, MyFSDirIter *outIter) {
  MyFSDirIter iter = NewSnapshot();
  if (iter == nullptr) return memFullErr;
  FSIterator listing = nullptr;
  OSStatus err = FSOpenIterator(folder, kFSIterateFlat, &listing);
  while (err == noErr) {
    // Each batch lands straight in the snapshot.
    if (!ReserveRefs(iter, SInt32(kBulkCount))) {
      err = memFullErr;
      break;
    }
    ItemCount actual = 0;
    OSStatus r = FSGetCatalogInfoBulk(listing, kBulkCount, &actual, nullptr, kFSCatInfoNone, nullptr,
                                      iter->refs + iter->refCount, nullptr, nullptr);
    if (r != noErr && r != errFSNoMoreItems) {
      err = r;
      break;
    }
    // The batch that reports the end may still carry references.
    iter->refCount += SInt32(actual);
    if (r == errFSNoMoreItems) break;
  }
  if (listing != nullptr) FSCloseIterator(listing);
  if (err != noErr) {
    MyFSDirIterDispose(iter);
    return err;
  }
  iter->index = -1;
  *outIter = iter;
  return noErr;
}

OSStatus MyFSDirIterCreate(const FSRef *folder, MyFSDirIter *outIter) {
  if (outIter != nullptr) *outIter = nullptr;
  if (folder == nullptr || outIter == nullptr) return paramErr;
  // One look tells that it is a folder and what the user may do in it.
  FSCatalogInfo info;
  if (FSGetCatalogInfo(folder, kFSCatInfoNodeFlags | kFSCatInfoPermissions | kFSCatInfoUserAccess, &info, nullptr,
                       nullptr, nullptr) != noErr ||
      (info.nodeFlags & kFSNodeIsDirectoryMask) == 0)
    return paramErr;
  if ((reinterpret_cast<const FSPermissionInfo *>(info.permissions)->userAccess & 5) != 5)
    return afpAccessDenied;  // needs read and search
  return ListFolder(folder, outIter);
}

OSStatus MyFSDirIterCreateEntered(const FSRef *folder, MyFSDirIter *outIter) {
  if (outIter != nullptr) *outIter = nullptr;
  if (folder == nullptr || outIter == nullptr) return paramErr;
  return ListFolder(folder, outIter);
}

OSStatus MyFSDirIterDispose(MyFSDirIter iter) {
  if (iter == nullptr) return noErr;
  if (iter->refBlock != nullptr) CFRelease(iter->refBlock);
  free(iter);
  return noErr;
}

void MyFSDirIterReset(MyFSDirIter iter) {
  if (iter == nullptr) return;
  iter->index = -1;
  iter->currentRef = nullptr;
  ClearCache(iter);
}

const FSRef *MyFSDirIterNext(MyFSDirIter iter) {
  if (iter == nullptr || iter->index == kMyFSDirIterEnded) return nullptr;
  iter->index += 1;
  if (iter->index >= iter->refCount) {
    iter->index = kMyFSDirIterEnded;
    iter->currentRef = nullptr;
    ClearCache(iter);
    return nullptr;
  }
  // Points into the snapshot's own storage, which lives as long as the iterator.
  iter->currentRef = &iter->refs[iter->index];
  ClearCache(iter);
  // The listing that made the entry has told its kind. A file or another
  // item needs no look of its own unless the walker wants its catalog
  // information; a folder is asked only whether the user may enter it (its
  // own information is read after its contents). An entry of no listed kind
  // is looked at.
  const TVListedKind listed = TVGetListedKind(iter->currentRef);
  if (listed == kTVListedKindOther || (listed == kTVListedKindFile && iter->wantedInfo == 0)) {
    iter->isFile = listed == kTVListedKindFile;
    return iter->currentRef;
  }
  if (listed == kTVListedKindFile) {
    // Its kind is the listing's: only what the walker wants is read.
    iter->isFile = true;
    iter->catalogInfoValid = FSGetCatalogInfo(iter->currentRef, iter->wantedInfo, &iter->catalogInfo, nullptr,
                                              nullptr, nullptr) == noErr;
    return iter->currentRef;
  }
  // Every walker that finds a folder asks next whether it may enter it;
  // entering it opens a folder or fails. One that cannot be asked is looked
  // at below for what it is now.
  if (listed == kTVListedKindFolder &&
      FSGetCatalogInfo(iter->currentRef, kFSCatInfoUserAccess, &iter->catalogInfo, nullptr, nullptr, nullptr) ==
          noErr) {
    iter->isContainer = true;
    iter->userAccess = reinterpret_cast<const FSPermissionInfo *>(iter->catalogInfo.permissions)->userAccess;
    iter->userAccessValid = true;
    return iter->currentRef;
  }
  const FSCatalogInfoBitmap wanted = iter->wantedInfo;
  // The mode comes with the same look at the item as the node flags, and so
  // does whatever the walker wanted beside them.
  const FSCatalogInfoBitmap kind = kFSCatInfoNodeFlags | kFSCatInfoPermissions;
  FSCatalogInfo &info = iter->catalogInfo;
  OSStatus err = FSGetCatalogInfo(iter->currentRef, kind | wanted, &info, nullptr, nullptr, nullptr);
  iter->catalogInfoValid = err == noErr;
  // What was wanted beside the kind may fail alone (FinderInfo that does not
  // parse): the kind must still be known.
  if (err != noErr && wanted != 0) err = FSGetCatalogInfo(iter->currentRef, kind, &info, nullptr, nullptr, nullptr);
  if (err == noErr) {
    iter->isContainer = (info.nodeFlags & kFSNodeIsDirectoryMask) != 0;
    const auto *perm = reinterpret_cast<const FSPermissionInfo *>(info.permissions);
    iter->isFile = (perm->mode & kModeKindMask) == kModeRegularFile;
  } else {
    iter->isFile = true;
  }
  return iter->currentRef;
}

void MyFSDirIterWantCatalogInfo(MyFSDirIter iter, FSCatalogInfoBitmap whichInfo) {
  if (iter != nullptr) iter->wantedInfo = whichInfo;
}

const FSCatalogInfo *MyFSDirIterGetCatalogInfo(MyFSDirIter iter) {
  if (iter == nullptr || iter->currentRef == nullptr || !iter->catalogInfoValid) return nullptr;
  return &iter->catalogInfo;
}

Boolean MyFSDirIterIsContainer(MyFSDirIter iter) { return iter != nullptr && iter->isContainer; }

Boolean MyFSDirIterIsFile(MyFSDirIter iter) { return iter != nullptr && iter->isFile; }

std::vector<bool> MySelectionKeepMask(const std::vector<std::string> &paths, bool dropNested) {
  std::unordered_set<std::string_view> all(paths.begin(), paths.end());
  std::unordered_set<std::string_view> kept;
  std::vector<bool> keep(paths.size(), false);
  for (size_t i = 0; i < paths.size(); i++) {
    std::string_view p = paths[i];
    bool inside = false;
    // Every folder above p: "/a/b/c" -> "/a/b", "/a", "/".
    for (size_t slash = p.rfind('/'); dropNested && !inside && slash != std::string_view::npos && p != "/";
         slash = slash == 0 ? std::string_view::npos : p.rfind('/', slash - 1)) {
      inside = all.count(slash == 0 ? std::string_view("/") : p.substr(0, slash)) != 0;
    }
    keep[i] = !inside && kept.insert(p).second;
  }
  return keep;
}

// The path of ref however long it is; empty when it has none.
static std::string PathOfRef(const FSRef *ref) {
  std::vector<UInt8> buf(4096);
  OSStatus err;
  while ((err = FSRefMakePath(ref, buf.data(), UInt32(buf.size()))) == errFSBadBuffer && buf.size() < (1u << 24))
    buf.resize(buf.size() * 4);
  return err == noErr ? std::string(reinterpret_cast<const char *>(buf.data())) : std::string();
}

OSStatus MyFSDirIterDropRepeats(MyFSDirIter iter, Boolean dropNested) {
  if (iter == nullptr) return paramErr;
  MyFSDirIterReset(iter);
  const size_t count = size_t(iter->refCount);
  std::vector<std::string> paths;
  paths.reserve(count);
  for (size_t i = 0; i < count; i++) paths.push_back(PathOfRef(&iter->refs[i]));
  std::vector<bool> keep = MySelectionKeepMask(paths, dropNested);
  // An entry without a path cannot be matched: it stays, to fail where it is
  // used. The kept ones close up in their order.
  size_t kept = 0;
  for (size_t i = 0; i < count; i++) {
    if (!keep[i] && !paths[i].empty()) continue;
    if (kept != i) iter->refs[kept] = iter->refs[i];
    kept++;
  }
  iter->refCount = SInt32(kept);
  return noErr;
}

Boolean MyFSDirIterIsVolume(MyFSDirIter iter) {
  if (iter == nullptr) return false;
  if (iter->currentRef != nullptr && !iter->itemInfoValid) {
    LSItemInfoRecord info = {};
    if (LSCopyItemInfoForRef(iter->currentRef, kLSRequestBasicFlagsOnly, &info) == noErr) {
      iter->itemInfoFlags = info.flags;
      iter->itemInfoValid = true;
    }
  }
  return (iter->itemInfoFlags & kLSItemInfoIsVolume) != 0;
}

UInt8 MyFSDirIterGetUserAccessPerm(MyFSDirIter iter) {
  if (iter == nullptr || iter->currentRef == nullptr) return 0;
  if (!iter->userAccessValid) {
    FSCatalogInfo info;
    if (FSGetCatalogInfo(iter->currentRef, kFSCatInfoPermissions | kFSCatInfoUserAccess, &info, nullptr,
                         nullptr, nullptr) == noErr) {
      iter->userAccess = reinterpret_cast<const FSPermissionInfo *>(info.permissions)->userAccess;
      iter->userAccessValid = true;
    }
  }
  return iter->userAccess;
}

OSStatus GetUserAccessPerm(const FSRef *ref, UInt8 *outAccess) {
  if (ref == nullptr) return paramErr;
  FSCatalogInfo info;
  OSStatus err =
      FSGetCatalogInfo(ref, kFSCatInfoPermissions | kFSCatInfoUserAccess, &info, nullptr, nullptr, nullptr);
  if (err == noErr && outAccess != nullptr) {
    *outAccess = reinterpret_cast<const FSPermissionInfo *>(info.permissions)->userAccess;
  }
  return err;
}
