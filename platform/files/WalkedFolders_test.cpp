// Paths in folders walked before resolve with two stats, and still to what
// is there now when a folder was replaced or a link on the way points
// elsewhere.
#include "platform/Files.h"
#include "platform/sys/CallTable.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

std::string Resolve(const std::string &path, FSRef *ref = nullptr) {
  FSRef local;
  if (FSPathMakeRef(reinterpret_cast<const UInt8 *>(path.c_str()), ref ? ref : &local, nullptr) != noErr) return "(none)";
  UInt8 buf[4096];
  return FSRefMakePath(ref ? ref : &local, buf, sizeof buf) == noErr ? reinterpret_cast<char *>(buf) : "(no path)";
}

TEST(WalkedFoldersTest, SecondItemOfAFolderCostsTwoStats) {
  tv::test::TempTree tree;
  tree.file("a/one");
  tree.file("a/two");
  ASSERT_EQ(Resolve(tree.path("a/one")), tree.path("a/one"));
  tv::sys::ResetCallCounts();
  FSRef ref;
  std::string two = tree.path("a/two");
  ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8 *>(two.c_str()), &ref, nullptr), noErr);
  EXPECT_EQ(tv::sys::CallCount(tv::sys::Call::statx), 2u);
  EXPECT_EQ(tv::sys::CallCount(tv::sys::Call::openat), 0u);
}

TEST(WalkedFoldersTest, ReplacedFoldersAndRetargetedLinksAreNoticed) {
  tv::test::TempTree tree;
  tree.file("a/f", "old");
  FSRef before, after;
  ASSERT_EQ(Resolve(tree.path("a/f"), &before), tree.path("a/f"));
  tv::test::Run({"mv", tree.path("a"), tree.path("moved")});
  tree.file("a/f", "new");
  ASSERT_EQ(Resolve(tree.path("a/f"), &after), tree.path("a/f"));
  EXPECT_NE(FSCompareFSRefs(&before, &after), noErr);  // the new file, not the old one

  tree.file("real/x");
  tree.file("other/x");
  tree.symlink("link", tree.path("real"));
  EXPECT_EQ(Resolve(tree.path("link/x")), tree.path("real/x"));
  tv::test::Run({"ln", "-sfn", tree.path("other"), tree.path("link")});
  EXPECT_EQ(Resolve(tree.path("link/x")), tree.path("other/x"));
  tv::test::Run({"rm", tree.path("other/x")});
  EXPECT_EQ(Resolve(tree.path("link/x")), "(none)");
}

}  // namespace
