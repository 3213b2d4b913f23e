#include "platform/HostServices.h"
#include "platform/MacMemory.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

class MacMemoryTest : public ::testing::Test {
 protected:
  void SetUp() override { start_ = TVGetLiveHandleCount(); }
  void TearDown() override {
    TVFailNthHandleAllocation(0);
    EXPECT_EQ(start_, TVGetLiveHandleCount()) << "a handle leaked or was freed twice";
  }
  CFIndex start_ = 0;
};

bool AllZero(Handle h) {
  for (Size i = 0; i < GetHandleSize(h); ++i)
    if ((*h)[i] != 0) return false;
  return true;
}

TEST_F(MacMemoryTest, NewHandlesAreZeroFilledAndCounted) {
  Handle a = NewHandle(64);
  ASSERT_NE(nullptr, a);
  EXPECT_STATUS(noErr, MemError());
  Handle b = NewHandleClear(3);
  ASSERT_NE(nullptr, b);
  EXPECT_EQ(64, GetHandleSize(a));
  EXPECT_EQ(3, GetHandleSize(b));
  EXPECT_TRUE(AllZero(a));
  EXPECT_TRUE(AllZero(b));
  EXPECT_EQ(start_ + 2, TVGetLiveHandleCount());
  DisposeHandle(a);
  DisposeHandle(b);
  EXPECT_EQ(start_, TVGetLiveHandleCount());
}

TEST_F(MacMemoryTest, EmptyHandleHasUsableMasterPointer) {
  Handle h = NewHandle(0);
  ASSERT_NE(nullptr, h);
  EXPECT_NE(nullptr, *h);
  EXPECT_EQ(0, GetHandleSize(h));
  DisposeHandle(h);
}

TEST_F(MacMemoryTest, ResizingKeepsContentAndZeroFillsGrowth) {
  Handle h = NewHandle(4);
  ASSERT_NE(nullptr, h);
  std::memcpy(*h, "abcd", 4);
  SetHandleSize(h, 1000);
  EXPECT_STATUS(noErr, MemError());
  ASSERT_EQ(1000, GetHandleSize(h));
  EXPECT_EQ(0, std::memcmp(*h, "abcd", 4));
  for (int i = 4; i < 1000; ++i) ASSERT_EQ(0, (*h)[i]) << "byte " << i;
  SetHandleSize(h, 2);
  EXPECT_EQ(2, GetHandleSize(h));
  EXPECT_EQ(0, std::memcmp(*h, "ab", 2));
  SetHandleSize(h, 3);
  EXPECT_EQ(0, (*h)[2]) << "bytes dropped by shrinking must not come back";
  DisposeHandle(h);
}

TEST_F(MacMemoryTest, NegativeSizesAreRefused) {
  EXPECT_EQ(nullptr, NewHandle(-1));
  EXPECT_STATUS(paramErr, MemError());
  Handle h = NewHandle(8);
  ASSERT_NE(nullptr, h);
  SetHandleSize(h, -5);
  EXPECT_STATUS(paramErr, MemError());
  EXPECT_EQ(8, GetHandleSize(h));
  DisposeHandle(h);
}

TEST_F(MacMemoryTest, ForeignAndDisposedHandlesAreRefusedSafely) {
  Handle h = NewHandle(8);
  ASSERT_NE(nullptr, h);
  DisposeHandle(h);
  EXPECT_STATUS(noErr, MemError());
  DisposeHandle(h);  // a second disposal must not touch the heap
  EXPECT_STATUS(nilHandleErr, MemError());
  EXPECT_EQ(0, GetHandleSize(h));
  EXPECT_STATUS(nilHandleErr, MemError());

  char *data = nullptr;
  Handle foreign = &data;
  SetHandleSize(foreign, 10);
  EXPECT_STATUS(nilHandleErr, MemError());
  EXPECT_EQ(nullptr, data);
  EXPECT_EQ(0, GetHandleSize(nullptr));
  DisposeHandle(nullptr);
  EXPECT_STATUS(noErr, MemError());
}

TEST_F(MacMemoryTest, InjectedFailureHitsOnlyTheNthAllocation) {
  TVFailNthHandleAllocation(2);
  Handle first = NewHandle(1);
  EXPECT_NE(nullptr, first);
  EXPECT_EQ(nullptr, NewHandleClear(1));
  EXPECT_STATUS(memFullErr, MemError());
  Handle third = NewHandle(1);
  EXPECT_NE(nullptr, third);
  DisposeHandle(first);
  DisposeHandle(third);

  TVFailNthHandleAllocation(1);
  TVFailNthHandleAllocation(0);
  Handle h = NewHandle(1);
  EXPECT_NE(nullptr, h) << "0 turns injection off";
  DisposeHandle(h);
}

}  // namespace
