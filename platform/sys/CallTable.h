// Every system call of the platform (the File Manager, the fork stores,
// CoreFoundation's files, the console and the clock), reached through one
// table so that tests can make any of them fail and count how often each one
// runs.
//
// Every wrapper behaves like the call it wraps (-1 and errno on failure). A
// test arms a fault with FailCall(call, n, err): the n-th call of that kind
// from now on fails with err without reaching the kernel (every later call
// too when `persistent`). A test that needs results the kernel gives only by
// chance (a change time that did not move) puts its own function in a call's
// place with SubstituteCalls. CallCount reports how many calls of a kind ran
// (or were failed) since ResetCallCounts. The hooks are for tests only; the
// library never arms a fault or substitutes a call itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/types.h>
#include <time.h>

namespace tv::sys {

enum class Call : unsigned {
  fstat,
  fstatat,
  statx,
  fstatfs,
  openat,
  close,
  getdents64,
  readlinkat,
  read,
  pread,
  write,
  pwrite,
  ftruncate,
  fsync,
  renameat,
  unlinkat,
  linkat,
  mkdirat,
  fchown,
  fchmod,
  utimensat,
  faccessat,
  lgetxattr,
  fgetxattr,
  lsetxattr,
  fsetxattr,
  llistxattr,
  flistxattr,
  lremovexattr,
  fremovexattr,
  getflags,  // ioctl(FS_IOC_GETFLAGS)
  poll,
  syncrange,  // sync_file_range
  ofdlock,    // fcntl(F_OFD_SETLK / F_OFD_SETLKW)
  clockgettime,
  isatty,
  symlinkat,
  count_
};
constexpr unsigned kCallCount = unsigned(Call::count_);
const char *CallName(Call call);

// ---- Wrappers ----------------------------------------------------------------

int Fstat(int fd, struct stat *st);
int Fstatat(int dirFd, const char *path, struct stat *st, int flags);
int Statx(int dirFd, const char *path, int flags, unsigned mask, struct statx *stx);
int Fstatfs(int fd, struct statfs *sfs);
int Openat(int dirFd, const char *path, int flags, mode_t mode = 0);
int Close(int fd);
// Raw linux_dirent64 records into buf; 0 at the end of the folder.
ssize_t Getdents64(int fd, void *buf, size_t size);
ssize_t Readlinkat(int dirFd, const char *path, char *buf, size_t size);
ssize_t Read(int fd, void *buf, size_t size);
ssize_t Pread(int fd, void *buf, size_t size, off_t offset);
ssize_t Write(int fd, const void *buf, size_t size);
ssize_t Pwrite(int fd, const void *buf, size_t size, off_t offset);
int Ftruncate(int fd, off_t length);
int Fsync(int fd);
int Renameat(int oldDirFd, const char *oldPath, int newDirFd, const char *newPath);
int Unlinkat(int dirFd, const char *path, int flags);
int Linkat(int oldDirFd, const char *oldPath, int newDirFd, const char *newPath, int flags);
int Mkdirat(int dirFd, const char *path, mode_t mode);
int Fchown(int fd, uid_t uid, gid_t gid);
int Fchmod(int fd, mode_t mode);
int Utimensat(int dirFd, const char *path, const struct timespec times[2], int flags);
int Faccessat(int dirFd, const char *path, int mode, int flags);
ssize_t Lgetxattr(const char *path, const char *name, void *value, size_t size);
ssize_t Fgetxattr(int fd, const char *name, void *value, size_t size);
int Lsetxattr(const char *path, const char *name, const void *value, size_t size, int flags);
int Fsetxattr(int fd, const char *name, const void *value, size_t size, int flags);
ssize_t Llistxattr(const char *path, char *list, size_t size);
ssize_t Flistxattr(int fd, char *list, size_t size);
int Lremovexattr(const char *path, const char *name);
int Fremovexattr(int fd, const char *name);
// The inode flags (FS_IMMUTABLE_FL, FS_APPEND_FL, ...) of an open file.
int GetFlags(int fd, unsigned *flags);
int Poll(struct pollfd *fds, nfds_t count, int timeoutMs);
// Writes the byte range out and waits for it (sync_file_range with
// WAIT_BEFORE | WRITE | WAIT_AFTER): the range is on the device before what
// follows is issued, without the journal commit an fsync costs.
int SyncRange(int fd, off_t offset, off_t length);
// Takes an open-file-description lock of `type` (F_RDLCK, F_WRLCK, F_UNLCK)
// on the whole file; waits for it with `wait`, else fails with EAGAIN while
// another holds a conflicting one. It belongs to the open file, not to the
// process: another descriptor of the same process conflicts too, and
// closing the file releases it.
int OfdLock(int fd, short type, bool wait);
int ClockGettime(clockid_t clock, struct timespec *ts);
int Isatty(int fd);
int Symlinkat(const char *target, int dirFd, const char *path);

// ---- Whole transfers ---------------------------------------------------------
// Each retries after EINTR and a short transfer, through the wrappers above.

// Reads `size` bytes at `offset`: the count read (fewer only at the end of
// the file) or -1 and errno.
ssize_t PreadAll(int fd, void *buf, size_t size, uint64_t offset);
// Writes all of buf (at `offset`); 0, or -1 and errno. A write that
// accepts nothing fails with EIO rather than looping.
int WriteAll(int fd, const void *buf, size_t size);
int PwriteAll(int fd, const void *buf, size_t size, uint64_t offset);

// ---- Test hooks --------------------------------------------------------------

// The functions behind the wrappers, one per Call.
struct CallTable {
  int (*fstat)(int, struct stat *);
  int (*fstatat)(int, const char *, struct stat *, int);
  int (*statx)(int, const char *, int, unsigned, struct statx *);
  int (*fstatfs)(int, struct statfs *);
  int (*openat)(int, const char *, int, ...);
  int (*close)(int);
  ssize_t (*getdents64)(int, void *, size_t);
  ssize_t (*readlinkat)(int, const char *, char *, size_t);
  ssize_t (*read)(int, void *, size_t);
  ssize_t (*pread)(int, void *, size_t, off_t);
  ssize_t (*write)(int, const void *, size_t);
  ssize_t (*pwrite)(int, const void *, size_t, off_t);
  int (*ftruncate)(int, off_t);
  int (*fsync)(int);
  int (*renameat)(int, const char *, int, const char *);
  int (*unlinkat)(int, const char *, int);
  int (*linkat)(int, const char *, int, const char *, int);
  int (*mkdirat)(int, const char *, mode_t);
  int (*fchown)(int, uid_t, gid_t);
  int (*fchmod)(int, mode_t);
  int (*utimensat)(int, const char *, const struct timespec *, int);
  int (*faccessat)(int, const char *, int, int);
  ssize_t (*lgetxattr)(const char *, const char *, void *, size_t);
  ssize_t (*fgetxattr)(int, const char *, void *, size_t);
  int (*lsetxattr)(const char *, const char *, const void *, size_t, int);
  int (*fsetxattr)(int, const char *, const void *, size_t, int);
  ssize_t (*llistxattr)(const char *, char *, size_t);
  ssize_t (*flistxattr)(int, char *, size_t);
  int (*lremovexattr)(const char *, const char *);
  int (*fremovexattr)(int, const char *);
  int (*getflags)(int, unsigned *);
  int (*poll)(struct pollfd *, nfds_t, int);
  int (*syncrange)(int, off_t, off_t);
  int (*ofdlock)(int, short, bool);
  int (*clockgettime)(clockid_t, struct timespec *);
  int (*isatty)(int);
  int (*symlinkat)(const char *, int, const char *);
};
// The kernel's calls.
const CallTable &RealCalls();
// From now on the wrappers call these (start from a copy of RealCalls() and
// replace what the test needs); faults still come first.
void SubstituteCalls(const CallTable &calls);
void ClearSubstitutes();
// The table the wrappers call now.
const CallTable &ActiveCalls();
// Puts `fake` in the place of one call, keeping the substitutes in place.
template <class F>
void SubstituteCall(F CallTable::*call, F fake) {
  CallTable calls = ActiveCalls();
  calls.*call = fake;
  SubstituteCalls(calls);
}

// Puts the real calls back when it goes out of scope.
struct SubstituteScope {
  explicit SubstituteScope(const CallTable &calls) { SubstituteCalls(calls); }
  SubstituteScope(const SubstituteScope &) = delete;
  SubstituteScope &operator=(const SubstituteScope &) = delete;
  ~SubstituteScope() { ClearSubstitutes(); }
};

// The n-th call (n >= 1) of `call` from now fails with err; with persistent,
// that call and every later one do. Replaces an earlier fault of that call.
void FailCall(Call call, unsigned n, int err, bool persistent = false);
void ClearFaults();
uint64_t CallCount(Call call);
void ResetCallCounts();

// Clears the faults when it goes out of scope, so that a failing test
// cannot leave one armed for the next.
struct FaultScope {
  FaultScope() = default;
  FaultScope(const FaultScope &) = delete;
  FaultScope &operator=(const FaultScope &) = delete;
  ~FaultScope() { ClearFaults(); }
};

}  // namespace tv::sys
