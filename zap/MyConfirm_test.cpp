// The confirmations, the pre-scan count and the zap traversal on real trees,
// answered by a test front end with a clock and a keyboard of its own.
#include "zap/MyConfirm.h"

#include "platform/HostServices.h"
#include "tests/support/Sidecars.h"
#include "platform/sys/CallTable.h"
#include "selection/MyCMContext.h"
#include "support/MyCFAutoreleasePool.h"
#include "support/MyStatus.h"
#include "tests/support/Selection.h"
#include "tests/support/TestSupport.h"
#include "zap/MyZapTraversal.h"

#include <cstring>
#include <filesystem>
#include <functional>
#include <utility>
#include <gtest/gtest.h>

namespace {

struct Request {
  AlertType type;
  std::string buttons[3];
  SInt16 defaultButton, cancelButton;
};
struct Seen {
  std::vector<Request> requests;
  std::vector<std::string> messages, explanations;
  std::vector<SInt32> answers;  // answered in order; 1 when they run out
  std::string console;
  UInt32 ticks = 1000;
  UInt32 tickStep = 0;
  bool escape = false;
  int looks = 0;         // how often the keyboard was looked at
  int escapeOnLook = 0;  // the look that sees Escape (0: none)
  int filesDone = 0;      // as the progress receiver heard them
  int escapeAfterFile = -1;  // from this many files done on, Escape stays down (-1: never)
};
Seen *sSeen = nullptr;

SInt32 Present(const TVAlertRequest *r, void *) {
  Request copy = {r->type, {}, r->defaultButton, r->cancelButton};
  for (int i = 0; i < 3; i++) copy.buttons[i] = r->buttons[i] ? r->buttons[i] : "";
  sSeen->requests.push_back(copy);
  sSeen->messages.push_back(r->message);
  sSeen->explanations.push_back(r->explanation ? r->explanation : "");
  if (sSeen->answers.empty()) return 1;
  SInt32 a = sSeen->answers.front();
  sSeen->answers.erase(sSeen->answers.begin());
  return a;
}
void Capture(const char *t, void *) { sSeen->console += t; }
UInt32 Ticks(void *) {
  sSeen->ticks += sSeen->tickStep;
  return sSeen->ticks;
}
void Keys(KeyMap keys, void *) {
  memset(keys, 0, sizeof(KeyMap));
  sSeen->looks += 1;
  bool latched = sSeen->escapeAfterFile >= 0 && sSeen->filesDone >= sSeen->escapeAfterFile;
  if (sSeen->escape || latched || sSeen->looks == sSeen->escapeOnLook) keys[kVK_Escape / 8] |= UInt8(1u << (kVK_Escape % 8));
}

void FileDone(const FSRef *, void *) { sSeen->filesDone += 1; }

class ConfirmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sSeen = &seen;
    static CFBundleRef bundle = nullptr;  // kept: the plug-in caches it
    OSStatus err = noErr;
    if (bundle == nullptr) bundle = TVBundleCreateWithPath(TV_BUNDLE_DIR, &err);
    ASSERT_NE(bundle, nullptr);
    setenv("LANG", "C", 1);
    TVSetAlertPresenter(Present, nullptr);
    TVSetConsoleSink(Capture, nullptr);
    TVSetTickSource(Ticks, nullptr);
    TVSetKeyboardPoller(Keys, nullptr);
    TVSetProgressReceiver(nullptr, FileDone, nullptr);
    pool = MyCFAutoreleasePoolCreate();
    MyFileCountForgetHomeDirectory();  // each test has a home of its own
  }
  void TearDown() override {
    MyCFAutoreleasePoolDispose(pool);
    TVSetAlertPresenter(nullptr, nullptr);
    TVSetConsoleSink(nullptr, nullptr);
    TVSetTickSource(nullptr, nullptr);
    TVSetKeyboardPoller(nullptr, nullptr);
    TVSetProgressReceiver(nullptr, nullptr, nullptr);
    sSeen = nullptr;
  }
  MyFSDirIter Iter(const std::vector<std::string> &paths) {
    selection = tv::test::MakeSelection(paths);
    EXPECT_EQ(MyCMContextCreateWithContext(&selection, true, &context), noErr);
    AEDisposeDesc(&selection);
    return MyCMContextGetIterater(context);
  }
  // A file with a 600-byte resource fork in a macOS sidecar.
  std::string MacFile(const std::string &rel) {
    namespace fx = tv::test;
    std::string path = tree.file(rel, "data");
    size_t slash = rel.rfind('/');
    auto sidecar = fx::BuildMacOSKernelSidecar(fx::MakeFinderInfo(FOUR_CHAR_CODE("TEXT"), 0, 0),
                                               fx::TypicalAttributes(), fx::MakeResourceFork(600));
    tree.file(rel.substr(0, slash + 1) + "._" + rel.substr(slash + 1), std::string(sidecar.begin(), sidecar.end()));
    return path;
  }
  static FSCatalogInfo Catalog(const std::string &path) {
    FSRef ref = tv::test::RefFor(path);
    FSCatalogInfo info = {};
    EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoRsrcSizes | kFSCatInfoContentMod, &info, nullptr, nullptr, nullptr),
              noErr)
        << path;
    return info;
  }
  // Resource-fork zaps of what is selected, with the settings given.
  OSStatus ZapRsrc(const std::vector<std::string> &paths, Boolean recursive, Boolean keepModificationDate) {
    MyFSDirIter iter = Iter(paths);
    OSStatus err = ZapForkWithIter(iter, false, recursive, keepModificationDate);
    MyCMContextDispose(context);
    context = nullptr;
    return err;
  }

  tv::test::TempTree tree;
  Seen seen;
  MyCFAutoreleasePool pool = nullptr;
  AEDescList selection = {typeNull, nullptr};
  MyCMContext context = nullptr;
  ~ConfirmTest() override { MyCMContextDispose(context); }
};

TEST_F(ConfirmTest, FirstAlertNamesTheCountAndOnlyZapCountsAsYes) {
  MyFileCountInfo info = {5, 0, 0, false, false, false};
  Boolean answer = false;
  ASSERT_STATUS(noErr, ConfirmZapFork(&info, true, false, &answer));
  EXPECT_TRUE(answer);
  ASSERT_EQ(seen.requests.size(), 1u);
  EXPECT_EQ(seen.messages[0], "Zap the data forks of 5 file(s)?");
  EXPECT_EQ(seen.explanations[0].find("cannot scan"), std::string::npos);
  EXPECT_EQ(seen.requests[0].type, kAlertCautionAlert);
  EXPECT_EQ(seen.requests[0].buttons[0], "Zap");
  EXPECT_EQ(seen.requests[0].buttons[1], "Cancel");
  EXPECT_EQ(seen.requests[0].cancelButton, 2);

  seen.answers = {2};
  answer = false;
  ASSERT_STATUS(noErr, ConfirmZapFork(&info, false, false, &answer));
  EXPECT_FALSE(answer);
  EXPECT_STATUS(paramErr, ConfirmZapFork(nullptr, false, false, &answer));
  EXPECT_STATUS(paramErr, ConfirmZapFork(&info, false, false, nullptr));
}

TEST_F(ConfirmTest, DeniedFoldersPrefixTheRecursiveExplanation) {
  MyFileCountInfo info = {9, 4, 2, false, false, true};
  Boolean answer = false;
  ASSERT_STATUS(noErr, ConfirmZapFork(&info, false, true, &answer));
  ASSERT_EQ(seen.messages.size(), 1u);
  EXPECT_NE(seen.messages[0].find("at least 9 file(s)"), std::string::npos);
  EXPECT_EQ(seen.explanations[0].rfind("Could not look inside 2 folder(s)", 0), 0u);
  EXPECT_NE(seen.explanations[0].find(".\n\nThe resource fork of every file"), std::string::npos) << seen.explanations[0];
  CFStringRef message = nullptr, explanation = nullptr;
  MyConfirmZapForkKeys(info, false, true, &message, &explanation);
  EXPECT_TRUE(CFEqual(message, CFSTR("ConfirmZapRsrcForkRecursivelyOver")));
  MyConfirmZapForkKeys(info, true, true, &message, &explanation);
  EXPECT_TRUE(CFEqual(message, CFSTR("ConfirmZapDataFork")));
}

TEST_F(ConfirmTest, SecondAlertOnlyForVolumesAndTheHomeFolder) {
  MyFileCountInfo info = {};
  Boolean answer = false;
  ASSERT_STATUS(noErr, ConfirmZapRsrcForkInVolumeOrHomeDir(&info, &answer));
  EXPECT_TRUE(answer);
  EXPECT_TRUE(seen.requests.empty());
  info.containsVolume = info.containsHomeDir = true;
  EXPECT_TRUE(CFEqual(MyConfirmVolumeOrHomeKey(info), CFSTR("ConfirmZapBothVolHome")));
  seen.answers = {2};
  answer = false;
  ASSERT_STATUS(noErr, ConfirmZapRsrcForkInVolumeOrHomeDir(&info, &answer));
  EXPECT_FALSE(answer);
  ASSERT_EQ(seen.requests.size(), 1u);
  EXPECT_EQ(seen.explanations[0], "");
  info.containsHomeDir = false;
  EXPECT_TRUE(CFEqual(MyConfirmVolumeOrHomeKey(info), CFSTR("ConfirmZapVolume")));
}

TEST_F(ConfirmTest, CountsFilesFoldersAndDeniedFolders) {
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

TEST_F(ConfirmTest, HomeFolderCountsOnlyAtTheTopLevel) {
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

TEST_F(ConfirmTest, RunningOutOfTimeKeepsWhatWasCountedAndEqualTicksStillCount) {
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

TEST_F(ConfirmTest, HeldEscapeCancelsTheCount) {
  tree.file("f");
  MyFSDirIter iter = Iter({tree.path("f")});
  MyFileCountInfo info = {};
  info.fileCount = 77;
  seen.escape = true;
  EXPECT_STATUS(userCanceledErr, CountFilesWithContextIter(iter, false, 120, &info));
  EXPECT_EQ(info.fileCount, 77);  // not written
}

TEST_F(ConfirmTest, UnreadableFolderIsCountedDeniedAndLogged) {
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
TEST_F(ConfirmTest, TickCountWrappingDuringTheCountIsNotTimeOver) {
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

// Escape seen once, at any look while zapping four folders: the zap stops
// where it next looks, the folders before stay zapped, none after is touched,
// and the user is told it was cancelled.
TEST_F(ConfirmTest, EscapeOnTheNthLookStopsAtTheNextFolderAndKeepsWhatWasDone) {
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
TEST_F(ConfirmTest, LatchedCancelInsideOneFolderStopsBeforeTheNextFile) {
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

// Escape while one large folder is counted ends the count there.
TEST_F(ConfirmTest, EscapeWhileOneFolderIsCountedCancelsTheCount) {
  for (int i = 0; i < 10; i++) tree.file("flat/f" + std::to_string(i));
  MyFSDirIter iter = Iter({tree.path("flat")});
  MyFileCountInfo info = {};
  seen.escapeOnLook = 5;  // seen once, inside the folder
  EXPECT_STATUS(userCanceledErr, CountFilesWithContextIter(iter, true, 120, &info));
}

// A file whose metadata cannot be read stops the run at that file: those
// before it are zapped, the stop alert names it, those after it are untouched.
TEST_F(ConfirmTest, FailingFileMidFolderStopsThereNamesItAndLeavesTheRest) {
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

// The tree moved, a folder deleted or swapped for a link while the zap
// walks: no temporary is left anywhere, and the alert names the item by
// the last path it was known by.
TEST_F(ConfirmTest, TreeChangedDuringTheZapLeavesNoTemporaryAndTheAlertNamesTheItem) {
  namespace fx = tv::test;
  struct Case {
    const char *what;
    std::function<void()> meanwhile;
    std::string named;
  };
  const std::string top = tree.path("top"), sub = tree.path("top/sub");
  const Case cases[] = {
      {"moved", [&] { ASSERT_EQ(0, rename(top.c_str(), tree.path("moved").c_str())); }, tree.path("top/b")},
      {"deleted", [&] { std::filesystem::remove_all(sub); }, sub},
      {"swapped for a link",
       [&] {
         ASSERT_EQ(0, rename(sub.c_str(), tree.path("real").c_str()));
         ASSERT_EQ(0, symlink("../real", sub.c_str()));
       },
       sub},
  };
  for (const Case &c : cases) {
    std::filesystem::remove_all(tree.path("moved"));
    std::filesystem::remove_all(tree.path("real"));
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
    EXPECT_STATUS(noBeepErr, err) << c.what;
    ASSERT_EQ(seen.messages.size(), 1u) << c.what;
    EXPECT_NE(seen.messages[0].find(c.named), std::string::npos) << c.what << ": " << seen.messages[0];
    for (const auto &e : std::filesystem::recursive_directory_iterator(tree.path("")))
      EXPECT_EQ(e.path().filename().string().rfind(".tarrovel-tmp-", 0), std::string::npos) << c.what << ": " << e.path();
    std::filesystem::remove_all(top);
  }
}

// Emptying a resource fork with the setting on leaves the file's
// modification date exactly as it was, fraction of a second included.
TEST_F(ConfirmTest, ResourceForkZapKeepsTheModificationDateWhenAsked) {
  std::string f = MacFile("kept");
  ASSERT_EQ(tv::test::Run({"touch", "-m", "-d", "2001-02-03 04:05:06.789", f}).status, 0);
  // The date's fields are packed: copied out before they are compared.
  const UTCDateTime before = Catalog(f).contentModDate;
  const UInt16 beforeHigh = before.highSeconds, beforeFraction = before.fraction;
  const UInt32 beforeLow = before.lowSeconds;
  ASSERT_NE(beforeFraction, 0);
  ASSERT_STATUS(noErr, ZapRsrc({f}, false, true));
  const FSCatalogInfo after = Catalog(f);
  const UInt64 rsrcSize = after.rsrcLogicalSize;
  const UInt16 afterHigh = after.contentModDate.highSeconds, afterFraction = after.contentModDate.fraction;
  const UInt32 afterLow = after.contentModDate.lowSeconds;
  EXPECT_EQ(rsrcSize, 0u);
  EXPECT_EQ(afterHigh, beforeHigh);
  EXPECT_EQ(afterLow, beforeLow);
  EXPECT_EQ(afterFraction, beforeFraction);
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
