// The table of system calls and its fault hooks. Only generic Linux code
// belongs here: no decisions, no status codes.
#include "platform/sys/CallTable.h"

#include <atomic>
#include <cerrno>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace tv::sys {
namespace {

ssize_t RealGetdents64(int fd, void *buf, size_t size) { return syscall(SYS_getdents64, fd, buf, size); }

int RealGetFlags(int fd, unsigned *flags) {
  int value = 0;  // the kernel writes an int, whatever the ioctl's name says
  int r = ioctl(fd, FS_IOC_GETFLAGS, &value);
  if (r == 0) *flags = unsigned(value);
  return r;
}

int RealSyncRange(int fd, off_t offset, off_t length) {
  return sync_file_range(fd, offset, length,
                         SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
}

int RealOfdLock(int fd, short type, bool wait) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;  // start 0, length 0: the whole file, however it grows
  return fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock);
}

const CallTable kReal = {
    ::fstat,      ::fstatat,   ::statx,     ::fstatfs,      ::openat,       ::close,
    RealGetdents64, ::readlinkat, ::read,   ::pread,        ::write,        ::pwrite,
    ::ftruncate,  ::fsync,     ::renameat,  ::unlinkat,     ::linkat,       ::mkdirat,
    ::fchown,     ::fchmod,    ::utimensat, ::faccessat,    ::lgetxattr,    ::fgetxattr,
    ::lsetxattr,  ::fsetxattr, ::llistxattr, ::flistxattr,  ::lremovexattr, ::fremovexattr,
    RealGetFlags, ::poll,      RealSyncRange, RealOfdLock,  ::clock_gettime, ::isatty,
    ::symlinkat,
};

// The table the wrappers call: the real one unless a test substituted its own.
CallTable sSubstitute;
std::atomic<const CallTable *> sActive{&kReal};

struct Fault {
  std::atomic<unsigned> countdown{0};  // 0: nothing armed
  std::atomic<int> err{0};
  std::atomic<bool> persistent{false};
};
Fault sFaults[kCallCount];
std::atomic<uint64_t> sCounts[kCallCount];

// Counts the call and tells whether it must fail now (errno already set).
bool Injected(Call call) {
  unsigned i = unsigned(call);
  sCounts[i].fetch_add(1, std::memory_order_relaxed);
  Fault &f = sFaults[i];
  unsigned left = f.countdown.load(std::memory_order_relaxed);
  if (left == 0) return false;
  if (left > 1) {
    f.countdown.store(left - 1, std::memory_order_relaxed);
    return false;
  }
  if (!f.persistent.load(std::memory_order_relaxed)) f.countdown.store(0, std::memory_order_relaxed);
  errno = f.err.load(std::memory_order_relaxed);
  return true;
}

}  // namespace

const char *CallName(Call call) {
  static const char *const names[kCallCount] = {
      "fstat",      "fstatat",   "statx",      "fstatfs",    "openat",       "close",
      "getdents64", "readlinkat", "read",      "pread",      "write",        "pwrite",
      "ftruncate",  "fsync",     "renameat",   "unlinkat",   "linkat",       "mkdirat",
      "fchown",     "fchmod",    "utimensat",  "faccessat",  "lgetxattr",    "fgetxattr",
      "lsetxattr",  "fsetxattr", "llistxattr", "flistxattr", "lremovexattr", "fremovexattr",
      "getflags",   "poll",      "sync_file_range", "ofdlock", "clock_gettime", "isatty",
      "symlinkat"};
  unsigned i = unsigned(call);
  return i < kCallCount ? names[i] : "?";
}

#define TV_CALL(kind, ...) \
  (Injected(Call::kind) ? -1 : sActive.load(std::memory_order_relaxed)->kind(__VA_ARGS__))

int Fstat(int fd, struct stat *st) { return TV_CALL(fstat, fd, st); }
int Fstatat(int dirFd, const char *path, struct stat *st, int flags) {
  return TV_CALL(fstatat, dirFd, path, st, flags);
}
int Statx(int dirFd, const char *path, int flags, unsigned mask, struct statx *stx) {
  return TV_CALL(statx, dirFd, path, flags, mask, stx);
}
int Fstatfs(int fd, struct statfs *sfs) { return TV_CALL(fstatfs, fd, sfs); }
int Openat(int dirFd, const char *path, int flags, mode_t mode) {
  return TV_CALL(openat, dirFd, path, flags, mode);
}
int Close(int fd) { return TV_CALL(close, fd); }
ssize_t Getdents64(int fd, void *buf, size_t size) { return TV_CALL(getdents64, fd, buf, size); }
ssize_t Readlinkat(int dirFd, const char *path, char *buf, size_t size) {
  return TV_CALL(readlinkat, dirFd, path, buf, size);
}
ssize_t Read(int fd, void *buf, size_t size) { return TV_CALL(read, fd, buf, size); }
ssize_t Pread(int fd, void *buf, size_t size, off_t offset) { return TV_CALL(pread, fd, buf, size, offset); }
ssize_t Write(int fd, const void *buf, size_t size) { return TV_CALL(write, fd, buf, size); }
ssize_t Pwrite(int fd, const void *buf, size_t size, off_t offset) {
  return TV_CALL(pwrite, fd, buf, size, offset);
}
int Ftruncate(int fd, off_t length) { return TV_CALL(ftruncate, fd, length); }
int SyncRange(int fd, off_t offset, off_t length) { return TV_CALL(syncrange, fd, offset, length); }
int Fsync(int fd) { return TV_CALL(fsync, fd); }
int Renameat(int oldDirFd, const char *oldPath, int newDirFd, const char *newPath) {
  return TV_CALL(renameat, oldDirFd, oldPath, newDirFd, newPath);
}
int Unlinkat(int dirFd, const char *path, int flags) { return TV_CALL(unlinkat, dirFd, path, flags); }
int Linkat(int oldDirFd, const char *oldPath, int newDirFd, const char *newPath, int flags) {
  return TV_CALL(linkat, oldDirFd, oldPath, newDirFd, newPath, flags);
}
int Mkdirat(int dirFd, const char *path, mode_t mode) { return TV_CALL(mkdirat, dirFd, path, mode); }
int Fchown(int fd, uid_t uid, gid_t gid) { return TV_CALL(fchown, fd, uid, gid); }
int Fchmod(int fd, mode_t mode) { return TV_CALL(fchmod, fd, mode); }
int Utimensat(int dirFd, const char *path, const struct timespec times[2], int flags) {
  return TV_CALL(utimensat, dirFd, path, times, flags);
}
int Faccessat(int dirFd, const char *path, int mode, int flags) {
  return TV_CALL(faccessat, dirFd, path, mode, flags);
}
ssize_t Lgetxattr(const char *path, const char *name, void *value, size_t size) {
  return TV_CALL(lgetxattr, path, name, value, size);
}
ssize_t Fgetxattr(int fd, const char *name, void *value, size_t size) {
  return TV_CALL(fgetxattr, fd, name, value, size);
}
int Lsetxattr(const char *path, const char *name, const void *value, size_t size, int flags) {
  return TV_CALL(lsetxattr, path, name, value, size, flags);
}
int Fsetxattr(int fd, const char *name, const void *value, size_t size, int flags) {
  return TV_CALL(fsetxattr, fd, name, value, size, flags);
}
ssize_t Llistxattr(const char *path, char *list, size_t size) { return TV_CALL(llistxattr, path, list, size); }
ssize_t Flistxattr(int fd, char *list, size_t size) { return TV_CALL(flistxattr, fd, list, size); }
int Lremovexattr(const char *path, const char *name) { return TV_CALL(lremovexattr, path, name); }
int Fremovexattr(int fd, const char *name) { return TV_CALL(fremovexattr, fd, name); }
int GetFlags(int fd, unsigned *flags) { return TV_CALL(getflags, fd, flags); }
int Poll(struct pollfd *fds, nfds_t count, int timeoutMs) { return TV_CALL(poll, fds, count, timeoutMs); }
int OfdLock(int fd, short type, bool wait) { return TV_CALL(ofdlock, fd, type, wait); }
int ClockGettime(clockid_t clock, struct timespec *ts) { return TV_CALL(clockgettime, clock, ts); }
// isatty's failure is 0, not -1.
int Isatty(int fd) { return Injected(Call::isatty) ? 0 : sActive.load(std::memory_order_relaxed)->isatty(fd); }
int Symlinkat(const char *target, int dirFd, const char *path) {
  return TV_CALL(symlinkat, target, dirFd, path);
}

#undef TV_CALL

ssize_t PreadAll(int fd, void *buf, size_t size, uint64_t offset) {
  auto *p = static_cast<unsigned char *>(buf);
  size_t done = 0;
  while (done < size) {
    ssize_t n = Pread(fd, p + done, size - done, off_t(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += size_t(n);
  }
  return ssize_t(done);
}

namespace {

// Writes through `write` until all of buf is out.
template <class WriteSome>
int WriteLoop(const void *buf, size_t size, WriteSome write) {
  const auto *p = static_cast<const unsigned char *>(buf);
  size_t done = 0;
  while (done < size) {
    ssize_t n = write(p + done, size - done, done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) {
      errno = EIO;
      return -1;
    }
    done += size_t(n);
  }
  return 0;
}

}  // namespace

int WriteAll(int fd, const void *buf, size_t size) {
  return WriteLoop(buf, size, [fd](const unsigned char *p, size_t n, size_t) { return Write(fd, p, n); });
}

int PwriteAll(int fd, const void *buf, size_t size, uint64_t offset) {
  return WriteLoop(buf, size,
                   [fd, offset](const unsigned char *p, size_t n, size_t done) { return Pwrite(fd, p, n, off_t(offset + done)); });
}

const CallTable &RealCalls() { return kReal; }

void SubstituteCalls(const CallTable &calls) {
  sActive.store(&kReal);
  sSubstitute = calls;
  sActive.store(&sSubstitute);
}

void ClearSubstitutes() { sActive.store(&kReal); }

const CallTable &ActiveCalls() { return *sActive.load(); }

void FailCall(Call call, unsigned n, int err, bool persistent) {
  unsigned i = unsigned(call);
  if (i >= kCallCount) return;
  sFaults[i].err.store(err);
  sFaults[i].persistent.store(persistent);
  sFaults[i].countdown.store(n);
}

void ClearFaults() {
  for (auto &f : sFaults) f.countdown.store(0);
}

uint64_t CallCount(Call call) {
  unsigned i = unsigned(call);
  return i < kCallCount ? sCounts[i].load() : 0;
}

void ResetCallCounts() {
  for (auto &c : sCounts) c.store(0);
}

}  // namespace tv::sys
