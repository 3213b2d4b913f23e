// The plug-in object as the host sees it: the real bundle's factory, its
// reference counts and phases, nested menus, and the error funnel's beep, log
// line and alert.
#include "plugin/MyCMXInstance.h"
#include "plugin/MyCMXStatus.h"
#include "platform/HostServices.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Watch {
  int beeps = 0;
  std::string console;
  std::vector<std::string> alerts;  // message | explanation
  SInt32 answer = 1;
};
Watch *sWatch = nullptr;

void CountBeep(short, void *) { sWatch->beeps++; }
void Capture(const char *text, void *) { sWatch->console += text; }
SInt32 Answer(const TVAlertRequest *r, void *) {
  sWatch->alerts.push_back(std::string(r->message) + " | " + (r->explanation ? r->explanation : ""));
  return sWatch->answer;
}

class PlugInObjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sWatch = &watch;
    std::string why;
    auto factory = reinterpret_cast<CFPlugInFactoryFunction>(
        tv::test::OpenBundleFactory(TV_BUNDLE_DIR, "MyCMMFactory", &why));
    ASSERT_NE(factory, nullptr) << why;
    factory_ = factory;
    // Opened once and kept: the plug-in caches its bundle for as long as its
    // code stays loaded, which in this process is until the end.
    static CFBundleRef bundle = nullptr;
    OSStatus err = noErr;
    if (bundle == nullptr) bundle = TVBundleCreateWithPath(TV_BUNDLE_DIR, &err);
    ASSERT_NE(bundle, nullptr) << err;
    TVSetBeepHandler(CountBeep, nullptr);
    TVSetConsoleSink(Capture, nullptr);
    TVSetAlertPresenter(Answer, nullptr);
    // One round trip first: the plug-in makes its stack of pools once and
    // keeps it, which is not a leak.
    MyCMXInstance *warm = Make();
    ASSERT_NE(warm, nullptr);
    LPVOID ignored = nullptr;
    warm->interfaceTable->QueryInterface(warm, CFUUIDGetUUIDBytes(IUnknownUUID), &ignored);
    warm->interfaceTable->Release(warm);
    warm->interfaceTable->Release(warm);
    liveCF_ = TVCFGetLiveObjectCount();
    liveAE_ = TVAEGetLiveDescriptorCount();
  }
  void TearDown() override {
    TVSetBeepHandler(nullptr, nullptr);
    TVSetConsoleSink(nullptr, nullptr);
    TVSetAlertPresenter(nullptr, nullptr);
    TVCFFailNthAllocation(0);
    sWatch = nullptr;
  }
  MyCMXInstance *Make() { return static_cast<MyCMXInstance *>(factory_(kCFAllocatorDefault, kContextualMenuTypeID)); }
  static const ContextualMenuInterfaceStruct &Table(MyCMXInstance *i) { return *i->interfaceTable; }
  void ExpectNoLeaks() {
    EXPECT_EQ(TVCFGetLiveObjectCount(), liveCF_);
    EXPECT_EQ(TVAEGetLiveDescriptorCount(), liveAE_);
  }

  tv::test::TempTree tree;
  Watch watch;
  CFPlugInFactoryFunction factory_ = nullptr;
  CFIndex liveCF_ = 0, liveAE_ = 0;
};

TEST_F(PlugInObjectTest, FactoryServesOnlyContextualMenus) {
  CFUUIDRef other = CFUUIDGetConstantUUIDWithBytes(nullptr, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
  EXPECT_EQ(factory_(kCFAllocatorDefault, other), nullptr);
  EXPECT_EQ(factory_(kCFAllocatorDefault, nullptr), nullptr);
  EXPECT_EQ(TVPlugInGetInstanceCount(kMyFactoryID), 0);
}

TEST_F(PlugInObjectTest, CountsReferencesAndUnregistersOnLastRelease) {
  MyCMXInstance *instance = Make();
  ASSERT_NE(instance, nullptr);
  EXPECT_EQ(instance->refCount, 1u);
  EXPECT_EQ(instance->phase, kPhaseAllocate);
  EXPECT_EQ(TVPlugInGetInstanceCount(kMyFactoryID), 1);
  const auto &t = Table(instance);
  EXPECT_EQ(t._reserved, nullptr);

  LPVOID a = nullptr, b = nullptr;
  EXPECT_EQ(t.QueryInterface(instance, CFUUIDGetUUIDBytes(IUnknownUUID), &a), S_OK);
  EXPECT_EQ(t.QueryInterface(instance, CFUUIDGetUUIDBytes(kContextualMenuInterfaceID), &b), S_OK);
  EXPECT_EQ(a, instance);
  EXPECT_EQ(b, instance);
  EXPECT_EQ(instance->refCount, 3u);
  EXPECT_EQ(instance->phase, kPhaseQuery);

  // Another interface: NULL stored, count and phase unchanged.
  LPVOID c = reinterpret_cast<LPVOID>(0x1);
  instance->phase = kPhaseAllocate;
  EXPECT_EQ(t.QueryInterface(instance, CFUUIDGetUUIDBytes(kMyFactoryID), &c), E_NOINTERFACE);
  EXPECT_EQ(c, nullptr);
  EXPECT_EQ(instance->refCount, 3u);
  EXPECT_EQ(instance->phase, kPhaseAllocate);
  EXPECT_EQ(t.QueryInterface(instance, CFUUIDGetUUIDBytes(IUnknownUUID), nullptr), E_NOINTERFACE);
  EXPECT_EQ(t.QueryInterface(nullptr, CFUUIDGetUUIDBytes(IUnknownUUID), &c), E_NOINTERFACE);

  EXPECT_EQ(t.AddRef(nullptr), 0xFFFFFFFFu);
  EXPECT_EQ(t.Release(nullptr), 0xFFFFFFFFu);
  EXPECT_EQ(t.AddRef(instance), 4u);
  EXPECT_EQ(t.Release(instance), 3u);
  EXPECT_EQ(t.Release(instance), 2u);
  EXPECT_EQ(t.Release(instance), 1u);
  EXPECT_EQ(TVPlugInGetInstanceCount(kMyFactoryID), 1);
  EXPECT_EQ(t.Release(instance), 0u);
  EXPECT_EQ(TVPlugInGetInstanceCount(kMyFactoryID), 0);
  EXPECT_EQ(watch.beeps, 0);
  EXPECT_EQ(watch.console, "");
  ExpectNoLeaks();
}

TEST_F(PlugInObjectTest, OnlyTheOutermostMenuCleansUp) {
  MyCMXInstance *instance = Make();
  ASSERT_NE(instance, nullptr);
  const auto &t = Table(instance);
  AEDesc empty = {typeNull, nullptr};
  AEDescList commands = {typeNull, nullptr};
  ASSERT_EQ(AECreateList(nullptr, 0, false, &commands), noErr);

  EXPECT_EQ(t.ExamineContext(instance, &empty, &commands), noErr);
  EXPECT_EQ(t.ExamineContext(instance, &empty, &commands), noErr);
  EXPECT_EQ(instance->menuNestCount, 2u);
  EXPECT_EQ(instance->phase, kPhaseExamineContext);
  t.PostMenuCleanup(instance);
  EXPECT_EQ(instance->menuNestCount, 1u);
  EXPECT_EQ(instance->phase, kPhasePostMenuCleanup);
  t.PostMenuCleanup(instance);
  EXPECT_EQ(instance->menuNestCount, 0u);
  // Without an ExamineContext before it the count stays at 0.
  t.PostMenuCleanup(instance);
  EXPECT_EQ(instance->menuNestCount, 0u);
  t.PostMenuCleanup(nullptr);

  long count = -1;
  EXPECT_EQ(AECountItems(&commands, &count), noErr);
  EXPECT_EQ(count, 0);  // an empty selection adds nothing
  AEDisposeDesc(&commands);
  EXPECT_EQ(t.Release(instance), 0u);
  EXPECT_EQ(watch.console, "");  // every pool was disposed of in order
  ExpectNoLeaks();
}

TEST_F(PlugInObjectTest, NullInstanceBeepsOnceAndLogsNothing) {
  MyCMXInstance *instance = Make();
  ASSERT_NE(instance, nullptr);
  const auto &t = Table(instance);
  AEDesc empty = {typeNull, nullptr};
  EXPECT_STATUS(paramErr, t.ExamineContext(nullptr, &empty, nullptr));
  EXPECT_EQ(watch.beeps, 1);
  EXPECT_STATUS(paramErr, t.HandleSelection(nullptr, &empty, 2001));
  EXPECT_EQ(watch.beeps, 2);
  EXPECT_EQ(watch.console, "");
  EXPECT_TRUE(watch.alerts.empty());
  t.Release(instance);
}

TEST_F(PlugInObjectTest, FunnelLogsMenuErrorsWithoutAlertAndCommandErrorsWithOne) {
  MyCMXInstance *instance = Make();
  ASSERT_NE(instance, nullptr);
  const auto &t = Table(instance);
  AEDesc empty = {typeNull, nullptr};

  // The entry point's own pool cannot be opened.
  TVCFFailNthAllocation(1);
  EXPECT_STATUS(nilPointerErr, t.ExamineContext(instance, &empty, nullptr));
  EXPECT_EQ(watch.beeps, 1);
  EXPECT_EQ(watch.console,
            "Tarrovel: MyCFAutoreleasePoolCreate: cannot alloc data\n\n"
            "Tarrovel: execution fail: error='NilP', phase is 'ExamineContext'\n");
  EXPECT_TRUE(watch.alerts.empty());
  EXPECT_EQ(instance->menuNestCount, 1u);  // a failed ExamineContext still counts
  t.PostMenuCleanup(instance);

  watch.console.clear();
  TVCFFailNthAllocation(1);
  EXPECT_STATUS(nilPointerErr, t.HandleSelection(instance, &empty, 2011));
  EXPECT_EQ(watch.beeps, 2);
  EXPECT_EQ(watch.console,
            "Tarrovel: MyCFAutoreleasePoolCreate: cannot alloc data\n\n"
            "Tarrovel: execution fail: error='NilP', phase is 'HandleSelection'\n");
  ASSERT_EQ(watch.alerts.size(), 1u);
  EXPECT_EQ(watch.alerts[0], "unexpected error:  | error code = " + std::to_string(nilPointerErr));
  EXPECT_EQ(t.Release(instance), 0u);
  ExpectNoLeaks();
}
}  // namespace
