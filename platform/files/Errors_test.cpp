#include "platform/files/Errors.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/support/TestSupport.h"

using namespace tv::files;

TEST(ErrorsTest, TranslatesEachErrnoOfTheTable) {
  struct Row {
    int err;
    OSStatus status;
  } rows[] = {
      {ENOENT, fnfErr},   {EACCES, afpAccessDenied}, {EPERM, permErr},         {EROFS, wPrErr},
      {ENOSPC, dskFulErr}, {EDQUOT, dskFulErr},      {EEXIST, dupFNErr},       {ENOMEM, memFullErr},
      {ENAMETOOLONG, bdNamErr}, {ENOTDIR, dirNFErr}, {EIO, ioErr},             {EINVAL, ioErr},
      {ELOOP, ioErr},     {EBUSY, ioErr},            {0, noErr},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.err);
    EXPECT_STATUS(row.status, StatusFromErrno(row.err));
  }
  EXPECT_STATUS(fLckdErr, StatusFromErrno(EPERM, true));
  EXPECT_STATUS(fnfErr, StatusFromErrno(ENOENT, true));  // the lock only matters for EPERM
}

TEST(ErrorsTest, EpermOnImmutableOrAppendOnlyItemIsLocked) {
  TV_SKIP_UNLESS_ROOT("set the immutable flag");
  tvtest::TempTree tree;
  tree.file("plain", "x");
  tree.file("immutable", "x");
  tree.file("appendonly", "x");
  tree.folder("lockedfolder");
  tree.file("lockedfolder/inside", "x");
  tree.setImmutable("immutable", true);
  tree.setImmutable("lockedfolder", true);
  std::string cmd = "chattr +a '" + tree.path("appendonly") + "'";
  ASSERT_EQ(0, system(cmd.c_str()));
  std::string undo = "chattr -a '" + tree.path("appendonly") + "'";

  EXPECT_STATUS(permErr, StatusFromErrnoAt(EPERM, AT_FDCWD, tree.path("plain").c_str()));
  EXPECT_STATUS(fLckdErr, StatusFromErrnoAt(EPERM, AT_FDCWD, tree.path("immutable").c_str()));
  EXPECT_STATUS(fLckdErr, StatusFromErrnoAt(EPERM, AT_FDCWD, tree.path("appendonly").c_str()));
  // An item in a locked folder cannot be renamed or removed: locked too.
  EXPECT_STATUS(fLckdErr, StatusFromErrnoAt(EPERM, AT_FDCWD, tree.path("lockedfolder/inside").c_str()));
  // Other errors never look at the item.
  EXPECT_STATUS(afpAccessDenied, StatusFromErrnoAt(EACCES, AT_FDCWD, tree.path("immutable").c_str()));
  // The item a descriptor is open on.
  int fd = open(tree.path("immutable").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_STATUS(fLckdErr, StatusFromErrnoAt(EPERM, fd, ""));
  close(fd);
  fd = open(tree.path("plain").c_str(), O_PATH | O_CLOEXEC);
  EXPECT_STATUS(permErr, StatusFromErrnoAt(EPERM, fd, ""));
  close(fd);
  // A vanished item is not locked.
  EXPECT_STATUS(permErr, StatusFromErrnoAt(EPERM, AT_FDCWD, tree.path("gone").c_str()));

  errno = EPERM;
  StatusFromErrnoAt(EPERM, AT_FDCWD, tree.path("immutable").c_str());
  EXPECT_EQ(EPERM, errno);  // kept for the caller
  EXPECT_EQ(0, system(undo.c_str()));
}
