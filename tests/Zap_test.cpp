// The whole flow through the real `tarrovel run` on real temporary trees:
// counting, confirming, zapping, the alerts, cancelling and the toggles.
#include "platform/Carbon.h"
#include "tests/support/Sidecars.h"
#include "tests/support/Selection.h"
#include "tests/support/Tarrovel.h"

#include <csignal>
#include <gtest/gtest.h>

namespace {

namespace fx = tv::test;
using tv::test::Tarrovel;

std::string Str(const std::vector<UInt8> &v) { return std::string(v.begin(), v.end()); }

// Unmounts a volume a case mounted, whatever way the case ends.
struct Unmount {
  std::string at;
  ~Unmount() { tv::test::Run({"umount", at}); }
};

class ZapTest : public ::testing::Test {
 protected:
  // A file with a 600-byte resource fork in a macOS sidecar that also packs
  // com.apple.quarantine, and the custom-icon flag when asked.
  std::string MacFile(const std::string &rel, bool customIcon = false) {
    std::string path = tree.file(rel, "data of " + rel);
    std::string dir = rel.find('/') == std::string::npos ? "" : rel.substr(0, rel.rfind('/') + 1);
    std::string name = rel.substr(rel.rfind('/') + 1);
    auto info = fx::MakeFinderInfo(FOUR_CHAR_CODE("TEXT"), FOUR_CHAR_CODE("ttxt"), customIcon ? kHasCustomIcon : 0);
    tree.file(dir + "._" + name, Str(fx::BuildMacOSKernelSidecar(info, fx::TypicalAttributes(), fx::MakeResourceFork(600))));
    return path;
  }
  UInt64 RsrcSize(const std::string &path) {
    FSRef ref = tv::test::RefFor(path);
    FSCatalogInfo info;
    EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoRsrcSizes, &info, nullptr, nullptr, nullptr), noErr) << path;
    return info.rsrcLogicalSize;
  }
  UInt16 FinderFlags(const std::string &path) {
    FSRef ref = tv::test::RefFor(path);
    FSCatalogInfo info;
    EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoFinderInfo, &info, nullptr, nullptr, nullptr), noErr);
    return reinterpret_cast<FileInfo *>(info.finderInfo)->finderFlags;
  }
  static int Count(const std::string &s, const std::string &what) {
    int n = 0;
    for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) n++;
    return n;
  }
  tv::test::TempTree tree;
};

TEST_F(ZapTest, ZapPressedEmptiesEveryForkAfterOneAlert) {
  std::vector<std::string> files = {MacFile("a"), MacFile("b", true), MacFile("c")};
  ASSERT_EQ(RsrcSize(files[0]), 600u);
  tv::test::RunResult r = Tarrovel({"run", "-v", "Zap Resource Fork...", files[0], files[1], files[2]}, "Zap\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Count(r.err, "[caution]"), 1) << r.err;
  EXPECT_NE(r.err.find("Zap the resource forks of 3 file(s)?"), std::string::npos) << r.err;
  for (const auto &f : files) {
    EXPECT_EQ(RsrcSize(f), 0u) << f;
    EXPECT_EQ(FinderFlags(f) & kHasCustomIcon, 0) << f;
    EXPECT_EQ(tree.read(f.substr(tree.root().size() + 1)), "data of " + f.substr(f.rfind('/') + 1));
  }
  // Each changed file was reported once.
  EXPECT_EQ(r.out, files[0] + "\n" + files[1] + "\n" + files[2] + "\n");
  // The end says what was done: three 600-byte forks cut off their sidecars.
  EXPECT_NE(r.err.find("Tarrovel: 3 files zapped, 1.8 kB freed; 0 files had no fork; "), std::string::npos) << r.err;
  // The sidecars still hold FinderInfo and com.apple.quarantine.
  EXPECT_TRUE(tree.exists("._a"));
  EXPECT_NE(tree.read("._a").find("com.apple.quarantine"), std::string::npos);
}

TEST_F(ZapTest, CancelChangesNothing) {
  std::string a = MacFile("a");
  std::string before = tree.read("._a");
  tv::test::RunResult r = Tarrovel({"run", "Zap Resource Fork...", a}, "Cancel\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(tree.read("._a"), before);
  EXPECT_EQ(Count(r.err, "[caution]"), 1);
  // End of input answers the cancel button too.
  r = Tarrovel({"run", "Zap Resource Fork...", a}, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(tree.read("._a"), before);
}

TEST_F(ZapTest, RecursiveZapOfAnOrdinaryFolderAsksOnce) {
  MacFile("top/x");
  MacFile("top/sub/y", true);
  tv::test::RunResult r = Tarrovel({"run", "Show Zap Resource Fork Recursively Menu", tree.path("top")});
  ASSERT_EQ(r.status, 0) << r.err;
  r = Tarrovel({"run", "Zap Resource Fork Recursively...", tree.path("top")}, "\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Count(r.err, "[caution]"), 1) << r.err;
  EXPECT_NE(r.err.find("2 file(s)"), std::string::npos) << r.err;
  EXPECT_EQ(RsrcSize(tree.path("top/x")), 0u);
  EXPECT_EQ(RsrcSize(tree.path("top/sub/y")), 0u);
}

// The walk reads each file's fork in the look that finds its kind; a folder
// whose own metadata cannot be read is still a folder, walked into.
TEST_F(ZapTest, RecursiveZapWalksIntoAFolderWhoseMetadataDoesNotParse) {
  MacFile("top/sub/y");
  tree.file("top/._sub", std::string(4096, '\xA5'));
  tv::test::RunResult r = Tarrovel({"run", "Show Zap Resource Fork Recursively Menu", tree.path("top")});
  ASSERT_EQ(r.status, 0) << r.err;
  r = Tarrovel({"run", "--yes", "Zap Resource Fork Recursively...", tree.path("top")});
  EXPECT_EQ(RsrcSize(tree.path("top/sub/y")), 0u) << r.err;
}

// A folder's icon is cleared beside it, and inside a volume mounted on it,
// which the listing of the folder above does not show.
TEST_F(ZapTest, RecursiveZapClearsFolderIconsBesideAndInsideVolumes) {
  TV_SKIP_UNLESS_ROOT("mount a small tmpfs");
  const std::string icon = Str(fx::BuildMacOSKernelSidecar(fx::MakeFinderInfo(0, 0, kHasCustomIcon)));
  tree.file("top/._sub", icon);
  std::string volume = tree.folder("top/sub/vol");
  ASSERT_EQ(tv::test::Run({"mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", volume}).status, 0);
  Unmount unmount{volume};
  tree.file("top/sub/vol/._.", icon);
  ASSERT_EQ(Tarrovel({"run", "Show Zap Resource Fork Recursively Menu", tree.path("top")}).status, 0);
  EXPECT_EQ(Tarrovel({"run", "--yes", "Zap Resource Fork Recursively...", tree.path("top")}).status, 0);
  EXPECT_EQ(FinderFlags(volume) | FinderFlags(tree.path("top/sub")), 0);
}

TEST_F(ZapTest, HomeFolderAsksTwiceAndCancelInTheSecondChangesNothing) {
  std::string f = MacFile("home/doc");
  std::string before = tree.read("home/._doc");
  tv::test::WriteSettings(tree, false, true, false);
  tv::test::RunResult r = Tarrovel({"run", "Zap Resource Fork Recursively...", tree.home()}, "Zap\nCancel\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Count(r.err, "[caution]"), 2) << r.err;
  EXPECT_NE(r.err.find("your home folder"), std::string::npos) << r.err;
  EXPECT_EQ(tree.read("home/._doc"), before);
  EXPECT_EQ(RsrcSize(f), 600u);
}

TEST_F(ZapTest, LockedFileStopsTheRunWithAnAlertNamingIt) {
  TV_SKIP_UNLESS_ROOT("set the immutable flag");
  std::vector<std::string> files = {MacFile("1"), MacFile("2"), MacFile("3")};
  std::string third = tree.read("._3");
  tree.setImmutable("2", true);
  tv::test::RunResult r = Tarrovel({"run", "--yes", "Zap Resource Fork...", files[0], files[1], files[2]});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(RsrcSize(files[0]), 0u);
  EXPECT_EQ(RsrcSize(files[1]), 600u);
  EXPECT_EQ(tree.read("._3"), third);
  EXPECT_NE(r.err.find("[stop] file is locked: " + files[1]), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Change lock status using Finder Get Info."), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("execution fail"), std::string::npos) << r.err;  // shown once, not logged
  EXPECT_NE(r.err.find("Cause: 2 is immutable (chattr +i)"), std::string::npos) << r.err;
  tree.setImmutable("2", false);

  // The hidden sidecar refuses while the file itself does not: the same
  // alert, and the line names the sidecar.
  tree.setImmutable("._3", true);
  r = Tarrovel({"run", "--yes", "Zap Resource Fork...", files[2]});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(tree.read("._3"), third);
  EXPECT_NE(r.err.find("[stop] file is locked: " + files[2]), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Change lock status using Finder Get Info.\n        Cause: ._3 is immutable"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("chattr -i '" + tree.path("._3") + "'"), std::string::npos) << r.err;
  tree.setImmutable("._3", false);
}

TEST_F(ZapTest, FullOrReadOnlyVolumeKeepsTheSidecarAndSaysWhy) {
  TV_SKIP_UNLESS_ROOT("mount a small tmpfs");
  std::string volume = tree.folder("small");
  ASSERT_EQ(tv::test::Run({"mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", volume}).status, 0);
  Unmount unmount{volume};
  std::string f = MacFile("small/f");
  // A second name makes the zap rewrite the sidecar as a new file, which
  // needs room on the volume.
  ASSERT_EQ(tv::test::Run({"ln", tree.path("small/._f"), tree.path("small/other")}).status, 0);
  std::string before = tree.read("small/._f");
  tv::test::Run({"dd", "if=/dev/zero", "of=" + tree.path("small/fill"), "bs=4k"});  // until the volume is full
  tv::test::RunResult r = Tarrovel({"run", "--yes", "Zap Resource Fork...", f});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("[stop] unexpected error: " + f), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("error code = -34\n        Cause: no space is left on the device that holds ._f (mounted at " +
                       volume + ")"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(tree.read("small/._f"), before);
  EXPECT_EQ(RsrcSize(f), 600u);

  // Mounted read-only, the same volume names its mount point and the remount.
  ASSERT_EQ(tv::test::Run({"mount", "-o", "remount,ro", volume}).status, 0);
  r = Tarrovel({"run", "--yes", "Zap Resource Fork...", f});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("[stop] diskette is write protected: " + f), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Cause: f is on a volume mounted read-only at " + volume +
                       ". To mount it read-write: mount -o remount,rw '" + volume + "'"),
            std::string::npos)
      << r.err;
}

TEST_F(ZapTest, DataForkZapKeepsModificationTimeWhenAsked) {
  std::string f = tree.file("data", std::string(5000, 'x'));
  tv::test::Run({"touch", "-m", "-d", "2001-02-03 04:05:06.789", f});
  long long beforeMtime = 0, size = 0;
  ASSERT_TRUE(tv::test::StatOf(f, &beforeMtime, &size));
  tv::test::WriteSettings(tree, true, false, true);
  tv::test::RunResult r = Tarrovel({"run", "--yes", "Zap Data Fork...", f});
  EXPECT_EQ(r.status, 0) << r.err;
  long long afterMtime = 0;
  ASSERT_TRUE(tv::test::StatOf(f, &afterMtime, &size));
  EXPECT_EQ(size, 0);
  EXPECT_EQ(afterMtime, beforeMtime);
}

TEST_F(ZapTest, UnreadableFolderIsCountedLoggedAndNamedInTheConfirmation) {
  TV_SKIP_UNLESS_ROOT("run the command as user 65534");
  MacFile("top/open/f");
  MacFile("top/closed/g");
  tree.chmod("top/closed", 0700);  // root's: the unprivileged user cannot enter
  tree.chmod("top/open/f", 0666);
  tree.chmod("top/open/._f", 0666);
  tree.chmod("top/open", 0777);
  std::vector<std::string> env;
  std::string exe = tv::test::StageTarrovel(tree, &env);
  tree.folder("nobody/.config/tarrovel");
  tree.file("nobody/.config/tarrovel/org.tarrovel.Tarrovel.plist",
            "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>ShowRsrcForkRecursiveMenu</key><true/></dict></plist>");
  tv::test::Run({"chmod", "-R", "a+rwX", tree.path("nobody")});
  env.push_back("HOME=" + tree.path("nobody"));
  env.push_back("XDG_CONFIG_HOME=" + tree.path("nobody/.config"));
  env.push_back("LANG=C.UTF-8");
  tv::test::RunResult r =
      tv::test::RunUnprivileged({exe, "run", "--yes", "Zap Resource Fork Recursively...", tree.path("top")}, "", env);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Tarrovel: Permission denied: " + tree.path("top/closed")), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Could not look inside 1 folder(s)"), std::string::npos) << r.err;
  EXPECT_EQ(RsrcSize(tree.path("top/open/f")), 0u);
  EXPECT_EQ(RsrcSize(tree.path("top/closed/g")), 600u);
}

TEST_F(ZapTest, TogglesFlipTheStoredSettingAndTheNextTitle) {
  std::string f = tree.file("f");
  tv::test::RunResult r = Tarrovel({"run", "Make no change file modification date", f});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(tree.read("home/.config/tarrovel/org.tarrovel.Tarrovel.plist").find("keepModificationDate"), std::string::npos);
  r = Tarrovel({"menu", "--json", f});
  EXPECT_NE(r.out.find("\"Make change file modification date\", \"command\": 2012"), std::string::npos) << r.out;
  // In any language of the bundle: the static menus ask by the English title.
  r = Tarrovel({"run", "Make change file modification date", f}, "", {"LANG=ja_JP.UTF-8"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = Tarrovel({"menu", "--json", f});
  EXPECT_NE(r.out.find("\"Make no change file modification date\""), std::string::npos) << r.out;
  // Items that are not offered do not run, and say how to switch them on.
  r = Tarrovel({"run", "Zap Data Fork...", f});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("once switched on with the toggle [2011]"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Show Zap Data Fork Menu  [2011]"), std::string::npos) << r.err;  // the offered list
  r = Tarrovel({"run", "2005", f});
  EXPECT_EQ(r.status, 2);
}

// The host says where an item is offered from what the bundle declares: the
// item is named in any language, and asking leaves no setting, alert or
// temporary folder behind.
TEST_F(ZapTest, AnItemNotOfferedSaysWhereAndLeavesNothing) {
  std::string f = MacFile("f");
  std::string folder = tree.folder("folder");
  tv::test::WriteSettings(tree, false, false, true);
  const std::string settings = tree.read("home/.config/tarrovel/org.tarrovel.Tarrovel.plist");
  std::string tmp = tree.folder("tmp");
  tv::test::RunResult r = Tarrovel({"run", "2000", f}, "", {"TMPDIR=" + tmp, "LANG=ja_JP.UTF-8"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("\"データフォークを消去...\" is offered for files, once switched on with the toggle [2011]\n"),
            std::string::npos)
      << r.err;
  r = Tarrovel({"run", "Zap Resource Fork...", folder}, "", {"TMPDIR=" + tmp});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("\"Zap Resource Fork...\" is offered for files\n"), std::string::npos) << r.err;
  r = Tarrovel({"run", "2005", f}, "", {"TMPDIR=" + tmp});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.find("is offered for"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("[caution]"), std::string::npos) << r.err;

  EXPECT_EQ(tree.read("home/.config/tarrovel/org.tarrovel.Tarrovel.plist"), settings);
  EXPECT_EQ(RsrcSize(f), 600u);
  EXPECT_EQ(tv::test::Run({"find", tmp, "-mindepth", "1"}).out, "");
  r = Tarrovel({"menu", "--json", f});
  EXPECT_NE(r.out.find("\"Show Zap Data Fork Menu\", \"command\": 2011"), std::string::npos) << r.out;
}

TEST_F(ZapTest, JapaneseAlertsUnderAJapaneseLocale) {
  std::string a = MacFile("a");
  tv::test::RunResult r = Tarrovel({"run", "リソースフォークを消去...", a}, "キャンセル\n", {"LANG=ja_JP.UTF-8"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("1 個のファイルのリソースフォークを消去しますか?"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("この操作は取り消せません。"), std::string::npos) << r.err;
  EXPECT_EQ(RsrcSize(a), 600u);
}

TEST_F(ZapTest, CountOutOfTimeStillZapsTheWholeSelection) {
  for (int i = 0; i < 30; i++) MacFile("tree/l" + std::to_string(i) + "/m/f");
  tv::test::WriteSettings(tree, false, true, false);
  // A clock a million ticks a second: the two seconds of counting pass at once.
  tv::test::RunResult r = Tarrovel({"run", "--yes", "Zap Resource Fork Recursively...", tree.path("tree")}, "",
                                 {"TARROVEL_TICKS_PER_SECOND=1000000"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Counting took too long and stopped early"), std::string::npos) << r.err;
  for (int i = 0; i < 30; i++) EXPECT_EQ(RsrcSize(tree.path("tree/l" + std::to_string(i) + "/m/f")), 0u) << i;
}

TEST_F(ZapTest, InterruptStopsALongRecursiveZapBetweenFolders) {
  // Many folders, each with one file, so that the zap takes a while.
  for (int i = 0; i < 400; i++) MacFile("big/d" + std::to_string(1000 + i) + "/f");
  tv::test::WriteSettings(tree, false, true, false);
  tv::test::Spawned run({"run", "--yes", "-v", "Zap Resource Fork Recursively...", tree.path("big")});
  ASSERT_TRUE(run.WaitForLines(5, 20000)) << run.err;
  run.Signal(SIGINT);
  int status = run.Wait();
  EXPECT_EQ(status, 1) << run.err;
  EXPECT_NE(run.err.find("canceled by user: "), std::string::npos) << run.err;
  // Folders are walked in name order: what was zapped is a prefix, and
  // nothing after the cancel point changed.
  int zapped = 0;
  bool sawUntouched = false;
  for (int i = 0; i < 400; i++) {
    bool empty = RsrcSize(tree.path("big/d" + std::to_string(1000 + i) + "/f")) == 0;
    if (empty) {
      EXPECT_FALSE(sawUntouched) << "folder " << i << " was zapped after an untouched one";
      zapped++;
    } else {
      sawUntouched = true;
    }
  }
  EXPECT_GE(zapped, 5);
  EXPECT_LT(zapped, 400);
}

// Ctrl-C inside one folder: the zap stops before its next file. The files it
// reported are exactly those zapped, a prefix in name order; every sidecar
// still reads, each fork whole or empty; the cancel alert, and the summary
// of what was done and what was left.
TEST_F(ZapTest, InterruptInsideOneFolderStopsBeforeTheNextFileAndSaysWhatWasDone) {
  const int kFiles = 2000;
  for (int i = 0; i < kFiles; i++) MacFile("flat/f" + std::to_string(10000 + i));
  tv::test::WriteSettings(tree, false, true, false);
  tv::test::Spawned run({"run", "--yes", "-v", "Zap Resource Fork Recursively...", tree.path("flat")});
  ASSERT_TRUE(run.WaitForLines(5, 20000)) << run.err;
  run.Signal(SIGINT);
  EXPECT_EQ(run.Wait(), 1) << run.err;
  EXPECT_NE(run.err.find("canceled by user: "), std::string::npos) << run.err;
  int zapped = 0;
  for (int i = 0; i < kFiles; i++) {
    const std::string f = tree.path("flat/f" + std::to_string(10000 + i));
    const UInt64 size = RsrcSize(f);
    EXPECT_TRUE(size == 0 || size == 600) << f;
    if (size != 0) continue;
    EXPECT_EQ(zapped, i) << f << " was zapped after an untouched file";
    zapped++;
  }
  EXPECT_EQ(Count(run.out, "\n"), zapped) << "zapped and reported differ";
  EXPECT_LT(zapped, kFiles);
  auto grouped = [](int n) {  // below 10,000
    char text[16];
    snprintf(text, sizeof text, n >= 1000 ? "%d,%03d" : "%.0d%d", n / 1000, n % 1000);
    return std::string(text);
  };
  const std::string summary = "Tarrovel: Canceled: " + grouped(zapped) + " files zapped";
  EXPECT_NE(run.err.find(summary), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(" " + grouped(kFiles - zapped) + " not reached"), std::string::npos) << run.err;
}

TEST_F(ZapTest, SecondInterruptEndsTheCommandAtOnce) {
  std::string a = MacFile("a");
  std::string before = tree.read("._a");
  // The confirmation waits for a line that does not come: the first Ctrl-C
  // marks the cancel keys, the second ends the command.
  tv::test::Spawned run({"run", "Zap Resource Fork...", a}, {}, true);
  ASSERT_TRUE(run.WaitForError("answer:", 20000)) << run.err;
  run.Signal(SIGINT);
  tv::test::SleepMs(200);
  run.Signal(SIGINT);
  EXPECT_EQ(run.Wait(), 130) << run.err;
  EXPECT_EQ(tree.read("._a"), before);
}

}  // namespace
