#include "host/MenuModel.h"

#include <cstring>
#include <gtest/gtest.h>

namespace tv::host {
namespace {

// One item record as a plug-in builds it.
void PutItem(AEDescList *list, DescType nameType, const void *name, Size nameSize, const SInt32 *command,
             const AEDescList *submenu, SInt32 attributes) {
  AERecord rec = {typeNull, nullptr};
  ASSERT_EQ(AECreateList(nullptr, 0, true, &rec), noErr);
  AEPutParamPtr(&rec, keyAEName, nameType, name, nameSize);
  if (command) AEPutParamPtr(&rec, keyContextualMenuCommandID, typeLongInteger, command, 4);
  if (submenu) AEPutParamDesc(&rec, keyContextualMenuSubmenu, submenu);
  if (attributes) AEPutParamPtr(&rec, keyContextualMenuAttributes, typeLongInteger, &attributes, 4);
  AEPutDesc(list, 0, &rec);
  AEDisposeDesc(&rec);
}

TEST(MenuModelTest, DecodesBothNameFormsNestedMenusAndAttributes) {
  AEDescList sub = {typeNull, nullptr}, top = {typeNull, nullptr};
  AECreateList(nullptr, 0, false, &sub);
  AECreateList(nullptr, 0, false, &top);
  const UniChar zap[] = {'Z', 0x00E4, 'p'};
  SInt32 c2001 = 2001, c0 = 0;
  PutItem(&sub, typeUnicodeText, zap, sizeof zap, &c2001, nullptr, 0);
  UInt8 intl[] = {0, 0, 0, 0, '-'};
  PutItem(&sub, typeIntlText, intl, sizeof intl, &c0, nullptr, 64);
  UInt8 roman[] = {0, 0, 0, 0, 'c', 0x8E};  // "cé" in Mac OS Roman
  SInt32 c7 = 7;
  PutItem(&sub, typeIntlText, roman, sizeof roman, &c7, nullptr, 0);
  const UniChar title[] = {'T'};
  PutItem(&top, typeUnicodeText, title, sizeof title, nullptr, &sub, 0);

  std::vector<MenuItem> items;
  std::string error;
  ASSERT_TRUE(DecodeCommandList(top, &items, &error)) << error;
  ASSERT_EQ(items.size(), 1u);
  ASSERT_TRUE(items[0].hasSubmenu);
  ASSERT_EQ(items[0].submenu.size(), 3u);
  EXPECT_EQ(items[0].submenu[0].title, "Z\xC3\xA4p");
  EXPECT_TRUE(items[0].submenu[1].isSeparator());
  EXPECT_EQ(items[0].submenu[2].title, "c\xC3\xA9");
  EXPECT_EQ(MenuToJSON(items),
            "[\n  {\"title\": \"T\", \"submenu\": [\n"
            "    {\"title\": \"Z\xC3\xA4p\", \"command\": 2001},\n"
            "    {\"title\": \"-\", \"command\": 0, \"attributes\": 64},\n"
            "    {\"title\": \"c\xC3\xA9\", \"command\": 7}\n  ]}\n]\n");

  // The separator and the submenu never match; titles and IDs do.
  EXPECT_EQ(FindCommand(items, "-"), nullptr);
  EXPECT_EQ(FindCommand(items, "0"), nullptr);
  EXPECT_EQ(FindCommand(items, "T"), nullptr);
  ASSERT_NE(FindCommand(items, "2001"), nullptr);
  EXPECT_EQ(FindCommand(items, "c\xC3\xA9")->command, 7);
  AEDisposeDesc(&top);
  AEDisposeDesc(&sub);
}

TEST(MenuModelTest, RejectsMalformedRecords) {
  AEDescList list = {typeNull, nullptr};
  AECreateList(nullptr, 0, false, &list);
  const UniChar t[] = {'x'};
  PutItem(&list, typeUnicodeText, t, sizeof t, nullptr, nullptr, 0);  // neither command nor submenu
  std::vector<MenuItem> items;
  std::string error;
  EXPECT_FALSE(DecodeCommandList(list, &items, &error));
  EXPECT_NE(error.find("neither"), std::string::npos);
  AEDisposeDesc(&list);

  AECreateList(nullptr, 0, false, &list);
  AEPutPtr(&list, 0, typeLongInteger, "abcd", 4);  // not a record
  EXPECT_FALSE(DecodeCommandList(list, &items, &error));
  AEDisposeDesc(&list);
  EXPECT_TRUE(DecodeCommandList(AEDescList{typeNull, nullptr}, &items, &error));
  EXPECT_EQ(MenuToJSON({}), "[]\n");
}

TEST(MenuModelTest, QuotesJsonStrings) {
  EXPECT_EQ(JSONQuote("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\n\\u0001\"");
}

}  // namespace
}  // namespace tv::host
