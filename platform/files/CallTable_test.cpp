#include "platform/files/CallTable.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <unistd.h>

namespace sys = tv::files::sys;

TEST(SyscallTableTest, FailsTheNthCallOnceOrFromThenOnAndCountsEveryCall) {
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
