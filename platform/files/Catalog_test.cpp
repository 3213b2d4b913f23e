#include <cstring>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "platform/Files.h"
#include "tests/support/FilesFixture.h"
#include "platform/sys/CallTable.h"

using namespace tv::test;
namespace sys = tv::sys;

namespace {

constexpr FSCatalogInfoBitmap kDates =
    kFSCatInfoCreateDate | kFSCatInfoContentMod | kFSCatInfoAttrMod | kFSCatInfoAccessDate;

UInt64 Seconds(const UTCDateTime &d) { return (UInt64(d.highSeconds) << 32) | d.lowSeconds; }
UTCDateTime Date(UInt64 seconds1904) { return UTCDateTime{UInt16(seconds1904 >> 32), UInt32(seconds1904), 0}; }
constexpr UInt64 k1904 = 2082844800;

FSPermissionInfo Permissions(const FSCatalogInfo &info) {
  FSPermissionInfo p;
  std::memcpy(&p, info.permissions, sizeof p);
  return p;
}

}  // namespace

TEST(CatalogInfoTest, FilesAndFoldersReportKindSizesAndDates) {
  tv::test::TempTree tree;
  std::string file = tree.file("doc.txt", "hello world");
  std::string folder = tree.folder("folder");
  tree.file("folder/a");
  tree.file("folder/b");
  tree.file("folder/._b");  // b's metadata: not counted

  FSCatalogInfo info{};
  FSRef ref = RefFor(file);
  ASSERT_STATUS(noErr, FSGetCatalogInfo(&ref, kFSCatInfoNodeFlags | kFSCatInfoDataSizes | kFSCatInfoRsrcSizes | kDates |
                                                  kFSCatInfoNodeID | kFSCatInfoFinderInfo,
                                        &info, nullptr, nullptr, nullptr));
  struct stat st;
  ASSERT_EQ(0, lstat(file.c_str(), &st));
  EXPECT_EQ(0, info.nodeFlags & kFSNodeIsDirectoryMask);
  EXPECT_EQ(11u, info.dataLogicalSize);
  EXPECT_EQ(0u, info.rsrcLogicalSize);
  EXPECT_EQ(UInt32(st.st_ino), info.nodeID);
  EXPECT_EQ(UInt64(st.st_mtim.tv_sec) + k1904, Seconds(info.contentModDate));
  EXPECT_EQ(UInt64(st.st_atim.tv_sec) + k1904, Seconds(info.accessDate));
  EXPECT_EQ(UInt64(st.st_ctim.tv_sec) + k1904, Seconds(info.attributeModDate));
  EXPECT_LE(Seconds(info.createDate), Seconds(info.contentModDate));
  EXPECT_GT(Seconds(info.createDate), k1904 + 1600000000);  // a birth time, not zero
  UInt8 zeroes[16] = {};
  EXPECT_EQ(0, std::memcmp(zeroes, info.finderInfo, 16));

  ref = RefFor(folder);
  ASSERT_STATUS(noErr, FSGetCatalogInfo(&ref, kFSCatInfoNodeFlags | kFSCatInfoValence | kFSCatInfoDataSizes, &info,
                                        nullptr, nullptr, nullptr));
  EXPECT_EQ(kFSNodeIsDirectoryMask, info.nodeFlags & kFSNodeIsDirectoryMask);
  EXPECT_EQ(2u, info.valence);
  EXPECT_EQ(0u, info.dataLogicalSize);
}

TEST(CatalogInfoTest, LeavesFieldsNotAskedForUntouched) {
  tv::test::TempTree tree;
  FSRef ref = RefFor(tree.file("f", "abc"));
  FSCatalogInfo info;
  std::memset(&info, 0xAB, sizeof info);
  ASSERT_STATUS(noErr, FSGetCatalogInfo(&ref, kFSCatInfoNodeFlags, &info, nullptr, nullptr, nullptr));
  EXPECT_EQ(0, info.nodeFlags);
  EXPECT_EQ(0xABABABABABABABABull, info.dataLogicalSize);
  EXPECT_EQ(0xABABABABu, UInt32(info.contentModDate.lowSeconds));
}

TEST(CatalogInfoTest, SymlinksAndFifosArePlainFilesThatAreNeverFollowedOrOpened) {
  tv::test::TempTree tree;
  tree.folder("target");
  tree.file("target/big", std::string(5000, 'x'));
  tree.symlink("link-to-folder", tree.path("target"));
  tree.symlink("link-to-file", tree.path("target/big"));
  tree.symlink("dangling", tree.path("nothing"));
  ASSERT_EQ(0, mkfifo(tree.path("fifo").c_str(), 0644));
  int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  struct sockaddr_un addr {};
  addr.sun_family = AF_UNIX;
  std::string sockPath = tree.path("socket");
  ASSERT_LT(sockPath.size(), sizeof addr.sun_path);
  std::strcpy(addr.sun_path, sockPath.c_str());
  ASSERT_EQ(0, bind(sock, reinterpret_cast<sockaddr *>(&addr), sizeof addr));

  struct Kind {
    std::string path;
    mode_t type;
  } kinds[] = {{tree.path("link-to-folder"), S_IFLNK}, {tree.path("link-to-file"), S_IFLNK},
               {tree.path("dangling"), S_IFLNK},       {tree.path("fifo"), S_IFIFO},
               {sockPath, S_IFSOCK},                   {"/dev/null", S_IFCHR}};
  for (const Kind &kind : kinds) {
    SCOPED_TRACE(kind.path);
    OSStatus s;
    Boolean isDir = true;
    FSRef ref = RefFor(kind.path, &s, &isDir);
    ASSERT_STATUS(noErr, s);
    EXPECT_FALSE(isDir);
    FSCatalogInfo info{};
    // Asking the forks of a FIFO must not block.
    ASSERT_STATUS(noErr, FSGetCatalogInfo(&ref,
                                          kFSCatInfoNodeFlags | kFSCatInfoDataSizes | kFSCatInfoRsrcSizes |
                                              kFSCatInfoFinderInfo | kFSCatInfoPermissions | kFSCatInfoUserAccess,
                                          &info, nullptr, nullptr, nullptr));
    EXPECT_EQ(0, info.nodeFlags & kFSNodeIsDirectoryMask);
    EXPECT_EQ(0u, info.dataLogicalSize);
    EXPECT_EQ(0u, info.rsrcLogicalSize);
    EXPECT_EQ(kind.type, Permissions(info).mode & S_IFMT);
  }
  close(sock);
}

TEST(CatalogInfoTest, PermissionsAndUserAccessAsRoot) {
  tv::test::TempTree tree;
  tree.file("f", "x");
  tree.chmod("f", 0640);
  tree.file("x", "x");
  tree.chmod("x", 0750);
  FSCatalogInfo info{};
  FSRef ref = RefFor(tree.path("f"));
  ASSERT_STATUS(noErr, FSGetCatalogInfo(&ref, kFSCatInfoPermissions | kFSCatInfoUserAccess, &info, nullptr, nullptr,
                                        nullptr));
  FSPermissionInfo p = Permissions(info);
  EXPECT_EQ(0640u | S_IFREG, p.mode);
  EXPECT_EQ(geteuid(), p.userID);
  EXPECT_EQ(6, p.userAccess);  // root reads and writes, and cannot execute what nobody may
  ref = RefFor(tree.path("x"));
  ASSERT_STATUS(noErr, FSGetCatalogInfo(&ref, kFSCatInfoPermissions | kFSCatInfoUserAccess, &info, nullptr, nullptr,
                                        nullptr));
  EXPECT_EQ(7, Permissions(info).userAccess);
}

TEST(CatalogInfoTest, UserAccessIsThatOfTheEffectiveUnprivilegedUser) {
  TV_SKIP_UNLESS_ROOT("become user 65534");
  tv::test::TempTree tree;
  tree.folder("open");
  tree.folder("noread");
  tree.folder("nosearch");
  tree.file("readonly", "x");
  tree.file("writable", "x");
  tree.chmod("open", 0755);
  tree.chmod("noread", 0711);
  tree.chmod("nosearch", 0744);
  tree.chmod("readonly", 0644);
  tree.chmod("writable", 0666);
  const char *names[] = {"open", "noread", "nosearch", "readonly", "writable"};
  FSRef refs[5];
  for (int i = 0; i < 5; i++) refs[i] = RefFor(tree.path(names[i]));
  std::string seen = AsNobody([&] {
    std::string out;
    for (const FSRef &ref : refs) {
      FSCatalogInfo info{};
      OSErr s = FSGetCatalogInfo(&ref, kFSCatInfoPermissions | kFSCatInfoUserAccess, &info, nullptr, nullptr, nullptr);
      out += s == noErr ? std::to_string(Permissions(info).userAccess) : "err" + std::to_string(s);
      out += " ";
    }
    return out;
  });
  EXPECT_EQ("5 1 4 4 6 ", seen);
}

TEST(CatalogInfoTest, WritesContentAndAccessDatesInWholeSecondsAndAcceptsTheOthers) {
  tv::test::TempTree tree;
  std::string path = tree.file("f", "x");
  FSRef ref = RefFor(path);
  FSCatalogInfo before{};
  ASSERT_STATUS(noErr, FSGetCatalogInfo(&ref, kDates, &before, nullptr, nullptr, nullptr));

  FSCatalogInfo info{};
  info.contentModDate = Date(k1904 + 1000000000);
  info.contentModDate.fraction = 0x8000;
  info.accessDate = Date(k1904 + 1100000000);
  info.createDate = Date(k1904 + 5);
  info.attributeModDate = Date(k1904 + 6);
  ASSERT_STATUS(noErr, FSSetCatalogInfo(&ref, kDates, &info));

  struct stat st;
  ASSERT_EQ(0, lstat(path.c_str(), &st));
  EXPECT_EQ(1000000000, st.st_mtim.tv_sec);
  EXPECT_EQ(0, st.st_mtim.tv_nsec);
  EXPECT_EQ(1100000000, st.st_atim.tv_sec);
  EXPECT_EQ(0, st.st_atim.tv_nsec);

  FSCatalogInfo after{};
  ASSERT_STATUS(noErr, FSGetCatalogInfo(&ref, kDates, &after, nullptr, nullptr, nullptr));
  EXPECT_EQ(k1904 + 1000000000, Seconds(after.contentModDate));
  EXPECT_EQ(0, after.contentModDate.fraction);
  EXPECT_EQ(0, after.accessDate.fraction);
  // The birth time cannot be set: it stays what it was.
  EXPECT_EQ(Seconds(before.createDate), Seconds(after.createDate));

  // Only the content date: the access date is left alone.
  info.contentModDate = Date(k1904 + 1200000000);
  ASSERT_STATUS(noErr, FSSetCatalogInfo(&ref, kFSCatInfoContentMod, &info));
  ASSERT_EQ(0, lstat(path.c_str(), &st));
  EXPECT_EQ(1200000000, st.st_mtim.tv_sec);
  EXPECT_EQ(1100000000, st.st_atim.tv_sec);
}

TEST(CatalogInfoTest, WritingDatesOfASymlinkLeavesItsTarget) {
  tv::test::TempTree tree;
  std::string target = tree.file("target", "x");
  std::string link = tree.symlink("link", target);
  struct stat before;
  ASSERT_EQ(0, stat(target.c_str(), &before));
  FSRef ref = RefFor(link);
  FSCatalogInfo info{};
  info.contentModDate = Date(k1904 + 1000000000);
  ASSERT_STATUS(noErr, FSSetCatalogInfo(&ref, kFSCatInfoContentMod, &info));
  struct stat st;
  ASSERT_EQ(0, lstat(link.c_str(), &st));
  EXPECT_EQ(1000000000, st.st_mtim.tv_sec);
  ASSERT_EQ(0, stat(target.c_str(), &st));
  EXPECT_EQ(before.st_mtim.tv_sec, st.st_mtim.tv_sec);
}

TEST(CatalogInfoTest, RefusesWhatItCannotStore) {
  tv::test::TempTree tree;
  FSRef ref = RefFor(tree.file("f", "x"));
  FSCatalogInfo info{};
  EXPECT_STATUS(errFSBadInfoBitmap, FSSetCatalogInfo(&ref, kFSCatInfoPermissions, &info));
  EXPECT_STATUS(errFSBadInfoBitmap, FSSetCatalogInfo(&ref, kFSCatInfoContentMod | kFSCatInfoNodeFlags, &info));
  EXPECT_STATUS(paramErr, FSSetCatalogInfo(&ref, kFSCatInfoContentMod, nullptr));
  EXPECT_STATUS(paramErr, FSSetCatalogInfo(nullptr, kFSCatInfoContentMod, &info));
  EXPECT_STATUS(paramErr, FSGetCatalogInfo(&ref, kFSCatInfoNodeFlags, nullptr, nullptr, nullptr, nullptr));
  HFSUniStr255 name;
  EXPECT_STATUS(paramErr, FSGetCatalogInfo(&ref, kFSCatInfoNodeFlags, &info, &name, nullptr, nullptr));
}

TEST(CatalogInfoTest, DatesOfALockedFileGiveFLckdErr) {
  TV_SKIP_UNLESS_ROOT("set the immutable flag");
  tv::test::TempTree tree;
  std::string path = tree.file("locked", "x");
  FSRef ref = RefFor(path);
  tree.setImmutable("locked", true);
  FSCatalogInfo info{};
  ASSERT_STATUS(noErr, FSGetCatalogInfo(&ref, kFSCatInfoNodeFlags | kFSCatInfoPermissions | kFSCatInfoUserAccess,
                                        &info, nullptr, nullptr, nullptr));
  EXPECT_EQ(kFSNodeLockedMask, info.nodeFlags & kFSNodeLockedMask);
  EXPECT_EQ(4, Permissions(info).userAccess & 4);
  EXPECT_EQ(0, Permissions(info).userAccess & 2);  // not writable, even for root
  info.contentModDate = Date(k1904 + 1000000000);
  EXPECT_STATUS(fLckdErr, FSSetCatalogInfo(&ref, kFSCatInfoContentMod, &info));
  tree.setImmutable("locked", false);
}

TEST(CatalogInfoTest, SystemCallFailuresBecomeTheirStatus) {
  tv::test::TempTree tree;
  std::string path = tree.file("f", "x");
  FSRef ref = RefFor(path);
  FSCatalogInfo info{};
  sys::FaultScope faults;
  struct Case {
    sys::Call call;
    int err;
    OSStatus status;
    FSCatalogInfoBitmap bits;
  } cases[] = {
      {sys::Call::statx, EACCES, afpAccessDenied, kFSCatInfoNodeFlags},
      {sys::Call::statx, EIO, ioErr, kFSCatInfoNodeFlags},
      {sys::Call::statx, ENOMEM, memFullErr, kFSCatInfoNodeFlags},
      {sys::Call::statx, ENOENT, fnfErr, kFSCatInfoNodeFlags},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(sys::CallName(c.call));
    sys::FailCall(c.call, 1, c.err);
    EXPECT_STATUS(c.status, FSGetCatalogInfo(&ref, c.bits, &info, nullptr, nullptr, nullptr));
    EXPECT_STATUS(noErr, FSGetCatalogInfo(&ref, c.bits, &info, nullptr, nullptr, nullptr));  // one call only
  }
  info.contentModDate = Date(k1904 + 1000000000);
  for (auto [err, status] : {std::pair{EROFS, wPrErr}, {EPERM, permErr}, {EACCES, afpAccessDenied}, {EIO, ioErr}}) {
    sys::FailCall(sys::Call::utimensat, 1, err);
    EXPECT_STATUS(status, FSSetCatalogInfo(&ref, kFSCatInfoContentMod, &info));
  }
  // A failed access check only takes that bit away.
  sys::FailCall(sys::Call::faccessat, 2, EACCES);
  ASSERT_STATUS(noErr, FSGetCatalogInfo(&ref, kFSCatInfoPermissions | kFSCatInfoUserAccess, &info, nullptr, nullptr,
                                        nullptr));
  EXPECT_EQ(4, Permissions(info).userAccess);
}

TEST(CatalogInfoTest, NodeFlagsDoNotDependOnTheMetadata) {
  tv::test::TempTree tree;
  FSRef ref = RefFor(tree.file("f", "x"));
  tree.file("._f", "not AppleDouble at all, but long enough to be taken for it");
  FSCatalogInfo info{};
  ASSERT_STATUS(noErr, FSGetCatalogInfo(&ref, kFSCatInfoNodeFlags, &info, nullptr, nullptr, nullptr));
  EXPECT_EQ(0, info.nodeFlags & kFSNodeIsDirectoryMask);
}
