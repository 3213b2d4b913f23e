#include "platform/files/ForkStore.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
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
#include "platform/files/Syscalls.h"

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
constexpr size_t kMaxXattrSize = size_t(64) << 10;  // XATTR_SIZE_MAX

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

ssize_t GetXattr(const XattrTarget &t, const char *name, void *value, size_t size) {
  return t.fd >= 0 ? sys::Fgetxattr(t.fd, name, value, size) : sys::Lgetxattr(t.path.c_str(), name, value, size);
}
ssize_t ListXattr(const XattrTarget &t, char *list, size_t size) {
  return t.fd >= 0 ? sys::Flistxattr(t.fd, list, size) : sys::Llistxattr(t.path.c_str(), list, size);
}
int SetXattr(const XattrTarget &t, const char *name, const std::vector<UInt8> &value) {
  return t.fd >= 0 ? sys::Fsetxattr(t.fd, name, value.data(), value.size(), 0)
                   : sys::Lsetxattr(t.path.c_str(), name, value.data(), value.size(), 0);
}
int RemoveXattr(const XattrTarget &t, const char *name) {
  return t.fd >= 0 ? sys::Fremovexattr(t.fd, name) : sys::Lremovexattr(t.path.c_str(), name);
}

bool NoAttributesHere(int err) { return err == ENOTSUP || err == EOPNOTSUPP; }

// The names of the item's attributes, 0-separated; empty where the file
// system keeps none.
OSStatus ListXattrs(const ItemLocation &where, const XattrTarget &target, std::vector<char> *names) {
  std::vector<char> list(1024);
  for (int attempt = 0; attempt < 4; ++attempt) {
    ssize_t n = ListXattr(target, list.data(), list.size());
    if (n >= 0) {
      list.resize(size_t(n));
      *names = std::move(list);
      return noErr;
    }
    int err = errno;
    if (NoAttributesHere(err)) {
      names->clear();
      return noErr;
    }
    if (err == EINTR) continue;
    if (err != ERANGE) return ItemStatus(err, where);
    // The list grew since we asked: ask its size, then read it again.
    ssize_t need = ListXattr(target, nullptr, 0);
    if (need < 0) return ItemStatus(errno, where);
    list.resize(size_t(need) + 256);
  }
  return ioErr;
}

// One attribute's whole value; *out stays empty when it is not there.
OSStatus ReadXattr(const ItemLocation &where, const XattrTarget &target, const char *name,
                   std::optional<std::vector<UInt8>> *out) {
  std::vector<UInt8> value(kMaxXattrSize);
  for (int attempt = 0; attempt < 4; ++attempt) {
    ssize_t n = GetXattr(target, name, value.data(), value.size());
    if (n >= 0) {
      value.resize(size_t(n));
      *out = std::move(value);
      return noErr;
    }
    int err = errno;
    if (err == ENODATA || NoAttributesHere(err)) return noErr;  // removed since the listing
    if (err == EINTR) continue;
    if (err != ERANGE) return ItemStatus(err, where);
    ssize_t need = GetXattr(target, name, nullptr, 0);
    if (need < 0) return errno == ENODATA ? noErr : ItemStatus(errno, where);
    value.resize(size_t(need));
  }
  return ioErr;
}

// Reads `size` bytes at `offset`; fewer only at the end of the file.
ssize_t PreadAll(int fd, UInt8 *buf, size_t size, uint64_t offset) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = sys::Pread(fd, buf + done, size - done, off_t(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += size_t(n);
  }
  return ssize_t(done);
}

int PwriteAll(int fd, const UInt8 *buf, size_t size, uint64_t offset) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = sys::Pwrite(fd, buf + done, size - done, off_t(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    done += size_t(n);
  }
  return 0;
}

int WriteAll(int fd, const UInt8 *buf, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = sys::Write(fd, buf + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    done += size_t(n);
  }
  return 0;
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
    ssize_t n = PreadAll(file->fd, buffer.get() + from, size_t(to - from), from);
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

uint64_t NextRandom() {
  static std::atomic<uint64_t> counter{0};
  uint64_t x = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) +
               counter.fetch_add(0x9E3779B97F4A7C15ull) + uint64_t(reinterpret_cast<uintptr_t>(&counter));
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

std::string FolderPrefixOf(const std::string &path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Replaces the file at (dirFd, path) by one holding `content` with the given
// owner, group and mode, through a temporary sibling that is flushed and then
// renamed over it: the file is the old or the new one at every instant.
OSStatus ReplaceFile(int dirFd, const std::string &path, const std::vector<UInt8> &content, uid_t uid, gid_t gid,
                     mode_t mode) {
  const std::string folder = FolderPrefixOf(path);
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    char name[40];
    std::snprintf(name, sizeof name, "%s%016llx", kTemporaryPrefix, static_cast<unsigned long long>(NextRandom()));
    temp = folder + name;
    fd = sys::Openat(dirFd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return StatusFromErrnoAt(errno, dirFd, path.c_str());

  OSStatus result = noErr;
  auto step = [&](int r) {
    if (result == noErr && r != 0) result = StatusFromErrnoAt(errno, dirFd, temp.c_str());
  };
  step(WriteAll(fd, content.data(), content.size()));
  step(result == noErr ? sys::Fchown(fd, uid, gid) : 0);
  step(result == noErr ? sys::Fchmod(fd, mode & 07777) : 0);
  step(result == noErr ? sys::Fsync(fd) : 0);
  int closed = sys::Close(fd);
  step(closed);
  if (result == noErr && sys::Renameat(dirFd, temp.c_str(), dirFd, path.c_str()) != 0)
    result = StatusFromErrnoAt(errno, dirFd, path.c_str());
  if (result != noErr) {
    int saved = errno;
    sys::Unlinkat(dirFd, temp.c_str(), 0);
    errno = saved;
  }
  return result;
}

OSStatus ApplySidecarPlan(SidecarFile &file, const SidecarPlan &plan) {
  OSStatus result = noErr;
  switch (plan.kind) {
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
      if (PwriteAll(file.fd, plan.patch.data(), plan.patch.size(), plan.patchOffset) != 0) {
        result = StatusFromErrnoAt(errno, file.dirFd, file.path.c_str());
      } else if (plan.truncateTo != file.size &&
                 (sys::SyncRange(file.fd, off_t(plan.patchOffset), off_t(plan.patch.size())) != 0 ||
                  sys::Ftruncate(file.fd, off_t(plan.truncateTo)) != 0)) {
        result = StatusFromErrnoAt(errno, file.dirFd, file.path.c_str());
        // The cut failed: put the old fields back, so that a failure changes
        // nothing (the file parses either way).
        if (plan.patchOffset + plan.patch.size() <= file.size) {
          int saved = errno;
          PwriteAll(file.fd, file.buffer.get() + plan.patchOffset, plan.patch.size(), plan.patchOffset);
          errno = saved;
        }
      }
      break;
    case SidecarPlanKind::kRewrite:
      result = ReplaceFile(file.dirFd, file.path, plan.content, file.st.st_uid, file.st.st_gid, file.st.st_mode);
      break;
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
      return SetXattr(target, name, plan.value) == 0 ? noErr : ItemStatus(errno, where);
    case XattrPlanKind::kRemove:
      return RemoveXattr(target, name) == 0 || errno == ENODATA ? noErr : ItemStatus(errno, where);
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
  if (itemFd < 0) target.path = where.PathForPathCalls();
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
  OSStatus result = ListXattrs(where, target, &names);
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

OSStatus ReadSidecarStore(const ItemLocation &where, const struct stat &st, bool forWriting, SidecarBytes what,
                          ItemStores *stores) {
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return noErr;
  // The listing of the file's folder has just shown whether a "._name"
  // stood beside it: a walk does not look for it again to read. Writing
  // always looks.
  if (!forWriting && S_ISREG(st.st_mode)) {
    uint8_t hints = PathNodes().Hints(where.node);
    if ((hints & PathNodeTable::kHintListed) && !(hints & PathNodeTable::kHintSidecar)) return noErr;
  }
  auto file = std::make_unique<SidecarFile>();
  file->dirFd = where.dirFd;
  file->path = SidecarPathOf(where, st);
  const char *path = file->path.c_str();

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
    // No such file (or no name that long is possible): no sidecar. A link
    // where the sidecar belongs is not followed: that is a damaged store.
    if (err == ENOENT || err == ENAMETOOLONG) return noErr;
    return err == ELOOP ? kForkStoreDamagedErr : StatusFromErrnoAt(err, where.dirFd, path);
  }
  file->fd = fd;
  OSStatus result = noErr;
  if (sys::Fstat(fd, &file->st) != 0) result = StatusFromErrnoAt(errno, where.dirFd, path);
  else if (!S_ISREG(file->st.st_mode)) result = kForkStoreDamagedErr;
  if (result == noErr) result = ReadSidecarBytes(file.get(), what);
  if (result == noErr) stores->sidecar = std::move(file);
  return result;
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
    else result = ApplySidecarPlan(*stores.sidecar, plan.sidecar);
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
    if (!NoAttributesHere(errno)) return ItemStatus(errno, where);
    tv::forks::FinderInfoBytes info{};
    std::memcpy(info.data(), plan.finderInfoXattr.value.data(),
                std::min(info.size(), plan.finderInfoXattr.value.size()));
    // From now on readers must look for the sidecar this makes.
    PathNodes().SetHints(where.node, PathNodes().Hints(where.node) | PathNodeTable::kHintSidecar);
    return ReplaceFile(where.dirFd, SidecarPathOf(where, st), tv::forks::BuildSidecarWithFinderInfo(info),
                       st.st_uid, st.st_gid, st.st_mode & 0666);
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

OSStatus CheckItemWritable(const ItemLocation &where, const struct stat &st, int itemFd) {
  const char *path = where.itemPath.c_str();
  int ownFd = -1;
  if (itemFd < 0 && (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)))
    itemFd = ownFd = sys::Openat(where.dirFd, path, O_RDONLY | kOpenFlags);
  OSStatus result = noErr;
  struct statfs sfs {};
  if (itemFd >= 0 && sys::Fstatfs(itemFd, &sfs) == 0 && (sfs.f_flags & ST_RDONLY)) result = wPrErr;
  unsigned flags = 0;
  if (result == noErr && itemFd >= 0 && sys::GetFlags(itemFd, &flags) == 0 && (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)))
    result = fLckdErr;
  if (result == noErr && sys::Faccessat(where.dirFd, path, W_OK, AT_EACCESS) != 0)
    result = StatusFromErrnoAt(errno, where.dirFd, path);
  if (ownFd >= 0) sys::Close(ownFd);
  return result;
}

}  // namespace tv::files
