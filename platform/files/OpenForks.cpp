// FSOpenFork, FSGetForkSize, FSReadFork, FSSetForkSize, FSCloseFork and the
// small part of the Resource Manager built on them.
#include "platform/files/OpenForks.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/files/Errors.h"
#include "platform/files/PathNodes.h"
#include "platform/files/StoreIO.h"
#include "platform/files/Refs.h"
#include "platform/files/Volumes.h"
#include "platform/sys/CallTable.h"
#include "platform/toolbox/ForkEmptied.h"
#include "platform/forks/StreamXattrs.h"

namespace tv::files {
namespace {

constexpr char16_t kResourceForkName[] = u"RESOURCE_FORK";
constexpr size_t kResourceForkNameLength = 13;
constexpr size_t kMaxOpenForks = 32767;  // numbers are SInt16 and > 0
constexpr int kOpenFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

struct OpenFork {
  FSRef ref{};
  bool resource = false;
  bool canRead = false;
  bool canWrite = false;
  // The data fork: the file. The resource fork: the item, opened for
  // reading, through which its attributes are read and changed.
  int fd = -1;
  SInt64 mark = 0;
  ItemStat item;  // the look at fd when it was opened
};

std::mutex sForksMutex;
std::vector<std::unique_ptr<OpenFork>> sForks;  // slot i holds fork number i + 1

OpenFork *ForkOf(FSIORefNum number) {
  if (number <= 0 || size_t(number) > sForks.size()) return nullptr;
  return sForks[size_t(number) - 1].get();
}

OSStatus AddFork(std::unique_ptr<OpenFork> fork, FSIORefNum *number) {
  auto free = std::find(sForks.begin(), sForks.end(), nullptr);
  if (free == sForks.end()) {
    if (sForks.size() >= kMaxOpenForks) return tmfoErr;
    sForks.push_back(nullptr);
    free = sForks.end() - 1;
  }
  *free = std::move(fork);
  *number = FSIORefNum(free - sForks.begin() + 1);
  return noErr;
}

// The position a call names: from the start, from the end, or from the mark
// (fsAtMark ignores the offset). Bits above the low two are cache hints.
OSStatus PositionOf(UInt16 positionMode, SInt64 offset, SInt64 mark, SInt64 eof, SInt64 *out) {
  SInt64 base = 0;
  switch (positionMode & 0x3) {
    case fsAtMark: *out = mark; return noErr;
    case fsFromStart: base = 0; break;
    case fsFromLEOF: base = eof; break;
    case fsFromMark: base = mark; break;
  }
  if ((offset > 0 && base > std::numeric_limits<SInt64>::max() - offset) || base + offset < 0) return paramErr;
  *out = base + offset;
  return noErr;
}

bool SameItem(const struct stat &a, const struct stat &b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Checks that the opened fd is the item described (device and inode; a file
// its listing could not number, on its folder's device); then *item becomes
// the look at the descriptor, with the lock flags statx tells.
OSStatus CheckOpened(int fd, ItemStat *item) {
  ItemStat now;
  if (int err = StatItemAt(fd, "", &now)) return StatusFromErrno(err);
  const bool unlisted = uint64_t(item->st.st_ino) == kUnlistedInode;
  if (unlisted ? now.st.st_dev != item->st.st_dev : !SameItem(now.st, item->st))
    return StatusOfChangedItem(fd, "");  // replaced since it was listed or resolved
  if (!S_ISREG(now.st.st_mode)) return afpObjectTypeErr;
  *item = now;
  return noErr;
}

// A regular file its folder's listing numbered (ext4, tmpfs, xfs) is known
// by that device and inode, one it could not number (FUSE, FAT) by its name:
// it is opened without a look at its path first, and the opened descriptor
// is checked to be it (or, unnumbered, a regular file of that device).
// False for any other ref, which is resolved first.
bool LocateListedFile(const FSRef *ref, ItemLocation *where, ItemStat *item) {
  RefFields fields;
  if (DecodeRef(ref, &fields) != noErr || fields.listedKind != kTVListedKindFile) return false;
  if (LocateNode(fields.node, where, FromListing(fields)) != noErr) return false;
  item->st.st_dev = dev_t(fields.device);
  item->st.st_ino = ino_t(fields.inode);
  item->st.st_mode = S_IFREG;
  // Unnumbered, it was looked at for no mount: the table named none there.
  item->onFolderMount = fields.inode == kUnlistedInode;
  return true;
}

// A file known by its name in a folder whose volume keeps neither attributes
// nor lock flags (FAT, exFAT; noted by an earlier item of the folder): a
// descriptor of it would serve only to look at it, which tells no more than
// its name. Its resource fork, which only its sidecar can hold there, opens
// without one; writing still asks whether the item may be written at its path.
bool KnownByNameAlone(const ItemLocation &where, const ItemStat &item) {
  if (uint64_t(item.st.st_ino) != kUnlistedInode || where.isRoot()) return false;
  const int facts = FolderFacts(PathNodes().Parent(where.node));
  return facts >= 0 && (facts & kFolderWithoutXattrs) && (facts & kFolderWithoutLockFlags);
}

// Opens the data fork: the regular file itself, never through a link.
OSStatus OpenDataFork(const ItemLocation &where, ItemStat &item, SInt8 mode, OpenFork *fork) {
  const char *path = where.itemPath.c_str();
  int access = mode == fsRdPerm ? O_RDONLY : mode == fsWrPerm ? O_WRONLY : O_RDWR;
  int fd = sys::Openat(where.dirFd, path, access | kOpenFlags);
  if (fd < 0 && mode == fsCurPerm && (errno == EACCES || errno == EPERM || errno == EROFS || errno == ETXTBSY)) {
    access = O_RDONLY;
    fd = sys::Openat(where.dirFd, path, access | kOpenFlags);
  }
  if (fd < 0) return StatusFromErrnoAt(errno, where.dirFd, path);
  OSStatus result = CheckOpened(fd, &item);
  if (result != noErr) {
    sys::Close(fd);
    return result;
  }
  fork->fd = fd;
  fork->canRead = access != O_WRONLY;
  fork->canWrite = access != O_RDONLY;
  return noErr;
}

// Opens the resource fork: a descriptor of the item for its attributes (none
// for a file known by its name alone), and for writing the checks that the
// item itself may be changed.
OSStatus OpenResourceFork(const ItemLocation &where, ItemStat &item, SInt8 mode, OpenFork *fork) {
  int fd = -1;
  OSStatus result = noErr;
  if (!KnownByNameAlone(where, item)) {
    const char *path = where.itemPath.c_str();
    fd = sys::Openat(where.dirFd, path, O_RDONLY | kOpenFlags);
    if (fd < 0) return StatusFromErrnoAt(errno, where.dirFd, path);
    result = CheckOpened(fd, &item);
  }
  bool canWrite = mode != fsRdPerm;
  if (result == noErr && canWrite) {
    result = CheckItemWritable(where, item, fd);
    if (result != noErr && mode == fsCurPerm) {
      result = noErr;
      canWrite = false;
    }
  }
  if (result != noErr) {
    if (fd >= 0) sys::Close(fd);
    return result;
  }
  fork->fd = fd;
  fork->canRead = true;
  fork->canWrite = canWrite;
  fork->item = item;
  return noErr;
}

// The item of an open fork, still the same one.
OSStatus LocateForkItem(const OpenFork &fork, ItemLocation *where, ItemStat *item) {
  return ResolveRef(&fork.ref, where, item);
}

// An open resource fork's item for a change. A numbered item must still be
// at its path, whose sidecar is written. For one known by its name (its
// listing could not number it) a look at the path would tell no more than
// that a file is there: the look at its descriptor when the fork was opened
// serves, and the path is not looked up again.
// Where statx tells the lock flags the descriptor is looked at afresh, since
// the item may have been locked since; elsewhere they are asked of it anyway.
OSStatus LocateOpenItem(const OpenFork &fork, ItemLocation *where, ItemStat *item) {
  RefFields fields;
  OSStatus result = DecodeRef(&fork.ref, &fields);
  if (result != noErr || fields.inode != kUnlistedInode) return LocateForkItem(fork, where, item);
  result = LocateNode(fields.node, where, FromListing(fields));
  *item = fork.item;
  if (result == noErr && item->lockKnown) {
    if (int err = StatItemAt(fork.fd, "", item)) result = StatusFromErrno(err);
  }
  return result;
}

// An open resource fork's item, its stores as they are now, and where the
// primary fork is among them.
struct ResourceForkNow {
  ItemLocation where;
  ItemStat item;
  ItemStores stores;
  ResourceForkPlace place;
};

OSStatus LoadResourceFork(const OpenFork &fork, ResourceForkNow *now) {
  OSStatus result = LocateForkItem(fork, &now->where, &now->item);
  if (result == noErr)
    result = ReadItemStores(now->where, now->item.st, XattrTargetOf(now->where, fork.fd), false,
                            SidecarBytes::kSkipLargeFork, &now->stores);
  if (result == noErr) result = LocateResourceFork(now->stores, &now->place);
  return result;
}

OSStatus ForkSize(const OpenFork &fork, SInt64 *size) {
  if (!fork.resource) {
    struct stat st {};
    if (sys::Fstat(fork.fd, &st) != 0) return StatusFromErrno(errno);
    *size = st.st_size;
    return noErr;
  }
  ResourceForkNow now;
  OSStatus result = LoadResourceFork(fork, &now);
  if (result == noErr) *size = SInt64(now.place.size);
  return result;
}

// Reads up to `count` bytes at `position` of the resource fork.
OSStatus ReadResourceFork(const OpenFork &fork, SInt64 position, UInt32 count, UInt8 *buffer, UInt32 *actual) {
  ResourceForkNow now;
  OSStatus result = LoadResourceFork(fork, &now);
  if (result != noErr) return result;
  const ResourceForkPlace &place = now.place;
  const ItemStores &stores = now.stores;
  const UInt64 start = std::min<UInt64>(UInt64(position), place.size);
  const size_t n = size_t(std::min<UInt64>(count, place.size - start));
  using tv::forks::ForkStore;
  switch (place.store) {
    case ForkStore::kSidecar: {
      const ssize_t got = sys::PreadAll(stores.sidecar->fd, buffer, n, place.offset + start);
      if (got < 0) return StatusFromErrno(errno);
      if (size_t(got) < n) return kForkStoreDamagedErr;  // cut short since it was read
      break;
    }
    case ForkStore::kResourceForkXattr:
      std::memcpy(buffer, stores.resourceForkXattr->data() + start, n);
      break;
    case ForkStore::kAfpResource:
      std::memcpy(buffer, tv::forks::AfpResourceFork(*stores.afpResource).data() + start, n);
      break;
    default:
      break;
  }
  *actual = UInt32(n);
  return noErr;
}

OSStatus SetResourceForkSize(const OpenFork &fork, UInt16 positionMode, SInt64 positionOffset, SInt64 *newSize) {
  ItemLocation where;
  ItemStat item;
  OSStatus result = LocateOpenItem(fork, &where, &item);
  // Opening the fork for writing checked the volume and the access; the item
  // may have been locked since. A volume made read-only since refuses the
  // writes.
  if (result == noErr) result = CheckItemUnlocked(where, item, fork.fd);
  SInt64 size = 0;
  if (result == noErr) {
    if ((positionMode & 0x3) == fsFromStart && positionOffset == 0) {
      size = 0;
    } else {
      ResourceForkNow now;
      result = LoadResourceFork(fork, &now);
      const SInt64 eof = SInt64(now.place.size);
      if (result == noErr) result = PositionOf(positionMode, positionOffset, fork.mark, eof, &size);
      // Only emptying is supported; setting the size the fork has is no change.
      if (result == noErr && size != 0) {
        if (size != eof) result = paramErr;
        else *newSize = size;
        return result;
      }
    }
  }
  if (result == noErr) result = ForkStoreEmptyResourceFork(where, item.st, XattrTargetOf(where, fork.fd));
  if (result == noErr) *newSize = 0;
  return result;
}

thread_local OSErr sResError = noErr;

}  // namespace

size_t OpenForkCount() {
  std::lock_guard<std::mutex> lock(sForksMutex);
  return size_t(std::count_if(sForks.begin(), sForks.end(), [](const auto &f) { return f != nullptr; }));
}

}  // namespace tv::files

using namespace tv::files;
namespace sys = tv::sys;

OSErr FSGetDataForkName(HFSUniStr255 *dataForkName) {
  if (!dataForkName) return paramErr;
  dataForkName->length = 0;
  return noErr;
}

OSErr FSGetResourceForkName(HFSUniStr255 *resourceForkName) {
  if (!resourceForkName) return paramErr;
  resourceForkName->length = UInt16(kResourceForkNameLength);
  for (size_t i = 0; i < kResourceForkNameLength; ++i) resourceForkName->unicode[i] = UniChar(kResourceForkName[i]);
  return noErr;
}

OSErr FSOpenFork(const FSRef *ref, UniCharCount forkNameLength, const UniChar *forkName, SInt8 permissions,
                 FSIORefNum *forkRefNum) {
  // Deny-mode bits (0x10, 0x20) are accepted and have no effect: Linux
  // locks nothing on open.
  TVClearFailureCause();
  if (!ref || !forkRefNum || (forkNameLength > 0 && !forkName) || (permissions & ~0x33)) return paramErr;
  const SInt8 mode = SInt8(permissions & 0x3);
  bool resource = false;
  if (forkNameLength == kResourceForkNameLength &&
      std::equal(forkName, forkName + forkNameLength, kResourceForkName))
    resource = true;
  else if (forkNameLength != 0)
    return errFSBadForkName;

  ItemLocation where;
  ItemStat item;
  OSStatus result = LocateListedFile(ref, &where, &item) ? noErr : ResolveRef(ref, &where, &item);
  if (result == noErr && S_ISDIR(item.st.st_mode)) result = notAFileErr;
  else if (result == noErr && !S_ISREG(item.st.st_mode)) result = afpObjectTypeErr;  // never opened

  auto fork = std::make_unique<OpenFork>();
  fork->ref = *ref;
  fork->resource = resource;
  if (result == noErr)
    result = resource ? OpenResourceFork(where, item, mode, fork.get()) : OpenDataFork(where, item, mode, fork.get());
  if (result == noErr) {
    std::lock_guard<std::mutex> lock(sForksMutex);
    const int fd = fork->fd;
    result = AddFork(std::move(fork), forkRefNum);
    if (result != noErr && fd >= 0) sys::Close(fd);
  }
  return OSErr(result);
}

OSErr FSGetForkSize(FSIORefNum forkRefNum, SInt64 *forkSize) {
  if (!forkSize) return paramErr;
  std::lock_guard<std::mutex> lock(sForksMutex);
  const OpenFork *fork = ForkOf(forkRefNum);
  if (!fork) return rfNumErr;
  SInt64 size = 0;
  OSStatus result = ForkSize(*fork, &size);
  if (result == noErr) *forkSize = size;
  return OSErr(result);
}

OSErr FSReadFork(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset, UInt32 requestCount, void *buffer,
                 UInt32 *actualCount) {
  if (!buffer && requestCount > 0) return paramErr;
  std::lock_guard<std::mutex> lock(sForksMutex);
  OpenFork *fork = ForkOf(forkRefNum);
  if (!fork) return rfNumErr;
  if (!fork->canRead) return afpAccessDenied;
  SInt64 eof = 0, position = 0;
  OSStatus result = (positionMode & 0x3) == fsFromLEOF ? ForkSize(*fork, &eof) : noErr;
  if (result == noErr) result = PositionOf(positionMode, positionOffset, fork->mark, eof, &position);
  UInt32 done = 0;
  UInt8 *out = static_cast<UInt8 *>(buffer);
  if (result == noErr && requestCount > 0) {
    if (fork->resource) {
      result = ReadResourceFork(*fork, position, requestCount, out, &done);
    } else {
      while (done < requestCount) {
        ssize_t n = sys::Pread(fork->fd, out + done, requestCount - done, off_t(position + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
          result = StatusFromErrno(errno);
          break;
        }
        if (n == 0) break;
        done += UInt32(n);
      }
    }
  }
  if (result == noErr) {
    fork->mark = position + done;
    if (done < requestCount) result = eofErr;
  }
  if (actualCount) *actualCount = result == noErr || result == eofErr ? done : 0;
  return OSErr(result);
}

OSErr FSSetForkSize(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset) {
  TVClearFailureCause();
  std::lock_guard<std::mutex> lock(sForksMutex);
  OpenFork *fork = ForkOf(forkRefNum);
  if (!fork) return rfNumErr;
  if (!fork->canWrite) return wrPermErr;
  SInt64 size = 0;
  OSStatus result = noErr;
  if (fork->resource) {
    result = SetResourceForkSize(*fork, positionMode, positionOffset, &size);
  } else {
    SInt64 eof = 0;
    if ((positionMode & 0x3) == fsFromLEOF) result = ForkSize(*fork, &eof);
    if (result == noErr) result = PositionOf(positionMode, positionOffset, fork->mark, eof, &size);
    // Emptying a data fork frees what it held (the size before, looked at
    // only for an emptying).
    struct stat before {};
    if (result == noErr && size == 0 && sys::Fstat(fork->fd, &before) != 0) before.st_size = 0;
    if (result == noErr && sys::Ftruncate(fork->fd, off_t(size)) != 0) {
      ItemLocation where;
      const int err = errno;
      result = LocateForkItem(*fork, &where, nullptr) == noErr
                   ? StatusFromErrnoAt(err, where.dirFd, where.itemPath.c_str())
                   : StatusFromErrno(err);
    }
    if (result == noErr && size == 0 && before.st_size > 0) tv::toolbox::NoteForkEmptied(UInt64(before.st_size));
  }
  if (result == noErr) fork->mark = std::min(fork->mark, size);
  return OSErr(result);
}

OSErr FSCloseFork(FSIORefNum forkRefNum) {
  std::lock_guard<std::mutex> lock(sForksMutex);
  OpenFork *fork = ForkOf(forkRefNum);
  if (!fork) return rfNumErr;
  const int fd = fork->fd;
  sForks[size_t(forkRefNum) - 1].reset();
  while (!sForks.empty() && !sForks.back()) sForks.pop_back();
  // The number is free whatever close says.
  return fd < 0 || sys::Close(fd) == 0 ? OSErr(noErr) : OSErr(StatusFromErrno(errno));
}

// ---- Resource Manager ---------------------------------------------------------
// A resource file number is a fork number of the resource fork. Opening reads
// and checks the fork's header and the resource map's header: an empty fork
// gives eofErr, one whose header or map does not fit resFNotFound.

namespace {

bool ResourceMapFits(const UInt8 header[16], SInt64 size, const UInt8 *map, size_t mapRead) {
  using tv::forks::Bytes;
  using tv::forks::GetBE16;
  using tv::forks::GetBE32;
  const Bytes h(header, 16);
  const UInt64 dataOffset = GetBE32(h, 0), mapOffset = GetBE32(h, 4);
  const UInt64 dataLength = GetBE32(h, 8), mapLength = GetBE32(h, 12);
  constexpr UInt64 kMapHeader = 30;  // copy of the header, handle, file number, attributes, two offsets, type count
  if (dataOffset < 16 || dataOffset + dataLength > UInt64(size) || mapLength < kMapHeader ||
      mapOffset + mapLength > UInt64(size) || mapRead < kMapHeader)
    return false;
  const Bytes m(map, mapRead);
  const UInt64 typeList = GetBE16(m, 24), nameList = GetBE16(m, 26);
  return typeList + 2 <= mapLength && nameList <= mapLength;
}

}  // namespace

ResFileRefNum FSOpenResFile(const FSRef *ref, SInt8 permission) {
  HFSUniStr255 name;
  FSIORefNum number = -1;
  OSErr err = FSGetResourceForkName(&name);
  if (err == noErr) err = FSOpenFork(ref, name.length, name.unicode, permission, &number);
  SInt64 size = 0;
  if (err == noErr) err = FSGetForkSize(number, &size);
  if (err == noErr && size == 0) err = eofErr;
  UInt8 header[16] = {};
  UInt8 map[30] = {};
  UInt32 got = 0, mapGot = 0;
  if (err == noErr) {
    err = FSReadFork(number, fsFromStart, 0, sizeof header, header, &got);
    if (err == eofErr) err = resFNotFound;  // shorter than a header
  }
  if (err == noErr) {
    const SInt64 mapOffset = SInt64(tv::forks::GetBE32(tv::forks::Bytes(header, 16), 4));
    OSErr mapErr = mapOffset < size ? FSReadFork(number, fsFromStart, mapOffset, sizeof map, map, &mapGot) : OSErr(eofErr);
    if (mapErr != noErr && mapErr != eofErr) err = mapErr;
    else if (!ResourceMapFits(header, size, map, mapGot)) err = resFNotFound;
  }
  if (err != noErr && number > 0) {
    FSCloseFork(number);
    number = -1;
  }
  sResError = err;
  return err == noErr ? number : -1;
}

void CloseResFile(ResFileRefNum refNum) { sResError = FSCloseFork(refNum); }

OSErr ResError() { return sResError; }
