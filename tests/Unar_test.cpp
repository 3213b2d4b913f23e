// Sidecars written by another program: a zip as macOS's archiver makes it
// (the metadata as AppleDouble members under __MACOSX/) is unpacked by
// The Unarchiver with `unar -k hidden`, which writes "._name" sidecars in its
// own layout. Reading and zapping them must keep what they carry.
#include <gtest/gtest.h>

#include "platform/Files.h"
#include "tests/support/Sidecars.h"
#include "tests/support/ForkCalls.h"
#include "tests/support/Selection.h"
#include "tests/support/TestSupport.h"

namespace {

namespace fx = tv::test;
using tv::forks::AppleDoubleView;
using tv::forks::FinderInfoBytes;

std::string Str(const std::vector<UInt8> &v) { return std::string(v.begin(), v.end()); }
std::vector<UInt8> Vec(const std::string &s) { return std::vector<UInt8>(s.begin(), s.end()); }

constexpr char kZipScript[] =
    "import sys, zipfile\n"
    "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
    "    for i in range(2, len(sys.argv), 2):\n"
    "        z.write(sys.argv[i], sys.argv[i + 1])\n";

class UnarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (tv::test::Run({"unar", "-v"}).status != 0) GTEST_SKIP() << "unar (Debian package unar) is not installed";
    if (tv::test::Run({"python3", "-c", "import zipfile"}).status != 0) GTEST_SKIP() << "python3 is not installed";
  }
  // Adds a file and its AppleDouble member to the archive's contents.
  void Add(const std::string &name, const std::string &data, const std::vector<UInt8> &appleDouble) {
    members.push_back(tree.file("stage/" + name, data));
    members.push_back(name);
    members.push_back(tree.file("stage/__MACOSX/._" + name, Str(appleDouble)));
    members.push_back("__MACOSX/._" + name);
  }
  // Zips, then unpacks into out/ with the metadata as hidden "._" files.
  void ZipAndUnpack() {
    std::vector<std::string> zip = {"python3", "-c", kZipScript, tree.path("mac.zip")};
    zip.insert(zip.end(), members.begin(), members.end());
    tv::test::RunResult made = tv::test::Run(zip);
    ASSERT_EQ(0, made.status) << made.err;
    tv::test::RunResult unpacked =
        tv::test::Run({"unar", "-q", "-D", "-k", "hidden", "-o", tree.path("out"), tree.path("mac.zip")});
    ASSERT_EQ(0, unpacked.status) << unpacked.out << unpacked.err;
  }
  FSCatalogInfo Catalog(const std::string &rel) {
    FSRef ref = tv::test::RefFor(tree.path(rel));
    FSCatalogInfo info{};
    EXPECT_EQ(noErr, FSGetCatalogInfo(&ref, kFSCatInfoRsrcSizes | kFSCatInfoFinderInfo, &info, nullptr, nullptr, nullptr))
        << rel;
    return info;
  }
  static UInt16 Flags(const FSCatalogInfo &info) { return reinterpret_cast<const FileInfo *>(info.finderInfo)->finderFlags; }
  OSStatus ZapAndClearIcon(const std::string &rel) {
    FSRef ref = tv::test::RefFor(tree.path(rel));
    OSStatus s = tv::test::ZapResourceFork(ref);
    return s == noErr ? tv::test::ClearCustomIconFlag(ref) : s;
  }

  tv::test::TempTree tree;
  std::vector<std::string> members;
};

TEST_F(UnarTest, SidecarsItWritesAreReadAndZappedKeepingAttributes) {
  const FinderInfoBytes icon = fx::MakeFinderInfo(FOUR_CHAR_CODE("TEXT"), FOUR_CHAR_CODE("ttxt"), kHasCustomIcon);
  const std::vector<UInt8> fork = fx::MakeResourceFork(600);
  const std::vector<fx::Attribute> attributes = fx::TypicalAttributes();
  Add("icon.txt", "with icon", fx::BuildCopyfileSidecar(icon, attributes, fork));
  Add("plain.txt", "only a fork", fx::BuildCopyfileSidecar(FinderInfoBytes{}, {}, fork));
  Add("flagged.txt", "only FinderInfo", fx::BuildCopyfileSidecar(icon, {attributes[0]}));
  ZipAndUnpack();
  if (HasFatalFailure()) return;

  // Where unar put the metadata: "._name" beside each file, in its own
  // layout (zero filler, FinderInfo's descriptor first).
  for (const char *name : {"icon.txt", "plain.txt", "flagged.txt"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(tree.exists(std::string("out/._") + name)) << "unar wrote no sidecar";
    const std::vector<UInt8> bytes = Vec(tree.read(std::string("out/._") + name));
    AppleDoubleView view;
    ASSERT_EQ(tv::forks::ForkFormatError::kNone, tv::forks::ParseAppleDouble(bytes, &view));
    EXPECT_TRUE(std::ranges::equal(view.filler(), fx::kZeroFiller)) << "not the layout unar is known to write";
    EXPECT_EQ(tv::forks::kEntryFinderInfo, view.entries.front().id);
  }
  const std::vector<UInt8> iconBefore = Vec(tree.read("out/._icon.txt"));
  AppleDoubleView before;
  ASSERT_EQ(tv::forks::ForkFormatError::kNone, tv::forks::ParseAppleDouble(iconBefore, &before));
  ASSERT_TRUE(before.attr.has_value()) << "unar dropped the packed attributes";

  FSCatalogInfo info = Catalog("out/icon.txt");
  EXPECT_EQ(600u, info.rsrcLogicalSize);
  EXPECT_EQ(kHasCustomIcon, Flags(info));
  EXPECT_EQ(600u, Catalog("out/plain.txt").rsrcLogicalSize);
  EXPECT_EQ(0u, Catalog("out/flagged.txt").rsrcLogicalSize);
  EXPECT_EQ(kHasCustomIcon, Flags(Catalog("out/flagged.txt")));

  for (const char *name : {"icon.txt", "plain.txt", "flagged.txt"})
    ASSERT_EQ(noErr, ZapAndClearIcon(std::string("out/") + name)) << name;

  // icon.txt: fork gone, flag gone, type, creator and attributes kept.
  const std::vector<UInt8> iconAfter = Vec(tree.read("out/._icon.txt"));
  AppleDoubleView after;
  ASSERT_EQ(tv::forks::ForkFormatError::kNone, tv::forks::ParseAppleDouble(iconAfter, &after));
  EXPECT_TRUE(after.resourceFork().empty());
  FinderInfoBytes expected = icon;
  tv::forks::ClearFinderFlags(expected, kHasCustomIcon);
  EXPECT_EQ(expected, after.finderInfo());
  ASSERT_TRUE(after.attr.has_value());
  ASSERT_EQ(before.attr->attributes.size(), after.attr->attributes.size());
  for (size_t i = 0; i < before.attr->attributes.size(); ++i) {
    EXPECT_EQ(before.attr->attributes[i].name, after.attr->attributes[i].name);
    EXPECT_TRUE(std::ranges::equal(before.attr->attributes[i].value, after.attr->attributes[i].value));
  }
  // Among them the quarantine, as the archive carried it.
  bool quarantine = false;
  for (const auto &a : after.attr->attributes)
    if (a.name == attributes[0].name) quarantine = std::ranges::equal(a.value, attributes[0].value);
  EXPECT_TRUE(quarantine) << "com.apple.quarantine lost or changed";
  EXPECT_EQ(0u, Catalog("out/icon.txt").rsrcLogicalSize);
  EXPECT_EQ("with icon", tree.read("out/icon.txt"));

  // plain.txt held nothing but the fork: its sidecar is gone.
  EXPECT_FALSE(tree.exists("out/._plain.txt"));
  EXPECT_EQ("only a fork", tree.read("out/plain.txt"));
  // flagged.txt keeps its sidecar for type, creator and quarantine.
  EXPECT_TRUE(tree.exists("out/._flagged.txt"));
  EXPECT_EQ(0, Flags(Catalog("out/flagged.txt")));
}

}  // namespace
