// Menu composition edge cases on real files: what the host's list receives.
#include "menu/MyCMXMenu.h"

#include "menu/MyCMCmdList.h"
#include "platform/HostServices.h"
#include "platform/sys/CallTable.h"
#include "selection/MyCMContext.h"
#include "support/MyCFAutoreleasePool.h"
#include "tests/support/Selection.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

namespace sys = tv::sys;

class CompositionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static CFBundleRef bundle = nullptr;  // kept: the plug-in caches it
    OSStatus err = noErr;
    setenv("LANG", "C", 1);
    if (bundle == nullptr) bundle = TVBundleCreateWithPath(TV_BUNDLE_DIR, &err);
    ASSERT_NE(bundle, nullptr);
    pool = MyCFAutoreleasePoolCreate();
    AECreateList(nullptr, 0, false, &host);
  }
  void TearDown() override {
    AEDisposeDesc(&host);
    MyCFAutoreleasePoolDispose(pool);
  }
  // The titles of the submenu the host received (empty: no submenu).
  std::vector<std::string> Submenu() {
    std::vector<std::string> titles;
    long count = 0;
    AECountItems(&host, &count);
    if (count == 0) return titles;
    EXPECT_EQ(count, 1);
    AEDesc item = {typeNull, nullptr}, sub = {typeNull, nullptr};
    AEGetNthDesc(&host, 1, typeWildCard, nullptr, &item);
    AEGetParamDesc(&item, keyContextualMenuSubmenu, typeAEList, &sub);
    AECountItems(&sub, &count);
    for (long i = 1; i <= count; i++) {
      AEDesc rec = {typeNull, nullptr}, name = {typeNull, nullptr};
      AEGetNthDesc(&sub, i, typeWildCard, nullptr, &rec);
      AEGetParamDesc(&rec, keyAEName, typeWildCard, &name);
      std::vector<UniChar> units(size_t(AEGetDescDataSize(&name)) / 2);
      AEGetDescData(&name, units.data(), Size(units.size() * 2));
      titles.emplace_back(units.begin(), units.end());  // the titles here are ASCII
      AEDisposeDesc(&name);
      AEDisposeDesc(&rec);
    }
    AEDisposeDesc(&sub);
    AEDisposeDesc(&item);
    return titles;
  }
  tv::test::TempTree tree;
  MyCFAutoreleasePool pool = nullptr;
  AEDescList host = {typeNull, nullptr};
  MyCMXYourData settings = {};
};

TEST_F(CompositionTest, DeletedItemsAndNoSelectionOfferNothing) {
  std::string f = tree.file("gone");
  AEDescList selection = tv::test::MakeSelection({f});
  tv::test::Run({"rm", f});
  EXPECT_STATUS(noErr, MyCMXExamineContextSelf(&selection, &host, &settings));
  EXPECT_TRUE(Submenu().empty());
  EXPECT_STATUS(noErr, MyCMXExamineContextSelf(nullptr, &host, &settings));
  EXPECT_TRUE(Submenu().empty());
  AEDisposeDesc(&selection);
}

TEST_F(CompositionTest, ItemWhoseCatalogCannotBeReadGetsTheTogglesOnly) {
  AEDescList selection = tv::test::MakeSelection({tree.file("f")});
  // How many stat calls one resolution takes, so that the catalog read that
  // follows the second resolution can be made to fail, and everything after it.
  MyCMContext context = nullptr;
  ASSERT_STATUS(noErr, MyCMContextCreateWithContext(&selection, false, &context));
  FSRef ref;
  sys::ResetCallCounts();
  ASSERT_TRUE(MyCMContextExtractFSRefAt(context, 1, &ref));
  uint64_t perResolution = sys::CallCount(sys::Call::statx) + sys::CallCount(sys::Call::fstatat);
  MyCMContextDispose(context);
  ASSERT_GT(perResolution, 0u);
  {
    sys::FaultScope faults;
    sys::FailCall(sys::Call::statx, unsigned(2 * perResolution + 1), EIO, true);
    sys::FailCall(sys::Call::fstatat, unsigned(2 * perResolution + 1), EIO, true);
    EXPECT_STATUS(noErr, MyCMXExamineContextSelf(&selection, &host, &settings));
  }
  EXPECT_EQ(Submenu(), (std::vector<std::string>{"Show Zap Resource Fork Recursively Menu", "Show Zap Data Fork Menu",
                                                 "Make no change file modification date"}));
  AEDisposeDesc(&selection);
}

TEST_F(CompositionTest, NullHostListReceivesNothingAndSucceeds) {
  AEDescList selection = tv::test::MakeSelection({tree.file("f")});
  EXPECT_STATUS(noErr, MyCMXExamineContextSelf(&selection, nullptr, &settings));
  AEDisposeDesc(&selection);
}

TEST_F(CompositionTest, DataForkItemNeedsAFileWhateverTheSetting) {
  settings.showDataForkMenu = 1;
  AEDescList selection = tv::test::MakeSelection({tree.folder("d")});
  EXPECT_STATUS(noErr, MyCMXExamineContextSelf(&selection, &host, &settings));
  EXPECT_EQ(Submenu(), (std::vector<std::string>{"Show Zap Resource Fork Recursively Menu", "Hide Zap Data Fork Menu",
                                                 "Make no change file modification date"}));
  AEDisposeDesc(&selection);
}

}  // namespace
