// Preferences through a real file in a temporary tree.
#include "platform/cf/CFFileIO.h"
#include "platform/sys/CallTable.h"
#include "platform/sys/FileReplacement.h"
#include "tests/support/CFFixture.h"
#include "tests/support/TestSupport.h"

#include <plist/plist.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using tv::test::CFOwned;
using tv::test::Utf8;

namespace {

namespace fs = std::filesystem;

const CFStringRef kApp = CFSTR("org.tarrovel.Test");
const char *const kRel = "home/.config/tarrovel/org.tarrovel.Test.plist";

std::string Plist(const std::string &dictBody) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" + dictBody +
         "</dict></plist>\n";
}

namespace sys = tv::sys;

// Standard error stays writable while a test fails the other writes, so that
// the message about the lost change is seen.
ssize_t FailWrite(int fd, const void *buf, size_t n, ssize_t answer, int err) {
  if (fd == STDERR_FILENO) return sys::RealCalls().write(fd, buf, n);
  errno = err;
  return answer;
}

// Opens what is there; creates nothing (as on a read-only folder).
int OpenRefusingToCreate(int dirFd, const char *path, int flags, mode_t mode) {
  if (!(flags & O_CREAT)) return sys::RealCalls().openat(dirFd, path, flags, mode);
  errno = EROFS;
  return -1;
}

// The temporaries of the shared replacement in the preferences folder, seen
// while the new file is flushed; each with whether another open of it could
// take it (it must not: its writer holds it locked).
std::string sPreferencesFolder;
std::vector<std::pair<std::string, bool>> sTemporariesSeen;
int FsyncLookingAtTheFolder(int fd) {
  std::error_code ec;
  for (const auto &e : fs::directory_iterator(sPreferencesFolder, ec)) {
    const std::string name = e.path().filename().string();
    if (name.find("plist") != std::string::npos) continue;
    const int other = open(e.path().c_str(), O_RDONLY | O_CLOEXEC);
    const bool free = other >= 0 && sys::RealCalls().ofdlock(other, F_RDLCK, false) == 0;
    if (other >= 0) close(other);
    sTemporariesSeen.emplace_back(name, free);
  }
  return sys::RealCalls().fsync(fd);
}

class CFPreferencesTest : public tv::test::CFBalanceTest {
 protected:
  // The names in the preferences folder.
  std::set<std::string> FolderNames() const {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(tree.path("home/.config/tarrovel"), ec)) {
      names.insert(e.path().filename().string());
    }
    return names;
  }
  static std::pair<Boolean, Boolean> GetBool(CFStringRef key) {
    Boolean valid = 2;
    const Boolean v = CFPreferencesGetAppBooleanValue(key, kApp, &valid);
    return {v, valid};
  }

  tv::test::TempTree tree;
};

TEST_F(CFPreferencesTest, MissingFileReadsAsNoValuesAndIsNotCreated) {
  EXPECT_EQ(std::make_pair(Boolean(false), Boolean(false)), GetBool(CFSTR("ShowDataForkMenu")));
  EXPECT_EQ(nullptr, CFPreferencesCopyAppValue(CFSTR("ShowDataForkMenu"), kApp));
  EXPECT_FALSE(CFPreferencesGetAppBooleanValue(CFSTR("ShowDataForkMenu"), kApp, nullptr));
  EXPECT_FALSE(tree.exists("home/.config/tarrovel"));
  EXPECT_TRUE(CFPreferencesAppSynchronize(kApp));
}

TEST_F(CFPreferencesTest, BooleansRoundTripThroughTheFile) {
  CFPreferencesSetAppValue(CFSTR("keepModificationDate"), kCFBooleanTrue, kApp);
  EXPECT_EQ(std::make_pair(Boolean(true), Boolean(true)), GetBool(CFSTR("keepModificationDate")));
  CFPreferencesSetAppValue(CFSTR("keepModificationDate"), kCFBooleanFalse, kApp);
  EXPECT_EQ(std::make_pair(Boolean(false), Boolean(true)), GetBool(CFSTR("keepModificationDate")));
  EXPECT_EQ(kCFBooleanFalse, CFPreferencesCopyAppValue(CFSTR("keepModificationDate"), kApp));
  // Keys are case-sensitive.
  EXPECT_EQ(std::make_pair(Boolean(false), Boolean(false)), GetBool(CFSTR("KeepModificationDate")));
  const std::string text = tree.read(kRel);
  EXPECT_NE(std::string::npos, text.find("<key>keepModificationDate</key>")) << text;
  EXPECT_NE(std::string::npos, text.find("<false/>")) << text;
  struct stat st;
  ASSERT_EQ(0, stat(tree.path("home/.config/tarrovel").c_str(), &st));
  EXPECT_EQ(0700u, st.st_mode & 0777);
}

TEST_F(CFPreferencesTest, StringsAndDataRoundTripAndNullRemoves) {
  CFOwned<CFStringRef> s(CFStringCreateWithCString(nullptr, "caf\xC3\xA9 <&>", kCFStringEncodingUTF8));
  const UInt8 bytes[] = {0, 1, 0xFF};
  CFOwned<CFDataRef> d(CFDataCreate(nullptr, bytes, 3));
  CFPreferencesSetAppValue(CFSTR("s"), s, kApp);
  CFPreferencesSetAppValue(CFSTR("d"), d, kApp);
  CFOwned<CFTypeRef> s2(CFPreferencesCopyAppValue(CFSTR("s"), kApp));
  CFOwned<CFTypeRef> d2(CFPreferencesCopyAppValue(CFSTR("d"), kApp));
  EXPECT_TRUE(CFEqual(s, s2));
  EXPECT_TRUE(CFEqual(d, d2));
  EXPECT_EQ(std::make_pair(Boolean(false), Boolean(false)), GetBool(CFSTR("s")));  // not a boolean
  CFPreferencesSetAppValue(CFSTR("s"), nullptr, kApp);
  EXPECT_EQ(nullptr, CFPreferencesCopyAppValue(CFSTR("s"), kApp));
  CFOwned<CFTypeRef> d3(CFPreferencesCopyAppValue(CFSTR("d"), kApp));
  EXPECT_TRUE(CFEqual(d, d3));
  // A value the store does not keep changes nothing.
  CFOwned<CFMutableArrayRef> a(CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks));
  const std::string before = tree.read(kRel);
  CFPreferencesSetAppValue(CFSTR("d"), a, kApp);
  EXPECT_EQ(before, tree.read(kRel));
}

TEST_F(CFPreferencesTest, NonBooleanValuesAreNotValidBooleans) {
  tree.file(kRel, Plist("<key>ShowDataForkMenu</key><string>YES</string>"
                        "<key>ShowRsrcForkRecursiveMenu</key><integer>1</integer>"
                        "<key>keepModificationDate</key><true/>"));
  EXPECT_EQ(std::make_pair(Boolean(false), Boolean(false)), GetBool(CFSTR("ShowDataForkMenu")));
  EXPECT_EQ(std::make_pair(Boolean(false), Boolean(false)), GetBool(CFSTR("ShowRsrcForkRecursiveMenu")));
  EXPECT_EQ(std::make_pair(Boolean(true), Boolean(true)), GetBool(CFSTR("keepModificationDate")));
  EXPECT_EQ(nullptr, CFPreferencesCopyAppValue(CFSTR("ShowRsrcForkRecursiveMenu"), kApp));
}

TEST_F(CFPreferencesTest, SetKeepsOtherKeysOfEveryType) {
  tree.file(kRel, Plist("<key>other</key><integer>42</integer>"
                        "<key>list</key><array><string>a</string></array>"
                        "<key>ShowDataForkMenu</key><false/>"));
  CFPreferencesSetAppValue(CFSTR("ShowDataForkMenu"), kCFBooleanTrue, kApp);
  const std::string text = tree.read(kRel);
  plist_t root = nullptr;
  plist_from_memory(text.data(), uint32_t(text.size()), &root);
  ASSERT_NE(nullptr, root);
  uint64_t n = 0;
  plist_get_uint_val(plist_dict_get_item(root, "other"), &n);
  EXPECT_EQ(42u, n);
  EXPECT_EQ(1u, plist_array_get_size(plist_dict_get_item(root, "list")));
  uint8_t b = 0;
  plist_get_bool_val(plist_dict_get_item(root, "ShowDataForkMenu"), &b);
  EXPECT_EQ(1, b);
  plist_free(root);
}

TEST_F(CFPreferencesTest, SecondReadSeesAChangeMadeOnDisk) {
  CFPreferencesSetAppValue(CFSTR("ShowDataForkMenu"), kCFBooleanTrue, kApp);
  EXPECT_TRUE(GetBool(CFSTR("ShowDataForkMenu")).first);
  tree.file(kRel, Plist("<key>ShowDataForkMenu</key><false/>"));
  EXPECT_EQ(std::make_pair(Boolean(false), Boolean(true)), GetBool(CFSTR("ShowDataForkMenu")));
  tree.file(kRel, Plist("<key>ShowDataForkMenu</key><true/>"));  // same size, maybe same second
  EXPECT_EQ(std::make_pair(Boolean(true), Boolean(true)), GetBool(CFSTR("ShowDataForkMenu")));
}

TEST_F(CFPreferencesTest, EmptyOrCorruptFileReadsAsNothingAndIsNotRewrittenByReads) {
  for (const std::string &content : {std::string(""), std::string("\n"), std::string("<plist><dict><key>x"),
                                    std::string("\x00\x01garbage", 9), Plist("").substr(0, 30),
                                    std::string("<plist version=\"1.0\"><array/></plist>")}) {
    tree.file(kRel, content);
    EXPECT_EQ(std::make_pair(Boolean(false), Boolean(false)), GetBool(CFSTR("ShowDataForkMenu")));
    EXPECT_EQ(nullptr, CFPreferencesCopyAppValue(CFSTR("ShowDataForkMenu"), kApp));
    EXPECT_EQ(content, tree.read(kRel));
  }
}

TEST_F(CFPreferencesTest, CorruptFileIsMovedAsideBeforeASet) {
  const std::string corrupt = "<plist><dict><key>precious</key><string>unfinished";
  tree.file(kRel, corrupt);
  testing::internal::CaptureStderr();
  CFPreferencesSetAppValue(CFSTR("ShowDataForkMenu"), kCFBooleanTrue, kApp);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(corrupt, tree.read(std::string(kRel) + ".corrupt"));
  EXPECT_EQ(std::make_pair(Boolean(true), Boolean(true)), GetBool(CFSTR("ShowDataForkMenu")));
  EXPECT_NE(std::string::npos, err.find(".corrupt")) << err;
  EXPECT_EQ(1, std::count(err.begin(), err.end(), '\n')) << err;
}

TEST_F(CFPreferencesTest, EarlierCorruptCopyIsNotOverwritten) {
  tree.file(std::string(kRel) + ".corrupt", "first broken copy");
  tree.file(kRel, "second broken copy");
  testing::internal::CaptureStderr();
  CFPreferencesSetAppValue(CFSTR("ShowDataForkMenu"), kCFBooleanTrue, kApp);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ("first broken copy", tree.read(std::string(kRel) + ".corrupt"));
  EXPECT_EQ("second broken copy", tree.read(std::string(kRel) + ".corrupt.1"));
  EXPECT_TRUE(GetBool(CFSTR("ShowDataForkMenu")).first);
}

TEST_F(CFPreferencesTest, FifoInPlaceOfTheFileNeitherHangsNorIsReplaced) {
  tree.folder("home/.config/tarrovel");
  ASSERT_EQ(0, mkfifo(tree.path(kRel).c_str(), 0600));
  EXPECT_EQ(std::make_pair(Boolean(false), Boolean(false)), GetBool(CFSTR("ShowDataForkMenu")));
  testing::internal::CaptureStderr();
  CFPreferencesSetAppValue(CFSTR("ShowDataForkMenu"), kCFBooleanTrue, kApp);
  testing::internal::GetCapturedStderr();
  struct stat st;
  ASSERT_EQ(0, lstat(tree.path(kRel).c_str(), &st));
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST_F(CFPreferencesTest, EmptyFileIsSimplyReplacedBySet) {
  tree.file(kRel, "");
  CFPreferencesSetAppValue(CFSTR("ShowDataForkMenu"), kCFBooleanTrue, kApp);
  EXPECT_TRUE(GetBool(CFSTR("ShowDataForkMenu")).first);
  EXPECT_EQ((std::set<std::string>{"org.tarrovel.Test.plist"}), FolderNames());
}

TEST_F(CFPreferencesTest, FailedWriteKeepsTheOldFileAndLeavesNoTemporaryFile) {
  CFPreferencesSetAppValue(CFSTR("ShowDataForkMenu"), kCFBooleanTrue, kApp);
  const std::string good = tree.read(kRel);
  struct Failure {
    const char *what;
    void (*inject)();
  } failures[] = {
      {"write", [] {
         sys::SubstituteCall(&sys::CallTable::write, +[](int fd, const void *b, size_t n) { return FailWrite(fd, b, n, -1, ENOSPC); });
       }},
      {"short write", [] {
         sys::SubstituteCall(&sys::CallTable::write, +[](int fd, const void *b, size_t n) { return FailWrite(fd, b, n, 0, 0); });
       }},
      {"fsync", [] { sys::FailCall(sys::Call::fsync, 1, EIO); }},
      {"rename", [] { sys::FailCall(sys::Call::renameat, 1, EACCES); }},
      {"temporary", [] { sys::SubstituteCall(&sys::CallTable::openat, OpenRefusingToCreate); }},
  };
  for (const Failure &f : failures) {
    sys::FaultScope faults;
    sys::SubstituteScope restore(sys::RealCalls());
    f.inject();
    testing::internal::CaptureStderr();
    CFPreferencesSetAppValue(CFSTR("ShowDataForkMenu"), kCFBooleanFalse, kApp);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(good, tree.read(kRel)) << f.what;
    EXPECT_EQ((std::set<std::string>{"org.tarrovel.Test.plist"}), FolderNames()) << f.what;
    EXPECT_NE(std::string::npos, err.find("cannot save preferences")) << f.what << ": " << err;
  }
  EXPECT_TRUE(GetBool(CFSTR("ShowDataForkMenu")).first);
}

TEST_F(CFPreferencesTest, SavesThroughTheSharedLockedTemporary) {
  CFPreferencesSetAppValue(CFSTR("ShowDataForkMenu"), kCFBooleanTrue, kApp);
  sPreferencesFolder = tree.path("home/.config/tarrovel");
  sTemporariesSeen.clear();
  {
    sys::SubstituteScope restore(sys::RealCalls());
    sys::SubstituteCall(&sys::CallTable::fsync, FsyncLookingAtTheFolder);
    CFPreferencesSetAppValue(CFSTR("ShowDataForkMenu"), kCFBooleanFalse, kApp);
  }
  ASSERT_FALSE(sTemporariesSeen.empty());
  for (const auto &[name, free] : sTemporariesSeen) {
    EXPECT_TRUE(sys::IsTemporaryName(name)) << name;
    EXPECT_FALSE(free) << name << " could be taken by a cleanup while it was written";
  }
  EXPECT_FALSE(GetBool(CFSTR("ShowDataForkMenu")).first);
  EXPECT_EQ((std::set<std::string>{"org.tarrovel.Test.plist"}), FolderNames());
}

TEST_F(CFPreferencesTest, UnreadableFileIsNeverReplaced) {
  tree.file(kRel, Plist("<key>ShowDataForkMenu</key><true/>"));
  const std::string before = tree.read(kRel);
  sys::FaultScope faults;
  sys::FailCall(sys::Call::openat, 1, EACCES, true);
  testing::internal::CaptureStderr();
  EXPECT_EQ(std::make_pair(Boolean(false), Boolean(false)), GetBool(CFSTR("ShowDataForkMenu")));
  CFPreferencesSetAppValue(CFSTR("keepModificationDate"), kCFBooleanTrue, kApp);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(before, tree.read(kRel));
}

TEST_F(CFPreferencesTest, UnsafeApplicationIDsReadAndWriteNothing) {
  tree.file("home/.config/tarrovel/.hidden.plist", Plist("<key>k</key><true/>"));
  tree.file("home/.config/evil.plist", Plist("<key>k</key><true/>"));
  for (CFStringRef id : {CFSTR(".hidden"), CFSTR("../evil"), CFSTR("a/b"), CFSTR("")}) {
    Boolean valid = 1;
    EXPECT_FALSE(CFPreferencesGetAppBooleanValue(CFSTR("k"), id, &valid));
    EXPECT_FALSE(valid);
    CFPreferencesSetAppValue(CFSTR("k"), kCFBooleanFalse, id);
  }
  EXPECT_FALSE(CFPreferencesGetAppBooleanValue(CFSTR("k"), nullptr, nullptr));
  EXPECT_EQ(Plist("<key>k</key><true/>"), tree.read("home/.config/evil.plist"));
  EXPECT_FALSE(tree.exists("home/.config/tarrovel/a"));
  EXPECT_EQ((std::set<std::string>{".hidden.plist"}), FolderNames());
}

TEST_F(CFPreferencesTest, UsesHomeConfigWithoutXdgConfigHome) {
  const std::string saved = std::getenv("XDG_CONFIG_HOME");
  unsetenv("XDG_CONFIG_HOME");
  tree.folder("home/.config");
  fs::remove_all(tree.path("home/.config"));
  CFPreferencesSetAppValue(CFSTR("k"), kCFBooleanTrue, kApp);
  const bool written = tree.exists(kRel);
  setenv("XDG_CONFIG_HOME", "relative/not/used", 1);
  const bool readBack = CFPreferencesGetAppBooleanValue(CFSTR("k"), kApp, nullptr);
  setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  EXPECT_TRUE(written);
  EXPECT_TRUE(readBack);
}

TEST_F(CFPreferencesTest, LinkedFileStaysALink) {
  tree.file("dotfiles/prefs.plist", Plist("<key>other</key><true/>"));
  tree.symlink(kRel, tree.path("dotfiles/prefs.plist"));
  CFPreferencesSetAppValue(CFSTR("k"), kCFBooleanTrue, kApp);
  EXPECT_TRUE(fs::is_symlink(tree.path(kRel)));
  EXPECT_NE(std::string::npos, tree.read("dotfiles/prefs.plist").find("<key>k</key>"));
  EXPECT_NE(std::string::npos, tree.read("dotfiles/prefs.plist").find("<key>other</key>"));
}

}  // namespace
