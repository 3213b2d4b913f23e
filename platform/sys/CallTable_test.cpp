#include "platform/sys/CallTable.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <gtest/gtest.h>
#include <unistd.h>

namespace sys = tv::sys;

TEST(CallTableTest, FailsTheNthCallOnceOrFromThenOnAndCountsEveryCall) {
  sys::FaultScope faults;
  struct stat st;
  sys::ResetCallCounts();
  sys::FailCall(sys::Call::fstatat, 3, EIO);
  EXPECT_EQ(0, sys::Fstatat(AT_FDCWD, "/", &st, 0));
  EXPECT_EQ(0, sys::Fstatat(AT_FDCWD, "/", &st, 0));
  errno = 0;
  EXPECT_EQ(-1, sys::Fstatat(AT_FDCWD, "/", &st, 0));
  EXPECT_EQ(EIO, errno);
  EXPECT_EQ(0, sys::Fstatat(AT_FDCWD, "/", &st, 0));  // once only
  EXPECT_EQ(4u, sys::CallCount(sys::Call::fstatat));
  EXPECT_EQ(0u, sys::CallCount(sys::Call::statx));  // other calls are not touched

  sys::FailCall(sys::Call::openat, 2, ENOSPC, true);
  int fd = sys::Openat(AT_FDCWD, "/", O_PATH | O_CLOEXEC);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(0, sys::Close(fd));
  for (int i = 0; i < 3; i++) {
    errno = 0;
    EXPECT_EQ(-1, sys::Openat(AT_FDCWD, "/", O_PATH | O_CLOEXEC));
    EXPECT_EQ(ENOSPC, errno);
  }
  sys::ClearFaults();
  fd = sys::Openat(AT_FDCWD, "/", O_PATH | O_CLOEXEC);
  EXPECT_GE(fd, 0);
  sys::Close(fd);
  EXPECT_STREQ("openat", sys::CallName(sys::Call::openat));
  EXPECT_STREQ("poll", sys::CallName(sys::Call::poll));
}

namespace {

int sInterruptsLeft = 0;
// A pread that is interrupted first and then hands out at most 3 bytes a call,
// as a pipe-backed FUSE file or a signal can make the kernel do.
ssize_t ShortPread(int fd, void *buf, size_t size, off_t offset) {
  if (sInterruptsLeft > 0) {
    --sInterruptsLeft;
    errno = EINTR;
    return -1;
  }
  return sys::RealCalls().pread(fd, buf, size < 3 ? size : 3, offset);
}
ssize_t AcceptsNothing(int, const void *, size_t) { return 0; }

}  // namespace

TEST(CallTableTest, PreadAllGathersShortAndInterruptedReadsAndStopsAtTheEnd) {
  char path[] = "/tmp/tv-preadall-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  unlink(path);
  const std::string content = "0123456789abcdef";
  ASSERT_EQ(ssize_t(content.size()), write(fd, content.data(), content.size()));

  sys::SubstituteScope restore(sys::RealCalls());
  sys::SubstituteCall(&sys::CallTable::pread, ShortPread);
  sInterruptsLeft = 2;
  char buf[32] = {};
  EXPECT_EQ(10, sys::PreadAll(fd, buf, 10, 2));
  EXPECT_EQ(content.substr(2, 10), std::string(buf, 10));
  // Past the end: what is there, then nothing.
  EXPECT_EQ(4, sys::PreadAll(fd, buf, sizeof buf, 12));
  EXPECT_EQ("cdef", std::string(buf, 4));
  EXPECT_EQ(0, sys::PreadAll(fd, buf, sizeof buf, 16));

  sys::FaultScope faults;
  sys::FailCall(sys::Call::pread, 2, EIO);
  errno = 0;
  EXPECT_EQ(-1, sys::PreadAll(fd, buf, 10, 0)) << "a failure part way is no short read";
  EXPECT_EQ(EIO, errno);
  close(fd);
}

TEST(CallTableTest, WriteAllFailsWhereTheFileAcceptsNothing) {
  sys::SubstituteScope restore(sys::RealCalls());
  sys::SubstituteCall(&sys::CallTable::write, AcceptsNothing);
  errno = 0;
  EXPECT_EQ(-1, sys::WriteAll(1, "x", 1));
  EXPECT_EQ(EIO, errno);
}
