// Reference counting, equality and the simple object types.
#include "tests/support/CFFixture.h"
#include "tests/support/TestSupport.h"

#include <cstring>

using tv::test::CFOwned;
using tv::test::Utf8;

namespace {

class CFBaseTest : public tv::test::CFBalanceTest {};

TEST_F(CFBaseTest, LastReleaseFreesAndCountsFollowRetains) {
  const CFIndex before = TVCFGetLiveObjectCount();
  CFStringRef s = CFStringCreateWithCString(nullptr, "x", kCFStringEncodingUTF8);
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(before + 1, TVCFGetLiveObjectCount());
  EXPECT_EQ(1, CFGetRetainCount(s));
  EXPECT_EQ(s, CFRetain(s));
  EXPECT_EQ(2, CFGetRetainCount(s));
  CFRelease(s);
  EXPECT_EQ(1, CFGetRetainCount(s));
  EXPECT_EQ(before + 1, TVCFGetLiveObjectCount());
  CFRelease(s);
  EXPECT_EQ(before, TVCFGetLiveObjectCount());
}

TEST_F(CFBaseTest, ConstantsAreNotCountedAndSurviveReleases) {
  const CFIndex before = TVCFGetLiveObjectCount();
  CFStringRef a = CFSTR("constant text");
  CFStringRef b = CFSTR("constant text");
  EXPECT_EQ(a, b);  // interned
  CFUUIDRef u1 = CFUUIDGetConstantUUIDWithBytes(nullptr, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12,
                                                13, 14, 15, 16);
  CFUUIDRef u2 = CFUUIDGetConstantUUIDWithBytes(nullptr, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12,
                                                13, 14, 15, 16);
  EXPECT_EQ(u1, u2);
  for (CFTypeRef c : {CFTypeRef(a), CFTypeRef(u1), CFTypeRef(kCFBooleanTrue)}) {
    CFRelease(c);
    CFRelease(c);
    CFRetain(c);
  }
  EXPECT_EQ(before, TVCFGetLiveObjectCount());
  EXPECT_EQ("constant text", Utf8(a));
  EXPECT_TRUE(CFBooleanGetValue(kCFBooleanTrue));
  EXPECT_FALSE(CFBooleanGetValue(kCFBooleanFalse));
  EXPECT_EQ(CFBooleanGetTypeID(), CFGetTypeID(kCFBooleanFalse));
}

TEST_F(CFBaseTest, EqualityNeedsSameTypeAndContent) {
  CFOwned<CFStringRef> s1(CFStringCreateWithCString(nullptr, "abc", kCFStringEncodingUTF8));
  CFOwned<CFMutableStringRef> s2(CFStringCreateMutable(nullptr, 0));
  CFStringAppendCString(s2, "abc", kCFStringEncodingASCII);
  EXPECT_TRUE(CFEqual(s1, s2));
  EXPECT_TRUE(CFEqual(s1, CFSTR("abc")));
  EXPECT_EQ(CFHash(s1), CFHash(s2));
  EXPECT_FALSE(CFEqual(s1, CFSTR("abd")));
  const UInt8 bytes[] = {'a', 'b', 'c'};
  CFOwned<CFDataRef> d(CFDataCreate(nullptr, bytes, 3));
  EXPECT_FALSE(CFEqual(s1, d));  // same bytes, other type
  EXPECT_FALSE(CFEqual(s1, nullptr));
  EXPECT_FALSE(CFEqual(nullptr, nullptr));
  EXPECT_FALSE(CFEqual(kCFBooleanTrue, kCFBooleanFalse));
}

// Not a balance test: the over-release it makes stays counted (every other
// test compares its own start and end).
TEST(CFOverReleaseTest, IsRefusedSaysSoAndShowsInTheLiveCount) {
  const CFIndex before = TVCFGetLiveObjectCount();
  CFStringRef s = CFStringCreateWithCString(nullptr, "once", kCFStringEncodingUTF8);
  CFStringRef keep = CFStringCreateWithCString(nullptr, "other", kCFStringEncodingUTF8);
  CFRelease(s);
  testing::internal::CaptureStderr();
  CFRelease(s);  // a second release of a freed object must not touch its memory
  CFRelease(nullptr);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, err.find("not alive")) << err;
  EXPECT_EQ(1, CFGetRetainCount(keep));
  // One object alive, one over-release: a test comparing counts notices.
  EXPECT_EQ(before, TVCFGetLiveObjectCount());
  CFRelease(keep);
  EXPECT_EQ(before - 1, TVCFGetLiveObjectCount());
  CFRetain(keep);  // also refused: nothing to count
  CFRelease(CFStringCreateWithCString(nullptr, "balance", kCFStringEncodingUTF8));
  EXPECT_EQ(before - 1, TVCFGetLiveObjectCount());
}

TEST_F(CFBaseTest, FailNthAllocationFailsExactlyThatOne) {
  TVCFFailNthAllocation(2);
  CFOwned<CFStringRef> first(CFStringCreateWithCString(nullptr, "1", kCFStringEncodingUTF8));
  CFOwned<CFDataRef> second(CFDataCreate(nullptr, nullptr, 0));
  CFOwned<CFMutableArrayRef> third(CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks));
  EXPECT_NE(nullptr, first.get());
  EXPECT_EQ(nullptr, second.get());
  EXPECT_NE(nullptr, third.get());
  // Constants never fail: code may rely on CFSTR.
  TVCFFailNthAllocation(1);
  EXPECT_NE(nullptr, CFSTR("never fails"));
  CFOwned<CFStringRef> afterConstant(CFStringCreateWithCString(nullptr, "x", kCFStringEncodingUTF8));
  EXPECT_EQ(nullptr, afterConstant.get());
}

TEST_F(CFBaseTest, ArrayRetainsValuesAndReleasesThemWithItself) {
  CFStringRef s = CFStringCreateWithCString(nullptr, "held", kCFStringEncodingUTF8);
  CFMutableArrayRef a = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
  ASSERT_NE(nullptr, a);
  CFArrayAppendValue(a, s);
  CFArrayAppendValue(a, s);  // duplicates allowed, each retained
  EXPECT_EQ(3, CFGetRetainCount(s));
  EXPECT_EQ(2, CFArrayGetCount(a));
  EXPECT_EQ(s, CFArrayGetValueAtIndex(a, 1));
  EXPECT_EQ(nullptr, CFArrayGetValueAtIndex(a, 2));
  EXPECT_EQ(nullptr, CFArrayGetValueAtIndex(a, -1));
  CFArrayRemoveValueAtIndex(a, 0);
  EXPECT_EQ(2, CFGetRetainCount(s));
  CFArrayRemoveValueAtIndex(a, 5);  // out of range: nothing happens
  EXPECT_EQ(1, CFArrayGetCount(a));
  CFRelease(a);
  EXPECT_EQ(1, CFGetRetainCount(s));
  CFRelease(s);
}

TEST_F(CFBaseTest, NestedArraysFreeEverythingOnLastRelease) {
  // The shape of a stack of pools: arrays of arrays of objects.
  CFMutableArrayRef stack = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
  for (int pool = 0; pool < 3; ++pool) {
    CFMutableArrayRef objects = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
    CFArrayAppendValue(stack, objects);
    CFRelease(objects);
    for (int k = 0; k < 4; ++k) {
      CFStringRef s = CFStringCreateWithCString(nullptr, "o", kCFStringEncodingUTF8);
      CFArrayAppendValue(objects, s);
      CFRelease(s);
    }
  }
  CFArrayRemoveValueAtIndex(stack, CFArrayGetCount(stack) - 1);
  CFArrayRemoveAllValues(stack);
  EXPECT_EQ(0, CFArrayGetCount(stack));
  CFRelease(stack);
  // The fixture checks that all 15 objects went.
}

TEST_F(CFBaseTest, ThousandsOfObjectsReleasedInAnyOrderAreEachFreedOnce) {
  // Enough objects to grow the table of live objects several times, released
  // out of order so that entries move within it; each release must still
  // find its object (the fixture counts over-releases and leaks).
  CFMutableArrayRef all = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
  const UInt8 byte = 7;
  for (int i = 0; i < 5000; ++i) {
    CFDataRef d = CFDataCreate(nullptr, &byte, 1);
    CFArrayAppendValue(all, d);
    CFRelease(d);
  }
  for (CFIndex n = CFArrayGetCount(all); n > 0; --n) {
    CFTypeRef kept = CFArrayGetValueAtIndex(all, n / 2);
    EXPECT_EQ(2, CFGetRetainCount(CFRetain(kept)));
    CFRelease(kept);
    CFArrayRemoveValueAtIndex(all, (n * 7919 + 13) % n);
  }
  CFRelease(all);
}

TEST_F(CFBaseTest, ArrayWithoutCallBacksHoldsPlainPointers) {
  int x = 0, y = 0;
  const void *values[] = {&x, &y};
  CFOwned<CFArrayRef> a(CFArrayCreate(nullptr, values, 2, nullptr));
  ASSERT_TRUE(a);
  EXPECT_EQ(&y, CFArrayGetValueAtIndex(a, 1));
  CFOwned<CFArrayRef> b(CFArrayCreate(nullptr, values, 2, nullptr));
  EXPECT_TRUE(CFEqual(a, b));
  // Appending to an immutable array is refused.
  CFArrayAppendValue(const_cast<CFMutableArrayRef>(a.get()), &x);
  EXPECT_EQ(2, CFArrayGetCount(a));
}

TEST_F(CFBaseTest, ArraysCompareValuesWithTheirCallBacks) {
  CFOwned<CFStringRef> s1(CFStringCreateWithCString(nullptr, "v", kCFStringEncodingUTF8));
  CFOwned<CFStringRef> s2(CFStringCreateWithCString(nullptr, "v", kCFStringEncodingUTF8));
  const void *v1[] = {s1.get()};
  const void *v2[] = {s2.get()};
  CFOwned<CFArrayRef> a(CFArrayCreate(nullptr, v1, 1, &kCFTypeArrayCallBacks));
  CFOwned<CFArrayRef> b(CFArrayCreate(nullptr, v2, 1, &kCFTypeArrayCallBacks));
  EXPECT_TRUE(CFEqual(a, b));
  EXPECT_EQ(2, CFGetRetainCount(s1));
}

TEST_F(CFBaseTest, MutableDataGrowsZeroFilledAndAppends) {
  CFOwned<CFMutableDataRef> d(CFDataCreateMutable(nullptr, 0));
  ASSERT_TRUE(d);
  EXPECT_EQ(0, CFDataGetLength(d));
  EXPECT_NE(nullptr, CFDataGetBytePtr(d));  // safe to hand to memcpy even when empty
  const UInt8 abc[] = {1, 2, 3};
  CFDataAppendBytes(d, abc, 3);
  CFDataSetLength(d, 5);
  ASSERT_EQ(5, CFDataGetLength(d));
  const UInt8 expect[] = {1, 2, 3, 0, 0};
  EXPECT_EQ(0, std::memcmp(expect, CFDataGetBytePtr(d), 5));
  CFDataGetMutableBytePtr(d)[4] = 9;
  CFDataSetLength(d, 2);
  EXPECT_EQ(2, CFDataGetLength(d));
  CFOwned<CFDataRef> fixed(CFDataCreate(nullptr, abc, 3));
  EXPECT_EQ(nullptr, CFDataGetMutableBytePtr(const_cast<CFMutableDataRef>(fixed.get())));
  EXPECT_EQ(nullptr, CFDataCreate(nullptr, nullptr, 4));
  EXPECT_EQ(nullptr, CFDataCreate(nullptr, abc, -1));
}

TEST_F(CFBaseTest, UUIDRoundTripsThroughStringAndBytes) {
  CFOwned<CFUUIDRef> u(CFUUIDCreateFromString(nullptr, CFSTR("68753a44-4D6F-1226-9C60-0050E4C00067")));
  ASSERT_TRUE(u);
  CFOwned<CFStringRef> text(CFUUIDCreateString(nullptr, u));
  EXPECT_EQ("68753A44-4D6F-1226-9C60-0050E4C00067", Utf8(text));
  const CFUUIDBytes b = CFUUIDGetUUIDBytes(u);
  EXPECT_EQ(0x68, b.byte0);
  EXPECT_EQ(0x67, b.byte15);
  CFOwned<CFUUIDRef> again(CFUUIDCreateFromUUIDBytes(nullptr, b));
  EXPECT_TRUE(CFEqual(u, again));
  EXPECT_NE(u.get(), again.get());
  CFUUIDRef constant = CFUUIDGetConstantUUIDWithBytes(nullptr, 0x68, 0x75, 0x3A, 0x44, 0x4D, 0x6F,
                                                      0x12, 0x26, 0x9C, 0x60, 0x00, 0x50, 0xE4,
                                                      0xC0, 0x00, 0x67);
  EXPECT_TRUE(CFEqual(constant, u));
  EXPECT_EQ(CFHash(constant), CFHash(u));
}

TEST_F(CFBaseTest, UUIDFromMalformedTextIsNull) {
  for (const char *bad : {"", "68753A44-4D6F-1226-9C60-0050E4C0006", "68753A44-4D6F-1226-9C60-0050E4C000677",
                          "68753A44x4D6F-1226-9C60-0050E4C00067", "G8753A44-4D6F-1226-9C60-0050E4C00067",
                          "{68753A44-4D6F-1226-9C60-0050E4C00067}"}) {
    CFOwned<CFStringRef> s(CFStringCreateWithCString(nullptr, bad, kCFStringEncodingUTF8));
    CFOwned<CFUUIDRef> u(CFUUIDCreateFromString(nullptr, s));
    EXPECT_EQ(nullptr, u.get()) << bad;
  }
  EXPECT_EQ(nullptr, CFUUIDCreateFromString(nullptr, nullptr));
}

}  // namespace
