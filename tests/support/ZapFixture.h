// A test front end for the zap on real trees: alerts answered from a list,
// a console, a clock and a keyboard of its own, and the progress heard; the
// selection handed over as the host hands it.
#pragma once

#include "platform/HostServices.h"
#include "selection/MyCMContext.h"
#include "support/MyCFAutoreleasePool.h"
#include "tests/support/Selection.h"
#include "tests/support/Sidecars.h"
#include "tests/support/TestSupport.h"
#include "zap/MyFileCount.h"
#include "zap/MyZapTraversal.h"

#include <cstring>
#include <string>
#include <vector>
#include <gtest/gtest.h>

namespace tv::test {

class ZapFrontEndTest : public ::testing::Test {
 protected:
  // What the front end was asked and saw, and how it answers.
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
    selection = MakeSelection(paths);
    EXPECT_EQ(MyCMContextCreateWithContext(&selection, true, &context), noErr);
    AEDisposeDesc(&selection);
    return MyCMContextGetIterater(context);
  }
  // A file with a 600-byte resource fork in a macOS sidecar.
  std::string MacFile(const std::string &rel) {
    std::string path = tree.file(rel, "data");
    size_t slash = rel.rfind('/');
    auto sidecar = BuildMacOSKernelSidecar(MakeFinderInfo(FOUR_CHAR_CODE("TEXT"), 0, 0), TypicalAttributes(),
                                           MakeResourceFork(600));
    tree.file(rel.substr(0, slash + 1) + "._" + rel.substr(slash + 1), std::string(sidecar.begin(), sidecar.end()));
    return path;
  }
  static FSCatalogInfo Catalog(const std::string &path) {
    FSRef ref = RefFor(path);
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

  TempTree tree;
  Seen seen;
  MyCFAutoreleasePool pool = nullptr;
  AEDescList selection = {typeNull, nullptr};
  MyCMContext context = nullptr;
  ~ZapFrontEndTest() override { MyCMContextDispose(context); }

 private:
  static inline Seen *sSeen = nullptr;

  static SInt32 Present(const TVAlertRequest *r, void *) {
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
  static void Capture(const char *t, void *) { sSeen->console += t; }
  static UInt32 Ticks(void *) {
    sSeen->ticks += sSeen->tickStep;
    return sSeen->ticks;
  }
  static void Keys(KeyMap keys, void *) {
    memset(keys, 0, sizeof(KeyMap));
    sSeen->looks += 1;
    bool latched = sSeen->escapeAfterFile >= 0 && sSeen->filesDone >= sSeen->escapeAfterFile;
    if (sSeen->escape || latched || sSeen->looks == sSeen->escapeOnLook) keys[kVK_Escape / 8] |= UInt8(1u << (kVK_Escape % 8));
  }
  static void FileDone(const FSRef *, void *) { sSeen->filesDone += 1; }
};

}  // namespace tv::test
