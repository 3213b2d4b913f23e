#include "feedback/MyFinderEvents.h"

#include "platform/HostServices.h"
#include "tests/support/Selection.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

struct Received {
  int count = 0;
  std::vector<std::string> paths;
  std::vector<long> listSizes;
};

void Receive(const AppleEvent *event, void *refcon) {
  auto *r = static_cast<Received *>(refcon);
  r->count++;
  AEDesc list = {typeNull, nullptr}, alias = {typeNull, nullptr};
  if (AEGetParamDesc(event, keyDirectObject, typeWildCard, &list) != noErr) return;
  long n = 0;
  AECountItems(&list, &n);
  r->listSizes.push_back(list.descriptorType == typeAEList ? n : -1);
  if (AEGetNthDesc(&list, 1, typeWildCard, nullptr, &alias) == noErr && alias.descriptorType == typeAlias) {
    Handle h = NewHandle(AEGetDescDataSize(&alias));
    AEGetDescData(&alias, *h, GetHandleSize(h));
    FSRef ref;
    Boolean changed = false;
    if (FSResolveAlias(nullptr, h, &ref, &changed) == noErr) r->paths.push_back(tv::test::PathOf(&ref));
    DisposeHandle(h);
  }
  AEDisposeDesc(&alias);
  AEDisposeDesc(&list);
}

class FinderEventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    liveAE = TVAEGetLiveDescriptorCount();
    liveHandles = TVGetLiveHandleCount();
  }
  void TearDown() override {
    for (auto &psn : registered) TVUnregisterProcess(&psn);
    EXPECT_EQ(TVAEGetLiveDescriptorCount(), liveAE);
    EXPECT_EQ(TVGetLiveHandleCount(), liveHandles);
  }
  void Register(const char *type, const char *creator, Received *r) {
    ProcessSerialNumber psn;
    ASSERT_EQ(TVRegisterProcess(FOUR_CHAR_CODE_RT(type), FOUR_CHAR_CODE_RT(creator), "test", Receive, r, &psn), noErr);
    registered.push_back(psn);
  }
  static OSType FOUR_CHAR_CODE_RT(const char *s) {
    return (OSType(UInt8(s[0])) << 24) | (OSType(UInt8(s[1])) << 16) | (OSType(UInt8(s[2])) << 8) | UInt8(s[3]);
  }
  tv::test::TempTree tree;
  std::vector<ProcessSerialNumber> registered;
  CFIndex liveAE = 0, liveHandles = 0;
};

TEST_F(FinderEventsTest, WithoutAFileManagerNothingIsSentAndNothingLeaks) {
  Received impostors;
  Register("APPL", "MACS", &impostors);  // right creator, wrong type
  Register("FNDR", "XXXX", &impostors);  // right type, wrong creator
  FSRef ref = tv::test::RefFor(tree.file("f"));
  EXPECT_STATUS(procNotFound, SendAESyncToFinder(&ref));
  EXPECT_EQ(impostors.count, 0);
  EXPECT_STATUS(paramErr, SendAESyncToFinder(nullptr));
  EXPECT_STATUS(paramErr, FindAProcess(1, 2, nullptr));
  EXPECT_STATUS(paramErr, MakeAliasDesc(nullptr, nullptr));
  EXPECT_STATUS(paramErr, SendAppleEvent(nullptr, kAENoReply));
  EXPECT_STATUS(paramErr, SendAEToFinderForAEList(kAEFinderSuite, kAESync, nullptr, kAENoReply));
}

TEST_F(FinderEventsTest, FileManagerGetsOneAliasPerEventForFilesAndFolders) {
  Received others, finder;
  Register("APPL", "MACS", &others);
  Register("FNDR", "MACS", &finder);
  FSRef file = tv::test::RefFor(tree.file("f"));
  FSRef folder = tv::test::RefFor(tree.folder("d"));
  EXPECT_STATUS(noErr, SendAESyncToFinder(&file));
  EXPECT_STATUS(noErr, SendAESyncToFinder(&folder));
  EXPECT_EQ(others.count, 0);
  ASSERT_EQ(finder.count, 2);
  EXPECT_EQ(finder.listSizes, (std::vector<long>{1, 1}));
  EXPECT_EQ(finder.paths, (std::vector<std::string>{tree.path("f"), tree.path("d")}));
}

TEST_F(FinderEventsTest, AFailedSendIsReportedAndLeaksNothing) {
  Received finder;
  Register("FNDR", "MACS", &finder);
  FSRef file = tv::test::RefFor(tree.file("f"));
  TVSetAESendFailure(0, -1712);
  EXPECT_STATUS(-1712, SendAESyncToFinder(&file));
  TVSetAESendFailure(0, 0);
  EXPECT_EQ(finder.count, 0);
  TVAEFailNthAllocation(1);
  EXPECT_NE(SendAESyncToFinder(&file), noErr);
  TVAEFailNthAllocation(0);
  EXPECT_STATUS(noErr, SendAESyncToFinder(&file));
  EXPECT_EQ(finder.count, 1);
}

}  // namespace
