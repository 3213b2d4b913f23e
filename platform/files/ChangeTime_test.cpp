// Nothing known of an item is trusted because its change time held still:
// coarse kernel timestamps let another process set an attribute or change
// the mode within one clock tick without moving it.
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>

#include "platform/Files.h"
#include "tests/support/FilesFixture.h"
#include "platform/sys/CallTable.h"
#include "tests/support/Sidecars.h"
#include "tests/support/ForkCalls.h"

using namespace tv::test;
namespace sys = tv::sys;

namespace {

constexpr char kForkXattr[] = "user.com.apple.ResourceFork";

// Every look at an item reports the same change time.
int PinnedStatx(int dirFd, const char *path, int flags, unsigned mask, struct statx *stx) {
  int r = sys::RealCalls().statx(dirFd, path, flags, mask, stx);
  if (r == 0) stx->stx_ctime = {1000000000, 0, 0};
  return r;
}
int PinnedFstatat(int dirFd, const char *path, struct stat *st, int flags) {
  int r = sys::RealCalls().fstatat(dirFd, path, st, flags);
  if (r == 0) st->st_ctim = {1000000000, 0};
  return r;
}
int PinnedFstat(int fd, struct stat *st) {
  int r = sys::RealCalls().fstat(fd, st);
  if (r == 0) st->st_ctim = {1000000000, 0};
  return r;
}

sys::CallTable PinnedChangeTime() {
  sys::CallTable calls = sys::RealCalls();
  calls.statx = PinnedStatx;
  calls.fstatat = PinnedFstatat;
  calls.fstat = PinnedFstat;
  return calls;
}

UInt64 RsrcSize(const FSRef &ref) {
  FSCatalogInfo info{};
  EXPECT_STATUS(noErr, FSGetCatalogInfo(&ref, kFSCatInfoRsrcSizes | kFSCatInfoFinderInfo, &info, nullptr, nullptr,
                                        nullptr));
  return info.rsrcLogicalSize;
}

UInt8 UserAccess(const FSRef &ref) {
  FSCatalogInfo info{};
  EXPECT_STATUS(noErr, FSGetCatalogInfo(&ref, kFSCatInfoPermissions | kFSCatInfoUserAccess, &info, nullptr, nullptr,
                                        nullptr));
  return reinterpret_cast<const FSPermissionInfo *>(info.permissions)->userAccess;
}

}  // namespace

TEST(ChangeTimeTest, ForkSetBehindAStillChangeTimeIsSeenAndZapped) {
  tv::test::TempTree tree;
  std::string path = tree.file("f", "data");
  sys::SubstituteScope pinned(PinnedChangeTime());
  FSRef ref = RefFor(path);
  ASSERT_EQ(RsrcSize(ref), 0u);  // looked at once: no fork anywhere

  auto fork = tv::test::MakeResourceFork(600);
  ASSERT_EQ(setxattr(path.c_str(), kForkXattr, fork.data(), fork.size(), 0), 0);
  EXPECT_EQ(RsrcSize(ref), 600u);
  EXPECT_STATUS(noErr, tv::test::ZapResourceFork(ref));
  bool present = false;
  EXPECT_EQ(tree.getXattr("f", kForkXattr, &present), "") << "the fork is still on disk";
}

TEST(ChangeTimeTest, AccessBitsFollowAChmodBehindAStillChangeTime) {
  tv::test::TempTree tree;
  std::string path = tree.file("tool", "#!/bin/sh\n");
  tree.chmod("tool", 0644);
  sys::SubstituteScope pinned(PinnedChangeTime());
  FSRef ref = RefFor(path);
  EXPECT_EQ(UserAccess(ref), 6);  // root, and nobody may execute it
  tree.chmod("tool", 0755);
  EXPECT_EQ(UserAccess(ref), 7);
  tree.chmod("tool", 0644);
  EXPECT_EQ(UserAccess(ref), 6);
}
