#include "platform/files/Aliases.h"

#include <climits>
#include <cstring>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/Files.h"
#include "platform/MacMemory.h"
#include "tests/support/FilesFixture.h"

using namespace tv::test;
using tv::files::AliasRecord;
using tv::files::DecodeAliasRecord;
using tv::files::EncodeAliasRecord;

namespace {

AliasHandle HandleWith(const std::vector<uint8_t> &bytes) {
  AliasHandle h = NewHandle(Size(bytes.size()));
  if (h && !bytes.empty()) std::memcpy(*h, bytes.data(), bytes.size());
  return h;
}

}  // namespace

TEST(AliasRecordTest, EncodesBigEndianAndDecodesBack) {
  AliasRecord r{0x0102030405060708ull, 0x1112131415161718ull, "/a/b c"};
  std::vector<uint8_t> bytes = EncodeAliasRecord(r);
  ASSERT_EQ(28u + 6u, bytes.size());
  EXPECT_EQ(0, std::memcmp(bytes.data(), "TVal\0\1\0\0\1\2\3\4\5\6\7\x08", 16));
  EXPECT_EQ(6, bytes[27]);
  AliasRecord back;
  ASSERT_TRUE(DecodeAliasRecord(bytes.data(), bytes.size(), &back));
  EXPECT_EQ(r.device, back.device);
  EXPECT_EQ(r.inode, back.inode);
  EXPECT_EQ(r.path, back.path);
}

TEST(AliasRecordTest, RefusesEveryMalformedRecord) {
  std::vector<uint8_t> good = EncodeAliasRecord(AliasRecord{1, 2, "/x/y"});
  AliasRecord r;
  ASSERT_TRUE(DecodeAliasRecord(good.data(), good.size(), &r));
  // Every shorter prefix, and one byte more.
  for (size_t n = 0; n < good.size(); n++) EXPECT_FALSE(DecodeAliasRecord(good.data(), n, &r)) << n;
  auto longer = good;
  longer.push_back('z');
  EXPECT_FALSE(DecodeAliasRecord(longer.data(), longer.size(), &r));
  auto mutate = [&](size_t at, uint8_t value) {
    auto bad = good;
    bad[at] = value;
    return DecodeAliasRecord(bad.data(), bad.size(), &r);
  };
  EXPECT_FALSE(mutate(0, 'X'));     // magic
  EXPECT_FALSE(mutate(5, 2));       // version
  EXPECT_FALSE(mutate(24, 0x80));   // a huge length
  EXPECT_FALSE(mutate(27, 0xFF));   // length past the end
  EXPECT_FALSE(mutate(28, 'x'));    // relative path
  EXPECT_FALSE(mutate(30, 0));      // a 0 inside the path
  std::vector<uint8_t> empty = EncodeAliasRecord(AliasRecord{1, 2, ""});
  EXPECT_FALSE(DecodeAliasRecord(empty.data(), empty.size(), &r));
  EXPECT_FALSE(DecodeAliasRecord(nullptr, 40, &r));
}

TEST(AliasTest, RoundTripsToTheSameItem) {
  tv::test::TempTree tree;
  FSRef target = RefFor(tree.file("dir/file", "x"));
  AliasHandle alias = nullptr;
  ASSERT_STATUS(noErr, FSNewAlias(nullptr, &target, &alias));
  ASSERT_NE(nullptr, alias);
  FSRef resolved;
  Boolean changed = true;
  ASSERT_STATUS(noErr, FSResolveAlias(nullptr, alias, &resolved, &changed));
  EXPECT_FALSE(changed);
  EXPECT_STATUS(noErr, FSCompareFSRefs(&target, &resolved));
  EXPECT_STATUS(noErr, FSResolveAlias(nullptr, alias, &resolved, nullptr));  // the flag is optional
  DisposeHandle(alias);
}

TEST(AliasTest, ResolvesByPathAndSaysWhenTheItemChanged) {
  tv::test::TempTree tree;
  std::string path = tree.file("file", "old");
  FSRef target = RefFor(path);
  AliasHandle alias = nullptr;
  ASSERT_STATUS(noErr, FSNewAlias(nullptr, &target, &alias));

  // Moved away (kept, so that its inode number cannot be reused).
  ASSERT_EQ(0, rename(path.c_str(), tree.path("moved").c_str()));
  FSRef resolved;
  EXPECT_STATUS(fnfErr, FSResolveAlias(nullptr, alias, &resolved, nullptr));

  tree.file("file", "new");  // another file at the same path
  Boolean changed = false;
  ASSERT_STATUS(noErr, FSResolveAlias(nullptr, alias, &resolved, &changed));
  EXPECT_TRUE(changed);
  EXPECT_EQ(path, PathOf(resolved));

  // A final symbolic link is the item, not what it points at.
  ASSERT_EQ(0, unlink(path.c_str()));
  tree.file("elsewhere", "x");
  tree.symlink("file", tree.path("elsewhere"));
  ASSERT_STATUS(noErr, FSResolveAlias(nullptr, alias, &resolved, nullptr));
  LSItemInfoRecord info;
  ASSERT_STATUS(noErr, LSCopyItemInfoForRef(&resolved, kLSRequestBasicFlagsOnly, &info));
  EXPECT_TRUE(info.flags & kLSItemInfoIsSymlink);

  // A folder on the way that became a file: nothing there.
  AliasHandle inner = nullptr;
  ASSERT_STATUS(noErr, TVNewAliasFromPath(tree.file("d/inner", "x").c_str(), &inner));
  ASSERT_EQ(0, rename(tree.path("d").c_str(), tree.path("d.old").c_str()));
  tree.file("d", "file now");
  EXPECT_STATUS(fnfErr, FSResolveAlias(nullptr, inner, &resolved, nullptr));
  DisposeHandle(inner);
  DisposeHandle(alias);
}

TEST(AliasTest, MalformedHandlesAreParamErrNeverRead) {
  FSRef resolved;
  EXPECT_STATUS(paramErr, FSResolveAlias(nullptr, nullptr, &resolved, nullptr));
  std::vector<uint8_t> good = EncodeAliasRecord(AliasRecord{1, 2, "/"});
  AliasHandle h = HandleWith(good);
  EXPECT_STATUS(paramErr, FSResolveAlias(nullptr, h, nullptr, nullptr));
  EXPECT_STATUS(noErr, FSResolveAlias(nullptr, h, &resolved, nullptr));
  DisposeHandle(h);
  for (std::vector<uint8_t> bad : {std::vector<uint8_t>{}, std::vector<uint8_t>(27, 0),
                                   std::vector<uint8_t>(good.begin(), good.end() - 1),
                                   std::vector<uint8_t>(200, 0xFF)}) {
    AliasHandle b = HandleWith(bad);
    if (!b) continue;  // a zero-size handle may not exist
    EXPECT_STATUS(paramErr, FSResolveAlias(nullptr, b, &resolved, nullptr));
    DisposeHandle(b);
  }
}

TEST(AliasTest, AliasFromPathIsAbsoluteNormalisedAndAllowedToNameNothing) {
  tv::test::TempTree tree;
  std::string file = tree.file("sub/file", "x");
  char saved[PATH_MAX];
  ASSERT_NE(nullptr, getcwd(saved, sizeof saved));
  ASSERT_EQ(0, chdir(tree.path("sub").c_str()));
  AliasHandle rel = nullptr, missing = nullptr;
  EXPECT_STATUS(noErr, TVNewAliasFromPath("./x/../file", &rel));
  EXPECT_STATUS(noErr, TVNewAliasFromPath("ghost", &missing));
  ASSERT_EQ(0, chdir(saved));

  AliasRecord r;
  ASSERT_TRUE(DecodeAliasRecord(reinterpret_cast<const uint8_t *>(*rel), size_t(GetHandleSize(rel)), &r));
  EXPECT_EQ(file, r.path);
  EXPECT_NE(0u, r.inode);
  FSRef resolved;
  Boolean changed = true;
  ASSERT_STATUS(noErr, FSResolveAlias(nullptr, rel, &resolved, &changed));
  EXPECT_FALSE(changed);
  EXPECT_EQ(file, PathOf(resolved));

  ASSERT_TRUE(DecodeAliasRecord(reinterpret_cast<const uint8_t *>(*missing), size_t(GetHandleSize(missing)), &r));
  EXPECT_EQ(tree.path("sub/ghost"), r.path);
  EXPECT_EQ(0u, r.device);
  EXPECT_EQ(0u, r.inode);
  EXPECT_STATUS(fnfErr, FSResolveAlias(nullptr, missing, &resolved, nullptr));
  tree.file("sub/ghost", "now here");
  EXPECT_STATUS(noErr, FSResolveAlias(nullptr, missing, &resolved, &changed));
  EXPECT_TRUE(changed);

  AliasHandle out;
  EXPECT_STATUS(paramErr, TVNewAliasFromPath(nullptr, &out));
  EXPECT_STATUS(paramErr, TVNewAliasFromPath("", &out));
  EXPECT_STATUS(paramErr, TVNewAliasFromPath("/x", nullptr));
  DisposeHandle(rel);
  DisposeHandle(missing);
}
