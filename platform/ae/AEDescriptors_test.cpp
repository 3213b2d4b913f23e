#include "tests/support/AEFixture.h"

#include <cstring>

namespace {

using namespace tv::test;

class AEDescriptorsTest : public tv::test::AETest {};

TEST_F(AEDescriptorsTest, CreateCopiesTheBytesAndDisposeEmptiesTheDesc) {
  char buffer[] = "alias-bytes";
  AEDesc d{typeNull, nullptr};
  ASSERT_STATUS(noErr, AECreateDesc(typeAlias, buffer, 11, &d));
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(typeAlias, d.descriptorType);
  EXPECT_EQ("alias-bytes", DataOf(d));
  EXPECT_EQ(1, live());
  ASSERT_STATUS(noErr, AEDisposeDesc(&d));
  EXPECT_TRUE(IsEmptyDesc(d));
  EXPECT_EQ(0, live());
  EXPECT_STATUS(noErr, AEDisposeDesc(&d)) << "disposing an empty desc is fine";

  AEDesc empty{typeLongInteger, nullptr};
  ASSERT_STATUS(noErr, AECreateDesc(typeLongInteger, nullptr, 0, &empty));
  EXPECT_EQ(typeLongInteger, empty.descriptorType);
  EXPECT_NE(nullptr, empty.dataHandle) << "a zero-length value is still a value";
  EXPECT_EQ(0, AEGetDescDataSize(&empty));
  AEDisposeDesc(&empty);
}

TEST_F(AEDescriptorsTest, CreateRefusesNullDataContainersAndBadArguments) {
  AEDesc d{typeNull, nullptr};
  ASSERT_STATUS(noErr, AECreateDesc(typeNull, nullptr, 0, &d));
  EXPECT_TRUE(IsEmptyDesc(d));
  EXPECT_EQ(0, live());

  const char raw[4] = {1, 2, 3, 4};
  for (DescType container : {typeNull, typeAEList, typeAERecord, typeAppleEvent}) {
    d = AEDesc{typeAlias, reinterpret_cast<AEDataStorage>(0x1)};
    EXPECT_STATUS(errAEWrongDataType, AECreateDesc(container, raw, 4, &d));
    EXPECT_TRUE(IsEmptyDesc(d)) << "a failed call leaves an empty result";
  }
  EXPECT_STATUS(paramErr, AECreateDesc(typeChar, raw, -1, &d));
  EXPECT_STATUS(paramErr, AECreateDesc(typeChar, nullptr, 4, &d));
  EXPECT_STATUS(paramErr, AECreateDesc(typeChar, raw, 4, nullptr));
  EXPECT_STATUS(paramErr, AECreateList(raw, 4, false, &d)) << "factoring is not supported";
  EXPECT_STATUS(paramErr, AEDisposeDesc(nullptr));
  EXPECT_EQ(0, live());
}

TEST_F(AEDescriptorsTest, GetDescDataCopiesAtMostTheMaximum) {
  AEDesc d = Bytes(typeChar, "abcdef");
  char out[8];
  std::memset(out, '.', sizeof out);
  ASSERT_STATUS(noErr, AEGetDescData(&d, out, 3));
  EXPECT_EQ("abc.....", std::string(out, 8));
  std::memset(out, '.', sizeof out);
  ASSERT_STATUS(noErr, AEGetDescData(&d, out, 8));
  EXPECT_EQ("abcdef..", std::string(out, 8));
  EXPECT_STATUS(paramErr, AEGetDescData(&d, nullptr, 4));
  EXPECT_STATUS(paramErr, AEGetDescData(&d, out, -1));

  AEDesc empty{typeNull, nullptr};
  EXPECT_EQ(0, AEGetDescDataSize(&empty));
  EXPECT_STATUS(noErr, AEGetDescData(&empty, out, 8));

  AEDesc list = NewList();
  ASSERT_STATUS(noErr, AEPutDesc(&list, 0, &d));
  EXPECT_EQ(0, AEGetDescDataSize(&list)) << "containers have no flat form";
  EXPECT_STATUS(errAEWrongDataType, AEGetDescData(&list, out, 8));
  EXPECT_EQ(0, AEGetDescDataSize(nullptr));
  AEDisposeDesc(&list);
  AEDisposeDesc(&d);
}

TEST_F(AEDescriptorsTest, StaleForeignAndMistypedDescriptorsAreRefused) {
  AEDesc d = Bytes(typeAlias, "x");
  AEDesc stale = d;
  ASSERT_STATUS(noErr, AEDisposeDesc(&d));
  char out[4];
  long n;
  AEDesc result{typeNull, nullptr};
  EXPECT_STATUS(errAENotAEDesc, AEDisposeDesc(&stale)) << "a second disposal must not free again";
  EXPECT_EQ(typeAlias, stale.descriptorType) << "a descriptor that is not ours is left alone";
  EXPECT_STATUS(errAENotAEDesc, AEGetDescData(&stale, out, 4));
  EXPECT_EQ(0, AEGetDescDataSize(&stale));
  EXPECT_STATUS(errAENotAEDesc, AEDuplicateDesc(&stale, &result));
  EXPECT_TRUE(IsEmptyDesc(result));

  int notOurs = 0;
  AEDesc forged{typeAEList, reinterpret_cast<AEDataStorage>(&notOurs)};
  EXPECT_STATUS(errAENotAEDesc, AECountItems(&forged, &n));
  EXPECT_STATUS(errAENotAEDesc, AEPutPtr(&forged, 0, typeChar, "a", 1));

  // The type must match what the data is.
  AEDesc bytes = Bytes(typeChar, "abc");
  AEDesc mistyped{typeAEList, bytes.dataHandle};
  EXPECT_STATUS(errAENotAEDesc, AECountItems(&mistyped, &n));
  AEDesc list = NewList();
  AEDesc listAsText{typeChar, list.dataHandle};
  EXPECT_STATUS(errAENotAEDesc, AEGetDescData(&listAsText, out, 4));

  AEDesc typedWithoutData{typeAlias, nullptr};
  EXPECT_STATUS(errAENotAEDesc, AEDuplicateDesc(&typedWithoutData, &result));
  EXPECT_STATUS(noErr, AEDisposeDesc(&typedWithoutData));
  EXPECT_TRUE(IsEmptyDesc(typedWithoutData));

  AEDisposeDesc(&list);
  AEDisposeDesc(&bytes);
}

TEST_F(AEDescriptorsTest, DuplicateIsADeepIndependentCopy) {
  AEDesc inner = NewList();
  ASSERT_STATUS(noErr, AEPutPtr(&inner, 0, typeAlias, "one", 3));
  AEDesc outer = NewList();
  ASSERT_STATUS(noErr, AEPutDesc(&outer, 0, &inner));
  ASSERT_STATUS(noErr, AEPutPtr(&outer, 0, typeChar, "two", 3));
  AEDisposeDesc(&inner);
  EXPECT_EQ(4, live()) << "outer, its nested list, the nested list's item and the text";

  AEDesc copy{typeNull, nullptr};
  ASSERT_STATUS(noErr, AEDuplicateDesc(&outer, &copy));
  EXPECT_EQ(8, live());
  ASSERT_STATUS(noErr, AEPutPtr(&outer, 2, typeChar, "changed", 7));
  AEDisposeDesc(&outer);

  EXPECT_EQ(typeAEList, copy.descriptorType);
  ASSERT_EQ(2, CountOf(copy));
  AEDesc nested{typeNull, nullptr};
  ASSERT_STATUS(noErr, AEGetNthDesc(&copy, 1, typeWildCard, nullptr, &nested));
  EXPECT_EQ(typeAEList, nested.descriptorType);
  AEDesc alias{typeNull, nullptr};
  ASSERT_STATUS(noErr, AEGetNthDesc(&nested, 1, typeAlias, nullptr, &alias));
  EXPECT_EQ("one", DataOf(alias));
  AEDesc text{typeNull, nullptr};
  ASSERT_STATUS(noErr, AEGetNthDesc(&copy, 2, typeChar, nullptr, &text));
  EXPECT_EQ("two", DataOf(text));
  for (AEDesc *d : {&text, &alias, &nested, &copy}) AEDisposeDesc(d);
}

TEST_F(AEDescriptorsTest, ListsAppendReplaceAndKeepTheirOwnCopies) {
  AEDesc list = NewList();
  EXPECT_EQ(typeAEList, list.descriptorType);
  EXPECT_EQ(0, CountOf(list));
  AEDesc item = Bytes(typeAlias, "first");
  ASSERT_STATUS(noErr, AEPutDesc(&list, 0, &item));
  AEDisposeDesc(&item);
  ASSERT_STATUS(noErr, AEPutPtr(&list, 0, typeAlias, "second", 6));
  ASSERT_EQ(2, CountOf(list));

  AEKeyword keyword = 1234;
  AEDesc got{typeNull, nullptr};
  ASSERT_STATUS(noErr, AEGetNthDesc(&list, 1, typeAlias, &keyword, &got));
  EXPECT_EQ(0u, keyword) << "plain list items have no keyword";
  EXPECT_EQ("first", DataOf(got));
  AEDisposeDesc(&got);

  ASSERT_STATUS(noErr, AEPutPtr(&list, 1, typeChar, "replaced", 8));
  ASSERT_EQ(2, CountOf(list));
  ASSERT_STATUS(noErr, AEGetNthDesc(&list, 1, typeWildCard, nullptr, &got));
  EXPECT_EQ(typeChar, got.descriptorType);
  EXPECT_EQ("replaced", DataOf(got));
  AEDisposeDesc(&got);

  // Index rules: reads take 1..count; puts take 0 (append) or 1..count.
  for (long bad : {-1L, 3L, 100L}) EXPECT_STATUS(errAEIllegalIndex, AEPutPtr(&list, bad, typeChar, "x", 1));
  for (long bad : {-1L, 0L, 3L}) {
    got = AEDesc{typeChar, reinterpret_cast<AEDataStorage>(0x1)};
    EXPECT_STATUS(errAEBadListItem, AEGetNthDesc(&list, bad, typeWildCard, nullptr, &got)) << bad;
    EXPECT_TRUE(IsEmptyDesc(got));
  }
  EXPECT_EQ(2, CountOf(list));
  AEDisposeDesc(&list);
}

TEST_F(AEDescriptorsTest, AListPutIntoItselfHoldsASnapshot) {
  AEDesc list = NewList();
  ASSERT_STATUS(noErr, AEPutPtr(&list, 0, typeChar, "a", 1));
  ASSERT_STATUS(noErr, AEPutDesc(&list, 0, &list));
  ASSERT_EQ(2, CountOf(list));
  AEDesc nested{typeNull, nullptr};
  ASSERT_STATUS(noErr, AEGetNthDesc(&list, 2, typeAEList, nullptr, &nested));
  EXPECT_EQ(1, CountOf(nested));
  AEDisposeDesc(&nested);
  AEDisposeDesc(&list);
}

// A menu item record as the command list builds it: name, command ID, and a
// submenu list under its keyword.
TEST_F(AEDescriptorsTest, RecordsKeepKeywordsInOrderAndReplaceByKeyword) {
  AEDesc record = NewList(true);
  EXPECT_EQ(typeAERecord, record.descriptorType);
  const UniChar title[] = {'Z', 'a', 'p'};
  SInt32 command = 2001;
  ASSERT_STATUS(noErr, AEPutParamPtr(&record, keyAEName, typeUnicodeText, title, sizeof title));
  ASSERT_STATUS(noErr, AEPutParamPtr(&record, keyContextualMenuCommandID, typeLongInteger, &command, 4));
  command = 2002;
  ASSERT_STATUS(noErr, AEPutParamPtr(&record, keyContextualMenuCommandID, typeLongInteger, &command, 4));
  AEDesc submenu = NewList();
  ASSERT_STATUS(noErr, AEPutPtr(&submenu, 0, typeChar, "child", 5));
  ASSERT_STATUS(noErr, AEPutParamDesc(&record, keyContextualMenuSubmenu, &submenu));
  AEDisposeDesc(&submenu);
  ASSERT_EQ(3, CountOf(record));

  AEKeyword keys[3];
  for (long i = 1; i <= 3; ++i) {
    AEDesc item{typeNull, nullptr};
    ASSERT_STATUS(noErr, AEGetNthDesc(&record, i, typeWildCard, &keys[i - 1], &item));
    AEDisposeDesc(&item);
  }
  EXPECT_EQ(keyAEName, keys[0]);
  EXPECT_EQ(keyContextualMenuCommandID, keys[1]);
  EXPECT_EQ(keyContextualMenuSubmenu, keys[2]);

  DescType type = 0;
  Size size = 0;
  SInt32 value = 0;
  ASSERT_STATUS(noErr, AEGetParamPtr(&record, keyContextualMenuCommandID, typeLongInteger, &type, &value, 4, &size));
  EXPECT_EQ(2002, value) << "the second put replaced the first";
  EXPECT_EQ(typeLongInteger, type);
  EXPECT_EQ(4, size);

  char cut[2] = {0, 0};
  ASSERT_STATUS(noErr, AEGetParamPtr(&record, keyAEName, typeWildCard, &type, cut, 2, &size));
  EXPECT_EQ(Size(sizeof title), size) << "the actual size is reported even when cut short";
  EXPECT_EQ(typeUnicodeText, type);

  AEDesc got{typeNull, nullptr};
  ASSERT_STATUS(noErr, AEGetParamDesc(&record, keyContextualMenuSubmenu, typeAEList, &got));
  EXPECT_EQ(1, CountOf(got));
  AEDisposeDesc(&got);
  EXPECT_STATUS(errAEWrongDataType,
                AEGetParamPtr(&record, keyContextualMenuSubmenu, typeWildCard, &type, cut, 2, &size));
  EXPECT_STATUS(errAEDescNotFound, AEGetParamDesc(&record, keyContextualMenuAttributes, typeWildCard, &got));
  EXPECT_STATUS(errAECoercionFail, AEGetParamDesc(&record, keyAEName, typeChar, &got));
  EXPECT_TRUE(IsEmptyDesc(got));

  // Record items come in by keyword; an index can only replace one.
  EXPECT_STATUS(errAEWrongDataType, AEPutPtr(&record, 0, typeChar, "x", 1));
  ASSERT_STATUS(noErr, AEPutPtr(&record, 1, typeChar, "Zap", 3));
  AEKeyword kept = 0;
  ASSERT_STATUS(noErr, AEGetNthDesc(&record, 1, typeChar, &kept, &got));
  EXPECT_EQ(keyAEName, kept);
  EXPECT_EQ("Zap", DataOf(got));
  AEDisposeDesc(&got);

  AEDesc list = NewList();
  EXPECT_STATUS(errAEWrongDataType, AEPutParamPtr(&list, keyAEName, typeChar, "x", 1));
  AEDesc text = Bytes(typeChar, "x");
  long n;
  EXPECT_STATUS(errAEWrongDataType, AECountItems(&text, &n));
  AEDesc none{typeNull, nullptr};
  EXPECT_STATUS(errAEWrongDataType, AECountItems(&none, &n));
  for (AEDesc *d : {&text, &list, &record}) AEDisposeDesc(d);
}

TEST_F(AEDescriptorsTest, CoercionTable) {
  struct Case {
    const char *name;
    AEDesc (*make)();
    DescType to;
    OSErr status;
    DescType resultType;
    long resultItems;  // -1: not a list
  };
  auto alias = [] { return Bytes(typeAlias, "/a"); };
  auto list = [] {
    AEDesc l = NewList();
    AEPutPtr(&l, 0, typeAlias, "/a", 2);
    AEPutPtr(&l, 0, typeAlias, "/b", 2);
    return l;
  };
  auto record = [] {
    AEDesc r = NewList(true);
    AEPutParamPtr(&r, keyAEName, typeChar, "n", 1);
    return r;
  };
  auto none = [] { return AEDesc{typeNull, nullptr}; };
  const Case cases[] = {
      {"alias as itself", alias, typeAlias, noErr, typeAlias, -1},
      {"alias as anything", alias, typeWildCard, noErr, typeAlias, -1},
      {"alias as list", alias, typeAEList, noErr, typeAEList, 1},
      {"alias as FSRef", alias, typeFSRef, errAECoercionFail, typeNull, -1},
      {"alias as text", alias, typeChar, errAECoercionFail, typeNull, -1},
      {"list as list", list, typeAEList, noErr, typeAEList, 2},
      {"list as anything", list, typeWildCard, noErr, typeAEList, 2},
      {"list as alias", list, typeAlias, errAECoercionFail, typeNull, -1},
      {"list as record", list, typeAERecord, errAECoercionFail, typeNull, -1},
      {"nothing as list", none, typeAEList, noErr, typeAEList, 0},
      {"nothing as nothing", none, typeNull, noErr, typeNull, -1},
      {"nothing as alias", none, typeAlias, errAECoercionFail, typeNull, -1},
      {"record as list", record, typeAEList, noErr, typeAEList, 1},
      {"record as record", record, typeAERecord, noErr, typeAERecord, -1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    AEDesc from = c.make();
    CFIndex before = live();
    AEDesc to{typeAlias, reinterpret_cast<AEDataStorage>(0x1)};
    EXPECT_STATUS(c.status, AECoerceDesc(&from, c.to, &to));
    EXPECT_EQ(c.resultType, to.descriptorType);
    if (c.resultItems >= 0) {
      EXPECT_EQ(c.resultItems, CountOf(to));
    }
    if (c.status != noErr) {
      EXPECT_TRUE(IsEmptyDesc(to));
      EXPECT_EQ(before, live());
    }
    // As a list item, the same coercions apply.
    if (from.descriptorType != typeNull) {
      AEDesc holder = NewList();
      AEPutDesc(&holder, 0, &from);
      AEDesc item{typeNull, nullptr};
      EXPECT_STATUS(c.status, AEGetNthDesc(&holder, 1, c.to, nullptr, &item));
      EXPECT_EQ(c.resultType, item.descriptorType);
      AEDisposeDesc(&item);
      AEDisposeDesc(&holder);
    }
    AEDisposeDesc(&to);
    AEDisposeDesc(&from);
  }
}

// Every allocation of a deep operation is made to fail in turn: each failure
// leaves the inputs as they were, the result empty, and nothing behind.
TEST_F(AEDescriptorsTest, AllocationFailuresLeaveEverythingAsItWas) {
  AEDesc inner = NewList();
  AEPutPtr(&inner, 0, typeAlias, "/x", 2);
  AEPutPtr(&inner, 0, typeAlias, "/y", 2);
  AEDesc outer = NewList();
  AEPutDesc(&outer, 0, &inner);
  AEPutPtr(&outer, 0, typeChar, "t", 1);
  AEDisposeDesc(&inner);
  const CFIndex built = live();

  int failures = 0;
  for (CFIndex n = 1; n < 50; ++n) {
    TVAEFailNthAllocation(n);
    AEDesc copy{typeNull, nullptr};
    OSErr err = AEDuplicateDesc(&outer, &copy);
    TVAEFailNthAllocation(0);
    if (err == noErr) {
      EXPECT_EQ(2 * built, live());
      AEDisposeDesc(&copy);
      break;
    }
    ++failures;
    EXPECT_STATUS(memFullErr, err);
    EXPECT_TRUE(IsEmptyDesc(copy));
    EXPECT_EQ(built, live()) << "allocation " << n;
  }
  EXPECT_EQ(built, failures) << "one failure for each storage object of the copy";

  for (CFIndex n = 1; n <= 3; ++n) {
    TVAEFailNthAllocation(n);
    OSErr err = AEPutDesc(&outer, 0, &outer);
    TVAEFailNthAllocation(0);
    EXPECT_STATUS(memFullErr, err);
    EXPECT_EQ(2, CountOf(outer)) << "a failed put leaves the list as it was";
    EXPECT_EQ(built, live());
  }
  TVAEFailNthAllocation(1);
  AEDesc made{typeNull, nullptr};
  EXPECT_STATUS(memFullErr, AECreateList(nullptr, 0, false, &made));
  TVAEFailNthAllocation(2);
  AEDesc alias = Bytes(typeAlias, "/z");
  EXPECT_STATUS(memFullErr, AECoerceDesc(&alias, typeAEList, &made));
  EXPECT_TRUE(IsEmptyDesc(made));
  TVAEFailNthAllocation(0);

  AEDesc record = NewList(true);
  AEPutParamPtr(&record, keyAEName, typeChar, "old", 3);
  TVAEFailNthAllocation(1);
  EXPECT_STATUS(memFullErr, AEPutParamPtr(&record, keyAEName, typeChar, "new", 3));
  TVAEFailNthAllocation(0);
  AEDesc name{typeNull, nullptr};
  ASSERT_STATUS(noErr, AEGetParamDesc(&record, keyAEName, typeChar, &name));
  EXPECT_EQ("old", DataOf(name));
  EXPECT_EQ(1, CountOf(record));
  AEDisposeDesc(&name);
  AEDisposeDesc(&record);
  AEDisposeDesc(&alias);
  AEDisposeDesc(&outer);
}

}  // namespace
