#include "platform/files/Listing.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <iterator>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>

#include "platform/Files.h"
#include "platform/files/Volumes.h"
#include "tests/support/FilesFixture.h"
#include "tests/support/Sidecars.h"
#include "platform/sys/CallTable.h"

using namespace tv::test;
using tv::files::FolderEntry;
using tv::files::VisibleEntries;
namespace sys = tv::sys;

namespace {

std::vector<std::string> Names(const std::vector<FolderEntry> &entries) {
  std::vector<std::string> names;
  for (const auto &e : entries) names.push_back(e.name);
  return names;
}

std::vector<FolderEntry> Entries(std::initializer_list<const char *> names) {
  std::vector<FolderEntry> entries;
  uint64_t ino = 100;
  for (const char *n : names) entries.push_back(FolderEntry{n, 1, ino++});
  return entries;
}

// Lists a folder the way the snapshot iterator does: batches of `batch` refs.
std::vector<FSRef> ListRefs(const FSRef &folder, ItemCount batch, OSStatus *status = nullptr, int *calls = nullptr) {
  std::vector<FSRef> all;
  FSIterator it;
  OSStatus s = FSOpenIterator(&folder, kFSIterateFlat, &it);
  if (status) *status = s;
  if (s != noErr) return all;
  std::vector<FSRef> refs(batch);
  int n = 0;
  for (;;) {
    ItemCount got = 0;
    s = FSGetCatalogInfoBulk(it, batch, &got, nullptr, kFSCatInfoNone, nullptr, refs.data(), nullptr, nullptr);
    n++;
    EXPECT_LE(got, batch);
    all.insert(all.end(), refs.begin(), refs.begin() + got);
    if (s != noErr) break;
  }
  EXPECT_STATUS(errFSNoMoreItems, s);
  EXPECT_STATUS(noErr, FSCloseIterator(it));
  if (calls) *calls = n;
  return all;
}

std::vector<std::string> ListPaths(const std::string &folder, ItemCount batch, OSStatus *status = nullptr,
                                   int *calls = nullptr) {
  std::vector<std::string> paths;
  for (const FSRef &ref : ListRefs(RefFor(folder), batch, status, calls)) paths.push_back(PathOf(ref));
  return paths;
}

}  // namespace

TEST(VisibleEntriesTest, SortsByBytesAndHidesSidecarsOfExistingItems) {
  auto visible = VisibleEntries(Entries({"b", ".", "._b", "a", "..", "._orphan", "\xc3\xa9", "B", "._", "._a"}), false);
  EXPECT_EQ((std::vector<std::string>{"._", "._orphan", "B", "a", "b", "\xc3\xa9"}), Names(visible));
  // Names alike in their first eight bytes, or one the start of another.
  visible = VisibleEntries(Entries({"abcdefgh2", "abcdefgh", "abcdefgh10", "abc", "abcdefg\xff", "abcdefg"}), false);
  EXPECT_EQ((std::vector<std::string>{"abc", "abcdefg", "abcdefgh", "abcdefgh10", "abcdefgh2", "abcdefg\xff"}),
            Names(visible));
}

TEST(VisibleEntriesTest, DotUnderscoreDotIsTheRootsMetadataOnlyAtAVolumeRoot) {
  EXPECT_EQ((std::vector<std::string>{"x"}), Names(VisibleEntries(Entries({"._.", "x"}), true)));
  EXPECT_EQ((std::vector<std::string>{"._.", "x"}), Names(VisibleEntries(Entries({"._.", "x"}), false)));
  // A sidecar of an orphan sidecar is hidden like any other.
  EXPECT_EQ((std::vector<std::string>{"._x"}), Names(VisibleEntries(Entries({"._._x", "._x"}), false)));
  EXPECT_EQ((std::vector<std::string>{"x"}), Names(VisibleEntries(Entries({"._._x", "._x", "x"}), false)));
}

TEST(FolderListingTest, ListsEmptyTenAndElevenEntriesInOrderEachOnce) {
  for (int count : {0, 1, 10, 11}) {
    SCOPED_TRACE(count);
    tv::test::TempTree tree;
    tree.folder("f");
    std::vector<std::string> expected;
    for (int i = count - 1; i >= 0; i--) {
      std::string name = "item" + std::to_string(i / 10) + std::to_string(i % 10);
      if (i % 3) tree.file("f/" + name, "x");
      else tree.folder("f/" + name);
      expected.push_back(tree.path("f/" + name));
    }
    std::sort(expected.begin(), expected.end());
    int calls = 0;
    OSStatus s;
    EXPECT_EQ(expected, ListPaths(tree.path("f"), 10, &s, &calls));
    ASSERT_STATUS(noErr, s);
    EXPECT_EQ(count <= 10 ? 1 : 2, calls);  // errFSNoMoreItems comes with the last batch
  }
}

TEST(FolderListingTest, ListsTenThousandEntriesQuicklyWithFewSystemCalls) {
  tv::test::TempTree tree;
  std::string folder = tree.folder("big");
  std::set<std::string> expected;
  for (int i = 0; i < 10000; i++) {
    std::string name = "entry-" + std::to_string(i * 7919 % 10000);
    int fd = open((folder + "/" + name).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    close(fd);
    expected.insert(folder + "/" + name);
  }
  FSRef folderRef = RefFor(folder);
  sys::ResetCallCounts();
  auto start = std::chrono::steady_clock::now();
  std::vector<FSRef> refs = ListRefs(folderRef, 10);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(sys::CallCount(sys::Call::getdents64), 10u);
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  bool listingHasInodes = tv::files::ListingReportsInodes(fd);
  close(fd);
  // No stat per entry where the listing tells each entry's identity.
  EXPECT_LT(sys::CallCount(sys::Call::statx), listingHasInodes ? 5u : 10005u);
  std::vector<std::string> paths;
  for (const FSRef &ref : refs) paths.push_back(PathOf(ref));
  ASSERT_EQ(10000u, paths.size());
  EXPECT_TRUE(std::is_sorted(paths.begin(), paths.end()));
  EXPECT_EQ(expected, std::set<std::string>(paths.begin(), paths.end()));
  EXPECT_LT(seconds, 2.0);
}

TEST(FolderListingTest, HidesSidecarsButListsOrphansAndGivesCatalogInfoAndNames) {
  tv::test::TempTree tree;
  tree.file("f/doc", "12345");
  tree.file("f/._doc", "sidecar");
  tree.folder("f/sub");
  tree.file("f/._sub", "sidecar");
  tree.file("f/._orphan", "lonely");
  tree.file("f/._.", "not the root");
  FSRef folder = RefFor(tree.path("f"));
  FSIterator it;
  ASSERT_STATUS(noErr, FSOpenIterator(&folder, kFSIterateFlat, &it));
  FSRef refs[10];
  FSCatalogInfo infos[10];
  HFSUniStr255 names[10];
  ItemCount n = 0;
  Boolean changed = true;
  EXPECT_STATUS(errFSNoMoreItems, FSGetCatalogInfoBulk(it, 10, &n, &changed, kFSCatInfoNodeFlags | kFSCatInfoDataSizes,
                                                       infos, refs, nullptr, names));
  EXPECT_FALSE(changed);
  ASSERT_EQ(4u, n);
  const char *expected[] = {"._.", "._orphan", "doc", "sub"};
  for (ItemCount i = 0; i < n; i++) {
    EXPECT_EQ(tree.path("f/") + expected[i], PathOf(refs[i]));
    EXPECT_EQ(std::u16string(expected[i], expected[i] + strlen(expected[i])),
              std::u16string(reinterpret_cast<const char16_t *>(names[i].unicode), names[i].length));
  }
  EXPECT_EQ(5u, infos[2].dataLogicalSize);
  EXPECT_EQ(kFSNodeIsDirectoryMask, infos[3].nodeFlags);
  // Past the end: nothing more, still errFSNoMoreItems.
  EXPECT_STATUS(errFSNoMoreItems, FSGetCatalogInfoBulk(it, 10, &n, nullptr, kFSCatInfoNone, nullptr, refs, nullptr, nullptr));
  EXPECT_EQ(0u, n);
  EXPECT_STATUS(noErr, FSCloseIterator(it));
}

TEST(FolderListingTest, ASnapshotIsNotDisturbedByChangesAfterItWasOpened) {
  tv::test::TempTree tree;
  tree.file("f/a");
  tree.file("f/b");
  FSRef folder = RefFor(tree.path("f"));
  FSIterator it;
  ASSERT_STATUS(noErr, FSOpenIterator(&folder, kFSIterateFlat, &it));
  tree.file("f/c");
  ASSERT_EQ(0, unlink(tree.path("f/a").c_str()));
  FSRef refs[10];
  FSCatalogInfo infos[10];
  ItemCount n = 0;
  // Refs only: the listing as it was. With catalog info: the vanished entry is left out.
  EXPECT_STATUS(errFSNoMoreItems, FSGetCatalogInfoBulk(it, 10, &n, nullptr, kFSCatInfoNodeFlags, infos, refs, nullptr, nullptr));
  ASSERT_EQ(1u, n);
  EXPECT_EQ(tree.path("f/b"), PathOf(refs[0]));
  EXPECT_STATUS(noErr, FSCloseIterator(it));
}

TEST(FolderListingTest, RefusesWhatCannotBeListed) {
  tv::test::TempTree tree;
  FSRef file = RefFor(tree.file("file", "x"));
  FSRef link = RefFor(tree.symlink("link", tree.folder("dir")));
  FSRef dir = RefFor(tree.path("dir"));
  FSIterator it = nullptr;
  EXPECT_STATUS(dirNFErr, FSOpenIterator(&file, kFSIterateFlat, &it));
  EXPECT_STATUS(dirNFErr, FSOpenIterator(&link, kFSIterateFlat, &it));
  EXPECT_STATUS(errFSBadIteratorFlags, FSOpenIterator(&dir, kFSIterateSubtree, &it));
  EXPECT_STATUS(paramErr, FSOpenIterator(&dir, kFSIterateFlat, nullptr));
  EXPECT_EQ(nullptr, it);

  ASSERT_STATUS(noErr, FSOpenIterator(&dir, kFSIterateFlat, &it));
  ItemCount n;
  FSRef refs[1];
  EXPECT_STATUS(errFSBadItemCount, FSGetCatalogInfoBulk(it, 0, &n, nullptr, 0, nullptr, refs, nullptr, nullptr));
  EXPECT_STATUS(noErr, FSCloseIterator(it));
  // A closed iterator is refused, not used.
  EXPECT_STATUS(errFSBadIteratorRef, FSCloseIterator(it));
  EXPECT_STATUS(errFSBadIteratorRef, FSGetCatalogInfoBulk(it, 1, &n, nullptr, 0, nullptr, refs, nullptr, nullptr));
}

TEST(FolderListingTest, FoldersWithoutAccessAreDeniedToAnUnprivilegedUser) {
  TV_SKIP_UNLESS_ROOT("become user 65534");
  tv::test::TempTree tree;
  tree.file("noread/x");
  tree.file("nosearch/y");
  tree.file("open/z");
  tree.chmod("noread", 0311);
  tree.chmod("nosearch", 0744);
  FSRef noread = RefFor(tree.path("noread")), nosearch = RefFor(tree.path("nosearch"));
  FSRef open = RefFor(tree.path("open"));
  std::string seen = AsNobody([&] {
    std::string out;
    for (const FSRef *ref : {&noread, &nosearch, &open}) {
      FSIterator it;
      OSErr s = FSOpenIterator(ref, kFSIterateFlat, &it);
      out += std::to_string(s) + " ";
      if (s == noErr) {
        FSRef refs[4];
        ItemCount n = 0;
        FSGetCatalogInfoBulk(it, 4, &n, nullptr, 0, nullptr, refs, nullptr, nullptr);
        out += std::to_string(n) + " ";
        FSCloseIterator(it);
      }
    }
    return out;
  });
  // Without read, no listing; without search the names can be read (and
  // the items not reached); the open folder lists its one file.
  EXPECT_EQ(std::to_string(afpAccessDenied) + " 0 1 0 1 ", seen);
}

TEST(FolderListingTest, SystemCallFailuresWhileListingBecomeTheirStatus) {
  tv::test::TempTree tree;
  tree.file("f/a");
  FSRef folder = RefFor(tree.path("f"));
  FSIterator it = nullptr;
  // A first listing sets up what lives as long as the process (the mount table).
  ASSERT_STATUS(noErr, FSOpenIterator(&folder, kFSIterateFlat, &it));
  EXPECT_STATUS(noErr, FSCloseIterator(it));
  it = nullptr;
  // Counted, not compared by number: the listing keeps the folder it
  // opened, in place of the one before.
  auto openCount = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator{});
  };
  const auto before = openCount();
  sys::FaultScope faults;
  sys::FailCall(sys::Call::getdents64, 1, EIO);
  EXPECT_STATUS(ioErr, FSOpenIterator(&folder, kFSIterateFlat, &it));
  sys::FailCall(sys::Call::openat, 1, EACCES);
  EXPECT_STATUS(afpAccessDenied, FSOpenIterator(&folder, kFSIterateFlat, &it));
  sys::FailCall(sys::Call::openat, 1, EMFILE);
  EXPECT_STATUS(ioErr, FSOpenIterator(&folder, kFSIterateFlat, &it));
  EXPECT_EQ(nullptr, it);
  // No descriptor is left open by the failures.
  ASSERT_STATUS(noErr, FSOpenIterator(&folder, kFSIterateFlat, &it));
  EXPECT_STATUS(noErr, FSCloseIterator(it));
  EXPECT_EQ(before, openCount());
}

TEST(FolderListingTest, RefsFromAListingTellTheKindItReported) {
  tv::test::TempTree tree;
  tree.file("f/doc");
  tree.folder("f/sub");
  tree.symlink("f/link", tree.path("f/doc"));
  tree.symlink("f/linkToFolder", tree.path("f/sub"));
  ASSERT_EQ(0, mkfifo(tree.path("f/pipe").c_str(), 0644));
  const TVListedKind expected[] = {kTVListedKindFile, kTVListedKindOther, kTVListedKindOther, kTVListedKindOther,
                                   kTVListedKindFolder};  // doc, link, linkToFolder, pipe, sub
  FSRef folder = RefFor(tree.path("f"));
  std::vector<FSRef> refs = ListRefs(folder, 10);
  ASSERT_EQ(5u, refs.size());
  for (size_t i = 0; i < refs.size(); i++) EXPECT_EQ(expected[i], TVGetListedKind(&refs[i])) << PathOf(refs[i]);

  // Where the listing's numbers are not trusted each entry is looked at, and
  // the look tells the kind.
  {
    sys::FaultScope faults;
    sys::FailCall(sys::Call::fstatfs, 1, EIO);
    refs = ListRefs(folder, 10);
  }
  ASSERT_EQ(5u, refs.size());
  for (size_t i = 0; i < refs.size(); i++) EXPECT_EQ(expected[i], TVGetListedKind(&refs[i])) << PathOf(refs[i]);

  // A ref that no listing made does not know; one whose kind was altered is
  // no ref at all.
  FSRef byPath = RefFor(tree.path("f/doc"));
  EXPECT_EQ(kTVListedKindUnknown, TVGetListedKind(&byPath));
  EXPECT_STATUS(noErr, FSCompareFSRefs(&byPath, &refs[0]));
  FSRef forged = refs[0];
  forged.hidden[28] = 7;
  EXPECT_EQ(kTVListedKindUnknown, TVGetListedKind(&forged));
  EXPECT_STATUS(errFSBadFSRef, FSGetCatalogInfo(&forged, kFSCatInfoNone, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(kTVListedKindUnknown, TVGetListedKind(nullptr));
}

// A listing as FUSE gives it: entry numbers that are not the inodes
// (exfat-fuse gives 0xFFFFFFFF for all) and, with sUnknownTypes, no kinds.
bool sUnknownTypes = false;
ssize_t FuseLikeGetdents(int fd, void *buf, size_t size) {
  ssize_t n = sys::RealCalls().getdents64(fd, buf, size);
  char *b = static_cast<char *>(buf);
  for (ssize_t pos = 0; n > 0 && pos + 19 < n;) {
    const uint64_t ino = 0xFFFFFFFF;
    uint16_t reclen;
    std::memcpy(b + pos, &ino, 8);
    std::memcpy(&reclen, b + pos + 16, 2);
    if (sUnknownTypes) b[pos + 18] = DT_UNKNOWN;
    pos += reclen;
  }
  return n;
}

int sPathLooks = 0;
int CountingStatx(int dirFd, const char *path, int flags, unsigned mask, struct statx *stx) {
  sPathLooks += path[0] != '\0';
  return sys::RealCalls().statx(dirFd, path, flags, mask, stx);
}

TEST(FolderListingTest, LooksAtEachEntryWhereTheListingCannotBeTrusted) {
  tv::test::TempTree tree;
  tree.file("f/a");
  tree.folder("f/b");
  tree.file("f/._b");
  tree.file("f/c");
  const std::vector<UInt8> sidecar = tv::test::BuildMacOSKernelSidecar(tv::test::MakeFinderInfo(0, 0, 0));
  tree.file("f/._c", std::string(sidecar.begin(), sidecar.end()));
  FSRef folder = RefFor(tree.path("f"));
  sys::FaultScope faults;
  sys::SubstituteScope substitutes(sys::RealCalls());
  sys::SubstituteCall(&sys::CallTable::getdents64, &FuseLikeGetdents);
  // A file system of unknown kind: its kinds are trusted, its numbers are
  // not. No entry is looked at: the folder b, the files a and c (with its
  // sidecar) are known by their names until opened.
  sys::FailCall(sys::Call::fstatfs, 1, EIO);
  sys::ResetCallCounts();
  std::vector<FSRef> refs = ListRefs(folder, 10);
  EXPECT_EQ(1u, sys::CallCount(sys::Call::fstatfs));
  EXPECT_EQ(0u, sys::CallCount(sys::Call::statx));
  ASSERT_EQ(3u, refs.size());
  FSRef a = RefFor(tree.path("f/a")), b = RefFor(tree.path("f/b")), c = RefFor(tree.path("f/c"));
  EXPECT_STATUS(noErr, FSCompareFSRefs(&a, &refs[0]));
  EXPECT_STATUS(noErr, FSCompareFSRefs(&b, &refs[1]));
  EXPECT_STATUS(noErr, FSCompareFSRefs(&c, &refs[2]));
  EXPECT_STATUS(errFSRefsDifferent, FSCompareFSRefs(&refs[0], &refs[2]));
  EXPECT_EQ(kTVListedKindFile, TVGetListedKind(&refs[0]));
  EXPECT_EQ(kTVListedKindFolder, TVGetListedKind(&refs[1]));
  // a is known by its name and kind: usable while a file is there, gone
  // once a folder has taken its place.
  FSCatalogInfo info;
  EXPECT_STATUS(noErr, FSGetCatalogInfo(&refs[0], kFSCatInfoDataSizes, &info, nullptr, nullptr, nullptr));
  ASSERT_EQ(0, unlink(tree.path("f/a").c_str()));
  ASSERT_EQ(0, mkdir(tree.path("f/a").c_str(), 0755));
  EXPECT_STATUS(fnfErr, FSGetCatalogInfo(&refs[0], kFSCatInfoNodeFlags, &info, nullptr, nullptr, nullptr));
  // c's forks open by its name; emptying one looks up no path again.
  HFSUniStr255 rsrc;
  FSGetResourceForkName(&rsrc);
  FSIORefNum fork = 0;
  ASSERT_STATUS(noErr, FSOpenFork(&refs[2], rsrc.length, rsrc.unicode, fsRdWrPerm, &fork));
  sys::SubstituteCall(&sys::CallTable::statx, &CountingStatx);
  EXPECT_STATUS(noErr, FSSetForkSize(fork, fsFromStart, 0));
  EXPECT_EQ(0, sPathLooks);
  EXPECT_GT(sidecar.size(), tree.read("f/._c").size());
  EXPECT_STATUS(noErr, FSCloseFork(fork));
  // What is opened there must be a file. Where the volume keeps neither
  // attributes nor lock flags (exFAT, as items of the folder told), c's fork
  // opens with no descriptor of c, and for writing only while c is there.
  ASSERT_EQ(0, rename(tree.path("f/c").c_str(), tree.path("f/c2").c_str()));
  ASSERT_EQ(0, mkdir(tree.path("f/c").c_str(), 0755));
  EXPECT_STATUS(afpObjectTypeErr, FSOpenFork(&refs[2], rsrc.length, rsrc.unicode, fsRdWrPerm, &fork));
  ASSERT_EQ(0, rmdir(tree.path("f/c").c_str()));
  tv::files::RefFields f;
  ASSERT_STATUS(noErr, tv::files::DecodeRef(&folder, &f));
  tv::files::NoteFolderListed(f.node, false);
  tv::files::NoteFolderFact(f.node, tv::files::FolderFact(tv::files::kFolderWithoutXattrs));
  tv::files::NoteFolderFact(f.node, tv::files::FolderFact(tv::files::kFolderWithoutLockFlags));
  EXPECT_STATUS(fnfErr, FSOpenFork(&refs[2], rsrc.length, rsrc.unicode, fsRdWrPerm, &fork));
  ASSERT_EQ(0, rename(tree.path("f/c2").c_str(), tree.path("f/c").c_str()));
  sys::ResetCallCounts();
  ASSERT_STATUS(noErr, FSOpenFork(&refs[2], rsrc.length, rsrc.unicode, fsRdWrPerm, &fork));
  EXPECT_EQ(0u, sys::CallCount(sys::Call::openat));
  EXPECT_STATUS(noErr, FSCloseFork(fork));
  ASSERT_EQ(0, rmdir(tree.path("f/a").c_str()));
  tree.file("f/a");
  a = RefFor(tree.path("f/a"));  // a new file, which may have another inode

  // A listing that gives no kinds: every entry is looked at, and its ref
  // tells the kind the look found.
  sUnknownTypes = true;
  sys::FailCall(sys::Call::fstatfs, 1, EIO);
  sys::ResetCallCounts();
  refs = ListRefs(folder, 10);
  sUnknownTypes = false;
  EXPECT_EQ(3u, sys::CallCount(sys::Call::statx));
  ASSERT_EQ(3u, refs.size());
  EXPECT_EQ(kTVListedKindFile, TVGetListedKind(&refs[0]));
  EXPECT_EQ(kTVListedKindFolder, TVGetListedKind(&refs[1]));
  EXPECT_STATUS(noErr, FSCompareFSRefs(&a, &refs[0]));

  // An entry that cannot be looked at for another reason fails the listing.
  sUnknownTypes = true;
  sys::FailCall(sys::Call::fstatfs, 1, EIO);
  sys::FailCall(sys::Call::statx, 2, EIO);  // b's look
  OSStatus s;
  ListRefs(folder, 10, &s);
  sUnknownTypes = false;
  EXPECT_STATUS(ioErr, s);
}

namespace {

const FolderEntry *Named(const std::vector<FolderEntry> &entries, const std::string &name) {
  for (const auto &e : entries)
    if (e.name == name) return &e;
  return nullptr;
}

}  // namespace

TEST(VisibleEntriesTest, SidecarsAreHiddenWhereverTheyAndTheirItemsSort) {
  // " c", "!a", "#e" and "-d" sort before ".", so before every sidecar;
  // "b" after its own.
  auto visible = VisibleEntries(
      Entries({"b", "._b", "!a", "._!a", " c", "._ c", "-d", "._-d", "#e", "._#e", "._ orphan"}), false);
  EXPECT_EQ((std::vector<std::string>{" c", "!a", "#e", "-d", "._ orphan", "b"}), Names(visible));
  for (const auto &e : visible) EXPECT_EQ(e.hasSidecar, e.name != "._ orphan") << e.name;
}

TEST(VisibleEntriesTest, OnlyFilesAreSidecarsOrTemporaries) {
  std::vector<FolderEntry> entries;
  for (auto [name, type] : std::initializer_list<std::pair<const char *, uint8_t>>{
           {"a", DT_REG}, {"._a", DT_DIR}, {"b", DT_REG}, {"._b", DT_LNK}, {"c", DT_REG}, {"._c", DT_UNKNOWN},
           {"d", DT_DIR}, {"._d", DT_REG}, {".tarrovel-tmp-0123456789abcdef", DT_DIR},
           {".tarrovel-tmp-fedcba9876543210", DT_REG}, {".tarrovel-tmp-notes", DT_REG}})
    entries.push_back(FolderEntry{name, 1, entries.size() + 100, type});
  auto visible = VisibleEntries(entries, false);
  EXPECT_EQ((std::vector<std::string>{"._a", "._b", ".tarrovel-tmp-0123456789abcdef", ".tarrovel-tmp-notes", "a",
                                      "b", "c", "d"}),
            Names(visible));
  for (const auto &e : visible) EXPECT_EQ(e.hasSidecar, e.name == "c" || e.name == "d") << e.name;
}

TEST(VisibleEntriesTest, CaseOnlyPairsDependOnTheFolderAndAreProbedOnce) {
  std::vector<std::string> asked;
  auto probe = [&](bool answer) {
    return [&asked, answer](std::string_view item) {
      asked.emplace_back(item);
      return answer;
    };
  };
  auto entries = Entries({"Mixed.TXT", "._mixed.txt", "x", "._x", "\xc3\x89t\xc3\xa9", "._\xc3\xa9T\xc3\x89", "._Lone"});

  auto visible = VisibleEntries(entries, false, probe(false));
  EXPECT_EQ((std::vector<std::string>{"._Lone", "._mixed.txt", "._\xc3\xa9T\xc3\x89", "Mixed.TXT", "x",
                                      "\xc3\x89t\xc3\xa9"}),
            Names(visible));
  EXPECT_EQ(asked.size(), 1u);
  EXPECT_FALSE(Named(visible, "Mixed.TXT")->hasSidecar);

  asked.clear();
  visible = VisibleEntries(entries, false, probe(true));
  EXPECT_EQ((std::vector<std::string>{"._Lone", "Mixed.TXT", "x", "\xc3\x89t\xc3\xa9"}), Names(visible));
  EXPECT_EQ(asked, (std::vector<std::string>{"Mixed.TXT"}));
  EXPECT_TRUE(Named(visible, "Mixed.TXT")->hasSidecar);
  EXPECT_EQ(Named(visible, "Mixed.TXT")->sidecarName, "._mixed.txt");
  EXPECT_EQ(Named(visible, "\xc3\x89t\xc3\xa9")->sidecarName, "._\xc3\xa9T\xc3\x89");
  EXPECT_TRUE(Named(visible, "x")->hasSidecar);
  EXPECT_EQ(Named(visible, "x")->sidecarName, "");

  // Exact pairs only: the folder is never asked.
  asked.clear();
  VisibleEntries(Entries({"a", "._a", "._orphan"}), false, probe(true));
  EXPECT_TRUE(asked.empty());
}

TEST(FoldCaseTest, SimpleFoldingOfTheCommonScripts) {
  using tv::files::FoldCase;
  EXPECT_EQ(FoldCase("Mixed.TXT"), "mixed.txt");
  EXPECT_EQ(FoldCase("\xc3\x80\xc3\x89\xc3\x8e \xc3\x97"), "\xc3\xa0\xc3\xa9\xc3\xae \xc3\x97");  // ÀÉÎ ×
  EXPECT_EQ(FoldCase("\xc4\x80\xc4\xb9\xc5\xb8"), "\xc4\x81\xc4\xba\xc3\xbf");  // ĀĹŸ -> āĺÿ
  EXPECT_EQ(FoldCase("\xce\xa3\xce\x91\xcf\x82"), "\xcf\x83\xce\xb1\xcf\x83");  // ΣΑς -> σασ
  EXPECT_EQ(FoldCase("\xd0\x94\xd0\x9e\xd0\x81"), "\xd0\xb4\xd0\xbe\xd1\x91");  // ДОЁ -> доё
  EXPECT_EQ(FoldCase("Stra\xc3\x9f" "e \xc4\xb0"), "stra\xc3\x9f" "e \xc4\xb0");  // ß and İ stay
  EXPECT_EQ(FoldCase("\xff\xc3 A\xe3\x81\x82"), "\xff\xc3 a\xe3\x81\x82");        // not UTF-8; kana
}

int CasefoldFlags(int, unsigned *flags) {
  *flags = 0x40000000;  // FS_CASEFOLD_FL, as ext4 reports it of a casefolded folder
  return 0;
}

TEST(FolderListingTest, CaseOnlyPairsAreOneItemOnlyInFoldersThatIgnoreCase) {
  tv::test::TempTree tree;
  tree.file("d/Mixed.TXT");
  tree.file("d/._mixed.txt");
  EXPECT_EQ((std::vector<std::string>{tree.path("d/._mixed.txt"), tree.path("d/Mixed.TXT")}),
            ListPaths(tree.path("d"), 10));
  {
    sys::CallTable calls = sys::RealCalls();
    calls.getflags = CasefoldFlags;
    sys::SubstituteScope casefolded(calls);
    sys::ResetCallCounts();
    EXPECT_EQ((std::vector<std::string>{tree.path("d/Mixed.TXT")}), ListPaths(tree.path("d"), 10));
    EXPECT_EQ(sys::CallCount(sys::Call::getflags), 1u);
  }
  // Without a case-only pair the folder is not asked at all.
  tree.file("e/a");
  tree.file("e/._a");
  sys::ResetCallCounts();
  EXPECT_EQ((std::vector<std::string>{tree.path("e/a")}), ListPaths(tree.path("e"), 10));
  EXPECT_EQ(sys::CallCount(sys::Call::getflags), 0u);
}
