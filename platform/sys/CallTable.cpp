// The table of system calls and its fault hooks. Only generic Linux code
// belongs here: no decisions, no status codes.
#include "platform/sys/CallTable.h"

#include <atomic>
#include <cstdint>
#include <fcntl.h>
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

// The attribute calls relative to a folder, by number: the C library of the
// day has no wrappers. New calls have one number on every architecture.
#ifndef SYS_setxattrat
#define SYS_setxattrat 463
#define SYS_getxattrat 464
#define SYS_listxattrat 465
#define SYS_removexattrat 466
#endif
// What getxattrat and setxattrat take in place of the value and its size.
struct XattrArgs {
  uint64_t value;
  uint32_t size;
  uint32_t flags;
};

ssize_t RealListxattrat(int dirFd, const char *path, char *list, size_t size) {
  return syscall(SYS_listxattrat, dirFd, path, AT_SYMLINK_NOFOLLOW, list, size);
}
ssize_t RealGetxattrat(int dirFd, const char *path, const char *name, void *value, size_t size) {
  XattrArgs args{uint64_t(reinterpret_cast<uintptr_t>(value)), uint32_t(size), 0};
  return syscall(SYS_getxattrat, dirFd, path, AT_SYMLINK_NOFOLLOW, name, &args, sizeof args);
}
int RealSetxattrat(int dirFd, const char *path, const char *name, const void *value, size_t size, int flags) {
  XattrArgs args{uint64_t(reinterpret_cast<uintptr_t>(value)), uint32_t(size), uint32_t(flags)};
  return int(syscall(SYS_setxattrat, dirFd, path, AT_SYMLINK_NOFOLLOW, name, &args, sizeof args));
}
int RealRemovexattrat(int dirFd, const char *path, const char *name) {
  return int(syscall(SYS_removexattrat, dirFd, path, AT_SYMLINK_NOFOLLOW, name));
}

// The slot takes the mode always, so that a substitute need not be variadic;
// the kernel reads it only with O_CREAT or O_TMPFILE.
int RealOpenat(int dirFd, const char *path, int flags, mode_t mode) { return ::openat(dirFd, path, flags, mode); }

const CallTable kReal = {
#define TV_SYSCALL(slot, Wrapper, real, ...) .slot = real,
#include "platform/sys/Calls.def"
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
#define TV_SYSCALL(slot, ...) #slot,
#include "platform/sys/Calls.def"
  };
  unsigned i = unsigned(call);
  return i < kCallCount ? names[i] : "?";
}

#define TV_SYSCALL(slot, Wrapper, real, Result, failure, params, args) \
  Result Wrapper params {                                              \
    return Injected(Call::slot) ? failure : sActive.load(std::memory_order_relaxed)->slot args; \
  }
#include "platform/sys/Calls.def"

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
