#include "platform/files/Errors.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <string>
#include <sys/stat.h>

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

bool ItemIsLocked(int dirFd, const char *path) {
  // statx reports the two flags without opening anything, where the file
  // system says it knows them.
  struct statx stx {};
  int statFlags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | (path[0] ? 0 : AT_EMPTY_PATH);
  if (sys::Statx(dirFd, path, statFlags, STATX_TYPE, &stx) != 0) return false;
  const uint64_t known = STATX_ATTR_IMMUTABLE | STATX_ATTR_APPEND;
  if ((stx.stx_attributes_mask & known) == known) return (stx.stx_attributes & known) != 0;
  // Otherwise ask the inode flags, opening only files and folders: a FIFO or
  // device must never be opened.
  if ((!S_ISREG(stx.stx_mode) && !S_ISDIR(stx.stx_mode)) || !path[0]) return false;
  int fd = sys::Openat(dirFd, path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  unsigned flags = 0;
  bool locked = sys::GetFlags(fd, &flags) == 0 && (flags & kLockFlags) != 0;
  sys::Close(fd);
  return locked;
}

}  // namespace

bool IsLockedAt(int dirFd, const char *path) {
  if (!path) return false;
  int saved = errno;
  bool locked = ItemIsLocked(dirFd, path);
  if (!locked && path[0]) {
    // An item in an immutable or append-only folder cannot be renamed or
    // removed either: that is a lock too.
    std::string p(path);
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    size_t slash = p.rfind('/');
    std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : p.substr(0, slash);
    if (folder != p) locked = ItemIsLocked(dirFd, folder.c_str());
  }
  errno = saved;
  return locked;
}

OSStatus StatusFromErrnoAt(int err, int dirFd, const char *path) {
  return StatusFromErrno(err, err == EPERM && IsLockedAt(dirFd, path));
}

}  // namespace tv::files
