#include "platform/files/Errors.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
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

TEST(ErrorsTest, ClassifiesWhatRefusedAndWhy) {
  struct Row {
    int err;
    FailureFacts facts;
    TVFailureReason reason;
    bool inFolder;
  } rows[] = {
      {EPERM, {.entryFlags = FS_IMMUTABLE_FL}, kTVFailureImmutable, false},
      {EPERM, {.folderFlags = FS_APPEND_FL}, kTVFailureAppendOnly, true},
      {EACCES, {.entryFlags = FS_IMMUTABLE_FL}, kTVFailureOther, false},  // flags explain only EPERM
      {EACCES, {.entryUsable = false}, kTVFailureNoAccess, false},
      {EPERM, {.folderWritable = false}, kTVFailureNoAccess, true},
      {EACCES, {}, kTVFailureOther, false},  // nothing seen explains it
      {EACCES, {.entryUsable = false, .readOnlyVolume = true}, kTVFailureReadOnlyVolume, false},
      {EROFS, {}, kTVFailureReadOnlyVolume, false},
      {ENOSPC, {}, kTVFailureNoSpace, false},
      {EDQUOT, {}, kTVFailureQuota, false},
      {ENOENT, {}, kTVFailureChanged, false},
      {EIO, {.entryFlags = FS_IMMUTABLE_FL}, kTVFailureOther, false},
  };
  for (const Row &row : rows) {
    FailureClass c = ClassifyFailure(row.err, row.facts);
    EXPECT_EQ(c.reason, row.reason) << row.err;
    EXPECT_EQ(c.inFolder, row.inFolder) << row.err;
  }
}

TEST(ErrorsTest, EpermOnImmutableOrAppendOnlyItemIsLocked) {
  TV_SKIP_UNLESS_ROOT("set the immutable flag");
  tv::test::TempTree tree;
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

  // The cause names what refused: the entry, or the folder that holds it.
  TVFailureCause cause;
  fd = open(tree.path("lockedfolder").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_STATUS(fLckdErr, StatusFromErrnoAt(EPERM, fd, "inside"));
  close(fd);
  ASSERT_TRUE(TVGetFailureCause(fLckdErr, &cause));
  EXPECT_EQ(cause.reason, kTVFailureImmutable);
  EXPECT_EQ(cause.store, kTVFailureStoreFolder);
  EXPECT_STREQ(cause.name, "lockedfolder");
  EXPECT_EQ(std::string(cause.path), tree.path("lockedfolder"));
  EXPECT_FALSE(TVGetFailureCause(permErr, &cause));  // only for the status it became
  errno = EPERM;
  StatusFromErrnoAt(EPERM, AT_FDCWD, tree.path("appendonly").c_str());
  EXPECT_EQ(EPERM, errno);  // kept for the caller
  ASSERT_TRUE(TVGetFailureCause(fLckdErr, &cause));
  EXPECT_EQ(cause.reason, kTVFailureAppendOnly);
  EXPECT_STREQ(cause.name, "appendonly");
  EXPECT_EQ(0, system(undo.c_str()));
}
