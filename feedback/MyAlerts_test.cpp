#include "feedback/MyAlerts.h"

#include "platform/HostServices.h"
#include "platform/files/Errors.h"
#include "platform/cf/StringsFile.h"
#include "support/MyBundle.h"
#include "support/MyCFAutoreleasePool.h"
#include "support/MyStatus.h"
#include "tests/support/Selection.h"
#include "tests/support/TestSupport.h"
#include "zap/MyConfirm.h"

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <regex>

namespace {

struct Shown {
  TVAlertRequest request{};
  std::string message, explanation, buttons[3];
  int count = 0;
  SInt32 answer = 1;
};
Shown *sShown = nullptr;

SInt32 Present(const TVAlertRequest *r, void *) {
  sShown->count++;
  sShown->request = *r;
  sShown->message = r->message;
  sShown->explanation = r->explanation ? r->explanation : "(none)";
  for (int i = 0; i < 3; i++) sShown->buttons[i] = r->buttons[i] ? r->buttons[i] : "";
  return sShown->answer;
}

class AlertTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sShown = &shown;
    TVSetAlertPresenter(Present, nullptr);
    pool = MyCFAutoreleasePoolCreate();
    live = TVCFGetLiveObjectCount();
  }
  void TearDown() override {
    MyCFAutoreleasePoolDispose(pool);
    TVSetAlertPresenter(nullptr, nullptr);
    EXPECT_EQ(TVGetLiveAlertCount(), 0);
    sShown = nullptr;
  }
  void OpenBundle(const char *lang = "C") {
    setenv("LANG", lang, 1);
    unsetenv("LANGUAGE");
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");
    OSStatus err = noErr;
    bundle = TVBundleCreateWithPath(TV_BUNDLE_DIR, &err);  // kept for the process: the plug-in caches it
    ASSERT_NE(bundle, nullptr);
  }
  tv::test::TempTree tree;
  Shown shown;
  MyCFAutoreleasePool pool = nullptr;
  CFBundleRef bundle = nullptr;
  CFIndex live = 0;
};

TEST_F(AlertTest, LockedFileNamesThePathAndSaysWhatToDo) {
  OpenBundle();
  FSRef ref = tv::test::RefFor(tree.file("b.txt"));
  EXPECT_STATUS(noBeepErr, MyAlertError(fLckdErr, &ref, nullptr));
  EXPECT_EQ(shown.count, 1);
  EXPECT_EQ(shown.request.type, kAlertStopAlert);
  EXPECT_EQ(shown.message, "file is locked: " + tree.path("b.txt"));
  EXPECT_EQ(shown.explanation, "Change lock status using Finder Get Info.");
  EXPECT_EQ(shown.buttons[0], "OK");
  EXPECT_EQ(shown.buttons[1], "");
  EXPECT_EQ(shown.request.cancelButton, 0);
}

TEST_F(AlertTest, SilentForSuccessAndForErrorsAlreadyShown) {
  OpenBundle();
  FSRef ref = tv::test::RefFor(tree.file("x"));
  EXPECT_STATUS(noErr, MyAlertError(noErr, &ref, nullptr));
  EXPECT_STATUS(noErr, MyAlertError(noBeepErr, nullptr, nullptr));
  EXPECT_EQ(shown.count, 0);
}

TEST_F(AlertTest, CancelWithoutItemShowsAnEmptyPathAndExplanation) {
  OpenBundle();
  EXPECT_STATUS(noBeepErr, MyAlertError(userCanceledErr, nullptr, nullptr));
  EXPECT_EQ(shown.message, "canceled by user: ");
  EXPECT_EQ(shown.explanation, "");
}

TEST_F(AlertTest, UnknownStatusShowsItsNumberUntranslated) {
  OpenBundle("ja_JP.UTF-8");
  FSRef ref = tv::test::RefFor(tree.file("y"));
  EXPECT_STATUS(noBeepErr, MyAlertError(memFullErr, &ref, nullptr));
  EXPECT_EQ(shown.message, "予期しないエラーが起きました: " + tree.path("y"));
  EXPECT_EQ(shown.explanation, "error code = -108");
  EXPECT_STATUS(noBeepErr, MyAlertError(wPrErr, &ref, nullptr));
  EXPECT_EQ(shown.explanation, "ディスクの書き込み禁止の設定を確認してください。");
}

TVFailureCause Cause(TVFailureReason reason, TVFailureStore store, const char *name, const char *path) {
  return {ioErr, reason, store, name, path, "user.com.apple.ResourceFork", "/media/u/Mac Stick", "alice", "bob", 0644,
          false, false, "EIO", "Input/output error"};
}

std::string Line(CFBundleRef bundle, const TVFailureCause &c) {
  CFStringRef line = MyCFAutoreleaseT(MyCopyFailureCauseLine(bundle, &c));
  char text[1024] = "(none)";
  if (line != nullptr) CFStringGetCString(line, text, sizeof text, kCFStringEncodingUTF8);
  return text;
}

TEST_F(AlertTest, CauseLineNamesTheStoreWhyAndTheFix) {
  OpenBundle();
  TVFailureCause immutable = Cause(kTVFailureImmutable, kTVFailureStoreEntry, "._C.pdf", "/m/Mac Stick/Bob's/._C.pdf");
  TVFailureCause appendFolder = Cause(kTVFailureAppendOnly, kTVFailureStoreFolder, "Docs", "/d/Docs");
  appendFolder.userIsRoot = true;
  TVFailureCause readOnly = Cause(kTVFailureReadOnlyVolume, kTVFailureStoreAttribute, "a.txt", "/m/a.txt");
  TVFailureCause own = Cause(kTVFailureNoAccess, kTVFailureStoreFolder, "d", "/d");
  own.userIsOwner = true;
  own.mode = 0555;
  TVFailureCause ownButAllowed = Cause(kTVFailureNoAccess, kTVFailureStoreEntry, "._a", "/d/._a");
  ownButAllowed.userIsOwner = true;  // the owner's bits allow it: say what the system said
  TVFailureCause other = Cause(kTVFailureNoAccess, kTVFailureStoreEntry, "._a", "/d/._a");
  TVFailureCause unknown = Cause(kTVFailureImmutable, kTVFailureStoreUnknown, "", "");  // no command without a path
  struct Row {
    const TVFailureCause &cause;
    const char *line;
  } rows[] = {
      {immutable, "Cause: ._C.pdf is immutable (chattr +i), so nobody can change it. To clear the flag: "
                  "sudo chattr -i '/m/Mac Stick/Bob'\\''s/._C.pdf'"},
      {appendFolder, "Cause: the folder Docs is append-only (chattr +a), so it can only grow. To clear the flag: "
                     "chattr -a '/d/Docs'"},
      {readOnly, "Cause: the attribute user.com.apple.ResourceFork of a.txt is on a volume mounted read-only at "
                 "/media/u/Mac Stick. To mount it read-write: sudo mount -o remount,rw '/media/u/Mac Stick'"},
      {own, "Cause: the folder d is yours, but its permissions (r-xr-xr-x) do not let you change it. To allow "
            "it: chmod u+w '/d'"},
      {ownButAllowed, "Cause: ._a: Input/output error (EIO)."},
      {other, "Cause: ._a belongs to alice, and its permissions (rw-r--r--) do not let you (bob) change it; its "
              "owner or an administrator can."},
      {unknown, "Cause: the item: Input/output error (EIO)."},
  };
  for (const Row &row : rows) EXPECT_EQ(Line(bundle, row.cause), row.line);
}

TEST_F(AlertTest, CauseLineInJapaneseWithItsOwnPunctuation) {
  OpenBundle("ja_JP.UTF-8");
  TVFailureCause full = Cause(kTVFailureNoSpace, kTVFailureStoreAttribute, "a.txt", "/s/a.txt");
  EXPECT_EQ(Line(bundle, full),
            "原因：拡張属性 user.com.apple.ResourceFork（「a.txt」）のあるデバイス（/media/u/Mac Stick にマウント）に"
            "空き容量がありません。空きを作ってからやり直してください。");
}

TEST_F(AlertTest, StopAlertAddsTheCauseOfTheFailureItReports) {
  OpenBundle();
  std::string f = tree.file("f");
  FSRef ref = tv::test::RefFor(f);
  ASSERT_STATUS(dskFulErr, tv::files::StatusFromErrnoAt(ENOSPC, AT_FDCWD, f.c_str()));
  EXPECT_STATUS(noBeepErr, MyAlertError(dskFulErr, &ref, nullptr));
  EXPECT_EQ(shown.message, "unexpected error: " + f);
  EXPECT_EQ(shown.explanation.rfind("error code = -34\nCause: no space is left on the device that holds f (mounted at ", 0),
            0u)
      << shown.explanation;
  // Another status is not explained by that failure; a cancel never is.
  EXPECT_STATUS(noBeepErr, MyAlertError(ioErr, &ref, nullptr));
  EXPECT_EQ(shown.explanation, "error code = -36");
  EXPECT_STATUS(noBeepErr, MyAlertError(userCanceledErr, nullptr, nullptr));
  EXPECT_EQ(shown.explanation, "");
}

TEST_F(AlertTest, EveryTableRowHasItsTexts) {
  const OSStatus rows[] = {afpAccessDenied, wPrErr, fLckdErr, dupFNErr, permErr, wrPermErr, userCanceledErr};
  for (OSStatus err : rows) {
    CFStringRef format = nullptr, explanation = nullptr;
    MyAlertErrorKeys(err, &format, &explanation);
    ASSERT_NE(format, nullptr);
    ASSERT_NE(explanation, nullptr) << err;
  }
  CFStringRef format = nullptr, explanation = CFSTR("x");
  MyAlertErrorKeys(-36, &format, &explanation);
  EXPECT_TRUE(CFEqual(format, CFSTR("unexpected error: %@")));
  EXPECT_EQ(explanation, nullptr);
}

// Every key an alert looks up: the stop alerts' rows and the confirmations.
std::vector<CFStringRef> AlertKeys() {
  std::vector<CFStringRef> keys = {CFSTR("Zap"), CFSTR("Cancel"),
                                   CFSTR("cannot scan inside of %d folder(s), check access privileges.\n\n")};
  for (CFStringRef cause : {CFSTR("CauseStoreEntry"), CFSTR("CauseStoreFolder"), CFSTR("CauseStoreAttribute"),
                            CFSTR("CauseStoreUnknown"), CFSTR("CauseImmutable"), CFSTR("CauseAppendOnly"),
                            CFSTR("CauseReadOnlyVolume"), CFSTR("CauseNoAccessOwn"), CFSTR("CauseNoAccessOther"),
                            CFSTR("CauseNoSpace"), CFSTR("CauseQuota"), CFSTR("CauseChanged"), CFSTR("CauseOther")})
    keys.push_back(cause);
  const OSStatus statuses[] = {afpAccessDenied, wPrErr, fLckdErr, dupFNErr, permErr, wrPermErr, userCanceledErr, -36};
  for (OSStatus err : statuses) {
    CFStringRef format = nullptr, explanation = nullptr;
    MyAlertErrorKeys(err, &format, &explanation);
    keys.push_back(format);
    if (explanation != nullptr && CFStringGetLength(explanation) > 0) keys.push_back(explanation);
  }
  for (bool data : {true, false}) {
    for (bool recursive : {false, true}) {
      for (bool over : {false, true}) {
        MyFileCountInfo info = {};
        info.timeOver = over;
        CFStringRef message = nullptr, explanation = nullptr;
        MyConfirmZapForkKeys(info, data, recursive, &message, &explanation);
        keys.push_back(message);
        keys.push_back(explanation);
      }
    }
  }
  for (int which = 1; which <= 3; which++) {
    MyFileCountInfo info = {};
    info.containsVolume = which & 1;
    info.containsHomeDir = which & 2;
    keys.push_back(MyConfirmVolumeOrHomeKey(info));
  }
  return keys;
}

std::string Specifiers(const std::u16string &text) {
  std::string narrow;
  for (char16_t c : text) narrow += c < 0x80 ? char(c) : '?';
  std::string found;
  static const std::regex directive("%[-+ #0-9.]*(l|ll|z)?[@dDiuxXsfgc%]");
  for (auto it = std::sregex_iterator(narrow.begin(), narrow.end(), directive); it != std::sregex_iterator(); ++it) {
    found += it->str() + " ";
  }
  return found;
}

// A key missing from a table shows the English key; a translation that drops
// or reorders %@ or %d shows the wrong path or number.
TEST(AlertTablesTest, EveryAlertKeyIsInBothTablesWithTheSameSpecifiers) {
  std::map<std::string, tv::cf::StringsTable> tables;
  for (const char *language : {"en", "ja"}) {
    std::ifstream in(std::string(TV_BUNDLE_DIR) + "/Contents/Resources/" + language + ".lproj/Localizable.strings",
                     std::ios::binary);
    ASSERT_TRUE(in) << language;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t line = 0;
    ASSERT_TRUE(tv::cf::ParseStringsFile(
        std::span(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size()), &tables[language], &line))
        << language << " line " << line;
  }
  for (CFStringRef cfKey : AlertKeys()) {
    ASSERT_NE(cfKey, nullptr);
    CFIndex length = CFStringGetLength(cfKey);
    std::u16string k(size_t(length), u'\0');
    CFStringGetCharacters(cfKey, CFRangeMake(0, length), reinterpret_cast<UniChar *>(k.data()));
    char key[512] = "";
    CFStringGetCString(cfKey, key, sizeof key, kCFStringEncodingUTF8);
    auto en = tables["en"].find(k);
    auto ja = tables["ja"].find(k);
    ASSERT_NE(en, tables["en"].end()) << "en lacks " << key;
    ASSERT_NE(ja, tables["ja"].end()) << "ja lacks " << key;
    EXPECT_EQ(Specifiers(en->second), Specifiers(ja->second)) << key;
  }
}

OSStatus Custom(OSStatus, const FSRef *, CFStringRef *f, CFStringRef *e) {
  *f = CFStringCreateWithCString(nullptr, "custom %@!", kCFStringEncodingUTF8);
  *e = CFStringCreateWithCString(nullptr, "why", kCFStringEncodingUTF8);
  return noErr;
}
OSStatus Declines(OSStatus, const FSRef *, CFStringRef *f, CFStringRef *) {
  *f = CFSTR("ignored %@");
  return -1;
}

TEST_F(AlertTest, CustomizerTextsWinOnlyWhenItSucceeds) {
  OpenBundle();
  EXPECT_STATUS(noBeepErr, MyAlertError(permErr, nullptr, Custom));
  EXPECT_EQ(shown.message, "custom !");
  EXPECT_EQ(shown.explanation, "why");
  EXPECT_STATUS(noBeepErr, MyAlertError(permErr, nullptr, Declines));
  EXPECT_EQ(shown.message, "permissions error: ");
}

TEST_F(AlertTest, WithoutTheBundleNothingIsShown) {
  // No bundle opened in this process: the texts cannot be found. (ctest runs
  // each test in a process of its own; run together, another test may have
  // opened the bundle already, and the plug-in keeps it.)
  if (CFBundleGetBundleWithIdentifier(kMyBundleIdentifier) != nullptr) GTEST_SKIP() << "bundle already open";
  EXPECT_STATUS(nilPointerErr, MyAlertError(fLckdErr, nullptr, nullptr));
  EXPECT_EQ(shown.count, 0);
}

TEST_F(AlertTest, StandardAlertButtonsAndItemHit) {
  EXPECT_STATUS(paramErr, MyStandardAlert(kAlertStopAlert, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(shown.count, 0);
  SInt16 hit = 0;
  shown.answer = 2;
  EXPECT_STATUS(noErr, MyStandardAlert(kAlertCautionAlert, CFSTR("m"), CFSTR("e"), CFSTR("Zap"), CFSTR("Cancel"),
                                       nullptr, &hit));
  EXPECT_EQ(hit, 2);
  EXPECT_EQ(shown.buttons[0], "Zap");
  EXPECT_EQ(shown.buttons[1], "Cancel");
  EXPECT_EQ(shown.request.cancelButton, 2);
  shown.answer = 1;
  EXPECT_STATUS(noErr, MyStandardAlert(kAlertStopAlert, CFSTR("m"), nullptr, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(shown.buttons[0], "OK");
  EXPECT_EQ(shown.request.cancelButton, 0);
  TVSetAlertPresenter(nullptr, nullptr);
  EXPECT_NE(MyStandardAlert(kAlertStopAlert, CFSTR("m"), nullptr, nullptr, nullptr, nullptr, &hit), noErr);
}

}  // namespace
