// File URLs and plug-in instance counts.
#include "tests/support/CFFixture.h"

#include <cstring>
#include <string>

using tv::test::CFOwned;
using tv::test::Utf8;

namespace {

class CFURLTest : public tv::test::CFBalanceTest {
 protected:
  static CFURLRef Make(const std::string &path, bool dir = false) {
    return CFURLCreateFromFileSystemRepresentation(
        nullptr, reinterpret_cast<const UInt8 *>(path.data()), CFIndex(path.size()), dir);
  }
};

TEST_F(CFURLTest, KeepsAbsolutePathsWithoutTrailingSlash) {
  const std::pair<const char *, const char *> cases[] = {
      {"/Users/a/b.txt", "/Users/a/b.txt"}, {"/Volumes/Data/", "/Volumes/Data"},
      {"/", "/"}, {"//", "/"}, {"/a//", "/a"}};
  for (const auto &[in, out] : cases) {
    CFOwned<CFURLRef> url(Make(in, true));
    ASSERT_TRUE(url) << in;
    CFOwned<CFStringRef> path(CFURLCopyFileSystemPath(url, kCFURLPOSIXPathStyle));
    EXPECT_EQ(out, Utf8(path)) << in;
    UInt8 buf[64];
    ASSERT_TRUE(CFURLGetFileSystemRepresentation(url, true, buf, sizeof buf));
    EXPECT_STREQ(out, reinterpret_cast<const char *>(buf));
  }
}

TEST_F(CFURLTest, RefusesRelativeEmptyAndEmbeddedNulPaths) {
  EXPECT_EQ(nullptr, Make("relative/path"));
  EXPECT_EQ(nullptr, Make(""));
  EXPECT_EQ(nullptr, Make(std::string("/a\0b", 4)));
  EXPECT_EQ(nullptr, Make(std::string("\0", 1)));
  CFOwned<CFURLRef> counted(Make(std::string("/a/b\0", 5)));  // the terminator counted in
  CFOwned<CFStringRef> path(CFURLCopyFileSystemPath(counted, kCFURLPOSIXPathStyle));
  EXPECT_EQ("/a/b", Utf8(path));
  EXPECT_EQ(nullptr, CFURLCreateFromFileSystemRepresentation(nullptr, nullptr, 3, false));
  EXPECT_EQ(nullptr, CFURLCopyFileSystemPath(nullptr, kCFURLPOSIXPathStyle));
}

TEST_F(CFURLTest, RepresentationNeedsRoomForTheTerminator) {
  CFOwned<CFURLRef> url(Make("/abc"));
  UInt8 buf[5];
  EXPECT_FALSE(CFURLGetFileSystemRepresentation(url, true, buf, 4));
  EXPECT_TRUE(CFURLGetFileSystemRepresentation(url, true, buf, 5));
  EXPECT_EQ(0, std::memcmp("/abc", buf, 5));
}

TEST_F(CFURLTest, NameThatIsNotUTF8KeepsItsBytesAndStillShows) {
  const std::string latin1 = "/tmp/caf\xE9";
  CFOwned<CFURLRef> url(Make(latin1));
  ASSERT_TRUE(url);
  CFOwned<CFStringRef> path(CFURLCopyFileSystemPath(url, kCFURLPOSIXPathStyle));
  EXPECT_EQ("/tmp/caf\xEF\xBF\xBD", Utf8(path));
  UInt8 buf[32];
  ASSERT_TRUE(CFURLGetFileSystemRepresentation(url, true, buf, sizeof buf));
  EXPECT_EQ(latin1, reinterpret_cast<const char *>(buf));
  CFOwned<CFURLRef> same(Make(latin1 + "/"));
  EXPECT_TRUE(CFEqual(url, same));
}

TEST_F(CFURLTest, PlugInInstanceCountsFollowAddAndRemoveAndStopAtZero) {
  CFUUIDRef constant = CFUUIDGetConstantUUIDWithBytes(nullptr, 0xAA, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10,
                                                      11, 12, 13, 14, 15);
  CFOwned<CFUUIDRef> sameBytes(CFUUIDCreateFromUUIDBytes(nullptr, CFUUIDGetUUIDBytes(constant)));
  EXPECT_EQ(0, TVPlugInGetInstanceCount(constant));
  CFPlugInAddInstanceForFactory(constant);
  CFPlugInAddInstanceForFactory(sameBytes);  // counted by bytes, not by object
  EXPECT_EQ(2, TVPlugInGetInstanceCount(sameBytes));
  CFPlugInRemoveInstanceForFactory(constant);
  CFPlugInRemoveInstanceForFactory(constant);
  CFPlugInRemoveInstanceForFactory(constant);
  EXPECT_EQ(0, TVPlugInGetInstanceCount(constant));
  CFPlugInAddInstanceForFactory(constant);
  EXPECT_EQ(1, TVPlugInGetInstanceCount(constant));
  CFPlugInRemoveInstanceForFactory(constant);
  CFPlugInAddInstanceForFactory(nullptr);
  EXPECT_EQ(0, TVPlugInGetInstanceCount(nullptr));
}

}  // namespace
