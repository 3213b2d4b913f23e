// Command dispatch: the toggles flip a setting in memory and in the
// preferences; IDs outside the table change nothing.
#include "menu/MyCMXDispatch.h"

#include "platform/HostServices.h"
#include "support/MyBundle.h"
#include "support/MyCFAutoreleasePool.h"
#include "support/MyStatus.h"
#include "tests/support/Selection.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override { pool = MyCFAutoreleasePoolCreate(); }
  void TearDown() override { MyCFAutoreleasePoolDispose(pool); }
  std::string Prefs() { return tree.read("home/.config/tarrovel/org.tarrovel.Tarrovel.plist"); }
  bool Stored(CFStringRef key, bool *value) {
    Boolean valid = false;
    *value = CFPreferencesGetAppBooleanValue(key, kMyBundleIdentifier, &valid);
    return valid;
  }
  tv::test::TempTree tree;
  MyCFAutoreleasePool pool = nullptr;
  MyCMXYourData settings = {};
};

TEST_F(DispatchTest, UnknownCommandsChangeNothing) {
  AEDescList selection = tv::test::MakeSelection({tree.file("f")});
  for (SInt32 id : {0, 1999, 2003, 2005, 2009, 2013, -1}) {
    EXPECT_STATUS(noErr, MyCMXHandleSelectionSelf(&selection, id, &settings)) << id;
  }
  EXPECT_FALSE(tree.exists("home/.config/tarrovel/org.tarrovel.Tarrovel.plist"));
  EXPECT_EQ(settings.showDataForkMenu + settings.showRsrcForkRecursiveMenu + settings.keepModificationDate, 0);
  AEDisposeDesc(&selection);
}

TEST_F(DispatchTest, SameToggleTwiceRestoresTheFlagAndWritesBothValues) {
  AEDescList selection = tv::test::MakeSelection({tree.file("f")});
  bool value = false;
  EXPECT_STATUS(noErr, MyCMXHandleSelectionSelf(&selection, 2011, &settings));
  EXPECT_EQ(settings.showDataForkMenu, 1);
  ASSERT_TRUE(Stored(CFSTR("ShowDataForkMenu"), &value));
  EXPECT_TRUE(value);
  EXPECT_STATUS(noErr, MyCMXHandleSelectionSelf(&selection, 2011, &settings));
  EXPECT_EQ(settings.showDataForkMenu, 0);
  ASSERT_TRUE(Stored(CFSTR("ShowDataForkMenu"), &value));
  EXPECT_FALSE(value);
  EXPECT_STATUS(noErr, MyCMXHandleSelectionSelf(&selection, 2010, &settings));
  EXPECT_STATUS(noErr, MyCMXHandleSelectionSelf(&selection, 2012, &settings));
  EXPECT_EQ(settings.showRsrcForkRecursiveMenu, 1);
  EXPECT_EQ(settings.keepModificationDate, 1);
  AEDisposeDesc(&selection);
}

TEST_F(DispatchTest, TogglesWorkWhenNothingResolvesAnyMore) {
  std::string f = tree.file("gone");
  AEDescList selection = tv::test::MakeSelection({f});
  tv::test::Run({"rm", f});
  EXPECT_STATUS(noErr, MyCMXHandleSelectionSelf(&selection, 2012, &settings));
  EXPECT_EQ(settings.keepModificationDate, 1);
  EXPECT_STATUS(noErr, MyCMXHandleSelectionSelf(nullptr, 2012, &settings));
  EXPECT_EQ(settings.keepModificationDate, 0);
  AEDisposeDesc(&selection);
}

TEST_F(DispatchTest, NoIteratorMeansNoCommandAndNoToggle) {
  AEDescList selection = tv::test::MakeSelection({tree.file("f")});
  // The snapshot's array cannot be made: the iterator is missing.
  bool iteratorFailed = false;
  for (CFIndex n = 1; n <= 4 && !iteratorFailed; n++) {
    TVCFFailNthAllocation(n);
    OSStatus err = MyCMXHandleSelectionSelf(&selection, 2011, &settings);
    TVCFFailNthAllocation(0);
    if (err == nilPointerErr) {
      iteratorFailed = true;
      EXPECT_EQ(settings.showDataForkMenu, 0);
      EXPECT_FALSE(tree.exists("home/.config/tarrovel/org.tarrovel.Tarrovel.plist"));
    } else {
      // This allocation was not the snapshot's: the toggle ran; undo it.
      settings.showDataForkMenu = 0;
      tv::test::Run({"rm", "-f", tree.path("home/.config/tarrovel/org.tarrovel.Tarrovel.plist")});
    }
  }
  EXPECT_TRUE(iteratorFailed);
  AEDisposeDesc(&selection);
}

}  // namespace
