#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>

#include "platform/Files.h"
#include "tests/support/FilesFixture.h"
#include "platform/files/Volumes.h"

using namespace tv::test;

namespace {

LSItemInfoFlags Flags(const std::string &path) {
  OSStatus s;
  FSRef ref = RefFor(path, &s);
  EXPECT_STATUS(noErr, s) << path;
  LSItemInfoRecord info{};
  info.extension = reinterpret_cast<CFStringRef>(1);
  EXPECT_STATUS(noErr, LSCopyItemInfoForRef(&ref, kLSRequestBasicFlagsOnly, &info)) << path;
  EXPECT_EQ(nullptr, info.extension);
  return info.flags;
}

// Sets an environment variable for the life of the object.
struct EnvVar {
  std::string name, saved;
  bool had;
  EnvVar(const char *n, const char *value) : name(n) {
    const char *v = getenv(n);
    had = v != nullptr;
    if (had) saved = v;
    if (value) setenv(n, value, 1);
    else unsetenv(n);
  }
  ~EnvVar() {
    if (had) setenv(name.c_str(), saved.c_str(), 1);
    else unsetenv(name.c_str());
  }
};

}  // namespace

TEST(LSCopyItemInfoForRefTest, ReportsKindLinkInvisibleAndVolume) {
  tv::test::TempTree tree;
  tree.file("plain", "x");
  tree.file(".hidden", "x");
  tree.folder("folder");
  tree.folder(".hidden-folder");
  tree.symlink("link", tree.path("folder"));
  EXPECT_EQ(kLSItemInfoIsPlainFile, Flags(tree.path("plain")));
  EXPECT_EQ(kLSItemInfoIsPlainFile | kLSItemInfoIsInvisible, Flags(tree.path(".hidden")));
  EXPECT_EQ(kLSItemInfoIsContainer, Flags(tree.path("folder")));
  EXPECT_EQ(kLSItemInfoIsContainer | kLSItemInfoIsInvisible, Flags(tree.path(".hidden-folder")));
  EXPECT_EQ(kLSItemInfoIsPlainFile | kLSItemInfoIsSymlink, Flags(tree.path("link")));
  EXPECT_EQ(kLSItemInfoIsContainer | kLSItemInfoIsVolume, Flags("/"));

  FSRef ref = RefFor(tree.path("plain"));
  LSItemInfoRecord info;
  EXPECT_STATUS(paramErr, LSCopyItemInfoForRef(nullptr, kLSRequestBasicFlagsOnly, &info));
  EXPECT_STATUS(paramErr, LSCopyItemInfoForRef(&ref, kLSRequestBasicFlagsOnly, nullptr));
}

TEST(LSCopyItemInfoForRefTest, EveryFolderMountPointOfThisMachineIsAVolume) {
  std::ifstream f("/proc/self/mountinfo");
  std::stringstream ss;
  ss << f.rdbuf();
  auto points = tv::files::ParseMountPoints(ss.str());
  ASSERT_FALSE(points.empty());
  int checked = 0;
  for (const char *candidate : {"/proc", "/sys", "/dev"}) {
    if (std::find(points.begin(), points.end(), candidate) == points.end()) continue;
    EXPECT_EQ(kLSItemInfoIsContainer | kLSItemInfoIsVolume, Flags(candidate)) << candidate;
    checked++;
  }
  EXPECT_GT(checked, 0) << "none of /proc, /sys, /dev is a mount point here";

  // Listing "/" names each mount point below it by the mounted root's
  // identity, not by the folder it covers.
  FSRef root = RefFor("/");
  FSIterator it;
  ASSERT_STATUS(noErr, FSOpenIterator(&root, kFSIterateFlat, &it));
  FSRef refs[10];
  ItemCount n = 0;
  OSStatus s = noErr;
  int mounts = 0;
  while (s == noErr) {
    s = FSGetCatalogInfoBulk(it, 10, &n, nullptr, 0, nullptr, refs, nullptr, nullptr);
    for (ItemCount i = 0; i < n; i++) {
      std::string path = PathOf(refs[i]);
      if (std::find(points.begin(), points.end(), path) == points.end()) continue;
      mounts++;
      FSRef direct = RefFor(path);
      EXPECT_STATUS(noErr, FSCompareFSRefs(&direct, &refs[i])) << path;
      LSItemInfoRecord info;
      EXPECT_STATUS(noErr, LSCopyItemInfoForRef(&refs[i], kLSRequestBasicFlagsOnly, &info)) << path;
    }
  }
  EXPECT_STATUS(errFSNoMoreItems, s);
  EXPECT_STATUS(noErr, FSCloseIterator(it));
  EXPECT_GT(mounts, 0);
  // An ordinary folder of the root volume is not.
  tv::test::TempTree tree;
  EXPECT_EQ(kLSItemInfoIsContainer, Flags(tree.root()));
}

TEST(LSCopyItemInfoForRefTest, SeesAVolumeMountedAfterTheMountTableWasRead) {
  tv::test::TempTree tree;
  std::string point = tree.folder("mnt");
  tree.file("mnt/covered", "x");
  EXPECT_EQ(kLSItemInfoIsContainer, Flags(point));  // reads the mount table
  if (mount("tarrovel-test", point.c_str(), "tmpfs", 0, "size=1m") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here: " << strerror(errno);
  struct Unmount {
    std::string path;
    ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
  } unmount{point};
  EXPECT_TRUE(tv::files::IsMountPoint(point));
  EXPECT_EQ(kLSItemInfoIsContainer | kLSItemInfoIsVolume, Flags(point));
  // A listing of the folder above gives the mounted root's identity.
  FSRef parent = RefFor(tree.root()), direct = RefFor(point);
  FSIterator it;
  ASSERT_STATUS(noErr, FSOpenIterator(&parent, kFSIterateFlat, &it));
  FSRef refs[10];
  ItemCount n = 0;
  EXPECT_STATUS(errFSNoMoreItems, FSGetCatalogInfoBulk(it, 10, &n, nullptr, 0, nullptr, refs, nullptr, nullptr));
  EXPECT_STATUS(noErr, FSCloseIterator(it));
  ASSERT_EQ(3u, n);  // home, mnt, tmp
  EXPECT_EQ(point, PathOf(refs[1]));
  EXPECT_STATUS(noErr, FSCompareFSRefs(&direct, &refs[1]));
  // Unmounted again: the covered folder is back, and no volume.
  ASSERT_EQ(0, umount2(point.c_str(), 0));
  EXPECT_FALSE(tv::files::IsMountPoint(point));
  EXPECT_EQ(kLSItemInfoIsContainer, Flags(point));
  FSCatalogInfo info;
  EXPECT_STATUS(fnfErr, FSGetCatalogInfo(&direct, kFSCatInfoNodeFlags, &info, nullptr, nullptr, nullptr));
}

TEST(ParseMountPointsTest, TakesTheFifthFieldAndUndoesEscapes) {
  auto points = tv::files::ParseMountPoints(
      "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
      "90 27 8:1 /sub /media/My\\040Disk rw - vfat /dev/sdb1 rw\n"
      "garbage\n"
      "91 27 8:1 / /tab\\011and\\134back rw - ext4 /dev/sdc rw");
  EXPECT_EQ((std::vector<std::string>{"/proc", "/media/My Disk", "/tab\tand\\back"}), points);
}

TEST(FSFindFolderTest, FindsHomeFromTheEnvironmentThenThePasswordDatabase) {
  TV_SKIP_UNLESS_ROOT("find root's home folder in the password database");
  tv::test::TempTree tree;  // points HOME at its own "home" folder
  FSRef found, expected = RefFor(tree.home());
  ASSERT_STATUS(noErr, FSFindFolder(kUserDomain, kCurrentUserFolderType, kDontCreateFolder, &found));
  EXPECT_STATUS(noErr, FSCompareFSRefs(&found, &expected));
  ASSERT_STATUS(noErr, FSFindFolder(kOnAppropriateDisk, kCurrentUserFolderType, kDontCreateFolder, &found));
  EXPECT_STATUS(noErr, FSCompareFSRefs(&found, &expected));

  // A link to the home folder gives the folder itself.
  std::string link = tree.symlink("home-link", tree.home());
  {
    EnvVar home("HOME", link.c_str());
    ASSERT_STATUS(noErr, FSFindFolder(kUserDomain, kCurrentUserFolderType, kDontCreateFolder, &found));
    EXPECT_EQ(tree.home(), PathOf(found));
  }

  // Unset, relative, or naming a file: the password database's home.
  struct stat st;
  bool passwdHomeExists = stat("/root", &st) == 0 && S_ISDIR(st.st_mode);  // tests run as root
  std::string file = tree.file("not-a-folder", "x");
  for (const char *value : {static_cast<const char *>(nullptr), "relative/home", file.c_str(), "/nonexistent-home"}) {
    SCOPED_TRACE(value ? value : "(unset)");
    EnvVar home("HOME", value);
    OSErr s = FSFindFolder(kUserDomain, kCurrentUserFolderType, kDontCreateFolder, &found);
    if (passwdHomeExists) {
      ASSERT_STATUS(noErr, s);
      EXPECT_EQ("/root", PathOf(found));
    } else {
      EXPECT_STATUS(fnfErr, s);
    }
  }
}

TEST(FSFindFolderTest, NoHomeAnywhereIsNotFound) {
  TV_SKIP_UNLESS_ROOT("become user 65534");
  tv::test::TempTree tree;
  std::string file = tree.file("not-a-folder", "x");
  // The unprivileged user's database home (/nonexistent on Debian) is no folder.
  std::string seen = AsNobody([&] {
    setenv("HOME", file.c_str(), 1);
    FSRef found;
    return std::to_string(FSFindFolder(kUserDomain, kCurrentUserFolderType, kDontCreateFolder, &found));
  });
  EXPECT_EQ(std::to_string(fnfErr), seen);
}

TEST(FSFindFolderTest, OnlyTheCurrentUsersFolderIsKnown) {
  tv::test::TempTree tree;
  FSRef found;
  EXPECT_STATUS(fnfErr, FSFindFolder(kUserDomain, FOUR_CHAR_CODE("desk"), kDontCreateFolder, &found));
  EXPECT_STATUS(fnfErr, FSFindFolder(-32766, kCurrentUserFolderType, kDontCreateFolder, &found));
  EXPECT_STATUS(paramErr, FSFindFolder(kUserDomain, kCurrentUserFolderType, kDontCreateFolder, nullptr));
}
