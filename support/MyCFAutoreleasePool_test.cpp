#include "support/MyCFAutoreleasePool.h"

#include "platform/HostServices.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

std::string sConsole;
void Capture(const char *text, void *) { sConsole += text; }

class AutoreleasePoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sConsole.clear();
    TVSetConsoleSink(Capture, nullptr);
    // The stack of pools is made once and kept for the process.
    MyCFAutoreleasePoolDispose(MyCFAutoreleasePoolCreate());
    live_ = TVCFGetLiveObjectCount();
  }
  void TearDown() override {
    TVSetConsoleSink(nullptr, nullptr);
    TVCFFailNthAllocation(0);
    EXPECT_EQ(TVCFGetLiveObjectCount(), live_);
  }
  static CFStringRef NewString() { return CFStringCreateWithCString(nullptr, "x", kCFStringEncodingUTF8); }
  CFIndex live_ = 0;
};

TEST_F(AutoreleasePoolTest, InnerPoolReleasesItsObjectsAndOuterBecomesTopAgain) {
  MyCFAutoreleasePool a = MyCFAutoreleasePoolCreate();
  MyCFAutoreleasePool b = MyCFAutoreleasePoolCreate();
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  CFStringRef s = NewString();
  CFRetain(s);  // keep one of our own to watch the count
  EXPECT_EQ(MyCFAutorelease(s), s);
  EXPECT_EQ(CFGetRetainCount(s), 2);  // ours and the pool's
  MyCFAutoreleasePoolDispose(b);
  EXPECT_EQ(CFGetRetainCount(s), 1);
  CFStringRef t = NewString();
  MyCFAutorelease(t);  // goes to A, now the top
  MyCFAutoreleasePoolDispose(a);
  CFRelease(s);
  EXPECT_EQ(sConsole, "");
}

TEST_F(AutoreleasePoolTest, DisposingAPoolThatIsNotOnTopChangesNothing) {
  MyCFAutoreleasePool a = MyCFAutoreleasePoolCreate();
  MyCFAutoreleasePool b = MyCFAutoreleasePoolCreate();
  MyCFAutoreleasePoolDispose(a);
  EXPECT_EQ(sConsole, "Tarrovel: MyCFAutoreleasePoolDispose: illegal dispose\n\n");
  sConsole.clear();
  MyCFAutoreleasePoolDispose(b);
  MyCFAutoreleasePoolDispose(a);
  EXPECT_EQ(sConsole, "");
}

TEST_F(AutoreleasePoolTest, ObjectHandedOverTwiceIsReleasedTwice) {
  MyCFAutoreleasePool a = MyCFAutoreleasePoolCreate();
  CFStringRef s = NewString();
  CFRetain(s);
  CFRetain(s);
  MyCFAutorelease(s);
  MyCFAutorelease(s);
  EXPECT_EQ(CFGetRetainCount(s), 3);
  MyCFAutoreleasePoolDispose(a);
  EXPECT_EQ(CFGetRetainCount(s), 1);
  CFRelease(s);
}

TEST_F(AutoreleasePoolTest, WithoutPoolsObjectsComeBackUntouched) {
  EXPECT_EQ(MyCFAutorelease(nullptr), nullptr);
  MyCFAutoreleasePoolDispose(nullptr);
  EXPECT_EQ(sConsole, "");
  CFStringRef s = NewString();
  EXPECT_EQ(MyCFAutorelease(s), s);
  EXPECT_EQ(CFGetRetainCount(s), 1);
  EXPECT_EQ(sConsole, "Tarrovel: MyCFAutoreleasePool GetCurrentPool: no pool\n\n");
  CFRelease(s);
}

TEST_F(AutoreleasePoolTest, DisposeWithEmptyStackLogsTwoLines) {
  MyCFAutoreleasePool a = MyCFAutoreleasePoolCreate();
  MyCFAutoreleasePoolRecord copy = *a;
  MyCFAutoreleasePoolDispose(a);
  sConsole.clear();
  MyCFAutoreleasePool stale = &copy;  // a handle whose pool is gone
  MyCFAutoreleasePoolDispose(stale);
  EXPECT_EQ(sConsole,
            "Tarrovel: MyCFAutoreleasePool GetCurrentPool: no pool\n\n"
            "Tarrovel: MyCFAutoreleasePoolDispose: illegal dispose\n\n");
}

TEST_F(AutoreleasePoolTest, PoolThatCannotBeMadeIsReported) {
  // Make sure the stack exists, so that the next creation is the pool's array.
  MyCFAutoreleasePoolDispose(MyCFAutoreleasePoolCreate());
  TVCFFailNthAllocation(1);
  EXPECT_EQ(MyCFAutoreleasePoolCreate(), nullptr);
  EXPECT_EQ(sConsole, "Tarrovel: MyCFAutoreleasePoolCreate: cannot alloc data\n\n");
}

}  // namespace
