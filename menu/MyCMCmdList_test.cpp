#include "menu/MyCMCmdList.h"

#include "platform/HostServices.h"
#include "tests/support/TestSupport.h"

#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace {

class CmdListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TVSetSystemVersion(0x1049);
    MyCMCmdListResetOSVersionCache();
    live_ = TVAEGetLiveDescriptorCount();
  }
  void TearDown() override {
    TVSetSystemVersion(-1);
    TVSetGestaltFails(false);
    MyCMCmdListResetOSVersionCache();
    EXPECT_EQ(TVAEGetLiveDescriptorCount(), live_);
  }
  static std::vector<UInt8> Data(const AEDesc &d) {
    std::vector<UInt8> v(size_t(AEGetDescDataSize(&d)));
    if (!v.empty()) AEGetDescData(&d, v.data(), Size(v.size()));
    return v;
  }
  static bool Long(const AERecord &rec, AEKeyword key, SInt32 *out) {
    DescType type = 0;
    Size size = 0;
    return AEGetParamPtr(&rec, key, typeLongInteger, &type, out, 4, &size) == noErr && type == typeLongInteger &&
           size == 4;
  }
  CFIndex live_ = 0;
};

TEST_F(CmdListTest, CommandItemHoldsNameAndIDButNoZeroAttributes) {
  MyCMCmdList list = nullptr;
  ASSERT_STATUS(noErr, MyCMCmdListCreate(nullptr, &list));
  ASSERT_STATUS(noErr, MyCMCmdListAddItem(list, CFSTR("Zap"), 2001, 0));
  ASSERT_STATUS(noErr, MyCMCmdListAddSeparatorItem(list));
  long count = 0;
  AECountItems(list->list, &count);
  ASSERT_EQ(count, 2);

  AEDesc item = {typeNull, nullptr}, name = {typeNull, nullptr};
  ASSERT_EQ(AEGetNthDesc(list->list, 1, typeWildCard, nullptr, &item), noErr);
  EXPECT_EQ(item.descriptorType, typeAERecord);
  ASSERT_EQ(AEGetParamDesc(&item, keyAEName, typeWildCard, &name), noErr);
  EXPECT_EQ(name.descriptorType, typeUnicodeText);
  std::vector<UInt8> bytes = Data(name);
  ASSERT_EQ(bytes.size(), 6u);  // 3 units, no BOM, no terminator
  UniChar units[3];
  memcpy(units, bytes.data(), 6);
  EXPECT_EQ(units[0], 'Z');
  EXPECT_EQ(units[2], 'p');
  SInt32 id = 0, attrs = 0;
  EXPECT_TRUE(Long(item, keyContextualMenuCommandID, &id));
  EXPECT_EQ(id, 2001);
  EXPECT_FALSE(Long(item, keyContextualMenuAttributes, &attrs));
  AEDisposeDesc(&name);
  AEDisposeDesc(&item);

  // The separator: "-", command 0, attributes 64.
  ASSERT_EQ(AEGetNthDesc(list->list, 2, typeWildCard, nullptr, &item), noErr);
  ASSERT_EQ(AEGetParamDesc(&item, keyAEName, typeWildCard, &name), noErr);
  EXPECT_EQ(Data(name), (std::vector<UInt8>{'-', 0}));
  EXPECT_TRUE(Long(item, keyContextualMenuCommandID, &id));
  EXPECT_EQ(id, 0);
  EXPECT_TRUE(Long(item, keyContextualMenuAttributes, &attrs));
  EXPECT_EQ(attrs, 64);
  AEDisposeDesc(&name);
  AEDisposeDesc(&item);
  EXPECT_STATUS(noErr, MyCMCmdListDispose(list));
}

TEST_F(CmdListTest, RefusesMissingArguments) {
  MyCMCmdList list = nullptr;
  EXPECT_STATUS(paramErr, MyCMCmdListCreate(nullptr, nullptr));
  ASSERT_STATUS(noErr, MyCMCmdListCreate(nullptr, &list));
  EXPECT_STATUS(paramErr, MyCMCmdListAddItem(nullptr, CFSTR("x"), 1, 0));
  EXPECT_STATUS(paramErr, MyCMCmdListAddItem(list, nullptr, 1, 0));
  EXPECT_STATUS(paramErr, MyCMCmdListAddSubmenuItem(list, CFSTR("x"), nullptr, 0));
  EXPECT_STATUS(paramErr, CreateNameDesc(CFSTR("x"), nullptr));
  long count = -1;
  AECountItems(list->list, &count);
  EXPECT_EQ(count, 0);
  EXPECT_STATUS(noErr, MyCMCmdListDispose(nullptr));
  MyCMCmdListDispose(list);
}

TEST_F(CmdListTest, SubmenuSurvivesItsWrapperAndHostListKeepsItems) {
  AEDescList host = {typeNull, nullptr};
  ASSERT_EQ(AECreateList(nullptr, 0, false, &host), noErr);
  MyCMCmdList wrapper = nullptr, sub = nullptr;
  ASSERT_STATUS(noErr, MyCMCmdListCreate(&host, &wrapper));
  EXPECT_EQ(wrapper->list, &host);
  EXPECT_EQ(wrapper->ownList.descriptorType, 0u);  // all zero: nothing of its own
  EXPECT_EQ(wrapper->ownList.dataHandle, nullptr);
  ASSERT_STATUS(noErr, MyCMCmdListCreate(nullptr, &sub));
  MyCMCmdListAddItem(sub, CFSTR("a"), 1, 0);
  MyCMCmdListAddItem(sub, CFSTR("b"), 2, 0);
  ASSERT_STATUS(noErr, MyCMCmdListAddSubmenuItem(wrapper, CFSTR("Menu"), sub, 0));
  MyCMCmdListDispose(sub);
  MyCMCmdListDispose(wrapper);

  long count = 0;
  ASSERT_EQ(AECountItems(&host, &count), noErr);
  ASSERT_EQ(count, 1);
  AEDesc item = {typeNull, nullptr}, submenu = {typeNull, nullptr};
  ASSERT_EQ(AEGetNthDesc(&host, 1, typeWildCard, nullptr, &item), noErr);
  SInt32 id = 0;
  EXPECT_FALSE(Long(item, keyContextualMenuCommandID, &id));
  ASSERT_EQ(AEGetParamDesc(&item, keyContextualMenuSubmenu, typeWildCard, &submenu), noErr);
  EXPECT_EQ(submenu.descriptorType, typeAEList);
  AECountItems(&submenu, &count);
  EXPECT_EQ(count, 2);
  AEDisposeDesc(&submenu);
  AEDisposeDesc(&item);
  AEDisposeDesc(&host);
}

TEST_F(CmdListTest, OldSystemsGetIntlTextWithLossBytes) {
  TVSetSystemVersion(0x101F);
  MyCMCmdListResetOSVersionCache();
  AEDesc name = {typeNull, nullptr};
  // "é" exists in Mac OS Roman (0x8E); "日" does not.
  const UniChar text[] = {'a', 0x00E9, 0x65E5};
  CFStringRef title = CFStringCreateWithCharacters(nullptr, text, 3);
  ASSERT_STATUS(noErr, CreateNameDesc(title, &name));
  EXPECT_EQ(name.descriptorType, typeIntlText);
  std::vector<UInt8> bytes = Data(name);
  SInt16 script = -1, language = -1;
  ASSERT_EQ(bytes.size(), 7u);
  memcpy(&script, bytes.data(), 2);
  memcpy(&language, bytes.data() + 2, 2);
  EXPECT_EQ(script, 0);
  EXPECT_EQ(language, 0);
  EXPECT_EQ(std::vector<UInt8>(bytes.begin() + 4, bytes.end()), (std::vector<UInt8>{'a', 0x8E, '?'}));
  AEDisposeDesc(&name);
  CFRelease(title);

  ASSERT_STATUS(noErr, CreateNameDesc(CFSTR(""), &name));
  EXPECT_EQ(Data(name).size(), 4u);  // the header alone
  AEDisposeDesc(&name);
  ASSERT_STATUS(noErr, CreateNameDesc(nullptr, &name));
  EXPECT_EQ(Data(name).size(), 4u);
  AEDisposeDesc(&name);
}

TEST_F(CmdListTest, VersionIsAskedOnceAndFailureMeansOldNames) {
  TVSetSystemVersion(0x1020);
  MyCMCmdListResetOSVersionCache();
  EXPECT_EQ(GetOSVersion(), 0x1020);
  TVSetSystemVersion(0x1000);
  EXPECT_EQ(GetOSVersion(), 0x1020);  // cached
  AEDesc name = {typeNull, nullptr};
  ASSERT_STATUS(noErr, CreateNameDesc(CFSTR(""), &name));
  EXPECT_EQ(name.descriptorType, typeUnicodeText);
  EXPECT_EQ(AEGetDescDataSize(&name), 0);
  AEDisposeDesc(&name);

  TVSetGestaltFails(true);
  MyCMCmdListResetOSVersionCache();
  EXPECT_EQ(GetOSVersion(), 0x1000);
  ASSERT_STATUS(noErr, CreateNameDesc(CFSTR("x"), &name));
  EXPECT_EQ(name.descriptorType, typeIntlText);
  AEDisposeDesc(&name);
}

}  // namespace
