// FSGetCatalogInfo and FSSetCatalogInfo.
#include "platform/files/Catalog.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "platform/files/CatalogConvert.h"
#include "platform/files/Errors.h"
#include "platform/files/CatalogMetadata.h"
#include "platform/files/Listing.h"
#include "platform/files/PathNodes.h"
#include "platform/files/StoreIO.h"
#include "platform/sys/CallTable.h"

namespace tv::files {

UInt8 UserAccessAt(const ItemLocation &where, const struct stat &st) {
  // Asked afresh every time: a change time that stays put within one clock
  // tick cannot tell that a chmod came in between. A symbolic link is judged
  // as itself (its own mode, the folder it is in), never as what it points at.
  int flags = AT_EACCESS | (S_ISLNK(st.st_mode) ? AT_SYMLINK_NOFOLLOW : 0);
  const char *path = where.itemPath.c_str();
  // A folder is nearly always open to all three: one question then.
  if (S_ISDIR(st.st_mode) && sys::Faccessat(where.dirFd, path, R_OK | W_OK | X_OK, flags) == 0) return 7;
  UInt8 access = 0;
  if (sys::Faccessat(where.dirFd, path, R_OK, flags) == 0) access |= 4;
  if (sys::Faccessat(where.dirFd, path, W_OK, flags) == 0) access |= 2;
  if (sys::Faccessat(where.dirFd, path, X_OK, flags) == 0) access |= 1;
  return access;
}

OSStatus ReadCatalogInfo(const ItemLocation &where, const ItemStat &item, FSCatalogInfoBitmap which,
                         FSCatalogInfo *out) {
  const struct stat &st = item.st;
  const bool isFolder = S_ISDIR(st.st_mode);
  // Built in a copy so that the caller's record changes only on success;
  // the fields not asked for keep whatever bytes the caller left there.
  FSCatalogInfo info;
  std::memcpy(&info, out, sizeof info);
  OSStatus result = noErr;

  if (which & kFSCatInfoTextEncoding) info.textEncodingHint = 0x08000100;  // names are UTF-8
  if (which & kFSCatInfoNodeFlags)
    info.nodeFlags = UInt16((isFolder ? kFSNodeIsDirectoryMask : 0) | (item.immutable ? kFSNodeLockedMask : 0));
  if (which & kFSCatInfoVolume) info.volume = 0;
  if (which & kFSCatInfoNodeID) info.nodeID = UInt32(st.st_ino);
  if (which & kFSCatInfoParentDirID) {
    ItemStat parent;
    int err = where.isRoot() ? 0 : StatItemAt(where.dirFd, where.folderPath.c_str(), &parent);
    if (err != 0) result = StatusFromErrno(err);
    else info.parentDirID = where.isRoot() ? 1 : UInt32(parent.st.st_ino);
  }
  if (which & kFSCatInfoCreateDate) {
    // The birth time where the file system keeps one, else the earlier of
    // the two other times.
    struct timespec created = item.hasBirthTime ? item.birthTime
                              : (st.st_mtim.tv_sec < st.st_ctim.tv_sec ||
                                 (st.st_mtim.tv_sec == st.st_ctim.tv_sec && st.st_mtim.tv_nsec <= st.st_ctim.tv_nsec))
                                  ? st.st_mtim
                                  : st.st_ctim;
    info.createDate = UTCDateFromTimespec(created);
  }
  if (which & kFSCatInfoContentMod) info.contentModDate = UTCDateFromTimespec(st.st_mtim);
  if (which & kFSCatInfoAttrMod) info.attributeModDate = UTCDateFromTimespec(st.st_ctim);
  if (which & kFSCatInfoAccessDate) info.accessDate = UTCDateFromTimespec(st.st_atim);
  if (which & kFSCatInfoBackupDate) info.backupDate = UTCDateTime{0, 0, 0};
  if (which & (kFSCatInfoPermissions | kFSCatInfoUserAccess)) {
    FSPermissionInfo perm{};
    perm.userID = UInt32(st.st_uid);
    perm.groupID = UInt32(st.st_gid);
    perm.mode = UInt16(st.st_mode);
    // Three access checks: only for those who ask (a walk wants the kind of
    // every entry, and the access of folders only).
    perm.userAccess = (which & kFSCatInfoUserAccess) ? UserAccessAt(where, st) : 0;
    std::memcpy(info.permissions, &perm, sizeof perm);
  }
  if (which & kFSCatInfoDataSizes) {
    info.dataLogicalSize = S_ISREG(st.st_mode) ? UInt64(st.st_size) : 0;
    info.dataPhysicalSize = S_ISREG(st.st_mode) ? UInt64(st.st_blocks) * 512 : 0;
  }
  if (which & kFSCatInfoValence) {
    info.valence = 0;
    if (isFolder && result == noErr) {
      std::vector<FolderEntry> entries;
      result = ListFolderRemovingLeftovers(where, item, &entries);
      if (result == noErr) info.valence = UInt32(entries.size());
    }
  }
  // Only a regular file has a resource fork; links, FIFOs, sockets and
  // devices are plain files whose forks are empty.
  const bool wantRsrc = (which & kFSCatInfoRsrcSizes) && S_ISREG(st.st_mode);
  const bool wantFinder = which & (kFSCatInfoFinderInfo | kFSCatInfoFinderXInfo);
  if (which & kFSCatInfoRsrcSizes) info.rsrcLogicalSize = info.rsrcPhysicalSize = 0;
  if (result == noErr && (wantRsrc || wantFinder)) {
    UInt64 rsrcSize = 0;
    UInt8 stored[32] = {};
    result = ForkStoreReadInfo(where, st, wantRsrc, &rsrcSize, wantFinder, stored);
    if (result == noErr) {
      if (wantRsrc) info.rsrcLogicalSize = info.rsrcPhysicalSize = rsrcSize;
      UInt8 finderInfo[16], extFinderInfo[16];
      FinderInfoToNative(stored, isFolder, finderInfo, extFinderInfo);
      if (which & kFSCatInfoFinderInfo) std::memcpy(info.finderInfo, finderInfo, 16);
      if (which & kFSCatInfoFinderXInfo) std::memcpy(info.extFinderInfo, extFinderInfo, 16);
    }
  }
  if (result == noErr) std::memcpy(out, &info, sizeof info);
  return result;
}

namespace {

// What a walk asks of every file: what its fork stores hold.
constexpr FSCatalogInfoBitmap kStoreInfo = kFSCatInfoRsrcSizes | kFSCatInfoFinderInfo | kFSCatInfoFinderXInfo;

// A regular file that its folder's listing showed, and a folder it showed on
// its parent's volume, are read as the listing told them: their stores as
// they are now (the attribute names listed afresh, the sidecar opened only
// where the listing showed one) and a folder's access asked afresh, without a
// look at the item itself, which reading does not need: every change resolves
// the ref and checks the item, and entering a folder checks the one opened.
// False when that read fails: the full way (the ref resolved and checked,
// then read) then says why.
bool ReadListedStores(const FSRef *ref, FSCatalogInfoBitmap which, FSCatalogInfo *out) {
  RefFields fields;
  if (DecodeRef(ref, &fields) != noErr) return false;
  const uint8_t hints = PathNodes().Hints(fields.node);
  if (!(hints & PathNodeTable::kHintListed)) return false;
  // A folder's FinderInfo and access, each asked of its path (its
  // attributes are always listed): never sizes, which a folder would give
  // without asking anything, gone or not.
  constexpr FSCatalogInfoBitmap kFolderInfo = kFSCatInfoFinderInfo | kFSCatInfoFinderXInfo | kFSCatInfoUserAccess;
  const bool folder = fields.listedKind == kTVListedKindFolder && (hints & PathNodeTable::kHintOnFolderVolume) &&
                      (which & ~kFolderInfo) == 0;
  if (!folder && (fields.listedKind != kTVListedKindFile || (which & ~kStoreInfo) != 0)) return false;
  ItemLocation where;
  if (LocateNode(fields.node, &where, FromListing(fields)) != noErr) return false;
  ItemStat listed;
  listed.st.st_mode = folder ? S_IFDIR : S_IFREG;
  listed.st.st_dev = dev_t(fields.device);
  listed.st.st_ino = ino_t(fields.inode);
  // A folder open to the user for all three is the common case; any other
  // takes the full way, which tells why (gone, not a folder, denied).
  if ((which & kFSCatInfoUserAccess) &&
      sys::Faccessat(where.dirFd, where.itemPath.c_str(), R_OK | W_OK | X_OK, AT_EACCESS) != 0)
    return false;
  FSCatalogInfo info;
  std::memcpy(&info, out, sizeof info);
  if ((which & kStoreInfo) && ReadCatalogInfo(where, listed, which & kStoreInfo, &info) != noErr) return false;
  // Only the access was asked of the permissions: the rest is left as it was.
  if (which & kFSCatInfoUserAccess) reinterpret_cast<FSPermissionInfo *>(info.permissions)->userAccess = 7;
  std::memcpy(out, &info, sizeof info);
  return true;
}

}  // namespace

}  // namespace tv::files

using namespace tv::files;
namespace sys = tv::sys;

OSErr FSGetCatalogInfo(const FSRef *ref, FSCatalogInfoBitmap whichInfo, FSCatalogInfo *catalogInfo,
                       HFSUniStr255 *outName, FSSpecPtr fsSpec, FSRef *parentRef) {
  TVClearFailureCause();
  return OSErr(MemFullOnThrow([&]() -> OSStatus {
    if (!ref || (whichInfo != kFSCatInfoNone && !catalogInfo) || outName || fsSpec || parentRef) return paramErr;
    if (whichInfo != kFSCatInfoNone && (whichInfo & ~(kStoreInfo | kFSCatInfoUserAccess)) == 0) {
      if (ReadListedStores(ref, whichInfo, catalogInfo)) return noErr;
      TVClearFailureCause();  // the full way below tells its own
    }
    ItemLocation where;
    ItemStat st;
    OSStatus result = ResolveRef(ref, &where, &st);
    if (result == noErr && whichInfo != kFSCatInfoNone) result = ReadCatalogInfo(where, st, whichInfo, catalogInfo);
    return result;
  }));
}

OSErr FSSetCatalogInfo(const FSRef *ref, FSCatalogInfoBitmap whichInfo, const FSCatalogInfo *catalogInfo) {
  TVClearFailureCause();
  return OSErr(MemFullOnThrow([&]() -> OSStatus {
    // What can be written: FinderInfo and the four dates. The creation and
    // attribute-change dates cannot be set on Linux: they are accepted and
    // not stored. Anything else would be silently lost, so it is refused.
    constexpr FSCatalogInfoBitmap kDates =
        kFSCatInfoCreateDate | kFSCatInfoContentMod | kFSCatInfoAttrMod | kFSCatInfoAccessDate;
    constexpr FSCatalogInfoBitmap kFinder = kFSCatInfoFinderInfo | kFSCatInfoFinderXInfo;
    if (!ref || !catalogInfo) return paramErr;
    if (whichInfo & ~(kDates | kFinder)) return errFSBadInfoBitmap;
    ItemLocation where;
    ItemStat st;
    OSStatus result = ResolveRef(ref, &where, &st);
    if (result == noErr && (whichInfo & kFinder)) {
      // A half that is not given keeps its stored value: each half is stored
      // in its own 16 bytes.
      UInt8 finderInfo[16] = {}, extFinderInfo[16] = {}, stored[32];
      if (whichInfo & kFSCatInfoFinderInfo) std::memcpy(finderInfo, catalogInfo->finderInfo, 16);
      if (whichInfo & kFSCatInfoFinderXInfo) std::memcpy(extFinderInfo, catalogInfo->extFinderInfo, 16);
      FinderInfoToStored(finderInfo, extFinderInfo, S_ISDIR(st.st.st_mode), stored);
      const unsigned halves = ((whichInfo & kFSCatInfoFinderInfo) ? kFinderInfoFirstHalf : 0u) |
                              ((whichInfo & kFSCatInfoFinderXInfo) ? kFinderInfoSecondHalf : 0u);
      result = ForkStoreWriteFinderInfo(where, st, stored, halves);
    }
    // The dates go last, so that writing FinderInfo cannot disturb them.
    if (result == noErr && (whichInfo & (kFSCatInfoContentMod | kFSCatInfoAccessDate))) {
      struct timespec times[2];
      times[0] = (whichInfo & kFSCatInfoAccessDate) ? TimespecFromUTCDate(catalogInfo->accessDate)
                                                    : timespec{0, UTIME_OMIT};
      times[1] = (whichInfo & kFSCatInfoContentMod) ? TimespecFromUTCDate(catalogInfo->contentModDate)
                                                    : timespec{0, UTIME_OMIT};
      if (sys::Utimensat(where.dirFd, where.itemPath.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        result = StatusFromErrnoAt(errno, where.dirFd, where.itemPath.c_str());
    }
    return result;
  }));
}
