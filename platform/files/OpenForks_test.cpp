// Fork numbers, reading and sizing forks, the data fork, and the resource
// map check of FSOpenResFile.
#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/Files.h"
#include "tests/support/FilesFixture.h"
#include "platform/files/OpenForks.h"
#include "platform/sys/CallTable.h"
#include "tests/support/Sidecars.h"

using namespace tv::test;
namespace fx = tv::test;
namespace sys = tv::sys;

namespace {

std::string Str(const std::vector<UInt8> &v) { return std::string(v.begin(), v.end()); }

class ForksTest : public ::testing::Test {
 protected:
  void SetUp() override { FSGetResourceForkName(&rsrc); }
  void TearDown() override { EXPECT_EQ(0u, tv::files::OpenForkCount()) << "a fork was left open"; }

  OSStatus Open(const std::string &path, bool resource, SInt8 permission, FSIORefNum *fork) {
    FSRef ref = RefFor(path);
    return resource ? FSOpenFork(&ref, rsrc.length, rsrc.unicode, permission, fork)
                    : FSOpenFork(&ref, 0, nullptr, permission, fork);
  }
  std::string ReadAll(FSIORefNum fork) {
    std::string out(100000, '\0');
    UInt32 got = 0;
    OSStatus s = FSReadFork(fork, fsFromStart, 0, UInt32(out.size()), out.data(), &got);
    EXPECT_STATUS(eofErr, s);
    out.resize(got);
    return out;
  }

  tv::test::TempTree tree;
  HFSUniStr255 rsrc;
};

TEST_F(ForksTest, ForkNamesAreEmptyAndResourceFork) {
  HFSUniStr255 data;
  ASSERT_STATUS(noErr, FSGetDataForkName(&data));
  EXPECT_EQ(0, data.length);
  ASSERT_EQ(13, rsrc.length);
  std::u16string name(rsrc.unicode, rsrc.unicode + rsrc.length);
  EXPECT_EQ(u"RESOURCE_FORK", name);
  EXPECT_STATUS(paramErr, FSGetDataForkName(nullptr));
  EXPECT_STATUS(paramErr, FSGetResourceForkName(nullptr));
}

TEST_F(ForksTest, NumbersArePositiveAndReusedAfterClose) {
  std::string path = tree.file("f", "x");
  FSIORefNum a = 0, b = 0, c = 0;
  ASSERT_STATUS(noErr, Open(path, false, fsRdPerm, &a));
  ASSERT_STATUS(noErr, Open(path, true, fsRdPerm, &b));
  EXPECT_GT(a, 0);
  EXPECT_GT(b, 0);
  EXPECT_NE(a, b);
  ASSERT_STATUS(noErr, FSCloseFork(a));
  EXPECT_STATUS(rfNumErr, FSCloseFork(a));
  ASSERT_STATUS(noErr, Open(path, false, fsRdPerm, &c));
  EXPECT_EQ(a, c);
  EXPECT_STATUS(noErr, FSCloseFork(b));
  EXPECT_STATUS(noErr, FSCloseFork(c));
  SInt64 size = 0;
  for (FSIORefNum bad : {FSIORefNum(0), FSIORefNum(-1), FSIORefNum(500)}) {
    EXPECT_STATUS(rfNumErr, FSGetForkSize(bad, &size));
    EXPECT_STATUS(rfNumErr, FSSetForkSize(bad, fsFromStart, 0));
    EXPECT_STATUS(rfNumErr, FSCloseFork(bad));
  }
}

TEST_F(ForksTest, BadArgumentsAreRefusedBeforeAnythingOpens) {
  std::string path = tree.file("f", "x");
  FSRef ref = RefFor(path);
  FSIORefNum fork = -1;
  const UniChar other[] = {'D', 'A', 'T', 'A'};
  EXPECT_STATUS(paramErr, FSOpenFork(nullptr, 0, nullptr, fsRdPerm, &fork));
  EXPECT_STATUS(paramErr, FSOpenFork(&ref, 0, nullptr, fsRdPerm, nullptr));
  EXPECT_STATUS(paramErr, FSOpenFork(&ref, 4, nullptr, fsRdPerm, &fork));
  EXPECT_STATUS(paramErr, FSOpenFork(&ref, 0, nullptr, SInt8(0x40), &fork));
  EXPECT_STATUS(errFSBadForkName, FSOpenFork(&ref, 4, other, fsRdPerm, &fork));
  FSRef garbage;
  std::memset(&garbage, 0x5A, sizeof garbage);
  EXPECT_STATUS(errFSBadFSRef, FSOpenFork(&garbage, 0, nullptr, fsRdPerm, &fork));
  FSRef folder = RefFor(tree.folder("dir"));
  EXPECT_STATUS(notAFileErr, FSOpenFork(&folder, 0, nullptr, fsRdPerm, &fork));
  EXPECT_STATUS(notAFileErr, FSOpenFork(&folder, rsrc.length, rsrc.unicode, fsRdPerm, &fork));
  EXPECT_EQ(-1, fork);
}

TEST_F(ForksTest, DataForkReadsAndTruncatesTheFileItself) {
  std::string path = tree.file("data", "0123456789");
  FSIORefNum fork = -1;
  ASSERT_STATUS(noErr, Open(path, false, fsRdWrPerm, &fork));
  SInt64 size = 0;
  ASSERT_STATUS(noErr, FSGetForkSize(fork, &size));
  EXPECT_EQ(10, size);
  char buf[4] = {};
  UInt32 got = 0;
  ASSERT_STATUS(noErr, FSReadFork(fork, fsFromStart, 2, 3, buf, &got));
  EXPECT_EQ("234", std::string(buf, got));
  ASSERT_STATUS(noErr, FSReadFork(fork, fsFromMark, 1, 2, buf, &got));
  EXPECT_EQ("67", std::string(buf, got));
  EXPECT_STATUS(eofErr, FSReadFork(fork, fsFromLEOF, -1, 4, buf, &got));
  EXPECT_EQ("9", std::string(buf, got));
  EXPECT_STATUS(paramErr, FSReadFork(fork, fsFromStart, -1, 1, buf, &got));
  ASSERT_STATUS(noErr, FSSetForkSize(fork, fsFromStart, 4));
  ASSERT_STATUS(noErr, FSSetForkSize(fork, fsFromLEOF, -1));
  ASSERT_STATUS(noErr, FSGetForkSize(fork, &size));
  EXPECT_EQ(3, size);
  ASSERT_STATUS(noErr, FSSetForkSize(fork, fsFromStart, 0));
  ASSERT_STATUS(noErr, FSCloseFork(fork));
  EXPECT_EQ("", tree.read("data"));
}

TEST_F(ForksTest, ForksOpenedForReadingCannotBeChanged) {
  std::string path = tree.file("ro", "content");
  tree.setXattr("ro", "user.com.apple.ResourceFork", "fork bytes");
  for (bool resource : {false, true}) {
    FSIORefNum fork = -1;
    ASSERT_STATUS(noErr, Open(path, resource, fsRdPerm, &fork));
    EXPECT_STATUS(wrPermErr, FSSetForkSize(fork, fsFromStart, 0));
    EXPECT_STATUS(noErr, FSCloseFork(fork));
  }
  EXPECT_EQ("content", tree.read("ro"));
  bool exists = false;
  EXPECT_EQ("fork bytes", tree.getXattr("ro", "user.com.apple.ResourceFork", &exists));
}

TEST_F(ForksTest, ResourceForkReadsFromThePrimaryStore) {
  const std::vector<UInt8> sidecarFork = fx::MakeResourceFork(3000);
  const std::vector<UInt8> xattrFork = fx::MakeResourceFork(1000);
  std::string a = tree.file("a");
  tree.file("._a", Str(fx::BuildMacOSKernelSidecar(fx::MakeFinderInfo(0, 0, 0), fx::TypicalAttributes(), sidecarFork)));
  std::string b = tree.file("b");
  tree.setXattr("b", "user.com.apple.ResourceFork", Str(xattrFork));
  std::string c = tree.file("c");
  tree.setXattr("c", "user.DosStream.AFP_Resource:$DATA", Str(fx::BuildAfpResource(xattrFork)));
  struct Case {
    std::string path;
    const std::vector<UInt8> &fork;
  };
  for (const Case &k : {Case{a, sidecarFork}, Case{b, xattrFork}, Case{c, xattrFork}}) {
    SCOPED_TRACE(k.path);
    FSIORefNum fork = -1;
    ASSERT_STATUS(noErr, Open(k.path, true, fsRdPerm, &fork));
    SInt64 size = 0;
    ASSERT_STATUS(noErr, FSGetForkSize(fork, &size));
    EXPECT_EQ(SInt64(k.fork.size()), size);
    EXPECT_EQ(Str(k.fork), ReadAll(fork));
    // A read from the middle goes on at the mark.
    char buf[8];
    UInt32 got = 0;
    ASSERT_STATUS(noErr, FSReadFork(fork, fsFromStart, 100, 4, buf, &got));
    ASSERT_STATUS(noErr, FSReadFork(fork, fsAtMark, 0, 4, buf + 4, &got));
    EXPECT_EQ(Str(k.fork).substr(100, 8), std::string(buf, 8));
    EXPECT_STATUS(noErr, FSCloseFork(fork));
  }
}

TEST_F(ForksTest, ResourceForkSizesOtherThanZeroOrTheSameAreRefused) {
  std::string path = tree.file("r");
  tree.setXattr("r", "user.com.apple.ResourceFork", std::string(50, 'r'));
  FSIORefNum fork = -1;
  ASSERT_STATUS(noErr, Open(path, true, fsRdWrPerm, &fork));
  EXPECT_STATUS(paramErr, FSSetForkSize(fork, fsFromStart, 10));
  EXPECT_STATUS(noErr, FSSetForkSize(fork, fsFromLEOF, 0));  // no change
  SInt64 size = 0;
  ASSERT_STATUS(noErr, FSGetForkSize(fork, &size));
  EXPECT_EQ(50, size);
  EXPECT_STATUS(noErr, FSSetForkSize(fork, fsFromLEOF, -50));
  ASSERT_STATUS(noErr, FSGetForkSize(fork, &size));
  EXPECT_EQ(0, size);
  EXPECT_STATUS(noErr, FSCloseFork(fork));
}

TEST_F(ForksTest, ForkOfAReplacedItemIsGone) {
  std::string path = tree.file("moving", "x");
  tree.setXattr("moving", "user.com.apple.ResourceFork", "abc");
  FSIORefNum fork = -1;
  ASSERT_STATUS(noErr, Open(path, true, fsRdWrPerm, &fork));
  ASSERT_EQ(0, std::rename(path.c_str(), tree.path("elsewhere").c_str()));
  tree.file("moving", "another file");
  tree.setXattr("moving", "user.com.apple.ResourceFork", "other fork");
  EXPECT_STATUS(fnfErr, FSSetForkSize(fork, fsFromStart, 0));
  bool exists = false;
  EXPECT_EQ("other fork", tree.getXattr("moving", "user.com.apple.ResourceFork", &exists));
  EXPECT_STATUS(noErr, FSCloseFork(fork));
  // Opened without a look at its path, a listed file is checked once open.
  tree.file("d/listed", "x");
  std::vector<FSRef> listed = ListedRefs(tree.path("d"));
  ASSERT_EQ(0, std::rename(tree.path("d/listed").c_str(), tree.path("d/gone").c_str()));
  tree.file("d/listed", "another file");
  EXPECT_STATUS(fnfErr, FSOpenFork(&listed.at(0), rsrc.length, rsrc.unicode, fsRdWrPerm, &fork));
  EXPECT_STATUS(fnfErr, FSOpenFork(&listed.at(0), 0, nullptr, fsRdWrPerm, &fork));
}

TEST_F(ForksTest, ResFileOpensOnlyAForkWithASoundMap) {
  std::string blank = tree.file("blank");
  tree.file("._blank", Str(fx::BuildMacOSKernelSidecar(fx::MakeFinderInfo(0, 0, 0))));
  std::string none = tree.file("none");
  std::string junk = tree.file("junk");
  tree.setXattr("junk", "user.com.apple.ResourceFork", std::string(40, '\xff'));

  FSRef ref = RefFor(blank);
  ResFileRefNum file = FSOpenResFile(&ref, fsRdPerm);
  ASSERT_STATUS(noErr, ResError());
  EXPECT_GT(file, 0);
  CloseResFile(file);
  EXPECT_STATUS(noErr, ResError());

  ref = RefFor(none);
  EXPECT_EQ(-1, FSOpenResFile(&ref, fsRdPerm));
  EXPECT_STATUS(eofErr, ResError());
  ref = RefFor(junk);
  EXPECT_EQ(-1, FSOpenResFile(&ref, fsRdPerm));
  EXPECT_STATUS(resFNotFound, ResError());
  EXPECT_EQ(-1, FSOpenResFile(nullptr, fsRdPerm));
  EXPECT_STATUS(paramErr, ResError());
}

TEST_F(ForksTest, FailedCloseStillFreesTheNumber) {
  std::string path = tree.file("c", "x");
  FSIORefNum fork = -1;
  ASSERT_STATUS(noErr, Open(path, false, fsRdPerm, &fork));
  sys::FaultScope scope;
  sys::FailCall(sys::Call::close, 1, EIO);
  EXPECT_STATUS(ioErr, FSCloseFork(fork));
  EXPECT_STATUS(rfNumErr, FSCloseFork(fork));
}

}  // namespace
