#include "platform/sys/FileReplacement.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

#include "platform/HostServices.h"
#include "platform/sys/CallTable.h"

namespace tv::sys {
namespace {

constexpr size_t kMaxXattrSize = size_t(64) << 10;  // XATTR_SIZE_MAX
constexpr char kAccessAclXattr[] = "system.posix_acl_access";

// Set once a call that takes a folder was refused as unknown: the kernel
// has none of them, and the entries are reached through /proc/self/fd.
std::atomic<bool> sNoAtCalls{false};

// The entry's path through the folder's descriptor.
std::string ThroughProc(const XattrPlace &at) {
  return "/proc/self/fd/" + std::to_string(at.dirFd) + "/" + at.path;
}

// Runs the call that takes the folder; on a kernel without it, the one that
// takes a path, through /proc/self/fd.
template <typename AtCall, typename PathCall>
auto InFolder(const XattrPlace &at, AtCall atCall, PathCall pathCall) -> decltype(pathCall(at.path)) {
  if (!sNoAtCalls.load(std::memory_order_relaxed)) {
    auto r = atCall();
    if (r >= 0 || errno != ENOSYS) return r;
    sNoAtCalls.store(true, std::memory_order_relaxed);
  }
  return pathCall(ThroughProc(at).c_str());
}

}  // namespace

ssize_t GetXattr(const XattrPlace &at, const char *name, void *value, size_t size) {
  if (at.fd >= 0) return Fgetxattr(at.fd, name, value, size);
  if (at.dirFd == AT_FDCWD) return Lgetxattr(at.path, name, value, size);
  return InFolder(
      at, [&] { return Getxattrat(at.dirFd, at.path, name, value, size); },
      [&](const char *path) { return Lgetxattr(path, name, value, size); });
}

ssize_t ListXattr(const XattrPlace &at, char *list, size_t size) {
  if (at.fd >= 0) return Flistxattr(at.fd, list, size);
  if (at.dirFd == AT_FDCWD) return Llistxattr(at.path, list, size);
  return InFolder(
      at, [&] { return Listxattrat(at.dirFd, at.path, list, size); },
      [&](const char *path) { return Llistxattr(path, list, size); });
}

int SetXattr(const XattrPlace &at, const char *name, const void *value, size_t size, int flags) {
  if (at.fd >= 0) return Fsetxattr(at.fd, name, value, size, flags);
  if (at.dirFd == AT_FDCWD) return Lsetxattr(at.path, name, value, size, flags);
  return InFolder(
      at, [&] { return Setxattrat(at.dirFd, at.path, name, value, size, flags); },
      [&](const char *path) { return Lsetxattr(path, name, value, size, flags); });
}

int RemoveXattr(const XattrPlace &at, const char *name) {
  if (at.fd >= 0) return Fremovexattr(at.fd, name);
  if (at.dirFd == AT_FDCWD) return Lremovexattr(at.path, name);
  return InFolder(
      at, [&] { return Removexattrat(at.dirFd, at.path, name); },
      [&](const char *path) { return Lremovexattr(path, name); });
}

namespace {

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

// "dir/" of "dir/name"; "" for a bare name.
std::string FolderPrefixOf(const std::string &path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The temporaries of the replacements in flight, for
// RemoveTemporariesInFlight, which a handler of a signal that ends the
// process calls. A handler may neither lock nor allocate, so each slot is
// fixed storage published by an atomic state: the handler reads a path only
// once it is complete. Slots run out only with more replacements at once
// than there are slots; such a temporary is then left to the cleanup of a
// later zap.
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

// Sets one attribute on the temporary. Where we may not set it (security.*
// as an ordinary user), one that the new file already holds with the same
// value (a label the system gives every new file) is no loss. 0 or an errno.
int CopyXattr(int fd, const NamedValue &attribute) {
  if (Fsetxattr(fd, attribute.name.c_str(), attribute.value.data(), attribute.value.size(), 0) == 0) return 0;
  const int err = errno;
  if (err != EPERM && err != EACCES && !NoAttributesHere(err)) return err;
  std::optional<std::vector<unsigned char>> held;
  return ReadXattrValue(fd, nullptr, attribute.name.c_str(), &held) == 0 && held == attribute.value ? 0 : err;
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
    } else if (Fremovexattr(fd, kAccessAclXattr) != 0 && errno != ENODATA && !NoAttributesHere(errno)) {
      return errno;  // the one the folder's default ACL gave
    }
  }
  return Fchmod(fd, keep.mode & 07777) == 0 ? 0 : errno;
}

}  // namespace

bool IsTemporaryName(std::string_view name) {
  constexpr size_t kPrefixLength = sizeof kTemporaryPrefix - 1;
  return name.size() == kPrefixLength + 16 && name.compare(0, kPrefixLength, kTemporaryPrefix) == 0 &&
         std::all_of(name.begin() + kPrefixLength, name.end(),
                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

void RemoveTemporariesInFlight() {
  for (InFlightSlot &slot : sInFlight)
    if (slot.state.load(std::memory_order_acquire) == kSlotPublished) Unlinkat(slot.dirFd, slot.path, 0);
}

bool NoLocksHere(int err) { return err == ENOLCK || err == EINVAL || err == ENOTSUP || err == EOPNOTSUPP; }

bool NoAttributesHere(int err) { return err == ENOTSUP || err == EOPNOTSUPP; }

int ListXattrNames(const XattrPlace &at, std::vector<char> *names) {
  // Most files have no attributes or a few short names: the list is read on
  // the stack and copied out at its size, nothing allocated for an empty one.
  char small[1024];
  std::vector<char> large;
  char *list = small;
  size_t capacity = sizeof small;
  for (int attempt = 0; attempt < 4; ++attempt) {
    ssize_t n = ListXattr(at, list, capacity);
    if (n >= 0) {
      if (list == small) names->assign(small, small + n);
      else {
        large.resize(size_t(n));
        *names = std::move(large);
      }
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
    ssize_t need = ListXattr(at, nullptr, 0);
    if (need < 0) return errno;
    large.resize(size_t(need) + 256);
    list = large.data();
    capacity = large.size();
  }
  return EIO;
}

int ReadXattrValue(const XattrPlace &at, const char *name, std::optional<std::vector<unsigned char>> *out) {
  // A value is read into a buffer of the largest size the kernel gives, kept
  // for the thread (not zeroed, not allocated per value), and copied out at
  // its size.
  thread_local std::unique_ptr<unsigned char[]> scratch;
  if (!scratch) scratch.reset(new unsigned char[kMaxXattrSize]);
  std::vector<unsigned char> large;
  unsigned char *value = scratch.get();
  size_t capacity = kMaxXattrSize;
  for (int attempt = 0; attempt < 4; ++attempt) {
    ssize_t n = GetXattr(at, name, value, capacity);
    if (n >= 0) {
      if (value == scratch.get()) out->emplace(value, value + n);
      else {
        large.resize(size_t(n));
        *out = std::move(large);
      }
      return 0;
    }
    int err = errno;
    if (err == ENODATA || NoAttributesHere(err)) return 0;  // removed since the listing
    if (err == EINTR) continue;
    if (err != ERANGE) return err;
    ssize_t need = GetXattr(at, name, nullptr, 0);
    if (need < 0) return errno == ENODATA ? 0 : errno;
    large.resize(size_t(need));
    value = large.data();
    capacity = large.size();
  }
  return EIO;
}

int ReadAllXattrs(int fd, std::vector<NamedValue> *out) {
  std::vector<char> names;
  int err = ListXattrNames(fd, nullptr, &names);
  std::string_view list(names.data(), names.size());
  while (err == 0 && !list.empty()) {
    size_t end = list.find('\0');
    std::string name(list.substr(0, end));
    list.remove_prefix(end == std::string_view::npos ? list.size() : end + 1);
    std::optional<std::vector<unsigned char>> value;
    if (name.empty()) continue;
    err = ReadXattrValue(fd, nullptr, name.c_str(), &value);
    if (err == 0 && value) out->push_back(NamedValue{std::move(name), std::move(*value)});
  }
  return err;
}

// The temporary is locked while it lives (a cleanup takes only temporaries
// nobody holds) and published for RemoveTemporariesInFlight: a second
// termination signal ends the process at once, and its handler removes the
// temporary first. Blocking the signals across the replacement instead would
// hold a large one on a slow disk past a second Ctrl-C, and would not cover a
// signal another thread takes.
//
// Every step after the first works in the folder itself, held open: when the
// folder is moved, or a folder on its path is renamed, deleted or replaced
// meanwhile, the temporary is still renamed or removed where it is, and is
// never left behind under a path that leads nowhere any more.
ReplaceResult ReplaceFile(int dirFd, const std::string &path, const void *content, size_t size,
                          const KeptAttributes *keep) {
  const std::string folder = FolderPrefixOf(path);
  const std::string name = path.substr(folder.size());
  const int folderFd = Openat(dirFd, folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd < 0) return {errno, path};
  char temp[40] = {};
  int fd = -1, createErr = EEXIST, lockErr = 0;
  std::optional<TemporaryInFlight> inFlight;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    std::snprintf(temp, sizeof temp, "%s%016llx", kTemporaryPrefix, static_cast<unsigned long long>(NextRandom()));
    // Published before it exists: a signal is taken on the way out of the
    // call that creates it.
    inFlight.emplace(folderFd, temp);
    fd = Openat(folderFd, temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      createErr = errno;
      inFlight.reset();
      if (createErr != EEXIST) break;
      continue;
    }
    // Waits only while a cleanup looks at the new, empty file. A cleanup
    // that came first removed it as a dead writer's: start again.
    if (OfdLock(fd, F_WRLCK, true) != 0) {
      if (!NoLocksHere(errno)) lockErr = errno;
      break;
    }
    struct stat st {};
    if (Fstat(fd, &st) == 0 && st.st_nlink == 0) {
      Close(fd);
      fd = -1;
      inFlight.reset();
    }
  }
  if (fd < 0) {
    Close(folderFd);
    return {createErr, path};
  }

  int err = lockErr;
  auto step = [&](int r) {
    if (err == 0 && r != 0) err = errno;
  };
  step(err == 0 ? WriteAll(fd, content, size) : 0);
  if (keep) {
    // Owner before attributes: a change of owner drops security.capability.
    step(err == 0 ? Fchown(fd, keep->uid, keep->gid) : 0);
    if (err == 0) err = CarryOverAttributes(fd, *keep);
  }
  step(err == 0 ? Fsync(fd) : 0);
  ReplaceResult result;
  if (err != 0) result = {err, folder + temp};
  else if (Renameat(folderFd, temp, folderFd, name.c_str()) != 0) result = {errno, path};
  if (result.err != 0) Unlinkat(folderFd, temp, 0);
  // Closed (and unlocked) only once the name is gone. The bytes are on the
  // disk already: a failing close changes nothing any more.
  Close(fd);
  // The rename itself reaches the disk with the folder.
  if (result.err == 0) Fsync(folderFd);
  inFlight.reset();
  Close(folderFd);
  return result;
}

}  // namespace tv::sys

void TVRemoveTemporariesInFlight() { tv::sys::RemoveTemporariesInFlight(); }
