#include "platform/files/Errors.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/files/Volumes.h"
#include "platform/sys/CallTable.h"

namespace tv::files {

OSStatus StatusFromErrno(int err, bool lockedItem) {
  switch (err) {
    case 0: return noErr;
    case ENOENT: return fnfErr;
    case EACCES: return afpAccessDenied;
    case EPERM: return lockedItem ? fLckdErr : permErr;
    case EROFS: return wPrErr;
    case ENOSPC:
    case EDQUOT: return dskFulErr;
    case EEXIST: return dupFNErr;
    case ENOMEM: return memFullErr;
    case ENAMETOOLONG: return bdNamErr;
    case ENOTDIR: return dirNFErr;
    default: return ioErr;
  }
}

namespace {

constexpr unsigned kLockFlags = FS_IMMUTABLE_FL | FS_APPEND_FL;

// The immutable and append-only flags of the item (0 when it has neither or
// they cannot be read).
unsigned LockFlagsOf(int dirFd, const char *path) {
  // statx reports the two flags without opening anything, where the file
  // system says it knows them.
  struct statx stx {};
  int statFlags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | (path[0] ? 0 : AT_EMPTY_PATH);
  if (sys::Statx(dirFd, path, statFlags, STATX_TYPE, &stx) != 0) return 0;
  const uint64_t known = STATX_ATTR_IMMUTABLE | STATX_ATTR_APPEND;
  if ((stx.stx_attributes_mask & known) == known)
    return ((stx.stx_attributes & STATX_ATTR_IMMUTABLE) ? FS_IMMUTABLE_FL : 0) |
           ((stx.stx_attributes & STATX_ATTR_APPEND) ? FS_APPEND_FL : 0);
  // Otherwise ask the inode flags, opening only files and folders: a FIFO or
  // device must never be opened.
  if (!S_ISREG(stx.stx_mode) && !S_ISDIR(stx.stx_mode)) return 0;
  unsigned flags = 0;
  if (!path[0]) return sys::GetFlags(dirFd, &flags) == 0 ? flags & kLockFlags : 0;  // fails on an O_PATH descriptor
  int fd = sys::Openat(dirFd, path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return 0;
  if (sys::GetFlags(fd, &flags) != 0) flags = 0;
  sys::Close(fd);
  return flags & kLockFlags;
}

// The folder holding path, as a path from the same dirFd.
std::string FolderOf(const char *path) {
  std::string p(path);
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  size_t slash = p.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : p.substr(0, slash);
}

// ---- What a failure's cause records --------------------------------------------

struct RecordedCause {
  bool valid = false;
  OSStatus status = noErr;
  TVFailureReason reason = kTVFailureOther;
  TVFailureStore store = kTVFailureStoreUnknown;
  std::string name, path, attribute, mountPoint, owner, user, errnoName, systemText;
  UInt32 mode = 0;
  bool userIsOwner = false;
  bool userIsRoot = false;
};

thread_local RecordedCause tCause;

// Removes "." components, doubled and trailing slashes.
std::string Tidy(const std::string &path) {
  std::string out;
  size_t i = 0;
  while (i <= path.size()) {
    size_t end = path.find('/', i);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(i, end - i);
    if (!part.empty() && part != ".") out += "/" + part;
    i = end + 1;
  }
  if (path.empty() || path[0] != '/') return out.empty() ? "." : out.substr(1);
  return out.empty() ? "/" : out;
}

// The absolute path of (dirFd, path), or the path as given when the folder's
// cannot be known.
std::string AbsolutePathAt(int dirFd, const char *path) {
  std::string p = path;
  if (!p.empty() && p[0] == '/') return Tidy(p);
  std::string base;
  if (dirFd == AT_FDCWD) {
    std::vector<char> buf(4096);
    if (getcwd(buf.data(), buf.size())) base = buf.data();
  } else {
    char link[48];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", dirFd);
    std::vector<char> buf(4096);
    ssize_t n = sys::Readlinkat(AT_FDCWD, link, buf.data(), buf.size());
    if (n > 0 && size_t(n) < buf.size() && buf[0] == '/') base.assign(buf.data(), size_t(n));
  }
  if (base.empty()) return p.empty() ? std::string() : Tidy(p);
  return Tidy(p.empty() ? base : base + "/" + p);
}

std::string NameOf(const std::string &absolute) {
  if (absolute == "/") return absolute;
  size_t slash = absolute.rfind('/');
  return slash == std::string::npos ? absolute : absolute.substr(slash + 1);
}

std::string UserName(uid_t uid) {
  passwd pw{}, *found = nullptr;
  std::vector<char> buf(4096);
  if (getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_name) return found->pw_name;
  return std::to_string(uid);
}

// The mount point of the volume that holds the absolute path's folder.
std::string MountPointOf(const std::string &absolute) {
  if (absolute.empty() || absolute[0] != '/') return std::string();
  std::string p = absolute;
  while (p != "/") {
    size_t slash = p.rfind('/');
    p = slash == 0 ? "/" : p.substr(0, slash);
    if (p != "/" && IsMountPoint(p)) return p;
  }
  return p;
}

// What the failure of a call with err on (dirFd, path) was: the thin I/O
// that gathers the facts, kept apart from the decision.
FailureFacts GatherFacts(int err, int dirFd, const char *path, const std::string &folder) {
  FailureFacts facts;
  if (err == EPERM) {
    facts.entryFlags = LockFlagsOf(dirFd, path);
    if (!facts.entryFlags && path[0] && folder != path) facts.folderFlags = LockFlagsOf(dirFd, folder.c_str());
  }
  if (err == EACCES || err == EPERM) {
    // The item a descriptor is open on is asked by its path.
    std::string own = path[0] ? std::string() : AbsolutePathAt(dirFd, "");
    if (!path[0] && own.empty()) return facts;
    const int at = path[0] ? dirFd : AT_FDCWD;
    const char *entry = path[0] ? path : own.c_str();
    const std::string holder = path[0] ? folder : FolderOf(own.c_str());
    // A volume mounted read-only answers a question about writing with EROFS.
    if (sys::Faccessat(at, entry, R_OK | W_OK, AT_EACCESS) != 0) {
      facts.entryUsable = errno == ENOENT;
      facts.readOnlyVolume = errno == EROFS;
    }
    if (holder != entry && sys::Faccessat(at, holder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
      facts.folderWritable = false;
      facts.readOnlyVolume = facts.readOnlyVolume || errno == EROFS;
    }
  }
  return facts;
}

void Record(OSStatus status, int err, FailureClass c, int dirFd, const char *path) {
  RecordedCause cause;
  cause.valid = true;
  cause.status = status;
  cause.reason = c.reason;
  const std::string entry = AbsolutePathAt(dirFd, path);
  std::string absolute = c.inFolder && !entry.empty() ? FolderOf(entry.c_str()) : entry;
  cause.store = absolute.empty() ? kTVFailureStoreUnknown : c.inFolder ? kTVFailureStoreFolder : kTVFailureStoreEntry;
  cause.name = NameOf(absolute);
  cause.path = absolute;
  if (const char *n = strerrorname_np(err)) cause.errnoName = n;
  if (const char *t = strerrordesc_np(err)) cause.systemText = t;
  cause.user = UserName(geteuid());
  cause.userIsRoot = geteuid() == 0;
  if (c.reason == kTVFailureReadOnlyVolume || c.reason == kTVFailureNoSpace || c.reason == kTVFailureQuota)
    cause.mountPoint = MountPointOf(absolute);
  struct stat st {};
  if (c.reason == kTVFailureNoAccess && !absolute.empty() &&
      sys::Fstatat(absolute[0] == '/' ? AT_FDCWD : dirFd, absolute.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    cause.owner = UserName(st.st_uid);
    cause.mode = UInt32(st.st_mode & 07777);
    cause.userIsOwner = st.st_uid == geteuid();
  }
  tCause = std::move(cause);
}

}  // namespace

FailureClass ClassifyFailure(int err, const FailureFacts &facts) {
  FailureClass c;
  switch (err) {
    case ENOENT: c.reason = kTVFailureChanged; break;
    case EROFS: c.reason = kTVFailureReadOnlyVolume; break;
    case ENOSPC: c.reason = kTVFailureNoSpace; break;
    case EDQUOT: c.reason = kTVFailureQuota; break;
    case EPERM:
    case EACCES:
      if (err == EPERM && (facts.entryFlags | facts.folderFlags) != 0) {
        const unsigned flags = facts.entryFlags ? facts.entryFlags : facts.folderFlags;
        c.reason = (flags & FS_IMMUTABLE_FL) ? kTVFailureImmutable : kTVFailureAppendOnly;
        c.inFolder = facts.entryFlags == 0;
      } else if (facts.readOnlyVolume) {
        c.reason = kTVFailureReadOnlyVolume;
      } else if (!facts.entryUsable || !facts.folderWritable) {
        c.reason = kTVFailureNoAccess;
        c.inFolder = facts.entryUsable;
      }
      break;
    default: break;
  }
  return c;
}

bool IsLockedAt(int dirFd, const char *path) {
  if (!path) return false;
  int saved = errno;
  // An item in an immutable or append-only folder cannot be renamed or
  // removed either: that is a lock too.
  bool locked = LockFlagsOf(dirFd, path) != 0;
  if (!locked && path[0]) {
    std::string folder = FolderOf(path);
    if (folder != path) locked = LockFlagsOf(dirFd, folder.c_str()) != 0;
  }
  errno = saved;
  return locked;
}

OSStatus StatusFromErrnoAt(int err, int dirFd, const char *path) {
  if (err == 0) return noErr;
  if (!path) return StatusFromErrno(err);
  const int saved = errno;
  OSStatus status = ioErr;
  try {
    const FailureClass c = ClassifyFailure(err, GatherFacts(err, dirFd, path, FolderOf(path)));
    status = StatusFromErrno(err, c.reason == kTVFailureImmutable || c.reason == kTVFailureAppendOnly);
    Record(status, err, c, dirFd, path);
  } catch (const std::bad_alloc &) {
    status = StatusFromErrno(err, err == EPERM && IsLockedAt(dirFd, path));
    tCause.valid = false;
  }
  errno = saved;
  return status;
}

OSStatus StatusOfChangedItem(int dirFd, const char *path) {
  const int saved = errno;
  try {
    FailureClass c;
    c.reason = kTVFailureChanged;
    Record(fnfErr, ENOENT, c, dirFd, path ? path : "");
  } catch (const std::bad_alloc &) {
    tCause.valid = false;
  }
  errno = saved;
  return fnfErr;
}

void NoteFailedAttribute(const char *name) {
  if (!tCause.valid || tCause.store != kTVFailureStoreEntry || !name) return;
  tCause.store = kTVFailureStoreAttribute;
  tCause.attribute = name;
}

void NoteFailedEntryAs(int dirFd, const char *path) {
  if (!tCause.valid || tCause.store != kTVFailureStoreEntry || !path) return;
  const int saved = errno;
  try {
    tCause.path = AbsolutePathAt(dirFd, path);
    tCause.name = NameOf(tCause.path);
  } catch (const std::bad_alloc &) {
    tCause.valid = false;
  }
  errno = saved;
}

}  // namespace tv::files

Boolean TVGetFailureCause(OSStatus status, TVFailureCause *outCause) {
  const auto &c = tv::files::tCause;
  if (!outCause || !c.valid || c.status != status) return false;
  TVFailureCause out{};
  out.status = c.status;
  out.reason = c.reason;
  out.store = c.store;
  out.name = c.name.c_str();
  out.path = c.path.c_str();
  out.attribute = c.attribute.c_str();
  out.mountPoint = c.mountPoint.c_str();
  out.owner = c.owner.c_str();
  out.user = c.user.c_str();
  out.mode = c.mode;
  out.userIsOwner = c.userIsOwner;
  out.userIsRoot = c.userIsRoot;
  out.errnoName = c.errnoName.c_str();
  out.systemText = c.systemText.c_str();
  *outCause = out;
  return true;
}

void TVClearFailureCause() { tv::files::tCause.valid = false; }
