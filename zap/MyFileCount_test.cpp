// The count before the zap, on real trees: what is counted, within the time
// given, and the Escape that cancels it.
#include "zap/MyFileCount.h"

#include "support/MyStatus.h"
#include "tests/support/ZapFixture.h"

#include <gtest/gtest.h>

namespace {

class FileCountTest : public tv::test::ZapFrontEndTest {};

TEST_F(FileCountTest, CountsFilesFoldersAndDeniedFolders) {
  tree.file("top/a");
  tree.file("top/b");
  tree.file("top/sub/c");
  tree.file("x");
  MyFSDirIter iter = Iter({tree.path("top"), tree.path("x")});
  MyFileCountInfo info = {};
  ASSERT_STATUS(noErr, CountFilesWithContextIter(iter, false, 120, &info));
  EXPECT_EQ(info.fileCount, 1);
  EXPECT_EQ(info.folderCount, 1);
  MyFSDirIterReset(iter);
  ASSERT_STATUS(noErr, CountFilesWithContextIter(iter, true, 120, &info));
  EXPECT_EQ(info.fileCount, 4);
  EXPECT_EQ(info.folderCount, 2);
  EXPECT_EQ(info.deniedFolderCount, 0);
  EXPECT_FALSE(info.containsHomeDir);
  EXPECT_FALSE(info.timeOver);
}

TEST_F(FileCountTest, HomeFolderCountsOnlyAtTheTopLevel) {
  tree.file("home/f");
  MyFSDirIter iter = Iter({tree.home()});
  MyFileCountInfo info = {};
  ASSERT_STATUS(noErr, CountFilesWithContextIter(iter, true, 1000000, &info));
  EXPECT_TRUE(info.containsHomeDir);
  EXPECT_FALSE(info.containsVolume);
  MyCMContextDispose(context);
  context = nullptr;
  iter = Iter({tree.root()});  // the home folder is below the selection
  ASSERT_STATUS(noErr, CountFilesWithContextIter(iter, true, 1000000, &info));
  EXPECT_FALSE(info.containsHomeDir);
}

TEST_F(FileCountTest, RunningOutOfTimeKeepsWhatWasCountedAndEqualTicksStillCount) {
  for (int i = 0; i < 5; i++) tree.file("deep/l" + std::to_string(i) + "/f");
  MyFSDirIter iter = Iter({tree.path("deep")});
  MyFileCountInfo info = {};
  seen.tickStep = 60;  // every look at the clock is a second later
  ASSERT_STATUS(noErr, CountFilesWithContextIter(iter, true, 120, &info));
  EXPECT_TRUE(info.timeOver);
  EXPECT_LT(info.fileCount, 5);
  // A limit exactly reached still counts as in time.
  seen.tickStep = 0;
  MyFSDirIterReset(iter);
  MyFileCountParam param = {};
  param.startTicks = seen.ticks - 120;
  param.limitTicks = 120;
  EXPECT_STATUS(noErr, CountFilesWithIter(iter, true, &param));
  EXPECT_EQ(param.countInfo.fileCount, 5);
}

TEST_F(FileCountTest, HeldEscapeCancelsTheCount) {
  tree.file("f");
  MyFSDirIter iter = Iter({tree.path("f")});
  MyFileCountInfo info = {};
  info.fileCount = 77;
  seen.escape = true;
  EXPECT_STATUS(userCanceledErr, CountFilesWithContextIter(iter, false, 120, &info));
  EXPECT_EQ(info.fileCount, 77);  // not written
}

TEST_F(FileCountTest, UnreadableFolderIsCountedDeniedAndLogged) {
  TV_SKIP_UNLESS_ROOT("become user 65534");
  tree.file("top/locked/inside");
  tree.chmod("top/locked", 0700);
  std::string locked = tree.path("top/locked");
  int status = tv::test::InChildAsNobody([&] {
    MyFSDirIter iter = Iter({locked});
    MyFileCountInfo info = {};
    OSStatus err = CountFilesWithContextIter(iter, true, 120, &info);
    bool ok = err == noErr && info.folderCount == 1 && info.deniedFolderCount == 1 && info.fileCount == 0 &&
              seen.console == "Tarrovel: Permission denied: " + locked + "\n";
    return ok ? 0 : 1;
  });
  EXPECT_EQ(status, 0);
}

// The clock passes 0xFFFFFFFF while counting: the time spent is what counts,
// not which tick number is larger.
TEST_F(FileCountTest, TickCountWrappingDuringTheCountIsNotTimeOver) {
  for (int i = 0; i < 5; i++) tree.file("deep/l" + std::to_string(i) + "/f");
  MyFSDirIter iter = Iter({tree.path("deep")});
  MyFileCountInfo info = {};
  seen.ticks = 0xFFFFFFFFu - 25;
  seen.tickStep = 10;
  ASSERT_STATUS(noErr, CountFilesWithContextIter(iter, true, 120, &info));
  EXPECT_LT(seen.ticks, 1000u);  // the clock did wrap
  EXPECT_FALSE(info.timeOver);
  EXPECT_EQ(info.fileCount, 5);
  // Wrapped, and out of time all the same.
  MyFSDirIterReset(iter);
  seen.ticks = 0xFFFFFFFFu - 25;
  seen.tickStep = 100;
  ASSERT_STATUS(noErr, CountFilesWithContextIter(iter, true, 120, &info));
  EXPECT_TRUE(info.timeOver);
  EXPECT_LT(info.fileCount, 5);
}

// Escape while one large folder is counted ends the count there.
TEST_F(FileCountTest, EscapeWhileOneFolderIsCountedCancelsTheCount) {
  for (int i = 0; i < 10; i++) tree.file("flat/f" + std::to_string(i));
  MyFSDirIter iter = Iter({tree.path("flat")});
  MyFileCountInfo info = {};
  seen.escapeOnLook = 5;  // seen once, inside the folder
  EXPECT_STATUS(userCanceledErr, CountFilesWithContextIter(iter, true, 120, &info));
}

}  // namespace
