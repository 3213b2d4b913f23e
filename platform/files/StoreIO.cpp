#include "platform/files/StoreIO.h"

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

#include "platform/HostServices.h"
#include "platform/files/Errors.h"
#include "platform/files/PathNodes.h"
#include "platform/files/Listing.h"
#include "platform/files/CallTable.h"

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

// The names of the attributes, 0-separated; empty where the file system
// keeps none. 0 or an errno.
int ListXattrNames(const XattrTarget &target, std::vector<char> *names) {
  std::vector<char> list(1024);
  for (int attempt = 0; attempt < 4; ++attempt) {
    ssize_t n = ListXattr(target, list.data(), list.size());
    if (n >= 0) {
      list.resize(size_t(n));
      *names = std::move(list);
      return 0;
    }
    int err = errno;
    if (NoAttributesHere(err)) {
      names->clear();
      return 0;
    }
    if (err == EINTR) continue;
    if (err != ERANGE) return err;
    // The list grew since we asked: ask its size, then read it again.
    ssize_t need = ListXattr(target, nullptr, 0);
    if (need < 0) return errno;
    list.resize(size_t(need) + 256);
  }
  return EIO;
}

// One attribute's whole value; *out stays empty when it is not there.
// 0 or an errno.
int ReadXattrValue(const XattrTarget &target, const char *name, std::optional<std::vector<UInt8>> *out) {
  std::vector<UInt8> value(kMaxXattrSize);
  for (int attempt = 0; attempt < 4; ++attempt) {
    ssize_t n = GetXattr(target, name, value.data(), value.size());
    if (n >= 0) {
      value.resize(size_t(n));
      *out = std::move(value);
      return 0;
    }
    int err = errno;
    if (err == ENODATA || NoAttributesHere(err)) return 0;  // removed since the listing
    if (err == EINTR) continue;
    if (err != ERANGE) return err;
    ssize_t need = GetXattr(target, name, nullptr, 0);
    if (need < 0) return errno == ENODATA ? 0 : errno;
    value.resize(size_t(need));
  }
  return EIO;
}

OSStatus ListXattrs(const ItemLocation &where, const XattrTarget &target, std::vector<char> *names) {
  int err = ListXattrNames(target, names);
  return err ? ItemStatus(err, where) : noErr;
}

OSStatus ReadXattr(const ItemLocation &where, const XattrTarget &target, const char *name,
                   std::optional<std::vector<UInt8>> *out) {
  int err = ReadXattrValue(target, name, out);
  return err ? ItemStatus(err, where) : noErr;
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

// The temporaries of the rewrites in flight, for RemoveTemporariesInFlight,
// which a handler of a signal that ends the process calls. A handler may
// neither lock nor allocate, so each slot is fixed storage published by an
// atomic state: the handler reads a path only once it is complete. Slots
// run out only with more rewrites at once than there are slots; such a
// rewrite's temporary is then left to the cleanup of a later zap.
enum : int { kSlotFree, kSlotFilling, kSlotPublished };
struct InFlightSlot {
  std::atomic<int> state{kSlotFree};
  int dirFd = -1;
  char path[4096] = {};
};
InFlightSlot sInFlight[4];
static_assert(std::atomic<int>::is_always_lock_free, "read from a signal handler");

// Publishes one temporary for the time the object lives.
class TemporaryInFlight {
 public:
  TemporaryInFlight(int dirFd, const std::string &path) {
    if (path.size() >= sizeof slot_->path) return;
    for (InFlightSlot &slot : sInFlight) {
      int expected = kSlotFree;
      if (!slot.state.compare_exchange_strong(expected, kSlotFilling, std::memory_order_acquire)) continue;
      slot.dirFd = dirFd;
      std::memcpy(slot.path, path.c_str(), path.size() + 1);
      slot.state.store(kSlotPublished, std::memory_order_release);
      slot_ = &slot;
      return;
    }
  }
  ~TemporaryInFlight() {
    if (slot_) slot_->state.store(kSlotFree, std::memory_order_release);
  }
  TemporaryInFlight(const TemporaryInFlight &) = delete;
  TemporaryInFlight &operator=(const TemporaryInFlight &) = delete;

 private:
  InFlightSlot *slot_ = nullptr;
};

// Where a file system keeps no such locks (some network and FUSE file
// systems), a rewrite goes on without one.
bool NoLocksHere(int err) { return err == ENOLCK || err == EINVAL || err == ENOTSUP || err == EOPNOTSUPP; }

constexpr char kAccessAclXattr[] = "system.posix_acl_access";

// One extended attribute of a file, whole.
struct NamedValue {
  std::string name;
  std::vector<UInt8> value;
};

// What a rewritten file keeps of the old one beyond its bytes.
struct KeptAttributes {
  uid_t uid = 0;
  gid_t gid = 0;
  mode_t mode = 0;
  // Every extended attribute of the old file: user.* (Samba's DOSATTRIB),
  // security.* (its NTACL), and the POSIX ACLs, which the kernel hands over
  // as system.posix_acl_*. Null for a file that is new.
  const std::vector<NamedValue> *xattrs = nullptr;
};

// Every extended attribute the open file has, read before a rewrite
// replaces it. 0 or an errno.
int ReadAllXattrs(int fd, std::vector<NamedValue> *out) {
  const XattrTarget target{fd, {}};
  std::vector<char> names;
  int err = ListXattrNames(target, &names);
  std::string_view list(names.data(), names.size());
  while (err == 0 && !list.empty()) {
    size_t end = list.find('\0');
    std::string name(list.substr(0, end));
    list.remove_prefix(end == std::string_view::npos ? list.size() : end + 1);
    std::optional<std::vector<UInt8>> value;
    if (name.empty()) continue;
    err = ReadXattrValue(target, name.c_str(), &value);
    if (err == 0 && value) out->push_back(NamedValue{std::move(name), std::move(*value)});
  }
  return err;
}

// Sets one attribute on the temporary. Where we may not set it (security.*
// as an ordinary user), one that the new file already holds with the same
// value (a label the system gives every new file) is no loss. 0 or an errno.
int CopyXattr(int fd, const NamedValue &attribute) {
  if (sys::Fsetxattr(fd, attribute.name.c_str(), attribute.value.data(), attribute.value.size(), 0) == 0) return 0;
  const int err = errno;
  if (err != EPERM && err != EACCES && !NoAttributesHere(err)) return err;
  std::optional<std::vector<UInt8>> held;
  const XattrTarget target{fd, {}};
  return ReadXattrValue(target, attribute.name.c_str(), &held) == 0 && held == attribute.value ? 0 : err;
}

// Gives the temporary the old file's attributes, its ACL and its mode.
// The temporary was made 0600; a default ACL of its folder gave it an ACL
// masked by that 0600. The old ACL (or none) goes on before the mode, so
// that no one gains access for an instant: the mask only ever becomes the
// old one, and chmod then changes nothing but the special bits.
// 0 or an errno.
int CarryOverAttributes(int fd, const KeptAttributes &keep) {
  if (keep.xattrs) {
    const NamedValue *acl = nullptr;
    for (const NamedValue &attribute : *keep.xattrs) {
      if (attribute.name == kAccessAclXattr) {
        acl = &attribute;
        continue;
      }
      if (int err = CopyXattr(fd, attribute)) return err;
    }
    if (acl) {
      if (int err = CopyXattr(fd, *acl)) return err;
    } else if (sys::Fremovexattr(fd, kAccessAclXattr) != 0 && errno != ENODATA && !NoAttributesHere(errno)) {
      return errno;  // the one the folder's default ACL gave
    }
  }
  return sys::Fchmod(fd, keep.mode & 07777) == 0 ? 0 : errno;
}

// Replaces the file at (dirFd, path) by one holding `content` with the kept
// owner, group, mode, attributes and ACL, through a temporary sibling that
// is flushed and then renamed over it: the file is the old or the new one at
// every instant, and other hard links of the old file keep the old content.
//
// The temporary is locked while it lives (RemoveLeftoverTemporary takes only
// temporaries nobody holds) and published for RemoveTemporariesInFlight: a
// second termination signal ends the process at once, and its handler
// removes the temporary first. Blocking the signals across the rewrite
// instead would hold a large rewrite on a slow disk past a second Ctrl-C,
// and would not cover a signal another thread takes.
OSStatus ReplaceFile(int dirFd, const std::string &path, const std::vector<UInt8> &content,
                     const KeptAttributes &keep) {
  const std::string folder = FolderPrefixOf(path);
  std::string temp;
  int fd = -1;
  std::optional<TemporaryInFlight> inFlight;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    char name[40];
    std::snprintf(name, sizeof name, "%s%016llx", kTemporaryPrefix, static_cast<unsigned long long>(NextRandom()));
    temp = folder + name;
    // Published before it exists: a signal is taken on the way out of the
    // call that creates it.
    inFlight.emplace(dirFd, temp);
    fd = sys::Openat(dirFd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) break;
    inFlight.reset();
    if (errno != EEXIST) break;
  }
  if (fd < 0) return StatusFromErrnoAt(errno, dirFd, path.c_str());

  int err = 0;
  auto step = [&](int r) {
    if (err == 0 && r != 0) err = errno;
  };
  // Waits only while a cleanup looks at the new, empty file.
  if (sys::OfdLock(fd, F_WRLCK, true) != 0 && !NoLocksHere(errno)) err = errno;
  step(err == 0 ? WriteAll(fd, content.data(), content.size()) : 0);
  // Owner before attributes: a change of owner drops security.capability.
  step(err == 0 ? sys::Fchown(fd, keep.uid, keep.gid) : 0);
  if (err == 0) err = CarryOverAttributes(fd, keep);
  step(err == 0 ? sys::Fsync(fd) : 0);
  OSStatus result = err ? StatusFromErrnoAt(err, dirFd, temp.c_str()) : noErr;
  if (result == noErr && sys::Renameat(dirFd, temp.c_str(), dirFd, path.c_str()) != 0)
    result = StatusFromErrnoAt(errno, dirFd, path.c_str());
  if (result != noErr) {
    int saved = errno;
    sys::Unlinkat(dirFd, temp.c_str(), 0);
    errno = saved;
  }
  // Closed (and unlocked) only once the name is gone. The bytes are on the
  // disk already: a failing close changes nothing any more.
  sys::Close(fd);
  return result;
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
    case SidecarPlanKind::kRewrite: {
      std::vector<NamedValue> xattrs;
      if (int err = ReadAllXattrs(file.fd, &xattrs)) return StatusFromErrnoAt(err, file.dirFd, file.path.c_str());
      const KeptAttributes keep{file.st.st_uid, file.st.st_gid, file.st.st_mode, &xattrs};
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

bool IsRewriteTemporaryName(std::string_view name) {
  constexpr size_t kPrefixLength = sizeof kTemporaryPrefix - 1;
  return name.size() == kPrefixLength + 16 && name.compare(0, kPrefixLength, kTemporaryPrefix) == 0 &&
         std::all_of(name.begin() + kPrefixLength, name.end(),
                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

void RemoveLeftoverTemporary(int dirFd, const char *name) {
  if (!IsRewriteTemporaryName(name)) return;
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
  if (ReadSidecarBytes(&file, SidecarBytes::kSkipLargeFork) != noErr) return;
  tv::forks::AppleDoubleView view;
  if (tv::forks::ParseSidecar(file.bytes(), &view) != ForkFormatError::kNone) return;
  struct stat now {};
  if (sys::Fstatat(dirFd, name, &now, AT_SYMLINK_NOFOLLOW) != 0 || now.st_dev != file.st.st_dev ||
      now.st_ino != file.st.st_ino)
    return;  // no longer the file we looked at
  sys::Unlinkat(dirFd, name, 0);
}

void RemoveTemporariesInFlight() {
  for (InFlightSlot &slot : sInFlight)
    if (slot.state.load(std::memory_order_acquire) == kSlotPublished) sys::Unlinkat(slot.dirFd, slot.path, 0);
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
    if (!NoAttributesHere(errno)) return ItemStatus(errno, where);
    tv::forks::FinderInfoBytes info{};
    std::memcpy(info.data(), plan.finderInfoXattr.value.data(),
                std::min(info.size(), plan.finderInfoXattr.value.size()));
    // From now on readers must look for the sidecar this makes.
    PathNodes().SetHints(where.node, PathNodes().Hints(where.node) | PathNodeTable::kHintSidecar);
    return ReplaceFile(where.dirFd, SidecarPathOf(where, st), tv::forks::BuildSidecarWithFinderInfo(info),
                       KeptAttributes{st.st_uid, st.st_gid, mode_t(st.st_mode & 0666), nullptr});
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

void TVRemoveTemporariesInFlight() { tv::files::RemoveTemporariesInFlight(); }
