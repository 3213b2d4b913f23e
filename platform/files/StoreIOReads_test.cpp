// The savings of a walk's reads: the listing's word on sidecars, the
// attribute names of the item read just before, and a file system without
// attributes asked once per folder.
#include "platform/Files.h"
#include "platform/sys/CallTable.h"
#include "tests/support/Sidecars.h"
#include "tests/support/FilesFixture.h"
#include "tests/support/ForkCalls.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <string_view>
#include <sys/stat.h>

namespace {

namespace sys = tv::sys;
namespace fx = tv::test;

std::string Str(const std::vector<UInt8> &v) { return std::string(v.begin(), v.end()); }

UInt64 RsrcSize(const FSRef &ref) {
  FSCatalogInfo info{};
  EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoRsrcSizes, &info, nullptr, nullptr, nullptr), noErr);
  return info.rsrcLogicalSize;
}

TEST(ForkStoreReadsTest, AFileListedWithoutSidecarIsNotLookedForOne) {
  tv::test::TempTree tree;
  tree.file("d/plain");
  std::vector<FSRef> refs = tv::test::ListedRefs(tree.path("d"));
  ASSERT_EQ(refs.size(), 1u);
  sys::ResetCallCounts();
  EXPECT_EQ(RsrcSize(refs[0]), 0u);
  EXPECT_EQ(sys::CallCount(sys::Call::openat), 0u);
  // A sidecar made after the listing is seen once the folder is listed
  // again: until then a zap of the listed file does not open it either,
  // while a file reached by its path (never listed) is always looked for one.
  const std::string sidecar = Str(fx::BuildSambaSidecar(fx::MakeFinderInfo(0, 0, 0), fx::MakeResourceFork(40)));
  tree.file("d/._plain", sidecar);
  tree.file("e/late");
  const FSRef byPath = tv::test::RefFor(tree.path("e/late"));
  tree.file("e/._late", sidecar);
  EXPECT_EQ(RsrcSize(refs[0]), 0u);
  EXPECT_EQ(tv::test::ZapResourceFork(refs[0]), noErr);
  EXPECT_EQ(tv::test::ZapResourceFork(byPath), noErr);
  EXPECT_EQ(RsrcSize(byPath), 0u);
  refs = tv::test::ListedRefs(tree.path("d"));
  ASSERT_EQ(refs.size(), 1u);
  sys::ResetCallCounts();
  EXPECT_EQ(RsrcSize(refs[0]), 40u);
  // Shown by the listing: one read takes it whole, without a look.
  EXPECT_EQ(sys::CallCount(sys::Call::fstat), 0u);
  EXPECT_EQ(sys::CallCount(sys::Call::pread), 1u);
  // A folder put in its place since is no sidecar.
  ASSERT_EQ(0, unlink(tree.path("d/._plain").c_str()));
  tree.folder("d/._plain");
  EXPECT_EQ(RsrcSize(refs[0]), 0u);
}

int sSidecarOpens = 0;
int SidecarCountingOpenat(int dirFd, const char *path, int flags, mode_t mode) {
  sSidecarOpens += std::string_view(path).ends_with("/._fifo");
  return sys::RealCalls().openat(dirFd, path, flags, mode);
}

// Reached by its path, the file's FIFO (or device) "._fifo" is never opened.
TEST(ForkStoreReadsTest, AnItemReachedByItsPathNeverOpensASpecialFileWhereItsSidecarBelongs) {
  tv::test::TempTree tree;
  tree.file("d/fifo");
  ASSERT_EQ(mkfifo(tree.path("d/._fifo").c_str(), 0644), 0);
  sys::SubstituteScope substitutes(sys::RealCalls());
  sys::SubstituteCall(&sys::CallTable::openat, &SidecarCountingOpenat);
  EXPECT_EQ(tv::test::ZapResourceFork(tv::test::RefFor(tree.path("d/fifo"))), noErr);
  EXPECT_EQ(sSidecarOpens, 0);
}

TEST(ForkStoreReadsTest, AFolderWithoutAttributesIsAskedForThemOnce) {
  tv::test::TempTree tree;
  for (const char *name : {"d/a", "d/b", "d/c"}) tree.file(name);
  std::vector<FSRef> refs = tv::test::ListedRefs(tree.path("d"));
  ASSERT_EQ(refs.size(), 3u);
  sys::FaultScope faults;
  for (auto call : {sys::Call::listxattrat, sys::Call::llistxattr})
    sys::FailCall(call, 1, EOPNOTSUPP, true);  // as on exFAT
  sys::ResetCallCounts();
  for (const FSRef &ref : refs) EXPECT_EQ(RsrcSize(ref), 0u);
  EXPECT_EQ(sys::CallCount(sys::Call::listxattrat) + sys::CallCount(sys::Call::llistxattr), 1u);
}

TEST(ForkStoreReadsTest, EveryReadLooksAtTheAttributeNamesOnce) {
  tv::test::TempTree tree;
  std::string path = tree.file("f");
  FSRef ref;
  FSPathMakeRef(reinterpret_cast<const UInt8 *>(path.c_str()), &ref, nullptr);
  EXPECT_EQ(RsrcSize(ref), 0u);
  sys::ResetCallCounts();
  EXPECT_EQ(RsrcSize(ref), 0u);
  EXPECT_EQ(sys::CallCount(sys::Call::llistxattr), 1u);
  tree.setXattr("f", "user.com.apple.ResourceFork", std::string(77, 'r'));
  EXPECT_EQ(RsrcSize(ref), 77u);
  EXPECT_EQ(sys::CallCount(sys::Call::llistxattr), 2u);
}

}  // namespace
