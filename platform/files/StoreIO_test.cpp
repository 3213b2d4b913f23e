// The fork stores on real files: reading the fork's size and FinderInfo from
// every place they live, emptying the fork everywhere, writing FinderInfo to
// the primary and its secondaries, and what is refused.
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "platform/Files.h"
#include "tests/support/FilesFixture.h"
#include "platform/files/StoreIO.h"
#include "platform/files/OpenForks.h"
#include "platform/sys/CallTable.h"
#include "tests/support/ForksFixture.h"
#include "tests/support/ForkCalls.h"

using namespace tv::test;
namespace fx = tv::test;
namespace sys = tv::sys;
using tv::forks::AppleDoubleView;
using tv::forks::FinderInfoBytes;

namespace {

std::string Str(const std::vector<UInt8> &v) { return std::string(v.begin(), v.end()); }
std::vector<UInt8> Vec(const std::string &s) { return std::vector<UInt8>(s.begin(), s.end()); }

// Entry 2's length and entry 9's flags of sidecar bytes that must parse.
UInt32 ForkLength(const std::vector<UInt8> &bytes) {
  AppleDoubleView view = tv::test::MustParse(bytes);
  return view.resourceForkEntry() ? view.resourceForkEntry()->length : 0;
}
UInt16 SidecarFlags(const std::vector<UInt8> &bytes) {
  return tv::forks::GetFinderFlags(tv::test::MustParse(bytes).finderInfo());
}

constexpr char kFinderInfoXattr[] = "user.com.apple.FinderInfo";
constexpr char kResourceForkXattr[] = "user.com.apple.ResourceFork";
constexpr char kAfpInfoXattr[] = "user.DosStream.AFP_AfpInfo:$DATA";
constexpr char kNetatalkXattr[] = "user.org.netatalk.Metadata";
constexpr char kAfpResourceXattr[] = "user.DosStream.AFP_Resource:$DATA";

class ForkStoreTest : public ::testing::Test {
 protected:
  // A file "rel" with some data and, when given, its sidecar bytes.
  std::string Item(const std::string &rel, const std::vector<UInt8> &sidecar = {}) {
    std::string path = tree.file(rel, "data of " + rel);
    if (!sidecar.empty()) tree.file(SidecarRel(rel), Str(sidecar));
    return path;
  }
  static std::string SidecarRel(const std::string &rel) {
    size_t slash = rel.rfind('/');
    return slash == std::string::npos ? "._" + rel : rel.substr(0, slash + 1) + "._" + rel.substr(slash + 1);
  }
  OSStatus RsrcSize(const std::string &path, UInt64 *size) {
    FSRef ref = RefFor(path);
    FSCatalogInfo info{};
    OSStatus s = FSGetCatalogInfo(&ref, kFSCatInfoRsrcSizes, &info, nullptr, nullptr, nullptr);
    *size = info.rsrcLogicalSize;
    return s;
  }
  UInt64 RsrcSize(const std::string &path) {
    UInt64 size = ~UInt64(0);
    EXPECT_STATUS(noErr, RsrcSize(path, &size)) << path;
    return size;
  }
  UInt16 FinderFlags(const std::string &path) {
    FSRef ref = RefFor(path);
    FSCatalogInfo info{};
    EXPECT_STATUS(noErr, FSGetCatalogInfo(&ref, kFSCatInfoFinderInfo, &info, nullptr, nullptr, nullptr)) << path;
    return reinterpret_cast<FileInfo *>(info.finderInfo)->finderFlags;
  }
  // What the plug-in does to zap, and to clear the custom-icon flag.
  OSStatus Zap(const std::string &path) { return tv::test::ZapResourceFork(RefFor(path)); }
  OSStatus Zap(const FSRef &ref) { return tv::test::ZapResourceFork(ref); }
  OSStatus ClearCustomIcon(const std::string &path) { return tv::test::ClearCustomIconFlag(RefFor(path)); }
  std::vector<UInt8> Sidecar(const std::string &rel) { return Vec(tree.read(SidecarRel(rel))); }
  std::string Xattr(const std::string &rel, const char *name, bool *exists) { return tree.getXattr(rel, name, exists); }

  tv::test::TempTree tree;
};

// A bind mount of `from` on `on` (read-only when asked), undone at the end;
// `why` says why it could not be made.
struct BindMount {
  BindMount(const std::string &from, const std::string &on, bool readOnly) : at(on) {
    if (mount(from.c_str(), on.c_str(), nullptr, MS_BIND, nullptr) != 0)
      why = std::string("bind mounts are not permitted here: ") + std::strerror(errno);
    else if (readOnly && mount(nullptr, on.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
      why = std::string("cannot remount read-only: ") + std::strerror(errno);
  }
  ~BindMount() { umount2(at.c_str(), MNT_DETACH); }
  std::string at, why;
};

FinderInfoBytes Info(UInt16 flags) { return fx::MakeFinderInfo(FOUR_CHAR_CODE("TEXT"), FOUR_CHAR_CODE("ttxt"), flags); }
// The value of user.com.apple.FinderInfo.
std::string InfoXattr(UInt16 flags) {
  FinderInfoBytes info = Info(flags);
  return std::string(info.begin(), info.end());
}

struct Layout {
  const char *name;
  std::vector<UInt8> (*build)(const FinderInfoBytes &, const std::vector<UInt8> &fork);
};

const Layout kLayouts[] = {
    {"MacOSKernel",
     [](const FinderInfoBytes &i, const std::vector<UInt8> &f) {
       return fx::BuildMacOSKernelSidecar(i, fx::TypicalAttributes(), f);
     }},
    {"MacOSKernelBlankFork",
     [](const FinderInfoBytes &i, const std::vector<UInt8> &) {
       return fx::BuildMacOSKernelSidecar(i, fx::TypicalAttributes());
     }},
    {"Copyfile",
     [](const FinderInfoBytes &i, const std::vector<UInt8> &f) {
       return fx::BuildCopyfileSidecar(i, fx::TypicalAttributes(), f);
     }},
    {"OldCopyfile", [](const FinderInfoBytes &i, const std::vector<UInt8> &f) { return fx::BuildOldCopyfileSidecar(i, f); }},
    {"SambaDescriptorFirst", [](const FinderInfoBytes &i, const std::vector<UInt8> &f) { return fx::BuildSambaSidecar(i, f); }},
    {"Unarchiver",
     [](const FinderInfoBytes &i, const std::vector<UInt8> &f) {
       return fx::BuildUnarchiverSidecar(i, f, fx::TypicalAttributes());
     }},
    {"ForkDataFirst",
     [](const FinderInfoBytes &i, const std::vector<UInt8> &f) {
       return fx::BuildForkFirstSidecar(i, f, fx::TypicalAttributes());
     }},
};

class SidecarLayoutTest : public ForkStoreTest, public ::testing::WithParamInterface<Layout> {};

TEST_P(SidecarLayoutTest, ReadsForkAndFinderInfoThenZapKeepsEverythingElse) {
  const std::vector<UInt8> fork = fx::MakeResourceFork(700);
  const std::vector<UInt8> before = GetParam().build(Info(kHasCustomIcon | 0x0100), fork);
  const AppleDoubleView beforeView = tv::test::MustParse(before);
  const UInt64 forkSize = beforeView.resourceForkEntry()->length;
  std::string path = Item("doc", before);

  EXPECT_EQ(forkSize, RsrcSize(path));
  EXPECT_EQ(kHasCustomIcon | 0x0100, FinderFlags(path));

  ASSERT_STATUS(noErr, Zap(path));
  EXPECT_EQ(0u, RsrcSize(path));
  ASSERT_TRUE(tree.exists("._doc"));  // FinderInfo is left: the sidecar stays
  const std::vector<UInt8> after = Sidecar("doc");
  const AppleDoubleView afterView = tv::test::MustParse(after);
  ASSERT_NE(nullptr, afterView.resourceForkEntry());
  EXPECT_EQ(0u, afterView.resourceForkEntry()->length);
  EXPECT_EQ("", fx::CompareKeptMetadata(beforeView, afterView, tv::forks::kEntryResourceFork));
  EXPECT_EQ(kHasCustomIcon | 0x0100, FinderFlags(path));
  EXPECT_EQ("data of doc", tree.read("doc"));

  // Then the flag, as the plug-in clears it after the zap.
  ASSERT_STATUS(noErr, ClearCustomIcon(path));
  EXPECT_EQ(0x0100, FinderFlags(path));
  const std::vector<UInt8> cleared = Sidecar("doc");
  const AppleDoubleView clearedView = tv::test::MustParse(cleared);
  EXPECT_EQ("", fx::CompareKeptMetadata(afterView, clearedView, tv::forks::kEntryFinderInfo));
  EXPECT_EQ(0, tv::forks::GetFinderFlags(clearedView.finderInfo()) & kHasCustomIcon);
}

TEST_P(SidecarLayoutTest, SidecarHoldingNothingAfterZapIsRemoved) {
  // No FinderInfo; the kernel's and copyfile's layouts without attributes.
  std::vector<UInt8> bytes = GetParam().build(FinderInfoBytes{}, fx::MakeResourceFork(300));
  std::vector<fx::Attribute> none;
  const std::string name = GetParam().name;
  if (name == "MacOSKernel") bytes = fx::BuildMacOSKernelSidecar(FinderInfoBytes{}, none, fx::MakeResourceFork(300));
  if (name == "MacOSKernelBlankFork") bytes = fx::BuildMacOSKernelSidecar(FinderInfoBytes{}, none);
  if (name == "Copyfile") bytes = fx::BuildCopyfileSidecar(FinderInfoBytes{}, none, fx::MakeResourceFork(300));
  if (name == "Unarchiver") bytes = fx::BuildUnarchiverSidecar(FinderInfoBytes{}, fx::MakeResourceFork(300), none);
  if (name == "ForkDataFirst") bytes = fx::BuildForkFirstSidecar(FinderInfoBytes{}, fx::MakeResourceFork(300), none);
  std::string path = Item("bare", bytes);
  ASSERT_NE(0u, RsrcSize(path));
  ASSERT_STATUS(noErr, Zap(path));
  EXPECT_FALSE(tree.exists("._bare"));
  EXPECT_EQ(0u, RsrcSize(path));
  EXPECT_EQ("data of bare", tree.read("bare"));
}

INSTANTIATE_TEST_SUITE_P(Layouts, SidecarLayoutTest, ::testing::ValuesIn(kLayouts),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(ForkStoreTest, ResourceForkAttributesAreEmptiedAsMacOSAndSambaDo) {
  const std::vector<UInt8> fork = fx::MakeResourceFork(900);
  std::string rsync = Item("rsync");
  tree.setXattr("rsync", kResourceForkXattr, Str(fork));
  std::string samba = Item("samba");
  tree.setXattr("samba", kAfpResourceXattr, Str(fx::BuildAfpResource(fork)));

  EXPECT_EQ(900u, RsrcSize(rsync));
  EXPECT_EQ(900u, RsrcSize(samba));
  ASSERT_STATUS(noErr, Zap(rsync));
  ASSERT_STATUS(noErr, Zap(samba));
  bool exists = true;
  Xattr("rsync", kResourceForkXattr, &exists);
  EXPECT_FALSE(exists) << "the fork attribute goes, as macOS removes it";
  EXPECT_EQ(std::string(1, '\0'), Xattr("samba", kAfpResourceXattr, &exists));
  EXPECT_TRUE(exists) << "Samba keeps an empty stream as its single 0 byte";
  EXPECT_EQ(0u, RsrcSize(rsync));
  EXPECT_EQ(0u, RsrcSize(samba));
}

TEST_F(ForkStoreTest, ZapEmptiesTheForkInEveryStoreThatHoldsOne) {
  std::string path = Item("all", fx::BuildCopyfileSidecar(Info(0), fx::TypicalAttributes(), fx::MakeResourceFork(100)));
  tree.setXattr("all", kResourceForkXattr, Str(fx::MakeResourceFork(200)));
  tree.setXattr("all", kAfpResourceXattr, Str(fx::BuildAfpResource(fx::MakeResourceFork(300))));
  tree.setXattr("all", "user.other", "kept");
  EXPECT_EQ(100u, RsrcSize(path));  // the sidecar comes first
  ASSERT_STATUS(noErr, Zap(path));
  EXPECT_EQ(0u, RsrcSize(path));
  bool exists = false;
  Xattr("all", kResourceForkXattr, &exists);
  EXPECT_FALSE(exists);
  EXPECT_EQ(std::string(1, '\0'), Xattr("all", kAfpResourceXattr, &exists));
  EXPECT_EQ("kept", Xattr("all", "user.other", &exists));
  EXPECT_EQ(0u, ForkLength(Sidecar("all")));
}

TEST_F(ForkStoreTest, AnEmptyForkInTheSidecarDoesNotHideAForkInAnAttribute) {
  // A Samba sidecar with an empty fork beside an rsync'd fork attribute: the
  // fork that is there is the one reported, so that a zap reaches it.
  std::string path = Item("mixed", fx::BuildSambaSidecar(Info(0)));
  tree.setXattr("mixed", kResourceForkXattr, Str(fx::MakeResourceFork(64)));
  EXPECT_EQ(64u, RsrcSize(path));
  ASSERT_STATUS(noErr, Zap(path));
  EXPECT_EQ(0u, RsrcSize(path));
}

TEST_F(ForkStoreTest, FinderInfoIsReadFromTheFirstStoreThatHoldsIt) {
  std::string path = Item("f", fx::BuildMacOSKernelSidecar(Info(0x0001)));
  EXPECT_EQ(0x0001, FinderFlags(path));
  tree.setXattr("f", kNetatalkXattr, Str(fx::BuildNetatalkMetadata(Info(0x0002))));
  EXPECT_EQ(0x0002, FinderFlags(path));
  tree.setXattr("f", kAfpInfoXattr, Str(fx::BuildAfpInfo(Info(0x0004))));
  EXPECT_EQ(0x0004, FinderFlags(path));
  tree.setXattr("f", kFinderInfoXattr, InfoXattr(0x0008));
  EXPECT_EQ(0x0008, FinderFlags(path));

  // FinderInfo found in an attribute does not depend on the sidecar at all.
  tree.file("._f", "not AppleDouble at all, but long enough to be taken for it");
  FSRef ref = RefFor(path);
  FSCatalogInfo info{};
  ASSERT_STATUS(noErr, FSGetCatalogInfo(&ref, kFSCatInfoFinderInfo, &info, nullptr, nullptr, nullptr));
  EXPECT_EQ(0x0008, reinterpret_cast<FileInfo *>(info.finderInfo)->finderFlags);
}

TEST_F(ForkStoreTest, ForkSizeAndFlagsReadTogetherFromAPackedSidecar) {
  std::string path = Item("few", fx::BuildMacOSKernelSidecar(Info(kHasCustomIcon), fx::TypicalAttributes(),
                                                             fx::MakeResourceFork(5000)));
  const std::vector<UInt8> before = Sidecar("few");
  FSRef ref = RefFor(path);
  FSCatalogInfo info{};
  ASSERT_STATUS(noErr, FSGetCatalogInfo(&ref, kFSCatInfoRsrcSizes | kFSCatInfoFinderInfo, &info, nullptr, nullptr,
                                        nullptr));
  EXPECT_EQ(5000u, info.rsrcLogicalSize);
  EXPECT_EQ(kHasCustomIcon, reinterpret_cast<FileInfo *>(info.finderInfo)->finderFlags);
  EXPECT_EQ(before, Sidecar("few"));  // reading changes nothing
}

TEST_F(ForkStoreTest, ClearingTheFlagReachesEverySecondaryCopyAndNoneGainsBits) {
  std::string path = Item("icon", fx::BuildMacOSKernelSidecar(Info(kHasCustomIcon | 0x4000), fx::TypicalAttributes(),
                                                              fx::MakeResourceFork(10)));
  tree.setXattr("icon", kFinderInfoXattr, InfoXattr(kHasCustomIcon | 0x0100));
  tree.setXattr("icon", kAfpInfoXattr, Str(fx::BuildAfpInfo(Info(kHasCustomIcon))));
  tree.setXattr("icon", kNetatalkXattr, Str(fx::BuildNetatalkMetadata(Info(kHasCustomIcon | 0x0001))));

  ASSERT_STATUS(noErr, ClearCustomIcon(path));
  bool exists = false;
  FinderInfoBytes primary = tv::forks::FinderInfoFrom(Vec(Xattr("icon", kFinderInfoXattr, &exists)));
  EXPECT_EQ(0x0100, tv::forks::GetFinderFlags(primary));
  FinderInfoBytes afp{};
  ASSERT_EQ(tv::forks::ForkFormatError::kNone, tv::forks::ParseAfpInfo(Vec(Xattr("icon", kAfpInfoXattr, &exists)), &afp));
  EXPECT_EQ(Info(0), afp);  // lost the flag, kept type and creator
  AppleDoubleView netatalk;
  std::vector<UInt8> meta = Vec(Xattr("icon", kNetatalkXattr, &exists));
  ASSERT_EQ(tv::forks::ForkFormatError::kNone, tv::forks::ParseNetatalkMetadata(meta, &netatalk));
  EXPECT_EQ(0x0001, tv::forks::GetFinderFlags(netatalk.finderInfo()));  // kept its own bit, gained none
  EXPECT_EQ(0x4000, SidecarFlags(Sidecar("icon")));
}

TEST_F(ForkStoreTest, AllZeroFinderInfoRemovesAttributesButKeepsNetatalkMetadata) {
  std::string path = Item("z");
  tree.setXattr("z", kAfpInfoXattr, Str(fx::BuildAfpInfo(Info(kHasCustomIcon))));
  tree.setXattr("z", kNetatalkXattr, Str(fx::BuildNetatalkMetadata(Info(kHasCustomIcon))));
  std::string x = Item("x");
  tree.setXattr("x", kFinderInfoXattr, InfoXattr(kHasCustomIcon));
  for (const char *rel : {"z", "x"}) {
    FSRef ref = RefFor(tree.path(rel));
    FSCatalogInfo info{};
    ASSERT_STATUS(noErr, FSSetCatalogInfo(&ref, kFSCatInfoFinderInfo | kFSCatInfoFinderXInfo, &info));
    EXPECT_EQ(0, FinderFlags(tree.path(rel)));
  }
  bool exists = true;
  Xattr("x", kFinderInfoXattr, &exists);
  EXPECT_FALSE(exists);
  Xattr("z", kAfpInfoXattr, &exists);
  EXPECT_FALSE(exists);
  std::vector<UInt8> meta = Vec(Xattr("z", kNetatalkXattr, &exists));
  ASSERT_TRUE(exists);
  EXPECT_EQ(402u, meta.size());
  AppleDoubleView view;
  ASSERT_EQ(tv::forks::ForkFormatError::kNone, tv::forks::ParseNetatalkMetadata(meta, &view));
  EXPECT_EQ(0, tv::forks::GetFinderFlags(view.finderInfo()));
}

TEST_F(ForkStoreTest, NewFinderInfoGoesToAnAttributeAndZeroCreatesNothing) {
  std::string path = Item("new");
  FSRef ref = RefFor(path);
  FSCatalogInfo info{};
  ASSERT_STATUS(noErr, FSSetCatalogInfo(&ref, kFSCatInfoFinderInfo, &info));
  bool exists = true;
  Xattr("new", kFinderInfoXattr, &exists);
  EXPECT_FALSE(exists);
  EXPECT_FALSE(tree.exists("._new"));
  reinterpret_cast<FileInfo *>(info.finderInfo)->finderFlags = kIsInvisible;
  ASSERT_STATUS(noErr, FSSetCatalogInfo(&ref, kFSCatInfoFinderInfo, &info));
  EXPECT_EQ(32u, Xattr("new", kFinderInfoXattr, &exists).size());
  EXPECT_EQ(kIsInvisible, FinderFlags(path));
  EXPECT_FALSE(tree.exists("._new"));
  // Either half written alone keeps the other.
  FSCatalogInfo ext{};
  reinterpret_cast<ExtendedFileInfo *>(ext.extFinderInfo)->putAwayFolderID = 0x01020304;
  ASSERT_STATUS(noErr, FSSetCatalogInfo(&ref, kFSCatInfoFinderXInfo, &ext));
  EXPECT_EQ(kIsInvisible, FinderFlags(path));
  reinterpret_cast<FileInfo *>(info.finderInfo)->finderFlags = kNameLocked;
  ASSERT_STATUS(noErr, FSSetCatalogInfo(&ref, kFSCatInfoFinderInfo, &info));
  FSCatalogInfo read{};
  ASSERT_STATUS(noErr, FSGetCatalogInfo(&ref, kFSCatInfoFinderInfo | kFSCatInfoFinderXInfo, &read, nullptr, nullptr,
                                        nullptr));
  EXPECT_EQ(kNameLocked, reinterpret_cast<FileInfo *>(read.finderInfo)->finderFlags);
  EXPECT_EQ(0x01020304, reinterpret_cast<ExtendedFileInfo *>(read.extFinderInfo)->putAwayFolderID);
}

TEST_F(ForkStoreTest, FlagClearedOnTheLastThingInASidecarRemovesIt) {
  std::string path = Item("last", fx::BuildOldCopyfileSidecar(Info(kHasCustomIcon)));
  ASSERT_STATUS(noErr, ClearCustomIcon(path));
  EXPECT_EQ(0, FinderFlags(path) & kHasCustomIcon);
  // Type and creator are still there: the sidecar stays.
  EXPECT_TRUE(tree.exists("._last"));
  FSRef ref = RefFor(path);
  FSCatalogInfo info{};
  ASSERT_STATUS(noErr, FSSetCatalogInfo(&ref, kFSCatInfoFinderInfo | kFSCatInfoFinderXInfo, &info));
  EXPECT_FALSE(tree.exists("._last"));
}

TEST_F(ForkStoreTest, FoldersAndVolumeRootsKeepFinderInfoBesideAndInside) {
  tree.folder("dir");
  tree.file("._dir", Str(fx::BuildMacOSKernelSidecar(Info(kHasCustomIcon), fx::TypicalAttributes())));
  EXPECT_EQ(kHasCustomIcon, FinderFlags(tree.path("dir")));
  ASSERT_STATUS(noErr, ClearCustomIcon(tree.path("dir")));
  EXPECT_EQ(0, FinderFlags(tree.path("dir")));
  EXPECT_TRUE(tree.exists("._dir"));  // quarantine is still packed in it
}

TEST_F(ForkStoreTest, LinksAndSpecialFilesHaveNoForksAndAreNeverOpened) {
  Item("target", fx::BuildMacOSKernelSidecar(Info(kHasCustomIcon), {}, fx::MakeResourceFork(40)));
  std::string link = tree.symlink("link", "target");
  tree.file("._link", Str(fx::BuildMacOSKernelSidecar(Info(kHasCustomIcon), {}, fx::MakeResourceFork(40))));
  std::string fifo = tree.path("fifo");
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0644));
  HFSUniStr255 rsrc;
  FSGetResourceForkName(&rsrc);
  for (const std::string &path : {link, fifo}) {
    FSRef ref = RefFor(path);
    FSCatalogInfo info{};
    ASSERT_STATUS(noErr, FSGetCatalogInfo(&ref, kFSCatInfoRsrcSizes | kFSCatInfoFinderInfo, &info, nullptr, nullptr,
                                          nullptr));
    EXPECT_EQ(0u, info.rsrcLogicalSize);
    EXPECT_EQ(0, reinterpret_cast<FileInfo *>(info.finderInfo)->finderFlags);
    FSIORefNum fork = -1;
    EXPECT_STATUS(afpObjectTypeErr, FSOpenFork(&ref, rsrc.length, rsrc.unicode, fsRdWrPerm, &fork)) << path;
    EXPECT_STATUS(afpObjectTypeErr, FSOpenFork(&ref, 0, nullptr, fsRdPerm, &fork)) << path;
  }
  EXPECT_EQ(40u, RsrcSize(tree.path("target")));
}

TEST_F(ForkStoreTest, StoresThatDoNotParseAreRefusedAndLinksAreNoStores) {
  std::vector<UInt8> damaged = fx::BuildMacOSKernelSidecar(Info(kHasCustomIcon), fx::TypicalAttributes(),
                                                           fx::MakeResourceFork(100));
  damaged[0x54 + 8] ^= 0x7F;  // the ATTR block's total size
  std::string bad = Item("bad", damaged);
  UInt64 size = 0;
  EXPECT_STATUS(ioErr, RsrcSize(bad, &size));
  EXPECT_STATUS(ioErr, Zap(bad));
  EXPECT_STATUS(ioErr, ClearCustomIcon(bad));
  EXPECT_EQ(damaged, Sidecar("bad"));

  std::string shortInfo = Item("short");
  tree.setXattr("short", kFinderInfoXattr, std::string(31, '\1'));
  FSRef ref = RefFor(shortInfo);
  FSCatalogInfo info{};
  EXPECT_STATUS(ioErr, FSGetCatalogInfo(&ref, kFSCatInfoFinderInfo, &info, nullptr, nullptr, nullptr));
  EXPECT_STATUS(ioErr, FSSetCatalogInfo(&ref, kFSCatInfoFinderInfo | kFSCatInfoFinderXInfo, &info));
  bool exists = false;
  EXPECT_EQ(std::string(31, '\1'), Xattr("short", kFinderInfoXattr, &exists));

  // A link where a sidecar belongs is no sidecar: neither followed nor
  // replaced, and the item has none.
  std::string linked = Item("linked");
  tree.file("elsewhere", Str(fx::BuildSambaSidecar(Info(0), fx::MakeResourceFork(10))));
  tree.symlink("._linked", "elsewhere");
  EXPECT_STATUS(noErr, RsrcSize(linked, &size));
  EXPECT_EQ(0u, size);
  EXPECT_STATUS(noErr, Zap(linked));
  EXPECT_EQ(10u, ForkLength(Vec(tree.read("elsewhere"))));
  struct stat link {};
  EXPECT_TRUE(lstat(tree.path("._linked").c_str(), &link) == 0 && S_ISLNK(link.st_mode));
}

TEST_F(ForkStoreTest, RewrittenSidecarKeepsOwnerAndMode) {
  TV_SKIP_UNLESS_ROOT("give files to another owner");
  std::string path = Item("owned", fx::BuildForkFirstSidecar(Info(0x0100), fx::MakeResourceFork(50), fx::TypicalAttributes()));
  std::string sidecar = tree.path("._owned");
  ASSERT_EQ(0, chown(sidecar.c_str(), 1234, 5678));
  ASSERT_EQ(0, chmod(sidecar.c_str(), 0640));
  struct stat before {};
  ASSERT_EQ(0, lstat(sidecar.c_str(), &before));
  ASSERT_STATUS(noErr, Zap(path));
  struct stat after {};
  ASSERT_EQ(0, lstat(sidecar.c_str(), &after));
  EXPECT_NE(before.st_ino, after.st_ino) << "the fork is not last: a rewrite";
  EXPECT_EQ(1234u, after.st_uid);
  EXPECT_EQ(5678u, after.st_gid);
  EXPECT_EQ(0640u, after.st_mode & 07777);
  EXPECT_EQ(0u, RsrcSize(path));
}

TEST_F(ForkStoreTest, HardLinkedSidecarChangesOnlyTheSelectedName) {
  // Deduplicated trees: B/._o.doc is another name of A/._r.doc. Fork last
  // (cut in place otherwise), fork first (rewritten anyway), and the flag
  // alone (patched in place otherwise).
  struct Case {
    const char *a, *b;
    bool forkFirst, zap;
  };
  for (Case c : {Case{"A0", "B0", false, true}, Case{"A1", "B1", true, true}, Case{"A2", "B2", false, false}}) {
    SCOPED_TRACE(c.a);
    const std::string a = c.a, b = c.b;
    const bool forkFirst = c.forkFirst;
    const FinderInfoBytes icon = Info(kHasCustomIcon | 0x0100);
    const std::vector<UInt8> shared =
        forkFirst ? fx::BuildForkFirstSidecar(icon, fx::MakeResourceFork(500), fx::TypicalAttributes())
                  : fx::BuildMacOSKernelSidecar(icon, fx::TypicalAttributes(), fx::MakeResourceFork(500));
    std::string selected = Item(a + "/r.doc", shared);
    std::string other = Item(b + "/o.doc");
    ASSERT_EQ(0, link(tree.path(a + "/._r.doc").c_str(), tree.path(b + "/._o.doc").c_str()));
    ASSERT_EQ(0, chown(tree.path(a + "/._r.doc").c_str(), 1234, 5678));
    ASSERT_EQ(0, chmod(tree.path(a + "/._r.doc").c_str(), 0640));
    tree.setXattr(a + "/._r.doc", "user.DOSATTRIB", "dos");

    if (c.zap) {
      ASSERT_STATUS(noErr, Zap(selected));
    }
    ASSERT_STATUS(noErr, ClearCustomIcon(selected));
    EXPECT_EQ(c.zap ? 0u : 500u, RsrcSize(selected));
    EXPECT_EQ(0x0100, FinderFlags(selected));
    EXPECT_EQ(shared, Sidecar(b + "/o.doc")) << "the other name lost its fork or its flag";
    EXPECT_EQ(500u, RsrcSize(other));
    EXPECT_EQ(kHasCustomIcon | 0x0100, FinderFlags(other));
    struct stat st {};
    ASSERT_EQ(0, lstat(tree.path(a + "/._r.doc").c_str(), &st));
    EXPECT_EQ(1u, st.st_nlink);
    EXPECT_EQ(1234u, st.st_uid);
    EXPECT_EQ(5678u, st.st_gid);
    EXPECT_EQ(0640u, st.st_mode & 07777);
    bool exists = false;
    EXPECT_EQ("dos", Xattr(a + "/._r.doc", "user.DOSATTRIB", &exists));
    ASSERT_EQ(0, lstat(tree.path(b + "/._o.doc").c_str(), &st));
    EXPECT_EQ(1u, st.st_nlink);
    EXPECT_EQ(0640u, st.st_mode & 07777);
    EXPECT_EQ("dos", Xattr(b + "/._o.doc", "user.DOSATTRIB", &exists));
    std::string listing = tv::test::Run({"/bin/ls", "-A", tree.path(a)}).out;
    EXPECT_EQ(std::string::npos, listing.find(tv::files::kTemporaryPrefix)) << listing;
  }
}

// What getfacl prints for a file, without the header that names it.
std::string Acl(const std::string &path) {
  tv::test::RunResult r = tv::test::Run({"getfacl", "--omit-header", "--numeric", path});
  EXPECT_EQ(0, r.status) << r.err;
  return r.out;
}

TEST_F(ForkStoreTest, RewrittenSidecarKeepsItsAttributesAndAcl) {
  // As Samba leaves a sidecar: DOS attributes, an NT ACL, and a POSIX ACL
  // whose mask is wider than the owning group's own entry.
  std::string path = Item("samba", fx::BuildForkFirstSidecar(Info(kHasCustomIcon), fx::MakeResourceFork(50),
                                                             fx::TypicalAttributes()));
  const std::string sidecar = tree.path("._samba");
  ASSERT_EQ(0, chown(sidecar.c_str(), 1234, 5678));
  ASSERT_EQ(0, chmod(sidecar.c_str(), 0600));
  tv::test::RunResult set = tv::test::Run({"setfacl", "-m", "u:4321:rw,g:8765:r,g::-,m::rw", sidecar});
  ASSERT_EQ(0, set.status) << set.err;
  tree.setXattr("._samba", "user.DOSATTRIB", std::string("\0 dos", 5));
  tree.setXattr("._samba", "security.NTACL", std::string(300, '\x5a'));
  tree.setXattr("._samba", "trusted.note", "kept");
  const std::string aclBefore = Acl(sidecar);
  ASSERT_NE(std::string::npos, aclBefore.find("user:4321:rw-")) << aclBefore;
  struct stat before {};
  ASSERT_EQ(0, lstat(sidecar.c_str(), &before));

  // Its folder hands new files a default ACL, which a rewrite must not add.
  tree.folder("inherit");
  ASSERT_EQ(0, tv::test::Run({"setfacl", "-d", "-m", "u:4321:rwx,o::r", tree.path("inherit")}).status);
  std::string plain = Item("inherit/plain", fx::BuildForkFirstSidecar(Info(kHasCustomIcon), fx::MakeResourceFork(50)));
  ASSERT_EQ(0, tv::test::Run({"setfacl", "-b", tree.path("inherit/._plain")}).status);
  tree.chmod("inherit/._plain", 0640);
  const std::string plainAcl = Acl(tree.path("inherit/._plain"));

  ASSERT_STATUS(noErr, Zap(path));
  ASSERT_STATUS(noErr, Zap(plain));
  struct stat after {};
  ASSERT_EQ(0, lstat(sidecar.c_str(), &after));
  EXPECT_NE(before.st_ino, after.st_ino) << "the fork is not last: a rewrite";
  EXPECT_EQ(0u, RsrcSize(path));
  EXPECT_EQ(before.st_mode, after.st_mode);
  EXPECT_EQ(1234u, after.st_uid);
  EXPECT_EQ(5678u, after.st_gid);
  EXPECT_EQ(aclBefore, Acl(sidecar));
  bool exists = false;
  EXPECT_EQ(std::string("\0 dos", 5), Xattr("._samba", "user.DOSATTRIB", &exists));
  EXPECT_EQ(std::string(300, '\x5a'), Xattr("._samba", "security.NTACL", &exists));
  EXPECT_EQ("kept", Xattr("._samba", "trusted.note", &exists));
  EXPECT_EQ(0u, RsrcSize(plain));
  EXPECT_EQ(plainAcl, Acl(tree.path("inherit/._plain")));
}

TEST_F(ForkStoreTest, AnAttributeThatCannotBeCarriedOverStopsTheRewrite) {
  // nobody's file in nobody's folder; only root could have set the NT ACL
  // its sidecar carries, and only root can set it on a new file.
  tree.folder("theirs");
  const std::vector<UInt8> sidecar = fx::BuildForkFirstSidecar(Info(kHasCustomIcon), fx::MakeResourceFork(50),
                                                               fx::TypicalAttributes());
  std::string path = Item("theirs/doc", sidecar);
  tree.setXattr("theirs/._doc", "security.NTACL", "nt");
  for (const char *rel : {"theirs", "theirs/doc", "theirs/._doc"})
    ASSERT_EQ(0, chown(tree.path(rel).c_str(), 65534, 65534));
  int code = tv::test::InChildAsNobody([&] { return Zap(path) == permErr ? 0 : 1; });
  EXPECT_EQ(0, code);
  EXPECT_EQ(sidecar, Sidecar("theirs/doc"));
  bool exists = false;
  EXPECT_EQ("nt", Xattr("theirs/._doc", "security.NTACL", &exists));
  std::string listing = tv::test::Run({"/bin/ls", "-A", tree.path("theirs")}).out;
  EXPECT_EQ(std::string::npos, listing.find(tv::files::kTemporaryPrefix)) << listing;
}

TEST_F(ForkStoreTest, LargeForksAreReadInPlaceAndZappedInBothLayouts) {
  const std::vector<UInt8> large = fx::MakeResourceFork(3 << 20);
  // Just big enough to push the ATTR block's entries past the first 64 KiB.
  const std::vector<UInt8> edgeFork = fx::MakeResourceFork(65360);
  std::string last = Item("last", fx::BuildMacOSKernelSidecar(Info(0x0100), fx::TypicalAttributes(), large));
  // The fork's data first: entry 9 and its ATTR block lie after it.
  std::string first = Item("first", fx::BuildForkFirstSidecar(Info(0x0100), large, fx::TypicalAttributes()));
  std::string edge = Item("edge", fx::BuildForkFirstSidecar(Info(0x0100), edgeFork, fx::TypicalAttributes()));
  for (const auto &[path, fork] : {std::pair{last, large}, std::pair{first, large}, std::pair{edge, edgeFork}}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(fork.size(), RsrcSize(path));
    FSRef ref = RefFor(path);
    HFSUniStr255 name;
    FSGetResourceForkName(&name);
    FSIORefNum number = -1;
    ASSERT_STATUS(noErr, FSOpenFork(&ref, name.length, name.unicode, fsRdPerm, &number));
    std::vector<UInt8> back(fork.size() + 10);
    UInt32 got = 0;
    EXPECT_STATUS(eofErr, FSReadFork(number, fsFromStart, 0, UInt32(back.size()), back.data(), &got));
    back.resize(got);
    EXPECT_TRUE(back == fork);
    EXPECT_STATUS(noErr, FSCloseFork(number));
    ASSERT_STATUS(noErr, Zap(path));
    EXPECT_EQ(0u, RsrcSize(path));
    EXPECT_EQ(0x0100, FinderFlags(path));
  }
  for (const char *rel : {"last", "first", "edge"}) {
    const std::vector<UInt8> after = Sidecar(rel);
    EXPECT_LT(after.size(), 4096u) << rel;
    AppleDoubleView view = tv::test::MustParse(after);
    ASSERT_TRUE(view.attr.has_value()) << rel;
    EXPECT_EQ(fx::TypicalAttributes().size(), view.attr->attributes.size()) << rel;
  }
}

TEST_F(ForkStoreTest, FinderInfoAddedBesideALargeForkKeepsTheFork) {
  // A sidecar with a fork and no entry 9: adding FinderInfo rewrites it
  // with the fork's bytes, which must therefore all be read.
  const std::vector<UInt8> fork = fx::MakeResourceFork(2 << 20);
  std::string path = Item("big", fx::BuildAppleDouble(fx::kNetatalkFiller, {{tv::forks::kEntryResourceFork, fork}}));
  FSRef ref = RefFor(path);
  FSCatalogInfo info{};
  reinterpret_cast<FileInfo *>(info.finderInfo)->finderFlags = kHasCustomIcon;
  ASSERT_STATUS(noErr, FSSetCatalogInfo(&ref, kFSCatInfoFinderInfo, &info));
  const std::vector<UInt8> after = Sidecar("big");
  AppleDoubleView view = tv::test::MustParse(after);
  EXPECT_EQ(kHasCustomIcon, tv::forks::GetFinderFlags(view.finderInfo()));
  EXPECT_TRUE(std::ranges::equal(fork, view.resourceFork()));
}

TEST_F(ForkStoreTest, WithoutUserAttributesFinderInfoGoesToANewSidecar) {
  TV_SKIP_UNLESS_ROOT("give files to another owner");
  // As on FAT or exFAT: no attribute can be listed or set.
  std::string path = Item("fat");
  ASSERT_EQ(0, chown(path.c_str(), 1234, 5678));
  tree.chmod("fat", 0640);
  FSRef ref = RefFor(path);
  FSCatalogInfo info{};
  reinterpret_cast<FileInfo *>(info.finderInfo)->fileType = FOUR_CHAR_CODE("TEXT");
  reinterpret_cast<FileInfo *>(info.finderInfo)->finderFlags = kHasCustomIcon;
  {
    sys::FaultScope scope;
    sys::FailCall(sys::Call::llistxattr, 1, ENOTSUP, true);
    sys::FailCall(sys::Call::lsetxattr, 1, ENOTSUP, true);
    ASSERT_STATUS(noErr, FSSetCatalogInfo(&ref, kFSCatInfoFinderInfo, &info));
    EXPECT_EQ(kHasCustomIcon, FinderFlags(path));
  }
  bool exists = true;
  Xattr("fat", kFinderInfoXattr, &exists);
  EXPECT_FALSE(exists);
  ASSERT_TRUE(tree.exists("._fat"));
  EXPECT_EQ(kHasCustomIcon, SidecarFlags(Sidecar("fat")));
  struct stat st {};
  ASSERT_EQ(0, lstat(tree.path("._fat").c_str(), &st));
  EXPECT_EQ(1234u, st.st_uid);
  EXPECT_EQ(0640u, st.st_mode & 07777);
}

TEST_F(ForkStoreTest, AVolumeRootKeepsItsMetadataInside) {
  tree.folder("disk");
  tree.folder("mnt");
  tree.file("disk/._.", Str(fx::BuildMacOSKernelSidecar(Info(kHasCustomIcon), fx::TypicalAttributes())));
  tree.file("._mnt", Str(fx::BuildMacOSKernelSidecar(Info(0x4000))));  // the folder under the mount
  const std::string mnt = tree.path("mnt");
  BindMount bound(tree.path("disk"), mnt, false);
  if (!bound.why.empty()) GTEST_SKIP() << bound.why;
  EXPECT_EQ(kHasCustomIcon, FinderFlags(mnt));
  ASSERT_STATUS(noErr, ClearCustomIcon(mnt));
  EXPECT_EQ(0, SidecarFlags(Sidecar("disk/.")));
  EXPECT_EQ(0x4000, SidecarFlags(Sidecar("mnt")));
}

// Locks, permissions and read-only volumes ----------------------------------

class ChattrGuard {
 public:
  ChattrGuard(std::string path, const char *flag) : path_(std::move(path)), flag_(flag) {
    ok_ = std::system(("chattr +" + flag_ + " '" + path_ + "'").c_str()) == 0;
  }
  ~ChattrGuard() {
    if (std::system(("chattr -" + flag_ + " '" + path_ + "'").c_str()) != 0) ADD_FAILURE() << "chattr -" << flag_ << " failed";
  }
  bool ok() const { return ok_; }

 private:
  std::string path_, flag_;
  bool ok_ = false;
};

TEST_F(ForkStoreTest, LockedItemsGiveFLckdErrAndNothingChanges) {
  TV_SKIP_UNLESS_ROOT("set the immutable and append-only flags");
  for (const char *flag : {"i", "a"}) {
    SCOPED_TRACE(flag);
    const std::vector<UInt8> sidecar = fx::BuildMacOSKernelSidecar(Info(kHasCustomIcon), fx::TypicalAttributes(),
                                                                   fx::MakeResourceFork(80));
    std::string path = Item(std::string("locked-") + flag, sidecar);
    tree.setXattr(std::string("locked-") + flag, kResourceForkXattr, "fork");
    ChattrGuard lock(path, flag);
    ASSERT_TRUE(lock.ok());
    EXPECT_STATUS(fLckdErr, Zap(path));
    EXPECT_STATUS(fLckdErr, ClearCustomIcon(path));
    EXPECT_EQ(sidecar, Sidecar(std::string("locked-") + flag));
    EXPECT_EQ(kHasCustomIcon, FinderFlags(path));
    bool exists = false;
    EXPECT_EQ("fork", Xattr(std::string("locked-") + flag, kResourceForkXattr, &exists));
    // The data fork cannot be opened for writing either, but can be read.
    FSRef ref = RefFor(path);
    FSIORefNum fork = -1;
    EXPECT_STATUS(fLckdErr, FSOpenFork(&ref, 0, nullptr, fsRdWrPerm, &fork));
    ASSERT_STATUS(noErr, FSOpenFork(&ref, 0, nullptr, fsRdPerm, &fork));
    EXPECT_STATUS(noErr, FSCloseFork(fork));
  }
}

TEST_F(ForkStoreTest, ItemsTheUserMayNotWriteGiveAccessDenied) {
  TV_SKIP_UNLESS_ROOT("become user 65534");
  // Root's file, readable by all; its sidecar writable by all in a folder
  // anybody may write: only the item's own permission refuses.
  tree.folder("shared");
  tree.chmod("shared", 0777);
  std::string path = Item("shared/ro", fx::BuildMacOSKernelSidecar(Info(kHasCustomIcon), {}, fx::MakeResourceFork(80)));
  tree.chmod("shared/._ro", 0666);
  const std::vector<UInt8> before = Sidecar("shared/ro");
  int code = tv::test::InChildAsNobody([&] {
    FSRef ref = RefFor(path);
    UInt64 size = 0;
    if (RsrcSize(path, &size) != noErr || size != 80) return 1;  // reading is allowed
    if (Zap(path) != afpAccessDenied) return 2;
    if (ClearCustomIcon(path) != afpAccessDenied) return 3;
    FSIORefNum fork = -1;
    if (FSOpenFork(&ref, 0, nullptr, fsRdWrPerm, &fork) != afpAccessDenied) return 4;
    return 0;
  });
  EXPECT_EQ(0, code);
  EXPECT_EQ(before, Sidecar("shared/ro"));
}

TEST_F(ForkStoreTest, ReadOnlyVolumesGiveWPrErr) {
  tree.folder("src");
  tree.folder("ro");
  const std::vector<UInt8> sidecar = fx::BuildMacOSKernelSidecar(Info(kHasCustomIcon), {}, fx::MakeResourceFork(80));
  Item("src/doc", sidecar);
  const std::string ro = tree.path("ro");
  BindMount bound(tree.path("src"), ro, true);
  if (!bound.why.empty()) GTEST_SKIP() << bound.why;
  const std::string path = ro + "/doc";
  EXPECT_EQ(80u, RsrcSize(path));
  EXPECT_STATUS(wPrErr, Zap(path));
  EXPECT_STATUS(wPrErr, ClearCustomIcon(path));
  FSRef ref = RefFor(path);
  FSIORefNum fork = -1;
  EXPECT_STATUS(wPrErr, FSOpenFork(&ref, 0, nullptr, fsRdWrPerm, &fork));
  EXPECT_EQ(sidecar, Sidecar("src/doc"));
}

// Failures part way ----------------------------------------------------------

struct Fault {
  sys::Call call;
  int err;
  OSStatus status;
};

TEST_F(ForkStoreTest, FailedRewriteLeavesTheOldSidecarAndNoTemporary) {
  const std::vector<UInt8> sidecar = fx::BuildForkFirstSidecar(Info(kHasCustomIcon), fx::MakeResourceFork(60),
                                                               fx::TypicalAttributes());
  std::string path = Item("rw", sidecar);
  tree.setXattr("._rw", "user.DOSATTRIB", "dos");  // so that attributes are carried over
  for (Fault f : {Fault{sys::Call::write, ENOSPC, dskFulErr}, Fault{sys::Call::write, EIO, ioErr},
                  Fault{sys::Call::fsync, EIO, ioErr}, Fault{sys::Call::renameat, EIO, ioErr},
                  Fault{sys::Call::fchown, EPERM, permErr}, Fault{sys::Call::openat, EDQUOT, dskFulErr},
                  Fault{sys::Call::fgetxattr, EIO, ioErr}, Fault{sys::Call::fsetxattr, EPERM, permErr},
                  Fault{sys::Call::fsetxattr, ENOTSUP, ioErr}, Fault{sys::Call::fremovexattr, EIO, ioErr},
                  Fault{sys::Call::fchmod, EIO, ioErr}, Fault{sys::Call::ofdlock, EIO, ioErr}}) {
    SCOPED_TRACE(sys::CallName(f.call));
    FSRef ref = RefFor(path);
    sys::FaultScope scope;
    // The first openat opens the item; the sidecar's and the temporary's follow.
    sys::FailCall(f.call, f.call == sys::Call::openat ? 3 : 1, f.err);
    EXPECT_STATUS(f.status, Zap(ref));
    sys::ClearFaults();
    EXPECT_EQ(sidecar, Sidecar("rw"));
    bool exists = false;
    EXPECT_EQ("dos", Xattr("._rw", "user.DOSATTRIB", &exists));
    std::string listing = tv::test::Run({"/bin/ls", "-A", tree.root()}).out;
    EXPECT_EQ(std::string::npos, listing.find(tv::files::kTemporaryPrefix)) << listing;
  }
  EXPECT_EQ(0u, tv::files::OpenForkCount());
  ASSERT_STATUS(noErr, Zap(path));
  EXPECT_EQ(0u, RsrcSize(path));
}

TEST_F(ForkStoreTest, FailedInPlaceCutLeavesTheSidecarParsing) {
  const std::vector<UInt8> sidecar = fx::BuildMacOSKernelSidecar(Info(kHasCustomIcon), fx::TypicalAttributes(),
                                                                 fx::MakeResourceFork(60));
  std::string path = Item("ip", sidecar);
  for (Fault f : {Fault{sys::Call::pwrite, EIO, ioErr}, Fault{sys::Call::syncrange, EIO, ioErr},
                  Fault{sys::Call::ftruncate, EIO, ioErr}}) {
    SCOPED_TRACE(sys::CallName(f.call));
    {
      sys::FaultScope scope;
      sys::FailCall(f.call, 1, f.err);
      EXPECT_STATUS(f.status, Zap(path));
    }
    EXPECT_EQ(sidecar, Sidecar("ip"));
  }
}

}  // namespace
