#include <climits>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "platform/Files.h"
#include "tests/support/FilesFixture.h"
#include "platform/files/PathNodes.h"
#include "platform/files/Refs.h"
#include "platform/sys/CallTable.h"
#include "platform/sys/FileReplacement.h"

using namespace tv::test;
namespace sys = tv::sys;

namespace {

// Runs the test body from another working directory and comes back.
struct InDirectory {
  std::string saved;
  explicit InDirectory(const std::string &dir) {
    char buf[PATH_MAX];
    saved = getcwd(buf, sizeof buf);
    EXPECT_EQ(0, chdir(dir.c_str()));
  }
  ~InDirectory() { EXPECT_EQ(0, chdir(saved.c_str())); }
};

}  // namespace

TEST(FSPathMakeRefTest, ResolvesRelativeDotAndDotDotAndFolderLinksButNotTheLastLink) {
  tv::test::TempTree tree;
  tree.folder("real/sub");
  tree.file("real/sub/file", "x");
  tree.symlink("alias-folder", tree.path("real"));
  tree.symlink("real/sub/link", "file");
  InDirectory cwd(tree.path("real"));

  struct Case {
    std::string path, expected;
    bool isDir;
  } cases[] = {
      {"sub/file", tree.path("real/sub/file"), false},
      {"./sub/../sub/./file", tree.path("real/sub/file"), false},
      {".", tree.path("real"), true},
      {"..", tree.root(), true},
      {"sub/..", tree.path("real"), true},
      {tree.path("alias-folder/sub/file"), tree.path("real/sub/file"), false},
      {tree.path("alias-folder/sub/link"), tree.path("real/sub/link"), false},  // the link itself
      {tree.path("alias-folder/sub//"), tree.path("real/sub"), true},
      {"/", "/", true},
      {"/..", "/", true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.path);
    OSStatus s;
    Boolean isDir = !c.isDir;
    FSRef ref = RefFor(c.path, &s, &isDir);
    ASSERT_STATUS(noErr, s);
    EXPECT_EQ(c.isDir, bool(isDir));
    EXPECT_EQ(c.expected, PathOf(ref));
  }
}

TEST(FSPathMakeRefTest, FailsForWhatIsNotThere) {
  tv::test::TempTree tree;
  tree.file("file", "x");
  tree.symlink("loop", "loop");
  OSStatus s;
  RefFor(tree.path("missing"), &s);
  EXPECT_STATUS(fnfErr, s);
  RefFor(tree.path("missing/child"), &s);
  EXPECT_STATUS(fnfErr, s);
  RefFor(tree.path("file/child"), &s);
  EXPECT_STATUS(dirNFErr, s);
  RefFor(tree.path("loop/child"), &s);
  EXPECT_STATUS(ioErr, s);  // ELOOP
  RefFor("", &s);
  EXPECT_STATUS(fnfErr, s);
  FSRef ref;
  EXPECT_STATUS(paramErr, FSPathMakeRef(nullptr, &ref, nullptr));
  EXPECT_STATUS(paramErr, FSPathMakeRef(reinterpret_cast<const UInt8 *>("/"), nullptr, nullptr));
}

TEST(FSRefTest, ItemsBehindAFolderWithoutSearchAreDeniedToAnUnprivilegedUser) {
  TV_SKIP_UNLESS_ROOT("become user 65534");
  tv::test::TempTree tree;
  tree.file("private/inner", "x");
  tree.chmod("private", 0700);
  FSRef inner = RefFor(tree.path("private/inner"));
  std::string innerPath = tree.path("private/inner");
  std::string seen = AsNobody([&] {
    OSStatus made;
    RefFor(innerPath, &made);
    FSCatalogInfo info;
    OSErr got = FSGetCatalogInfo(&inner, kFSCatInfoNodeFlags, &info, nullptr, nullptr, nullptr);
    UInt8 path[4096];
    OSStatus path1 = FSRefMakePath(&inner, path, sizeof path);
    return std::to_string(made) + " " + std::to_string(got) + " " + std::to_string(path1);
  });
  std::string denied = std::to_string(afpAccessDenied);
  EXPECT_EQ(denied + " " + denied + " " + denied, seen);
}

TEST(FSRefTest, GarbageAndForeignRefsAreRefusedNeverUsed) {
  tv::test::TempTree tree;
  FSRef good = RefFor(tree.file("f", "x"));
  FSRef zero{};
  FSRef garbage;
  for (size_t i = 0; i < sizeof garbage.hidden; i++) garbage.hidden[i] = UInt8(i * 7 + 3);
  FSRef tampered = good;
  tampered.hidden[24] ^= 1;  // another node, same check value
  FSCatalogInfo info{};
  for (const FSRef *bad : {&zero, &garbage, &tampered}) {
    EXPECT_STATUS(errFSBadFSRef, FSGetCatalogInfo(bad, kFSCatInfoNodeFlags, &info, nullptr, nullptr, nullptr));
    EXPECT_STATUS(errFSBadFSRef, FSCompareFSRefs(bad, &good));
    EXPECT_STATUS(errFSBadFSRef, FSCompareFSRefs(&good, bad));
    UInt8 path[64];
    EXPECT_STATUS(errFSBadFSRef, FSRefMakePath(bad, path, sizeof path));
    LSItemInfoRecord ls;
    EXPECT_STATUS(errFSBadFSRef, LSCopyItemInfoForRef(bad, kLSRequestBasicFlagsOnly, &ls));
  }
  EXPECT_STATUS(paramErr, FSGetCatalogInfo(nullptr, kFSCatInfoNodeFlags, &info, nullptr, nullptr, nullptr));
  EXPECT_STATUS(paramErr, FSCompareFSRefs(nullptr, &good));
  EXPECT_STATUS(paramErr, FSCompareFSRefs(&good, nullptr));
}

TEST(FSRefTest, ARefToAReplacedOrRemovedItemIsNotFound) {
  tv::test::TempTree tree;
  std::string path = tree.file("f", "old");
  tree.folder("dir");
  tree.file("dir/inner", "x");
  FSRef file = RefFor(path);
  FSRef inner = RefFor(tree.path("dir/inner"));
  // Replace the file by another one of the same name.
  tree.file("f.new", "new");
  ASSERT_EQ(0, rename(tree.path("f.new").c_str(), path.c_str()));
  // Replace the folder by a file.
  ASSERT_EQ(0, rename(tree.path("dir").c_str(), tree.path("dir.old").c_str()));
  tree.file("dir", "not a folder");

  FSCatalogInfo info{};
  info.contentModDate = UTCDateTime{0, 3000000000u, 0};
  for (const FSRef *ref : {&file, &inner}) {
    EXPECT_STATUS(fnfErr, FSGetCatalogInfo(ref, kFSCatInfoNodeFlags, &info, nullptr, nullptr, nullptr));
    EXPECT_STATUS(fnfErr, FSSetCatalogInfo(ref, kFSCatInfoContentMod, &info));
    // Another item at its path: the alert will say that someone else
    // changed it meanwhile.
    TVFailureCause cause;
    if (ref == &file) {
      ASSERT_TRUE(TVGetFailureCause(fnfErr, &cause));
      EXPECT_EQ(cause.reason, kTVFailureChanged);
      EXPECT_STREQ(cause.name, "f");
    }
    UInt8 buf[4096];
    EXPECT_STATUS(fnfErr, FSRefMakePath(ref, buf, sizeof buf));
  }
  // The new file was not touched.
  struct stat st;
  ASSERT_EQ(0, lstat(path.c_str(), &st));
  EXPECT_NE(3000000000 - 2082844800, st.st_mtim.tv_sec);

  ASSERT_EQ(0, unlink(path.c_str()));
  FSRef fresh = RefFor(tree.path("dir"));
  ASSERT_EQ(0, unlink(tree.path("dir").c_str()));
  EXPECT_STATUS(fnfErr, FSGetCatalogInfo(&fresh, kFSCatInfoNodeFlags, &info, nullptr, nullptr, nullptr));
}

TEST(FSCompareFSRefsTest, ComparesIdentityNotPath) {
  tv::test::TempTree tree;
  std::string a = tree.file("a", "x");
  tree.file("b", "x");
  ASSERT_EQ(0, link(a.c_str(), tree.path("hard").c_str()));
  FSRef refA = RefFor(a), refA2 = RefFor(tree.path("./a")), refB = RefFor(tree.path("b"));
  FSRef refHard = RefFor(tree.path("hard"));
  EXPECT_STATUS(noErr, FSCompareFSRefs(&refA, &refA2));
  EXPECT_STATUS(noErr, FSCompareFSRefs(&refA, &refHard));
  EXPECT_STATUS(errFSRefsDifferent, FSCompareFSRefs(&refA, &refB));
  FSRef proc = RefFor("/proc");
  EXPECT_STATUS(diffVolErr, FSCompareFSRefs(&refA, &proc));
}

TEST(FSRefMakePathTest, NeverCutsAPathThatDoesNotFit) {
  tv::test::TempTree tree;
  std::string path = tree.file("name", "x");
  FSRef ref = RefFor(path);
  std::string buf(path.size() + 1, '#');
  EXPECT_STATUS(errFSBadBuffer, FSRefMakePath(&ref, reinterpret_cast<UInt8 *>(buf.data()), UInt32(path.size())));
  EXPECT_EQ(std::string(path.size() + 1, '#'), buf);  // nothing written
  ASSERT_STATUS(noErr, FSRefMakePath(&ref, reinterpret_cast<UInt8 *>(buf.data()), UInt32(buf.size())));
  EXPECT_EQ(path, std::string(buf.c_str()));
  EXPECT_STATUS(paramErr, FSRefMakePath(&ref, nullptr, 100));
  EXPECT_STATUS(paramErr, FSRefMakePath(&ref, reinterpret_cast<UInt8 *>(buf.data()), 0));
}

// A tree deeper than PATH_MAX, made with mkdirat so that no path is ever
// longer than one name.
class LongPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int fd = open(tree.root().c_str(), O_PATH | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    deep = tree.root();
    for (int i = 0; i < 24; i++) {
      std::string name = "level" + std::to_string(i) + "-" + std::string(200, 'd');
      ASSERT_EQ(0, mkdirat(fd, name.c_str(), 0755));
      int next = openat(fd, name.c_str(), O_PATH | O_DIRECTORY);
      close(fd);
      ASSERT_GE(next, 0);
      fd = next;
      deep += "/" + name;
    }
    for (const char *name : {"b-file", "a-file", "._a-file"}) {
      int f = openat(fd, name, O_CREAT | O_WRONLY, 0644);
      ASSERT_GE(f, 0);
      ASSERT_EQ(5, write(f, "hello", 5));
      close(f);
    }
    close(fd);
    ASSERT_GT(deep.size(), size_t(PATH_MAX));
  }
  tv::test::TempTree tree;
  std::string deep;
};

TEST_F(LongPathTest, RefsPathsCatalogInfoAndListingWorkBeyondPathMax) {
  OSStatus s;
  Boolean isDir = false;
  FSRef folder = RefFor(deep, &s, &isDir);
  ASSERT_STATUS(noErr, s);
  EXPECT_TRUE(isDir);
  EXPECT_EQ(deep, PathOf(folder));

  UInt8 small[2048];
  EXPECT_STATUS(errFSBadBuffer, FSRefMakePath(&folder, small, sizeof small));

  FSIterator it;
  ASSERT_STATUS(noErr, FSOpenIterator(&folder, kFSIterateFlat, &it));
  FSRef refs[10];
  HFSUniStr255 names[10];
  ItemCount n = 0;
  EXPECT_STATUS(errFSNoMoreItems, FSGetCatalogInfoBulk(it, 10, &n, nullptr, kFSCatInfoNone, nullptr, refs, nullptr, names));
  ASSERT_EQ(2u, n);
  EXPECT_STATUS(noErr, FSCloseIterator(it));
  EXPECT_EQ(deep + "/a-file", PathOf(refs[0]));

  FSCatalogInfo info{};
  ASSERT_STATUS(noErr, FSGetCatalogInfo(&refs[0], kFSCatInfoNodeFlags | kFSCatInfoDataSizes | kFSCatInfoPermissions |
                                                      kFSCatInfoUserAccess,
                                        &info, nullptr, nullptr, nullptr));
  EXPECT_EQ(5u, info.dataLogicalSize);
  info.contentModDate = UTCDateTime{0, 3000000000u, 0};
  ASSERT_STATUS(noErr, FSSetCatalogInfo(&refs[0], kFSCatInfoContentMod, &info));
  FSCatalogInfo after{};
  ASSERT_STATUS(noErr, FSGetCatalogInfo(&refs[0], kFSCatInfoContentMod, &after, nullptr, nullptr, nullptr));
  EXPECT_EQ(3000000000u, UInt32(after.contentModDate.lowSeconds));

  FSRef again = RefFor(deep + "/a-file");
  EXPECT_STATUS(noErr, FSCompareFSRefs(&again, &refs[0]));
  LSItemInfoRecord ls;
  ASSERT_STATUS(noErr, LSCopyItemInfoForRef(&folder, kLSRequestBasicFlagsOnly, &ls));
  EXPECT_EQ(kLSItemInfoIsContainer, ls.flags);

  // Replacing the deep file is noticed there too.
  int fd = open(tree.root().c_str(), O_PATH | O_DIRECTORY);
  std::string below = deep.substr(tree.root().size());
  for (std::string_view part : tv::files::PathComponents(below)) {
    std::string name(part);
    int next = openat(fd, name.c_str(), O_PATH | O_DIRECTORY);
    close(fd);
    fd = next;
  }
  ASSERT_GE(fd, 0);
  ASSERT_EQ(0, renameat(fd, "a-file", fd, "a-file.old"));
  int f = openat(fd, "a-file", O_CREAT | O_WRONLY, 0644);
  EXPECT_GE(f, 0);
  close(f);
  close(fd);
  EXPECT_STATUS(fnfErr, FSGetCatalogInfo(&refs[0], kFSCatInfoNodeFlags, &info, nullptr, nullptr, nullptr));
}

TEST_F(LongPathTest, LocationsReachTheItemAndItsSidecarBeyondPathMax) {
  FSRef ref = RefFor(deep + "/a-file");
  tv::files::ItemLocation where;
  tv::files::ItemStat st;
  ASSERT_STATUS(noErr, tv::files::ResolveRef(&ref, &where, &st));
  EXPECT_GE(where.dirFd, 0);
  EXPECT_EQ("a-file", where.name);
  EXPECT_EQ(deep + "/a-file", where.FullPath());
  // The sidecar, through the folder descriptor.
  struct stat sidecar;
  EXPECT_EQ(0, fstatat(where.dirFd, where.SiblingPath("._a-file").c_str(), &sidecar, AT_SYMLINK_NOFOLLOW));
  // The attribute calls, through the folder's descriptor; on a kernel
  // without the calls that take a folder, through /proc/self/fd.
  for (bool atCalls : {true, false}) {
    SCOPED_TRACE(atCalls ? "at calls" : "through /proc");
    tv::sys::FaultScope faults;
    if (!atCalls)
      for (auto call : {tv::sys::Call::setxattrat, tv::sys::Call::getxattrat, tv::sys::Call::listxattrat})
        tv::sys::FailCall(call, 1, ENOSYS, true);
    const tv::sys::XattrPlace at{-1, where.dirFd, where.itemPath.c_str()};
    const std::string value = atCalls ? "v" : "w";
    ASSERT_EQ(0, tv::sys::SetXattr(at, "user.test", value.data(), value.size(), 0));
    std::optional<std::vector<unsigned char>> read;
    ASSERT_EQ(0, tv::sys::ReadXattrValue(at, "user.test", &read));
    EXPECT_EQ(std::vector<unsigned char>(value.begin(), value.end()), read);
    std::vector<char> names;
    EXPECT_EQ(0, tv::sys::ListXattrNames(at, &names));
    EXPECT_EQ(std::string("user.test", sizeof "user.test"), std::string(names.begin(), names.end()));
  }

  // A short path needs no descriptor.
  FSRef shallow = RefFor(tree.file("near", "x"));
  tv::files::ItemLocation near;
  ASSERT_STATUS(noErr, tv::files::ResolveRef(&shallow, &near, nullptr));
  EXPECT_EQ(AT_FDCWD, near.dirFd);
  EXPECT_EQ(tree.path("near"), near.itemPath);
  EXPECT_EQ(tree.path("._near"), near.SiblingPath("._near"));
}
