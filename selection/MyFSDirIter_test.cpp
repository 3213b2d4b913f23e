#include "selection/MyFSDirIter.h"

#include "platform/HostServices.h"
#include "platform/sys/CallTable.h"
#include "tests/support/Selection.h"
#include "tests/support/TestSupport.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <set>

namespace {

class DirIterTest : public ::testing::Test {
 protected:
  void SetUp() override { liveCF_ = TVCFGetLiveObjectCount(); }
  void TearDown() override { EXPECT_EQ(TVCFGetLiveObjectCount(), liveCF_); }

  // The names the iterator walks, in order.
  std::vector<std::string> Walk(MyFSDirIter iter) {
    std::vector<std::string> names;
    while (const FSRef *ref = MyFSDirIterNext(iter)) {
      std::string p = tv::test::PathOf(ref);
      names.push_back(p.substr(p.rfind('/') + 1));
    }
    return names;
  }
  tv::test::TempTree tree;
  CFIndex liveCF_ = 0;
};

TEST_F(DirIterTest, ListsEveryEntryOnceInOrderAcrossBatches) {
  for (int n : {0, 10, 11, 10000}) {
    std::string dir = "d" + std::to_string(n);
    tree.folder(dir);
    std::vector<std::string> expected;
    for (int i = 0; i < n; i++) {
      char name[16];
      snprintf(name, sizeof name, "f%05d", i);
      tree.file(dir + "/" + name);
      expected.push_back(name);
    }
    FSRef folder = tv::test::RefFor(tree.path(dir));
    MyFSDirIter iter = nullptr;
    ASSERT_STATUS(noErr, MyFSDirIterCreate(&folder, &iter)) << n;
    EXPECT_EQ(iter->index, -1);
    EXPECT_EQ(Walk(iter), expected) << n;
    EXPECT_EQ(iter->index, kMyFSDirIterEnded);
    EXPECT_EQ(MyFSDirIterNext(iter), nullptr);  // stays ended
    EXPECT_STATUS(noErr, MyFSDirIterDispose(iter));
  }
}

TEST_F(DirIterTest, RewindWalksAgainAndAsksAfresh) {
  tree.folder("top/sub");
  tree.file("top/z");
  FSRef folder = tv::test::RefFor(tree.path("top"));
  MyFSDirIter iter = nullptr;
  ASSERT_STATUS(noErr, MyFSDirIterCreate(&folder, &iter));
  EXPECT_FALSE(MyFSDirIterIsContainer(iter));  // before the first entry
  EXPECT_EQ(MyFSDirIterGetUserAccessPerm(iter), 0);
  tv::sys::ResetCallCounts();
  ASSERT_NE(MyFSDirIterNext(iter), nullptr);
  EXPECT_TRUE(MyFSDirIterIsContainer(iter));
  EXPECT_EQ(MyFSDirIterGetUserAccessPerm(iter), 7);  // root reads, writes, searches
  EXPECT_TRUE(iter->userAccessValid);
  EXPECT_EQ(tv::sys::CallCount(tv::sys::Call::statx), 0u);  // the listing told it is a folder
  EXPECT_FALSE(MyFSDirIterIsVolume(iter));
  EXPECT_TRUE(iter->itemInfoValid);
  ASSERT_NE(MyFSDirIterNext(iter), nullptr);
  EXPECT_FALSE(MyFSDirIterIsContainer(iter));
  EXPECT_FALSE(iter->userAccessValid);
  // Items removed after the snapshot are still walked.
  tv::test::Run({"rm", "-r", tree.path("top/sub")});
  MyFSDirIterReset(iter);
  EXPECT_EQ(iter->currentRef, nullptr);
  std::vector<std::string> again = Walk(iter);
  ASSERT_EQ(again.size(), 2u);  // "sub" is gone from disk but not from the snapshot
  EXPECT_EQ(again[1], "z");
  MyFSDirIterDispose(iter);
  EXPECT_STATUS(noErr, MyFSDirIterDispose(nullptr));
}

TEST_F(DirIterTest, RefusesFilesAndMissingArguments) {
  FSRef file = tv::test::RefFor(tree.file("plain"));
  MyFSDirIter iter = reinterpret_cast<MyFSDirIter>(0x1);
  EXPECT_STATUS(paramErr, MyFSDirIterCreate(&file, &iter));
  EXPECT_EQ(iter, nullptr);
  EXPECT_STATUS(paramErr, MyFSDirIterCreate(nullptr, &iter));
  EXPECT_STATUS(paramErr, MyFSDirIterCreate(&file, nullptr));
  EXPECT_STATUS(paramErr, MyFSDirIterCreateWithContext(nullptr, nullptr));
  EXPECT_EQ(MyFSDirIterNext(nullptr), nullptr);
  EXPECT_FALSE(MyFSDirIterIsVolume(nullptr));
}

TEST_F(DirIterTest, RootIsAVolume) {
  tree.folder("x");
  FSRef root = tv::test::RefFor("/");
  // A one-entry snapshot of "/" through a folder listing is not possible, so
  // walk the listing of "/" and find an entry that is a mount point if any;
  // the root itself is checked through Launch Services.
  LSItemInfoRecord info = {};
  ASSERT_EQ(LSCopyItemInfoForRef(&root, kLSRequestBasicFlagsOnly, &info), noErr);
  EXPECT_NE(info.flags & kLSItemInfoIsVolume, 0u);
  MyFSDirIter iter = nullptr;
  ASSERT_STATUS(noErr, MyFSDirIterCreate(&root, &iter));
  bool sawVolume = false, sawOrdinary = false;
  while (const FSRef *ref = MyFSDirIterNext(iter)) {
    std::string p = tv::test::PathOf(ref);
    if (p == "/proc" || p == "/sys" || p == "/dev") sawVolume |= MyFSDirIterIsVolume(iter) != 0;
    if (p == "/etc") sawOrdinary = MyFSDirIterIsContainer(iter) && !MyFSDirIterIsVolume(iter);
  }
  EXPECT_TRUE(sawVolume);
  EXPECT_TRUE(sawOrdinary);
  MyFSDirIterDispose(iter);
}

TEST_F(DirIterTest, FoldersWithoutReadOrSearchAreDeniedToOrdinaryUsers) {
  TV_SKIP_UNLESS_ROOT("become user 65534");
  tree.folder("noread/x");
  tree.folder("nosearch/x");
  tree.folder("ok/x");
  tree.chmod("noread", 0311);
  tree.chmod("nosearch", 0666);
  auto create = [&](const char *name) {
    return tv::test::InChildAsNobody([&] {
      FSRef folder = tv::test::RefFor(tree.path(name));
      MyFSDirIter iter = nullptr;
      OSStatus err = MyFSDirIterCreate(&folder, &iter);
      MyFSDirIterDispose(iter);
      return err == afpAccessDenied ? 1 : err == noErr ? 0 : 2;
    });
  };
  EXPECT_EQ(create("noread"), 1);
  EXPECT_EQ(create("nosearch"), 1);
  EXPECT_EQ(create("ok"), 0);
}

TEST(SelectionKeepMaskTest, RepeatsAndItemsInsideSelectedFoldersGo) {
  const std::vector<std::string> paths = {"/a/b/c", "/a/b", "/a/b-c", "/a/bc/d", "/a/b", "/x", "/a/b/c"};
  EXPECT_EQ(MySelectionKeepMask(paths, true), (std::vector<bool>{false, true, true, true, false, true, false}));
  EXPECT_EQ(MySelectionKeepMask(paths, false), (std::vector<bool>{true, true, true, true, false, true, false}));
  EXPECT_EQ(MySelectionKeepMask({"/", "/etc", "/"}, true), (std::vector<bool>{true, false, false}));
}

}  // namespace
