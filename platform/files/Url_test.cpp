#include <gtest/gtest.h>

#include "platform/CoreFoundation.h"
#include "platform/Files.h"
#include "tests/support/FilesFixture.h"

using namespace tv::test;

namespace {

std::string UrlPath(CFURLRef url) {
  std::string buf(70000, '\0');
  if (!CFURLGetFileSystemRepresentation(url, true, reinterpret_cast<UInt8 *>(buf.data()), CFIndex(buf.size())))
    return "(none)";
  return buf.c_str();
}

}  // namespace

TEST(CFURLCreateFromFSRefTest, MakesAFileUrlOfTheRefsPath) {
  tv::test::TempTree tree;
  std::string file = tree.file("dir/file name", "x");
  for (const std::string &path : {file, tree.path("dir"), std::string("/")}) {
    FSRef ref = RefFor(path);
    CFURLRef url = CFURLCreateFromFSRef(kCFAllocatorDefault, &ref);
    ASSERT_NE(nullptr, url) << path;
    EXPECT_EQ(path, UrlPath(url));
    CFRelease(url);
  }
}

TEST(CFURLCreateFromFSRefTest, NoUrlForABadRefAndTheLastKnownPathForAStaleOne) {
  tv::test::TempTree tree;
  std::string file = tree.file("f", "x");
  FSRef ref = RefFor(file);
  ASSERT_EQ(0, rename(file.c_str(), tree.path("g").c_str()));
  CFURLRef url = CFURLCreateFromFSRef(kCFAllocatorDefault, &ref);
  ASSERT_NE(nullptr, url);
  EXPECT_EQ(file, UrlPath(url));
  CFRelease(url);
  FSRef zero{};
  EXPECT_EQ(nullptr, CFURLCreateFromFSRef(kCFAllocatorDefault, &zero));
  EXPECT_EQ(nullptr, CFURLCreateFromFSRef(kCFAllocatorDefault, nullptr));
}
