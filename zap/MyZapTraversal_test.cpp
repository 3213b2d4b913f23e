// The zap's walk over real trees: where a cancel or a failing file stops it,
// what a tree changed meanwhile leaves, and the keys that cancel.
#include "zap/MyZapTraversal.h"

#include "platform/sys/CallTable.h"
#include "support/MyStatus.h"
#include "tests/support/ZapFixture.h"

#include <filesystem>
#include <functional>
#include <utility>
#include <gtest/gtest.h>

namespace {

class ZapTraversalTest : public tv::test::ZapFrontEndTest {};

// Escape seen once, at any look while zapping four folders: the zap stops
// where it next looks, the folders before stay zapped, none after is touched,
// and the user is told it was cancelled.
TEST_F(ZapTraversalTest, EscapeOnTheNthLookStopsAtTheNextFolderAndKeepsWhatWasDone) {
  int previous = 0;
  bool partial = false, finished = false;
  for (int n = 1; n <= 20 && !finished; n++) {
    const std::string top = "run" + std::to_string(n);
    for (int d = 0; d < 4; d++) MacFile(top + "/d" + std::to_string(d) + "/f");
    seen.looks = 0;
    seen.escapeOnLook = n;
    seen.messages.clear();
    OSStatus err = ZapRsrc({tree.path(top)}, true, false);
    int zapped = 0;
    bool untouchedSeen = false;
    for (int d = 0; d < 4; d++) {
      bool empty = Catalog(tree.path(top + "/d" + std::to_string(d) + "/f")).rsrcLogicalSize == 0;
      EXPECT_FALSE(empty && untouchedSeen) << "Escape on look " << n << ": d" << d << " zapped after an untouched folder";
      untouchedSeen = untouchedSeen || !empty;
      zapped += empty;
    }
    EXPECT_GE(zapped, previous) << "Escape on look " << n;  // a later Escape never does less
    previous = zapped;
    if (seen.looks < n) {  // the zap ended before the look that sees Escape
      EXPECT_STATUS(noErr, err);
      EXPECT_EQ(zapped, 4);
      EXPECT_TRUE(seen.messages.empty());
      finished = true;
      continue;
    }
    EXPECT_STATUS(noBeepErr, err) << "Escape on look " << n;
    EXPECT_LT(zapped, 4) << "Escape on look " << n;
    partial = partial || zapped > 0;
    ASSERT_EQ(seen.messages.size(), 1u) << "Escape on look " << n;
    EXPECT_EQ(seen.messages[0].rfind("canceled by user", 0), 0u) << seen.messages[0];
  }
  EXPECT_TRUE(finished) << "Escape stopped every run";
  EXPECT_TRUE(partial) << "no Escape came between folders";
}

// A cancel the front end latches after the Nth file of one folder stops the
// zap before the next file: exactly N zapped, the rest untouched, every
// sidecar readable, and the cancel alert. Latched after the last file, there
// is no next file: the zap has done everything and says nothing.
TEST_F(ZapTraversalTest, LatchedCancelInsideOneFolderStopsBeforeTheNextFile) {
  const int kFiles = 12;
  for (int after : {0, 1, 7, kFiles}) {
    const std::string top = "flat" + std::to_string(after);
    for (int i = 0; i < kFiles; i++) MacFile(top + "/f" + std::to_string(100 + i));
    seen.filesDone = 0;
    seen.escapeAfterFile = after;
    seen.messages.clear();
    OSStatus err = ZapRsrc({tree.path(top)}, true, false);
    for (int i = 0; i < kFiles; i++)
      EXPECT_EQ(Catalog(tree.path(top + "/f" + std::to_string(100 + i))).rsrcLogicalSize, i < after ? 0u : 600u)
          << "cancel after " << after << ", file " << i;
    if (after == kFiles) {
      EXPECT_STATUS(noErr, err);
      EXPECT_TRUE(seen.messages.empty());
      continue;
    }
    EXPECT_STATUS(noBeepErr, err) << "cancel after " << after;
    ASSERT_EQ(seen.messages.size(), 1u);
    EXPECT_EQ(seen.messages[0], "canceled by user: ");
  }
}

// A file whose metadata cannot be read stops the run at that file: those
// before it are zapped, the stop alert names it, those after it are untouched.
TEST_F(ZapTraversalTest, FailingFileMidFolderStopsThereNamesItAndLeavesTheRest) {
  MacFile("dir/a");
  std::string bad = tree.file("dir/b", "data");
  tree.file("dir/._b", "not an AppleDouble file, and long enough to be read as one");
  MacFile("dir/c");
  const std::string badSidecar = tree.read("dir/._b");
  const std::string laterSidecar = tree.read("dir/._c");
  OSStatus err = ZapRsrc({tree.path("dir")}, true, false);
  EXPECT_STATUS(noBeepErr, err);
  EXPECT_EQ(Catalog(tree.path("dir/a")).rsrcLogicalSize, 0u);
  ASSERT_EQ(seen.messages.size(), 1u);
  EXPECT_EQ(seen.requests[0].type, kAlertStopAlert);
  EXPECT_NE(seen.messages[0].find(bad), std::string::npos) << seen.messages[0];
  EXPECT_EQ(tree.read("dir/._b"), badSidecar);
  EXPECT_EQ(tree.read("dir/._c"), laterSidecar);
}

// What another process does meanwhile, at the moment the rewrite of the
// first file's sidecar has made its temporary.
std::function<void()> sMeanwhile;
int OpenatThenMeanwhile(int dirFd, const char *path, int flags, mode_t mode) {
  int fd = tv::sys::RealCalls().openat(dirFd, path, flags, mode);
  if (fd >= 0 && strstr(path, ".tarrovel-tmp-") && sMeanwhile) std::exchange(sMeanwhile, nullptr)();
  return fd;
}

// The tree changed while the zap walks. A folder deleted or swapped for a
// link stops it: no temporary is left anywhere, and the alert names the item
// by the last path it was known by. A folder renamed keeps its items, which
// are zapped where they are now; one put in its place lends none of its own.
TEST_F(ZapTraversalTest, TreeChangedDuringTheZapLeavesNoTemporaryAndTheAlertNamesTheItem) {
  namespace fx = tv::test;
  struct Case {
    const char *what;
    std::function<void()> meanwhile;
    std::string named;  // empty: the zap carries on in the folder it listed
  };
  const std::string top = tree.path("top"), sub = tree.path("top/sub");
  const Case cases[] = {
      {"moved", [&] { ASSERT_EQ(0, rename(top.c_str(), tree.path("moved").c_str())); }, ""},
      {"moved and replaced",
       [&] {
         ASSERT_EQ(0, rename(top.c_str(), tree.path("moved").c_str()));
         MacFile("top/b");
         MacFile("top/sub/c");
       },
       ""},
      {"deleted", [&] { std::filesystem::remove_all(sub); }, sub},
      {"swapped for a link",
       [&] {
         ASSERT_EQ(0, rename(sub.c_str(), tree.path("real").c_str()));
         ASSERT_EQ(0, symlink("../real", sub.c_str()));
       },
       sub},
  };
  for (const Case &c : cases) {
    for (const char *gone : {"moved", "real", "top"}) std::filesystem::remove_all(tree.path(gone));
    tree.file("top/a", "data");
    auto forkFirst = fx::BuildForkFirstSidecar(fx::MakeFinderInfo(0, 0, 0), fx::MakeResourceFork(600),
                                               fx::TypicalAttributes());
    tree.file("top/._a", std::string(forkFirst.begin(), forkFirst.end()));
    MacFile("top/b");
    MacFile("top/sub/c");
    seen = Seen{};
    sMeanwhile = c.meanwhile;
    tv::sys::CallTable calls = tv::sys::RealCalls();
    calls.openat = OpenatThenMeanwhile;
    OSStatus err;
    {
      tv::sys::SubstituteScope disturbed(calls);
      err = ZapRsrc({top}, true, false);
    }
    if (c.named.empty()) {
      EXPECT_STATUS(noErr, err) << c.what;
      EXPECT_TRUE(seen.messages.empty()) << c.what;
      for (const char *zapped : {"moved/a", "moved/b", "moved/sub/c"})
        EXPECT_EQ(Catalog(tree.path(zapped)).rsrcLogicalSize, 0u) << c.what << ": " << zapped;
      if (std::filesystem::exists(top)) {
        for (const char *kept : {"top/b", "top/sub/c"})
          EXPECT_EQ(Catalog(tree.path(kept)).rsrcLogicalSize, 600u) << c.what << ": " << kept;
      }
    } else {
      EXPECT_STATUS(noBeepErr, err) << c.what;
      ASSERT_EQ(seen.messages.size(), 1u) << c.what;
      EXPECT_NE(seen.messages[0].find(c.named), std::string::npos) << c.what << ": " << seen.messages[0];
    }
    for (const auto &e : std::filesystem::recursive_directory_iterator(tree.path("")))
      EXPECT_EQ(e.path().filename().string().rfind(".tarrovel-tmp-", 0), std::string::npos) << c.what << ": " << e.path();
  }
}

TEST(UserCanceledTest, EscapeOrCommandPeriodButNotEitherAlone) {
  KeyMap keys = {};
  EXPECT_FALSE(MyKeyMapHoldsCancel(keys));
  keys[kVK_Command / 8] |= UInt8(1u << (kVK_Command % 8));
  EXPECT_FALSE(MyKeyMapHoldsCancel(keys));
  keys[kVK_ANSI_Period / 8] |= UInt8(1u << (kVK_ANSI_Period % 8));
  EXPECT_TRUE(MyKeyMapHoldsCancel(keys));
  KeyMap period = {};
  period[kVK_ANSI_Period / 8] |= UInt8(1u << (kVK_ANSI_Period % 8));
  EXPECT_FALSE(MyKeyMapHoldsCancel(period));
  KeyMap escape = {};
  escape[kVK_Escape / 8] |= UInt8(1u << (kVK_Escape % 8));
  EXPECT_TRUE(MyKeyMapHoldsCancel(escape));
}

}  // namespace
