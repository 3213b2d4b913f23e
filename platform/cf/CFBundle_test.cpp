// Opening bundles, finding them by identifier, their factories and their
// localized strings, on real bundle folders in a temporary tree.
#include "platform/HostServices.h"
#include "tests/support/CFFixture.h"
#include "tests/support/TestSupport.h"

#include <plist/plist.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

using tv::test::CFOwned;
using tv::test::Utf8;

namespace {

constexpr const char *kTypeID = "2F6522E9-3E66-11D5-80A7-003065B300BC";
constexpr const char *kFactoryA = "A1B2C3D4-0000-4000-8000-00000000000A";
constexpr const char *kFactoryB = "A1B2C3D4-0000-4000-8000-00000000000B";

std::string InfoPlist(const std::string &dictBody) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\"><dict>" + dictBody + "</dict></plist>\n";
}

std::string PlugInInfo(const std::string &identifier) {
  return InfoPlist("<key>CFBundleIdentifier</key><string>" + identifier + "</string>"
                   "<key>CFBundleExecutable</key><string>Tarrovel.so</string>"
                   "<key>CFPlugInFactories</key><dict>"
                   "<key>" + std::string(kFactoryB) + "</key><string>FactoryB</string>"
                   "<key>" + kFactoryA + "</key><string>MyCMMFactory</string>"
                   "<key>not-a-uuid</key><string>Ignored</string>"
                   "</dict>"
                   "<key>CFPlugInTypes</key><dict>"
                   "<key>" + kTypeID + "</key><array>"
                   "<string>" + kFactoryA + "</string>"
                   "<string>00000000-0000-0000-0000-0000000000FF</string>"
                   "<string>" + kFactoryB + "</string>"
                   "</array></dict>"
                   "<key>Declared</key><array><dict><key>n</key><integer>-7</integer>"
                   "<key>on</key><true/><key>real</key><real>1.5</real></dict><string>s</string></array>");
}

// Sets or unsets environment variables for the life of the object.
using EnvVars = std::map<std::string, std::optional<std::string>>;
class ScopedEnv {
 public:
  explicit ScopedEnv(const EnvVars &vars) {
    for (const auto &[name, value] : vars) {
      const char *old = std::getenv(name.c_str());
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
      if (value) setenv(name.c_str(), value->c_str(), 1);
      else unsetenv(name.c_str());
    }
  }
  ~ScopedEnv() {
    for (const auto &[name, value] : saved_) {
      if (value) setenv(name.c_str(), value->c_str(), 1);
      else unsetenv(name.c_str());
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

class CFBundleTest : public tv::test::CFBalanceTest {
 protected:
  // A bundle with English and Japanese tables, opened; the caller releases it.
  CFBundleRef OpenLocalizedBundle(const std::string &name = "Loc.plugin") {
    tree.file(name + "/Contents/Info.plist", PlugInInfo("org.example." + name));
    tree.file(name + "/Contents/Resources/en.lproj/Localizable.strings",
              "\"Zap\" = \"Zap\";\n\"Cancel\" = \"Cancel\";\n\"Only in English\" = \"English text\";\n");
    tree.file(name + "/Contents/Resources/ja.lproj/Localizable.strings",
              "\"Zap\" = \"\xE6\xB6\x88\xE5\x8E\xBB\";\n\"Cancel\" = \"\xE3\x82\xAD\xE3\x83\xA3\xE3\x83\xB3\xE3\x82\xBB\xE3\x83\xAB\";\n");
    tree.file(name + "/Contents/Resources/ja.lproj/Errors.strings", "\"Oops\" = \"\xE3\x81\x8A\xE3\x81\xA3\";\n");
    OSStatus err = 1;
    CFBundleRef b = TVBundleCreateWithPath(tree.path(name).c_str(), &err);
    EXPECT_STATUS(noErr, err);
    return b;
  }

  std::string Localized(CFBundleRef b, const char *key, CFStringRef value = nullptr,
                        CFStringRef table = nullptr) {
    CFOwned<CFStringRef> k(CFStringCreateWithCString(nullptr, key, kCFStringEncodingUTF8));
    CFOwned<CFStringRef> s(CFBundleCopyLocalizedString(b, k, value, table));
    return Utf8(s);
  }

  tv::test::TempTree tree;
};

TEST_F(CFBundleTest, ReadsIdentifierExecutableAndFactoriesInOrder) {
  tree.file("My.plugin/Contents/Info.plist", PlugInInfo("org.example.my"));
  OSStatus err = 1;
  CFOwned<CFBundleRef> b(TVBundleCreateWithPath((tree.path("My.plugin") + "/").c_str(), &err));
  ASSERT_STATUS(noErr, err);
  ASSERT_TRUE(b);
  EXPECT_EQ("org.example.my", Utf8(CFBundleGetIdentifier(b)));
  CFOwned<CFStringRef> exe(TVBundleCopyExecutablePath(b));
  EXPECT_EQ(tree.path("My.plugin/Contents/MacOS/Tarrovel.so"), Utf8(exe));

  CFOwned<CFStringRef> typeText(CFStringCreateWithCString(nullptr, kTypeID, kCFStringEncodingUTF8));
  CFOwned<CFUUIDRef> type(CFUUIDCreateFromString(nullptr, typeText));
  CFUUIDRef ids[4] = {};
  CFStringRef names[4] = {};
  ASSERT_EQ(2, TVBundleCopyFactoriesForType(b, type, ids, names, 4));  // the unknown factory is left out
  CFOwned<CFStringRef> id0(CFUUIDCreateString(nullptr, ids[0]));
  EXPECT_EQ(kFactoryA, Utf8(id0));
  EXPECT_EQ("MyCMMFactory", Utf8(names[0]));
  EXPECT_EQ("FactoryB", Utf8(names[1]));
  for (int i = 0; i < 2; ++i) {
    CFRelease(ids[i]);
    CFRelease(names[i]);
  }
  EXPECT_EQ(1, TVBundleCopyFactoriesForType(b, type, ids, names, 1));
  CFRelease(ids[0]);
  CFRelease(names[0]);
  CFUUIDRef otherType = CFUUIDGetConstantUUIDWithBytes(nullptr, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10,
                                                       11, 12, 13, 14, 15, 16);
  EXPECT_EQ(0, TVBundleCopyFactoriesForType(b, otherType, ids, names, 4));
  TVCFFailNthAllocation(2);  // the first function name: nothing is handed out, nothing leaks
  EXPECT_EQ(0, TVBundleCopyFactoriesForType(b, type, ids, names, 4));

  // Other keys, as CF objects: what has no CF type here is left out.
  auto declared = static_cast<CFArrayRef>(CFBundleGetValueForInfoDictionaryKey(b, CFSTR("Declared")));
  ASSERT_EQ(CFArrayGetTypeID(), CFGetTypeID(declared));
  ASSERT_EQ(2, CFArrayGetCount(declared));
  auto entry = static_cast<CFDictionaryRef>(CFArrayGetValueAtIndex(declared, 0));
  EXPECT_EQ(2, CFDictionaryGetCount(entry));
  int32_t n = 0;
  EXPECT_TRUE(CFNumberGetValue(static_cast<CFNumberRef>(CFDictionaryGetValue(entry, CFSTR("n"))), kCFNumberSInt32Type, &n));
  EXPECT_EQ(-7, n);
  EXPECT_EQ(kCFBooleanTrue, CFDictionaryGetValue(entry, CFSTR("on")));
  EXPECT_EQ("s", Utf8(static_cast<CFStringRef>(CFArrayGetValueAtIndex(declared, 1))));
  EXPECT_EQ(declared, CFBundleGetValueForInfoDictionaryKey(b, CFSTR("Declared")));  // read once
  EXPECT_EQ(nullptr, CFBundleGetValueForInfoDictionaryKey(b, CFSTR("Absent")));
}

TEST_F(CFBundleTest, ReadsBinaryInfoPlist) {
  plist_t dict = plist_new_dict();
  plist_dict_set_item(dict, "CFBundleIdentifier", plist_new_string("org.example.binary"));
  char *bin = nullptr;
  uint32_t length = 0;
  plist_to_bin(dict, &bin, &length);
  tree.file("Bin.plugin/Contents/Info.plist", std::string(bin, length));
  plist_to_bin_free(bin);
  plist_free(dict);
  OSStatus err = 1;
  CFOwned<CFBundleRef> b(TVBundleCreateWithPath(tree.path("Bin.plugin").c_str(), &err));
  EXPECT_STATUS(noErr, err);
  EXPECT_EQ("org.example.binary", Utf8(CFBundleGetIdentifier(b)));
  EXPECT_EQ(nullptr, TVBundleCopyExecutablePath(b));  // none named
}

TEST_F(CFBundleTest, ReportsWhyABundleDoesNotOpen) {
  struct Case {
    const char *name;
    std::optional<std::string> info;
    OSStatus expected;
  } cases[] = {
      {"NoInfo.plugin", std::nullopt, fnfErr},
      {"Garbage.plugin", std::string("this is not a property list"), paramErr},
      {"Empty.plugin", std::string(""), paramErr},
      {"Array.plugin", std::string("<plist version=\"1.0\"><array/></plist>"), paramErr},
      {"NoId.plugin", InfoPlist("<key>CFBundleExecutable</key><string>x.so</string>"), paramErr},
      {"IntId.plugin", InfoPlist("<key>CFBundleIdentifier</key><integer>3</integer>"), paramErr},
      {"EmptyId.plugin", InfoPlist("<key>CFBundleIdentifier</key><string></string>"), paramErr},
  };
  for (const Case &c : cases) {
    tree.folder(std::string(c.name) + "/Contents");
    if (c.info) tree.file(std::string(c.name) + "/Contents/Info.plist", *c.info);
    OSStatus err = 0;
    EXPECT_EQ(nullptr, TVBundleCreateWithPath(tree.path(c.name).c_str(), &err)) << c.name;
    EXPECT_STATUS(c.expected, err) << c.name;
  }
  OSStatus err = 0;
  EXPECT_EQ(nullptr, TVBundleCreateWithPath(tree.path("does/not/exist").c_str(), &err));
  EXPECT_STATUS(fnfErr, err);
  EXPECT_EQ(nullptr, TVBundleCreateWithPath(nullptr, &err));
  EXPECT_STATUS(paramErr, err);
  tree.file("Ok.plugin/Contents/Info.plist", PlugInInfo("org.example.ok"));
  TVCFFailNthAllocation(1);
  EXPECT_EQ(nullptr, TVBundleCreateWithPath(tree.path("Ok.plugin").c_str(), &err));
  EXPECT_STATUS(memFullErr, err);
  TVCFFailNthAllocation(2);  // the identifier string
  EXPECT_EQ(nullptr, TVBundleCreateWithPath(tree.path("Ok.plugin").c_str(), nullptr));
}

TEST_F(CFBundleTest, FindsOpenBundlesByIdentifierUntilTheirLastRelease) {
  tree.file("One.plugin/Contents/Info.plist", PlugInInfo("org.example.same"));
  tree.file("Two.plugin/Contents/Info.plist", PlugInInfo("org.example.same"));
  CFStringRef id = CFSTR("org.example.same");
  EXPECT_EQ(nullptr, CFBundleGetBundleWithIdentifier(id));
  CFBundleRef one = TVBundleCreateWithPath(tree.path("One.plugin").c_str(), nullptr);
  CFBundleRef two = TVBundleCreateWithPath(tree.path("Two.plugin").c_str(), nullptr);
  ASSERT_TRUE(one && two);
  EXPECT_EQ(one, CFBundleGetBundleWithIdentifier(id));  // the first opened wins
  EXPECT_EQ(nullptr, CFBundleGetBundleWithIdentifier(CFSTR("org.example.other")));
  CFRetain(one);
  CFRelease(one);
  EXPECT_EQ(one, CFBundleGetBundleWithIdentifier(id));
  CFRelease(one);
  EXPECT_EQ(two, CFBundleGetBundleWithIdentifier(id));
  CFRelease(two);
  EXPECT_EQ(nullptr, CFBundleGetBundleWithIdentifier(id));
}

TEST_F(CFBundleTest, LooksUpTheUsersLanguageThenEnglishThenValueThenKey) {
  ScopedEnv env(EnvVars{{"LANGUAGE", std::nullopt}, {"LC_ALL", std::nullopt}, {"LC_MESSAGES", std::nullopt},
                 {"LANG", "ja_JP.UTF-8"}});
  CFOwned<CFBundleRef> b(OpenLocalizedBundle());
  EXPECT_EQ("ja", Utf8(TVBundleGetLanguage(b)));
  EXPECT_EQ("\xE6\xB6\x88\xE5\x8E\xBB", Localized(b, "Zap"));
  EXPECT_EQ("English text", Localized(b, "Only in English"));
  EXPECT_EQ("Fallback", Localized(b, "Nowhere", CFSTR("Fallback")));
  EXPECT_EQ("Nowhere", Localized(b, "Nowhere"));
  EXPECT_EQ("Nowhere", Localized(b, "Nowhere", CFSTR("")));
  EXPECT_EQ("", Localized(b, "", CFSTR("")));
  EXPECT_EQ("\xE3\x81\x8A\xE3\x81\xA3", Localized(b, "Oops", nullptr, CFSTR("Errors")));
  EXPECT_EQ("Zap", Localized(b, "Zap", nullptr, CFSTR("../Errors")));  // not a table name
  EXPECT_EQ("Zap", Localized(b, "Zap", nullptr, CFSTR("Missing")));
  // Without a bundle: value, else key.
  EXPECT_EQ("v", Localized(nullptr, "k", CFSTR("v")));
  EXPECT_EQ("k", Localized(nullptr, "k"));
  EXPECT_EQ(nullptr, CFBundleCopyLocalizedString(nullptr, nullptr, nullptr, nullptr));
}

TEST_F(CFBundleTest, FallsBackToEnglishWhenTheLanguageHasNoFolder) {
  ScopedEnv env(EnvVars{{"LANGUAGE", "de:fr"}, {"LC_ALL", "C"}, {"LC_MESSAGES", std::nullopt}, {"LANG", "sv_SE.UTF-8"}});
  CFOwned<CFBundleRef> b(OpenLocalizedBundle());
  EXPECT_EQ("en", Utf8(TVBundleGetLanguage(b)));
  EXPECT_EQ("Cancel", Localized(b, "Cancel"));
  ScopedEnv ja(EnvVars{{"LANGUAGE", "de:ja"}});
  EXPECT_EQ("ja", Utf8(TVBundleGetLanguage(b)));
  EXPECT_EQ("\xE3\x82\xAD\xE3\x83\xA3\xE3\x83\xB3\xE3\x82\xBB\xE3\x83\xAB", Localized(b, "Cancel"));
}

TEST_F(CFBundleTest, ParsesEachTableOnceAndCachesIt) {
  ScopedEnv env(EnvVars{{"LANGUAGE", "en"}});
  CFOwned<CFBundleRef> b(OpenLocalizedBundle());
  EXPECT_EQ("Cancel", Localized(b, "Cancel"));
  tree.file("Loc.plugin/Contents/Resources/en.lproj/Localizable.strings", "\"Cancel\" = \"Changed\";");
  EXPECT_EQ("Cancel", Localized(b, "Cancel"));
  // Another bundle object reads the file afresh.
  CFOwned<CFBundleRef> again(TVBundleCreateWithPath(tree.path("Loc.plugin").c_str(), nullptr));
  EXPECT_EQ("Changed", Localized(again, "Cancel"));
}

TEST_F(CFBundleTest, BrokenTableShowsKeysAndSaysSoOnce) {
  ScopedEnv env(EnvVars{{"LANGUAGE", "ja"}});
  CFOwned<CFBundleRef> b(OpenLocalizedBundle("Broken.plugin"));
  const std::string path = tree.path("Broken.plugin/Contents/Resources/ja.lproj/Localizable.strings");
  tree.file("Broken.plugin/Contents/Resources/ja.lproj/Localizable.strings",
            "\"Zap\" = \"\xE6\xB6\x88\xE5\x8E\xBB\";\n\"Cancel\" = \"unterminated;\n");
  // The line goes to the host's console, not to standard error behind its back.
  std::string console;
  TVSetConsoleSink([](const char *text, void *to) { *static_cast<std::string *>(to) += text; }, &console);
  testing::internal::CaptureStderr();
  EXPECT_EQ("Zap", Localized(b, "Zap"));  // the English table still answers
  EXPECT_EQ("Cancel", Localized(b, "Cancel"));
  CFOwned<CFBundleRef> again(TVBundleCreateWithPath(tree.path("Broken.plugin").c_str(), nullptr));
  EXPECT_EQ("Zap", Localized(again, "Zap"));
  const std::string err = testing::internal::GetCapturedStderr();
  TVSetConsoleSink(nullptr, nullptr);
  EXPECT_EQ("tarrovel: " + path + ":2: syntax error in strings file; showing untranslated texts\n", console);
  EXPECT_EQ("", err);
}

}  // namespace
