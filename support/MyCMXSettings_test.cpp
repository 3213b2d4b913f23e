// The three settings through the real preferences file.
#include "support/MyBundle.h"
#include "support/MyCMXSettings.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

std::string Plist(const std::string &body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\"><dict>" + body + "</dict></plist>\n";
}

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data = MyCMXCreateYourData();
    ASSERT_NE(data, nullptr);
  }
  void TearDown() override { MyCMXDisposeYourData(data); }
  void WritePrefs(const std::string &content) { tree.file(kPrefs, content); }
  bool Stored(const char *key, bool *value) {
    Boolean valid = false;
    CFStringRef k = CFStringCreateWithCString(nullptr, key, kCFStringEncodingUTF8);
    Boolean v = CFPreferencesGetAppBooleanValue(k, kMyBundleIdentifier, &valid);
    CFRelease(k);
    *value = v;
    return valid;
  }

  static constexpr const char *kPrefs = "home/.config/tarrovel/org.tarrovel.Tarrovel.plist";
  tv::test::TempTree tree;
  MyCMXYourData *data = nullptr;
};

TEST_F(SettingsTest, NewRecordIsAllFalseAndMissingFileLeavesItSo) {
  EXPECT_EQ(sizeof(MyCMXYourData), 3u);
  EXPECT_STATUS(noErr, MyCMXQueryInterfaceSelf(data));
  EXPECT_EQ(data->showDataForkMenu, 0);
  EXPECT_EQ(data->showRsrcForkRecursiveMenu, 0);
  EXPECT_EQ(data->keepModificationDate, 0);
  EXPECT_FALSE(tree.exists(kPrefs));  // reading writes nothing
}

TEST_F(SettingsTest, LoadsOnlyTheKeysThatHoldBooleans) {
  WritePrefs(Plist("<key>ShowDataForkMenu</key><true/>"
                   "<key>ShowRsrcForkRecursiveMenu</key><string>yes</string>"
                   "<key>KeepModificationDate</key><true/>"));  // wrong case: another key
  data->showRsrcForkRecursiveMenu = 1;
  MyCMXQueryInterfaceSelf(data);
  EXPECT_EQ(data->showDataForkMenu, 1);
  EXPECT_EQ(data->showRsrcForkRecursiveMenu, 1);  // not a boolean: unchanged
  EXPECT_EQ(data->keepModificationDate, 0);
}

TEST_F(SettingsTest, CorruptOrEmptyFileReadsAsNoValuesAndIsKept) {
  for (const std::string &content : {std::string(), std::string("<plist><dict><key>ShowDataForkMenu"),
                                    std::string("\x00\x01garbage", 9)}) {
    WritePrefs(content);
    MyCMXQueryInterfaceSelf(data);
    EXPECT_EQ(data->showDataForkMenu, 0);
    EXPECT_EQ(tree.read(kPrefs), content);
  }
}

TEST_F(SettingsTest, ToggleTwiceRestoresAndStoresFalse) {
  MyCMXToggleSetting(data, &data->keepModificationDate, CFSTR("keepModificationDate"));
  EXPECT_EQ(data->keepModificationDate, 1);
  bool v = false;
  ASSERT_TRUE(Stored("keepModificationDate", &v));
  EXPECT_TRUE(v);
  MyCMXToggleSetting(data, &data->keepModificationDate, CFSTR("keepModificationDate"));
  EXPECT_EQ(data->keepModificationDate, 0);
  ASSERT_TRUE(Stored("keepModificationDate", &v));  // present and false, not missing
  EXPECT_FALSE(v);
  EXPECT_NE(tree.read(kPrefs).find("<key>keepModificationDate</key>"), std::string::npos);
}

TEST_F(SettingsTest, ToggleTurnsAnyNonZeroIntoFalse) {
  data->showDataForkMenu = 7;
  MyCMXToggleSetting(data, &data->showDataForkMenu, CFSTR("ShowDataForkMenu"));
  EXPECT_EQ(data->showDataForkMenu, 0);
}

TEST_F(SettingsTest, SecondLoadSeesAChangeOnDisk) {
  WritePrefs(Plist("<key>ShowRsrcForkRecursiveMenu</key><true/>"));
  MyCMXQueryInterfaceSelf(data);
  EXPECT_EQ(data->showRsrcForkRecursiveMenu, 1);
  WritePrefs(Plist("<key>ShowRsrcForkRecursiveMenu</key><false/><key>ShowDataForkMenu</key><true/>"));
  MyCMXQueryInterfaceSelf(data);
  EXPECT_EQ(data->showRsrcForkRecursiveMenu, 0);
  EXPECT_EQ(data->showDataForkMenu, 1);
}

TEST_F(SettingsTest, WritingKeepsOtherKeys) {
  WritePrefs(Plist("<key>ShowDataForkMenu</key><true/><key>SomethingElse</key><string>kept</string>"));
  MyPreferencesSetBoolValue(CFSTR("ShowRsrcForkRecursiveMenu"), 1, kMyBundleIdentifier);
  std::string written = tree.read(kPrefs);
  EXPECT_NE(written.find("kept"), std::string::npos);
  MyCMXQueryInterfaceSelf(data);
  EXPECT_EQ(data->showDataForkMenu, 1);
  EXPECT_EQ(data->showRsrcForkRecursiveMenu, 1);
}

}  // namespace
