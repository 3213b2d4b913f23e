#include "platform/files/StoreIO.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <new>
#include <string_view>
#include <sys/statvfs.h>
#include <unistd.h>

#include "platform/files/Errors.h"
#include "platform/files/PathNodes.h"
#include "platform/files/Listing.h"
#include "platform/files/Volumes.h"
#include "platform/sys/CallTable.h"
#include "platform/sys/FileReplacement.h"
#include "platform/toolbox/ForkEmptied.h"

namespace tv::files {

using tv::forks::Bytes;
using tv::forks::ForkFormatError;
using tv::forks::ForkStore;
using tv::forks::ForkStorePlan;
using tv::forks::SidecarPlan;
using tv::forks::SidecarPlanKind;
using tv::forks::XattrPlan;
using tv::forks::XattrPlanKind;

namespace {

constexpr int kOpenFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
// Sidecars up to this size are read in one call; in larger ones the bytes of
// a large resource fork are skipped.
constexpr size_t kWholeReadLimit = size_t(1) << 20;
constexpr size_t kHeadRead = size_t(64) << 10;
constexpr size_t kForkReadLimit = 4096;  // smaller forks are read (the blank one is 286 bytes)
// The furthest a sound AppleDouble file can reach: a 32-bit offset plus a
// 32-bit length. Anything larger is no sidecar.
constexpr uint64_t kMaxSidecarSize = (uint64_t(1) << 33) + (uint64_t(1) << 16);

// The attributes of ours, in the order of ItemStores.
struct XattrSlot {
  const char *name;
  std::optional<std::vector<UInt8>> ItemStores::*member;
};
constexpr XattrSlot kXattrSlots[] = {
    {tv::forks::kFinderInfoXattrName, &ItemStores::finderInfoXattr},
    {tv::forks::kResourceForkXattrName, &ItemStores::resourceForkXattr},
    {tv::forks::kAfpInfoXattrName, &ItemStores::afpInfo},
    {tv::forks::kNetatalkMetadataXattrName, &ItemStores::netatalkMetadata},
    {tv::forks::kAfpResourceXattrName, &ItemStores::afpResource},
};

OSStatus ItemStatus(int err, const ItemLocation &where) {
  return StatusFromErrnoAt(err, where.dirFd, where.itemPath.c_str());
}
OSStatus AttributeStatus(int err, const ItemLocation &where, const char *name) {
  const OSStatus status = ItemStatus(err, where);
  NoteFailedAttribute(name);
  return status;
}

int SetXattr(const XattrTarget &t, const char *name, const std::vector<UInt8> &value) {
  return sys::SetXattr(t.place(), name, value.data(), value.size(), 0);
}
int RemoveXattr(const XattrTarget &t, const char *name) {
  return sys::RemoveXattr(t.place(), name);
}

// A regular file is asked nothing where the file system keeps no user
// attributes (FAT, exFAT) and said so for another item of the folder (a
// folder may be a mount of another file system: it is always asked).
OSStatus ListXattrs(const ItemLocation &where, const struct stat &st, const XattrTarget &target,
                    std::vector<char> *names) {
  const uint32_t folder = where.isRoot() || !S_ISREG(st.st_mode) ? 0 : PathNodes().Parent(where.node);
  const int facts = FolderFacts(folder);
  if (facts > 0 && (facts & kFolderWithoutXattrs)) {
    names->clear();
    return noErr;
  }
  errno = 0;
  int err = sys::ListXattrNames(target.place(), names);
  // That answer is an empty list, with errno telling why.
  if (err == 0 && names->empty() && errno != 0 && sys::NoAttributesHere(errno))
    NoteFolderFact(folder, kFolderWithoutXattrs);
  return err ? ItemStatus(err, where) : noErr;
}

OSStatus ReadXattr(const ItemLocation &where, const XattrTarget &target, const char *name,
                   std::optional<std::vector<UInt8>> *out) {
  int err = sys::ReadXattrValue(target.place(), name, out);
  return err ? AttributeStatus(err, where, name) : noErr;
}

// Where the resource fork's data lies according to the descriptors in `head`
// (no checks beyond what locating needs: the whole file is parsed later).
bool LocateFork(Bytes head, uint64_t *offset, uint64_t *length) {
  using tv::forks::GetBE16;
  using tv::forks::GetBE32;
  if (head.size() < tv::forks::kAppleDoubleHeaderSize) return false;
  size_t count = GetBE16(head, 24);
  if (head.size() < tv::forks::kAppleDoubleHeaderSize + count * tv::forks::kAppleDoubleDescriptorSize) return false;
  for (size_t i = 0; i < count; ++i) {
    size_t at = tv::forks::kAppleDoubleHeaderSize + i * tv::forks::kAppleDoubleDescriptorSize;
    if (GetBE32(head, at) == tv::forks::kEntryResourceFork) {
      *offset = GetBE32(head, at + 4);
      *length = GetBE32(head, at + 8);
      return true;
    }
  }
  return false;
}

// Reads the sidecar's bytes into file->buffer. A large fork's bytes are left
// unread: nothing but their place and length is ever looked at.
OSStatus ReadSidecarBytes(SidecarFile *file, SidecarBytes what) {
  const uint64_t size = uint64_t(file->st.st_size);
  if (size > kMaxSidecarSize) return kForkStoreDamagedErr;
  std::unique_ptr<UInt8[]> buffer(new (std::nothrow) UInt8[size ? size_t(size) : 1]);
  if (!buffer) return memFullErr;
  OSStatus result = noErr;
  auto readRange = [&](uint64_t from, uint64_t to) {
    if (result != noErr || from >= to) return;
    ssize_t n = sys::PreadAll(file->fd, buffer.get() + from, size_t(to - from), from);
    if (n < 0) result = StatusFromErrnoAt(errno, file->dirFd, file->path.c_str());
    else if (uint64_t(n) < to - from) result = kForkStoreDamagedErr;  // cut short while we read it
  };
  if (size <= kWholeReadLimit || what == SidecarBytes::kWhole) {
    readRange(0, size);
  } else {
    readRange(0, kHeadRead);
    uint64_t forkOffset = 0, forkLength = 0;
    if (result == noErr && LocateFork(Bytes(buffer.get(), kHeadRead), &forkOffset, &forkLength) &&
        forkLength > kForkReadLimit && forkOffset + forkLength <= size && forkOffset + forkLength > kHeadRead) {
      readRange(kHeadRead, std::max<uint64_t>(forkOffset, kHeadRead));
      readRange(forkOffset + forkLength, size);
    } else {
      readRange(kHeadRead, size);
    }
  }
  if (result == noErr) {
    file->buffer = std::move(buffer);
    file->size = size_t(size);
  }
  return result;
}

// Reads a sidecar its folder's listing has just shown as a regular file with
// no look at it: true when one read took it whole (it is smaller than
// kHeadRead), and file->st then holds its kind and size alone. A larger one,
// or one that is no file since (a folder or FIFO refuses the read), is
// looked at and read the usual way. A read of a regular file that returns
// less than was asked has reached its end: no second read confirms it.
bool ReadShownSidecar(SidecarFile *file) {
  std::unique_ptr<UInt8[]> buffer(new (std::nothrow) UInt8[kHeadRead]);
  if (!buffer) return false;
  ssize_t n;
  do n = sys::Pread(file->fd, buffer.get(), kHeadRead, 0);
  while (n < 0 && errno == EINTR);
  if (n < 0 || size_t(n) >= kHeadRead) return false;
  file->buffer = std::move(buffer);
  file->size = size_t(n);
  file->st.st_mode = S_IFREG;
  file->st.st_size = off_t(n);
  return true;
}

// Replaces the file at (dirFd, path) through the shared crash-safe
// replacement; its errno becomes a status here.
OSStatus ReplaceFile(int dirFd, const std::string &path, const std::vector<UInt8> &content,
                     const sys::KeptAttributes &keep) {
  const sys::ReplaceResult r = sys::ReplaceFile(dirFd, path, content.data(), content.size(), &keep);
  if (r.err == 0) return noErr;
  const OSStatus status = StatusFromErrnoAt(r.err, dirFd, r.failedAt.c_str());
  NoteFailedEntryAs(dirFd, path.c_str());  // the user knows the file, not our temporary
  return status;
}

OSStatus CarryOutSidecarPlan(SidecarFile &file, const SidecarPlan &plan) {
  OSStatus result = noErr;
  SidecarPlanKind kind = plan.kind;
  // A sidecar with other names (deduplicated trees, cp -al, rsync snapshots)
  // belongs to other items too: changed in place, it would change theirs.
  // It is rewritten as a new file under the selected name only.
  std::vector<UInt8> asNewFile;
  if (kind == SidecarPlanKind::kInPlace && file.st.st_nlink > 1) {
    asNewFile = tv::forks::ApplySidecarPlan(file.bytes(), plan);
    kind = SidecarPlanKind::kRewrite;
  }
  switch (kind) {
    case SidecarPlanKind::kNothing:
      break;
    case SidecarPlanKind::kInPlace:
      if (!file.writable) return StatusFromErrnoAt(file.writeErrno ? file.writeErrno : EACCES, file.dirFd,
                                                   file.path.c_str());
      // The patch reaches the disk before the cut: until then the file
      // parses with the new length fields and some bytes that belong to
      // nothing, and never with fields that point past its end. Writing
      // out the patched range orders the two for the disk at a fraction of
      // what an fsync costs (an fsync per sidecar would double the time of
      // a large zap); only a volatile disk cache could still reorder them.
      if (sys::PwriteAll(file.fd, plan.patch.data(), plan.patch.size(), plan.patchOffset) != 0) {
        result = StatusFromErrnoAt(errno, file.dirFd, file.path.c_str());
      } else if (plan.truncateTo != file.size &&
                 (sys::SyncRange(file.fd, off_t(plan.patchOffset), off_t(plan.patch.size())) != 0 ||
                  sys::Ftruncate(file.fd, off_t(plan.truncateTo)) != 0)) {
        result = StatusFromErrnoAt(errno, file.dirFd, file.path.c_str());
        // The cut failed: put the old fields back, so that a failure changes
        // nothing (the file parses either way).
        if (plan.patchOffset + plan.patch.size() <= file.size) {
          int saved = errno;
          sys::PwriteAll(file.fd, file.buffer.get() + plan.patchOffset, plan.patch.size(), plan.patchOffset);
          errno = saved;
        }
      }
      break;
    case SidecarPlanKind::kRewrite: {
      std::vector<sys::NamedValue> xattrs;
      if (int err = sys::ReadAllXattrs(file.fd, &xattrs)) return StatusFromErrnoAt(err, file.dirFd, file.path.c_str());
      const sys::KeptAttributes keep{file.st.st_uid, file.st.st_gid, file.st.st_mode, &xattrs};
      result = ReplaceFile(file.dirFd, file.path, kind == plan.kind ? plan.content : asNewFile, keep);
      break;
    }
    case SidecarPlanKind::kRemove:
      if (sys::Unlinkat(file.dirFd, file.path.c_str(), 0) != 0 && errno != ENOENT)
        result = StatusFromErrnoAt(errno, file.dirFd, file.path.c_str());
      break;
  }
  return result;
}

OSStatus ApplyXattrPlan(const ItemLocation &where, const XattrTarget &target, const char *name,
                        const XattrPlan &plan) {
  switch (plan.kind) {
    case XattrPlanKind::kNothing:
      return noErr;
    case XattrPlanKind::kSet:
      return SetXattr(target, name, plan.value) == 0 ? noErr : AttributeStatus(errno, where, name);
    case XattrPlanKind::kRemove:
      return RemoveXattr(target, name) == 0 || errno == ENODATA ? noErr : AttributeStatus(errno, where, name);
  }
  return noErr;
}

}  // namespace

SidecarFile::~SidecarFile() {
  if (fd >= 0) sys::Close(fd);
}

tv::forks::ForkStoreSnapshot ItemStores::Snapshot() const {
  tv::forks::ForkStoreSnapshot s;
  auto view = [](const std::optional<std::vector<UInt8>> &v) -> std::optional<Bytes> {
    if (!v) return std::nullopt;
    return Bytes(v->data(), v->size());
  };
  s.finderInfoXattr = view(finderInfoXattr);
  s.resourceForkXattr = view(resourceForkXattr);
  s.afpInfo = view(afpInfo);
  s.netatalkMetadata = view(netatalkMetadata);
  s.afpResource = view(afpResource);
  if (sidecar) s.sidecar = sidecar->bytes();
  return s;
}

XattrTarget XattrTargetOf(const ItemLocation &where, int itemFd) {
  XattrTarget target;
  target.fd = itemFd;
  if (itemFd < 0) {
    target.dirFd = where.dirFd;
    target.path = where.itemPath;
  }
  return target;
}

std::string SidecarPathOf(const ItemLocation &where, const struct stat &st) {
  if (S_ISDIR(st.st_mode) && !where.isRoot() && IsVolumeRoot(where, st)) {
    std::string path = where.itemPath;
    if (path.back() != '/') path += '/';
    return path + "._.";
  }
  // The root folder is its own folder and its name is ".": "/._.". Where
  // the folder ignores case the listing may have found it under another
  // case ("._mixed.txt" for "Mixed.TXT"): a rewrite keeps that name.
  std::string listed = PathNodes().SidecarName(where.node);
  return where.SiblingPath(listed.empty() ? "._" + where.name : listed);
}

OSStatus ReadXattrStores(const ItemLocation &where, const struct stat &st, const XattrTarget &target,
                         ItemStores *stores) {
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return noErr;
  // Listed afresh every time: another process may add a fork without
  // moving the change time within one clock tick.
  std::vector<char> names;
  OSStatus result = ListXattrs(where, st, target, &names);
  std::string_view list(names.data(), names.size());
  while (result == noErr && !list.empty()) {
    size_t end = list.find('\0');
    std::string_view name = list.substr(0, end);
    list.remove_prefix(end == std::string_view::npos ? list.size() : end + 1);
    for (const XattrSlot &slot : kXattrSlots)
      if (name == slot.name && !(stores->*slot.member)) result = ReadXattr(where, target, slot.name, &(stores->*slot.member));
  }
  return result;
}

bool ListingShowedNoSidecar(const ItemLocation &where, const struct stat &st) {
  const uint8_t hints = PathNodes().Hints(where.node);
  const bool beside = S_ISREG(st.st_mode) || (hints & PathNodeTable::kHintOnFolderVolume);
  return beside && (hints & PathNodeTable::kHintListed) && !(hints & PathNodeTable::kHintSidecar);
}

OSStatus ReadSidecarStore(const ItemLocation &where, const struct stat &st, bool forWriting, SidecarBytes what,
                          ItemStores *stores) {
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return noErr;
  LearnSidecarName(where);
  // The listing of the item's folder has just shown whether a "._name"
  // stood beside it: a walk does not look for it again, to read or to
  // write (a sidecar made since is seen at the next listing, as reading
  // sees it). That is where a folder's sidecar is only while no mount has
  // its root there (a volume keeps "._." inside). One the listing showed is
  // opened and, for writing, looked at: its links decide how it is changed.
  if (ListingShowedNoSidecar(where, st)) return noErr;
  const uint8_t hints = PathNodes().Hints(where.node);
  const bool beside = S_ISREG(st.st_mode) || (hints & PathNodeTable::kHintOnFolderVolume);
  const bool shown = !forWriting && beside && (hints & PathNodeTable::kHintListed);
  auto file = std::make_unique<SidecarFile>();
  file->dirFd = where.dirFd;
  file->path = SidecarPathOf(where, st);
  const char *path = file->path.c_str();

  // An item no listing has shown (one reached by its path) was never told
  // what stands where its sidecar belongs, and a device node opened there,
  // even only to be refused after, may act on the open: such a sidecar is
  // looked at first, and opened only when it is a regular file.
  if (!(hints & PathNodeTable::kHintListed)) {
    ItemStat look;
    const int err = StatItemAt(where.dirFd, path, &look);
    if (err == ENOENT || err == ENAMETOOLONG || (err == 0 && !S_ISREG(look.st.st_mode))) return noErr;
    if (err != 0) return StatusFromErrnoAt(err, where.dirFd, path);
  }
  int fd = -1, err = 0;
  if (forWriting) {
    fd = sys::Openat(where.dirFd, path, O_RDWR | kOpenFlags);
    if (fd >= 0) file->writable = true;
    else if (errno == EACCES || errno == EPERM || errno == EROFS || errno == ETXTBSY) file->writeErrno = errno;
    else err = errno;
  }
  if (fd < 0 && err == 0) {
    fd = sys::Openat(where.dirFd, path, O_RDONLY | kOpenFlags);
    if (fd < 0) err = errno;
  }
  if (fd < 0) {
    // No such file (or no name that long is possible): no sidecar. Nor is
    // a link (ELOOP: never followed), a folder (EISDIR, opened for writing)
    // or a socket (ENXIO) of that name: each is an item of its own.
    if (err == ENOENT || err == ENAMETOOLONG || err == ELOOP || err == EISDIR || err == ENXIO) return noErr;
    return StatusFromErrnoAt(err, where.dirFd, path);
  }
  file->fd = fd;
  if (shown && ReadShownSidecar(file.get())) {
    stores->sidecar = std::move(file);
    return noErr;
  }
  if (sys::Fstat(fd, &file->st) != 0) return StatusFromErrnoAt(errno, where.dirFd, path);
  // A folder or FIFO of that name is no sidecar either, but an item.
  if (!S_ISREG(file->st.st_mode)) return noErr;
  OSStatus result = ReadSidecarBytes(file.get(), what);
  if (result == noErr) stores->sidecar = std::move(file);
  return result;
}

void RemoveLeftoverTemporary(int dirFd, const char *name) {
  if (!sys::IsTemporaryName(name)) return;
  SidecarFile file;  // closes the descriptor, and with it the lock, on every way out
  file.dirFd = dirFd;
  file.path = name;
  file.fd = sys::Openat(dirFd, name, O_RDONLY | kOpenFlags);
  if (file.fd < 0) return;
  // Its writer holds it locked until the rename: the lock is ours only when
  // no live process is writing it (whatever became of the writer's pid).
  // Where nothing can be locked, nothing proves that: it stays.
  if (sys::OfdLock(file.fd, F_RDLCK, false) != 0) return;
  if (sys::Fstat(file.fd, &file.st) != 0 || !S_ISREG(file.st.st_mode)) return;
  // What a rewrite writes is AppleDouble from its first byte: a writer
  // killed part way leaves a file that begins as one does, as far as it
  // goes, or nothing at all (killed right after creating it).
  const UInt8 start[8] = {0x00, 0x05, 0x16, 0x07, 0x00, 0x02, 0x00, 0x00};
  static_assert(tv::forks::kAppleDoubleMagic == 0x00051607 && tv::forks::kAppleDoubleVersion2 == 0x00020000);
  UInt8 head[sizeof start];
  const size_t want = size_t(std::min<uint64_t>(sizeof head, uint64_t(file.st.st_size)));
  if (sys::PreadAll(file.fd, head, want, 0) != ssize_t(want) || std::memcmp(head, start, want) != 0) return;
  struct stat now {};
  if (sys::Fstatat(dirFd, name, &now, AT_SYMLINK_NOFOLLOW) != 0 || now.st_dev != file.st.st_dev ||
      now.st_ino != file.st.st_ino)
    return;  // no longer the file we looked at
  sys::Unlinkat(dirFd, name, 0);
}

OSStatus ApplyForkStorePlan(const ItemLocation &where, const struct stat &st, const XattrTarget &target,
                            ItemStores &stores, const ForkStorePlan &plan, PlanOrder order) {
  OSStatus result = noErr;
  auto xattr = [&](const char *name, const XattrPlan &p) {
    if (result == noErr) result = ApplyXattrPlan(where, target, name, p);
  };
  auto sidecar = [&] {
    if (result != noErr || plan.sidecar.kind == SidecarPlanKind::kNothing) return;
    if (!stores.sidecar) result = paramErr;  // a plan for a sidecar that was not read
    else result = CarryOutSidecarPlan(*stores.sidecar, plan.sidecar);
  };
  if (order == PlanOrder::kResourceFork) {
    xattr(tv::forks::kAfpResourceXattrName, plan.afpResource);
    xattr(tv::forks::kResourceForkXattrName, plan.resourceForkXattr);
    sidecar();
    return result;
  }
  sidecar();
  xattr(tv::forks::kNetatalkMetadataXattrName, plan.netatalkMetadata);
  xattr(tv::forks::kAfpInfoXattrName, plan.afpInfo);
  if (result == noErr && plan.finderInfoXattr.kind == XattrPlanKind::kSet && !stores.finderInfoXattr &&
      !stores.sidecar) {
    // A new FinderInfo attribute; where the file system keeps no user
    // attributes (FAT, exFAT) it goes into a new sidecar instead, as macOS
    // would write it there.
    if (SetXattr(target, tv::forks::kFinderInfoXattrName, plan.finderInfoXattr.value) == 0) return noErr;
    if (!sys::NoAttributesHere(errno)) return AttributeStatus(errno, where, tv::forks::kFinderInfoXattrName);
    tv::forks::FinderInfoBytes info{};
    std::memcpy(info.data(), plan.finderInfoXattr.value.data(),
                std::min(info.size(), plan.finderInfoXattr.value.size()));
    // Whatever stands where the sidecar belongs is no sidecar (it would
    // have been read), but an item of the user's: it is never replaced.
    struct stat there {};
    const std::string sidecarPath = SidecarPathOf(where, st);
    if (sys::Fstatat(where.dirFd, sidecarPath.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0) return dupFNErr;
    // From now on readers must look for the sidecar this makes.
    PathNodes().SetHints(where.node, PathNodes().Hints(where.node) | PathNodeTable::kHintSidecar);
    return ReplaceFile(where.dirFd, sidecarPath, tv::forks::BuildSidecarWithFinderInfo(info),
                       sys::KeptAttributes{st.st_uid, st.st_gid, mode_t(st.st_mode & 0666), nullptr});
  }
  xattr(tv::forks::kFinderInfoXattrName, plan.finderInfoXattr);
  return result;
}

OSStatus ForkStoreEmptyResourceFork(const ItemLocation &where, const struct stat &st, const XattrTarget &target) {
  if (!S_ISREG(st.st_mode)) return noErr;  // only a regular file has a fork
  ItemStores stores;
  OSStatus result = ReadItemStores(where, st, target, true, SidecarBytes::kSkipLargeFork, &stores);
  ForkStorePlan plan;
  if (result == noErr && tv::forks::PlanEmptyResourceForkEverywhere(stores.Snapshot(), &plan) != ForkFormatError::kNone)
    result = kForkStoreDamagedErr;
  if (result == noErr && !plan.nothing())
    result = ApplyForkStorePlan(where, st, target, stores, plan, PlanOrder::kResourceFork);
  // What a plan that failed part way freed is not known: only a whole
  // emptying is told.
  if (result == noErr && !plan.nothing())
    tv::toolbox::NoteForkEmptied(tv::forks::BytesFreedByPlan(stores.Snapshot(), plan,
                                                              stores.sidecar && stores.sidecar->st.st_nlink > 1));
  return result;
}

OSStatus ReadItemStores(const ItemLocation &where, const struct stat &st, const XattrTarget &target,
                        bool forWriting, SidecarBytes what, ItemStores *stores) {
  OSStatus result = ReadXattrStores(where, st, target, stores);
  if (result == noErr) result = ReadSidecarStore(where, st, forWriting, what, stores);
  return result;
}

OSStatus LocateResourceFork(const ItemStores &stores, ResourceForkPlace *place) {
  Bytes fork;
  ForkStore store = ForkStore::kNone;
  if (tv::forks::ReadResourceFork(stores.Snapshot(), &fork, &store) != ForkFormatError::kNone)
    return kForkStoreDamagedErr;
  ResourceForkPlace found;
  found.store = store;
  found.size = fork.size();
  if (store == ForkStore::kSidecar) found.offset = uint64_t(fork.data() - stores.sidecar->buffer.get());
  *place = found;
  return noErr;
}

OSStatus CheckItemUnlocked(const ItemLocation &where, const ItemStat &item, int itemFd) {
  if (item.lockKnown) {
    if (!item.immutable) return noErr;
  } else {
    // A file system that refused the question for another item of the
    // folder keeps no flags.
    const uint32_t folder = item.onFolderMount && !where.isRoot() ? PathNodes().Parent(where.node) : 0;
    const int facts = FolderFacts(folder);
    if (itemFd < 0 || (facts > 0 && (facts & kFolderWithoutLockFlags))) return noErr;
    unsigned flags = 0;
    if (sys::GetFlags(itemFd, &flags) != 0) {
      if (errno == ENOTTY || errno == EOPNOTSUPP || errno == ENOSYS) NoteFolderFact(folder, kFolderWithoutLockFlags);
      return noErr;
    }
    if (!(flags & (FS_IMMUTABLE_FL | FS_APPEND_FL))) return noErr;
  }
  // Records which flag.
  if (itemFd >= 0) (void)StatusFromErrnoAt(EPERM, itemFd, "");
  else (void)StatusFromErrnoAt(EPERM, where.dirFd, where.itemPath.c_str());
  return fLckdErr;
}

OSStatus CheckItemWritable(const ItemLocation &where, const ItemStat &item, int itemFd) {
  const struct stat &st = item.st;
  const char *path = where.itemPath.c_str();
  const int facts = item.onFolderMount && !where.isRoot() ? FolderFacts(PathNodes().Parent(where.node)) : -1;
  const int readOnly = facts < 0 ? -1 : (facts & kFolderReadOnly) ? 1 : 0;
  const bool lockKnown = item.lockKnown || (facts >= 0 && (facts & kFolderWithoutLockFlags));
  int ownFd = -1;
  if (itemFd < 0 && (readOnly < 0 || !lockKnown) && (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)))
    itemFd = ownFd = sys::Openat(where.dirFd, path, O_RDONLY | kOpenFlags);
  OSStatus result = noErr;
  struct statfs sfs {};
  // What the kernel would answer a write with, so that the cause is recorded.
  if (readOnly > 0) result = StatusFromErrnoAt(EROFS, where.dirFd, path);
  else if (readOnly < 0 && itemFd >= 0 && sys::Fstatfs(itemFd, &sfs) == 0 && (sfs.f_flags & ST_RDONLY))
    result = StatusFromErrnoAt(EROFS, itemFd, "");
  if (result == noErr) result = CheckItemUnlocked(where, item, itemFd);
  if (result == noErr && sys::Faccessat(where.dirFd, path, W_OK, AT_EACCESS) != 0)
    result = StatusFromErrnoAt(errno, where.dirFd, path);
  if (ownFd >= 0) sys::Close(ownFd);
  return result;
}

}  // namespace tv::files
