// Fork truncation and timestamp preservation on real files, with the update
// events the registered file manager receives counted.
#include "zap/MyFSFile.h"

#include "platform/HostServices.h"
#include "platform/files/OpenForks.h"
#include "platform/sys/CallTable.h"
#include "tests/support/Sidecars.h"
#include "tests/support/Selection.h"
#include "tests/support/TestSupport.h"
#include "zap/MyTimeStamp.h"

#include <gtest/gtest.h>

namespace {

namespace fx = tv::test;
namespace sys = tv::sys;

std::string Str(const std::vector<UInt8> &v) { return std::string(v.begin(), v.end()); }

struct Events {
  int count = 0;
  int openForksWhenSent = -1;
};
Events *sEvents = nullptr;
void Count(const AppleEvent *, void *) {
  sEvents->count++;
  sEvents->openForksWhenSent = int(tv::files::OpenForkCount());
}

class ForkTruncationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sEvents = &events;
    ASSERT_EQ(TVRegisterProcess(FOUR_CHAR_CODE("FNDR"), FOUR_CHAR_CODE("MACS"), "test", Count, nullptr, &psn), noErr);
  }
  void TearDown() override {
    TVUnregisterProcess(&psn);
    sEvents = nullptr;
  }
  // A file with a data fork, and a resource fork of forkSize bytes in a
  // macOS sidecar (none when 0) whose FinderInfo has the given flags.
  FSRef File(const std::string &name, size_t forkSize, UInt16 flags) {
    std::string path = tree.file(name, "some data");
    if (forkSize > 0 || flags != 0) {
      tree.file("._" + name, Str(fx::BuildCopyfileSidecar(fx::MakeFinderInfo(FOUR_CHAR_CODE("TEXT"), 0, flags),
                                                          fx::TypicalAttributes(), fx::MakeResourceFork(forkSize))));
    }
    return tv::test::RefFor(path);
  }
  FSCatalogInfo Info(const FSRef &ref) {
    FSCatalogInfo info{};
    EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoRsrcSizes | kFSCatInfoDataSizes | kFSCatInfoFinderInfo, &info, nullptr,
                               nullptr, nullptr),
              noErr);
    return info;
  }
  static UInt16 Flags(const FSCatalogInfo &info) { return reinterpret_cast<const FileInfo *>(info.finderInfo)->finderFlags; }

  tv::test::TempTree tree;
  Events events;
  ProcessSerialNumber psn{};
};

TEST_F(ForkTruncationTest, EmptyForkWithCustomIconClearsTheFlagAndTellsOnce) {
  FSRef ref = File("a", 0, kHasCustomIcon | 0x0100);
  ASSERT_STATUS(noErr, ZapRsrcForkAtRef(&ref));
  EXPECT_EQ(events.count, 1);
  EXPECT_EQ(Flags(Info(ref)), 0x0100);  // only the custom-icon bit went
}

TEST_F(ForkTruncationTest, EmptyForkWithoutFlagWritesNothingAndTellsNobody) {
  FSRef ref = File("a", 0, 0x0100);
  std::string before = tree.read("._a");
  ASSERT_STATUS(noErr, ZapRsrcForkAtRef(&ref));
  EXPECT_EQ(events.count, 0);
  EXPECT_EQ(tree.read("._a"), before);
}

TEST_F(ForkTruncationTest, ForkIsEmptiedAndTheFileManagerToldExactlyOnce) {
  FSRef plain = File("plain", 300, 0);
  FSRef icon = File("icon", 300, kHasCustomIcon);
  ASSERT_STATUS(noErr, ZapRsrcForkAtRef(&plain));
  EXPECT_EQ(events.count, 1);
  ASSERT_STATUS(noErr, ZapRsrcForkAtRef(&icon));
  EXPECT_EQ(events.count, 2);
  FSCatalogInfo info = Info(icon);
  EXPECT_EQ(info.rsrcLogicalSize, 0u);
  EXPECT_EQ(Flags(info) & kHasCustomIcon, 0);
  EXPECT_EQ(info.dataLogicalSize, 9u);  // the data fork is never opened by a resource-fork zap
  EXPECT_NE(tree.read("._icon").find("com.apple.quarantine"), std::string::npos);
}

TEST_F(ForkTruncationTest, DataForkZapLeavesTheFlagAndTheResourceForkAlone) {
  FSRef ref = File("d", 300, kHasCustomIcon);
  std::string sidecar = tree.read("._d");
  ASSERT_STATUS(noErr, ZapDataForkAtRef(&ref));
  EXPECT_EQ(events.count, 1);
  FSCatalogInfo info = Info(ref);
  EXPECT_EQ(info.dataLogicalSize, 0u);
  EXPECT_EQ(tree.read("._d"), sidecar);
  // Already empty: nothing opened, nobody told.
  ASSERT_STATUS(noErr, ZapDataForkAtRef(&ref));
  EXPECT_EQ(events.count, 1);
}

TEST_F(ForkTruncationTest, LockedFileGivesTheOpenStatusAndChangesNothing) {
  TV_SKIP_UNLESS_ROOT("set the immutable flag");
  FSRef ref = File("l", 300, kHasCustomIcon);
  std::string sidecar = tree.read("._l");
  tree.setImmutable("l", true);
  EXPECT_STATUS(fLckdErr, ZapRsrcForkAtRef(&ref));
  EXPECT_STATUS(fLckdErr, ZapDataForkAtRef(&ref));
  tree.setImmutable("l", false);
  EXPECT_EQ(events.count, 0);
  EXPECT_EQ(tree.read("._l"), sidecar);
  EXPECT_EQ(Flags(Info(ref)) & kHasCustomIcon, kHasCustomIcon);
}

TEST_F(ForkTruncationTest, ForkIsClosedBeforeTheFileManagerHears) {
  FSRef ref = File("c", 300, 0);
  ASSERT_STATUS(noErr, ZapRsrcForkAtRef(&ref));
  ASSERT_EQ(events.count, 1);
  EXPECT_EQ(events.openForksWhenSent, 0);
  EXPECT_STATUS(paramErr, ZapRsrcForkAtRef(nullptr));
  EXPECT_STATUS(paramErr, ZapDataForkAtRef(nullptr));
}

TEST_F(ForkTruncationTest, RecordGivesUsableForksAndClosesThemAll) {
  FSRef ref = File("r", 10, 0);
  MyFSFile file = nullptr;
  EXPECT_STATUS(paramErr, MyFSFileCreateWithFSRef(nullptr, &file));
  ASSERT_STATUS(noErr, MyFSFileCreateWithFSRef(&ref, &file));
  const size_t openBefore = tv::files::OpenForkCount();
  EXPECT_STATUS(noErr, MyFSFileCloseDataFork(file));  // nothing open: nothing to do
  SInt16 data = 0, rsrc = 0;
  ASSERT_STATUS(noErr, MyFSFileOpenDataFork(file, fsRdPerm, &data));
  ASSERT_STATUS(noErr, MyFSFileOpenRsrcFork(file, fsRdPerm, false, &rsrc));
  SInt64 size = -1;
  EXPECT_STATUS(noErr, FSGetForkSize(data, &size));
  EXPECT_EQ(size, 9);  // "some data"
  EXPECT_STATUS(noErr, FSGetForkSize(rsrc, &size));
  EXPECT_EQ(size, 10);
  EXPECT_STATUS(noErr, MyFSFileCloseDataFork(file));
  EXPECT_STATUS(rfNumErr, FSGetForkSize(data, &size));
  EXPECT_STATUS(noErr, FSGetForkSize(rsrc, &size));
  EXPECT_STATUS(noErr, MyFSFileDispose(file));  // closes the resource fork
  EXPECT_STATUS(rfNumErr, FSGetForkSize(rsrc, &size));
  EXPECT_EQ(tv::files::OpenForkCount(), openBefore);
  EXPECT_STATUS(paramErr, MyFSFileOpenDataFork(nullptr, fsRdPerm, &data));
}

class TimeStampTest : public ForkTruncationTest {};

TEST_F(TimeStampTest, NothingAskedReadsNothing) {
  FSRef ref = File("t", 0, 0);
  sys::ResetCallCounts();
  EXPECT_STATUS(noErr, GetTimeStampForRef(&ref, nullptr, nullptr));
  EXPECT_STATUS(noErr, SetTimeStampForRef(&ref, nullptr, nullptr));
  EXPECT_EQ(sys::CallCount(sys::Call::statx) + sys::CallCount(sys::Call::fstatat), 0u);
  EXPECT_STATUS(paramErr, GetTimeStampForRef(nullptr, nullptr, nullptr));
}

TEST_F(TimeStampTest, PuttingTheSameDateBackWritesNothing) {
  FSRef ref = File("t", 0, 0);
  tv::test::Run({"touch", "-d", "2010-05-06 07:08:09.5", tree.path("t")});
  CFAbsoluteTime mod = 0;
  ASSERT_STATUS(noErr, GetTimeStampForRef(&ref, nullptr, &mod));
  EXPECT_EQ(mod, double(long(mod)));  // whole seconds
  EXPECT_STATUS(noErr, SetTimeStampForRef(&ref, nullptr, &mod));
  EXPECT_EQ(events.count, 0);
  long long seconds = 0;
  ASSERT_TRUE(tv::test::StatOf(tree.path("t"), &seconds, nullptr));
  EXPECT_EQ(CFAbsoluteTime(seconds) - kCFAbsoluteTimeIntervalSince1970, mod);
}

TEST_F(TimeStampTest, PuttingBackADateSetsAccessTooDropsFractionsAndTellsOnce) {
  FSRef ref = File("t", 0, 0);
  tv::test::Run({"touch", "-d", "2010-05-06 07:08:09.5", tree.path("t")});
  CFAbsoluteTime saved = 0;
  ASSERT_STATUS(noErr, GetTimeStampForRef(&ref, nullptr, &saved));
  tv::test::Run({"touch", "-m", "-d", "2020-01-01 00:00:00.25", tree.path("t")});
  EXPECT_STATUS(noErr, SetTimeStampForRef(&ref, nullptr, &saved));
  EXPECT_EQ(events.count, 1);
  FSCatalogInfo info{};
  ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoContentMod | kFSCatInfoAccessDate, &info, nullptr, nullptr, nullptr),
            noErr);
  CFAbsoluteTime mod = MyUTCDateTimeToAbsolute(info.contentModDate);
  CFAbsoluteTime access = MyUTCDateTimeToAbsolute(info.accessDate);
  UInt16 modFraction = info.contentModDate.fraction, accessFraction = info.accessDate.fraction;
  EXPECT_EQ(mod, saved);
  EXPECT_EQ(access, saved);
  EXPECT_EQ(modFraction, 0);
  EXPECT_EQ(accessFraction, 0);
}

}  // namespace
