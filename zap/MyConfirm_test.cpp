// The confirmations and the pre-scan count on real trees, answered by a test
// front end.
#include "zap/MyConfirm.h"

#include "platform/HostServices.h"
#include "plugin/MyCMXStatus.h"
#include "support/MyCFAutoreleasePool.h"
#include "selection/MyCMContext.h"
#include "tests/support/Selection.h"
#include "tests/support/TestSupport.h"
#include "zap/MyZapTraversal.h"

#include <cstring>
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
  if (sSeen->escape) keys[kVK_Escape / 8] |= UInt8(1u << (kVK_Escape % 8));
}

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
    pool = MyCFAutoreleasePoolCreate();
    MyFileCountForgetHomeDirectory();  // each test has a home of its own
  }
  void TearDown() override {
    MyCFAutoreleasePoolDispose(pool);
    TVSetAlertPresenter(nullptr, nullptr);
    TVSetConsoleSink(nullptr, nullptr);
    TVSetTickSource(nullptr, nullptr);
    TVSetKeyboardPoller(nullptr, nullptr);
    sSeen = nullptr;
  }
  MyFSDirIter Iter(const std::vector<std::string> &paths) {
    selection = tvtest::MakeSelection(paths);
    EXPECT_EQ(MyCMContextCreateWithContext(&selection, true, &context), noErr);
    AEDisposeDesc(&selection);
    return MyCMContextGetIterater(context);
  }
  tvtest::TempTree tree;
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
  tree.file("top/locked/inside");
  tree.chmod("top/locked", 0700);
  std::string locked = tree.path("top/locked");
  int status = tvtest::InChildAsNobody([&] {
    MyFSDirIter iter = Iter({locked});
    MyFileCountInfo info = {};
    OSStatus err = CountFilesWithContextIter(iter, true, 120, &info);
    bool ok = err == noErr && info.folderCount == 1 && info.deniedFolderCount == 1 && info.fileCount == 0 &&
              seen.console == "Tarrovel: Permission denied: " + locked + "\n";
    return ok ? 0 : 1;
  });
  EXPECT_EQ(status, 0);
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
