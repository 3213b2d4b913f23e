#include "platform/forks/AppleDouble.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "tests/support/ForksFixture.h"

namespace tv::forks {
namespace {

using namespace tv::test;

const FinderInfoBytes kInfo = MakeFinderInfo(FOUR_CHAR_CODE("TEXT"), FOUR_CHAR_CODE("ttxt"), kFinderFlagHasCustomIcon | 0x0100);

std::string Filler(const AppleDoubleView &view) {
  return std::string(view.filler().begin(), view.filler().end());
}

TEST(AppleDoubleTest, ParsesKernelSidecarWithBlankForkAndPackedAttributes) {
  std::vector<UInt8> file = BuildMacOSKernelSidecar(kInfo, TypicalAttributes());
  ASSERT_EQ(4096u, file.size());
  AppleDoubleView view = MustParse(file);
  EXPECT_EQ(AppleDoubleFormat::kAppleDouble, view.format);
  EXPECT_EQ("Mac OS X        ", Filler(view));
  ASSERT_EQ(2u, view.entries.size());
  EXPECT_EQ(kEntryFinderInfo, view.entries[0].id);
  EXPECT_EQ(0x32u, view.entries[0].offset);
  EXPECT_EQ(0xEB0u, view.entries[0].length);
  EXPECT_EQ(kEntryResourceFork, view.entries[1].id);
  EXPECT_EQ(0xEE2u, view.entries[1].offset);
  EXPECT_EQ(286u, view.entries[1].length);
  EXPECT_TRUE(IsBlankResourceFork(view.resourceFork()));
  EXPECT_EQ(kInfo, view.finderInfo());

  ASSERT_TRUE(view.attr.has_value());
  EXPECT_EQ(0x54u, view.attr->offset);
  EXPECT_GE(view.attr->dataStart, 120u);
  std::vector<Attribute> expected = TypicalAttributes();
  ASSERT_EQ(expected.size(), view.attr->attributes.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(expected[i].name, view.attr->attributes[i].name);
    EXPECT_TRUE(std::ranges::equal(expected[i].value, view.attr->attributes[i].value)) << expected[i].name;
  }
}

TEST(AppleDoubleTest, ParsesCopyfileLayoutsOldAndNew) {
  std::vector<UInt8> fork = MakeResourceFork(40);
  std::vector<UInt8> modernFile = BuildCopyfileSidecar(kInfo, {}, fork);
  AppleDoubleView modern = MustParse(modernFile);
  EXPECT_EQ(70u, modern.finderInfoEntry()->length);
  EXPECT_EQ(0x78u, modern.resourceForkEntry()->offset);
  ASSERT_TRUE(modern.attr.has_value());
  EXPECT_TRUE(modern.attr->attributes.empty());
  EXPECT_EQ(120u, modern.attr->dataStart);
  EXPECT_TRUE(std::ranges::equal(fork, modern.resourceFork()));

  std::vector<UInt8> oldFile = BuildOldCopyfileSidecar(kInfo, fork);
  AppleDoubleView old = MustParse(oldFile);
  EXPECT_EQ(32u, old.finderInfoEntry()->length);
  EXPECT_EQ(82u, old.resourceForkEntry()->offset);
  EXPECT_FALSE(old.attr.has_value());
  EXPECT_EQ(kInfo, old.finderInfo());
}

TEST(AppleDoubleTest, ParsesSambaSidecarWithForkDescriptorFirst) {
  std::vector<UInt8> empty = BuildSambaSidecar(FinderInfoBytes{});
  EXPECT_EQ(82u, empty.size());
  std::vector<UInt8> fork = MakeResourceFork(300);
  std::vector<UInt8> file = BuildSambaSidecar(kInfo, fork);
  AppleDoubleView view = MustParse(file);
  EXPECT_EQ("Netatalk        ", Filler(view));
  ASSERT_EQ(2u, view.entries.size());
  EXPECT_EQ(kEntryResourceFork, view.entries[0].id);
  EXPECT_EQ(0x52u, view.entries[0].offset);
  EXPECT_EQ(kEntryFinderInfo, view.entries[1].id);
  EXPECT_EQ(0x32u, view.entries[1].offset);
  EXPECT_TRUE(std::ranges::equal(fork, view.resourceFork()));
  EXPECT_EQ(kInfo, view.finderInfo());
}

TEST(AppleDoubleTest, ParsesUnarchiverSidecarsWithAndWithoutAttributes) {
  std::vector<UInt8> fork = MakeResourceFork(10);
  std::vector<UInt8> plainFile = BuildUnarchiverSidecar(kInfo, fork);
  AppleDoubleView plain = MustParse(plainFile);
  EXPECT_EQ(std::string(16, '\0'), Filler(plain));
  EXPECT_EQ(kEntryFinderInfo, plain.entries[0].id);
  EXPECT_EQ(82u, plain.resourceForkEntry()->offset);

  std::vector<UInt8> packedFile = BuildUnarchiverSidecar(kInfo, fork, TypicalAttributes());
  AppleDoubleView packed = MustParse(packedFile);
  ASSERT_TRUE(packed.attr.has_value());
  EXPECT_EQ(2u, packed.attr->attributes.size());
  EXPECT_EQ(packed.attr->totalSize, packed.resourceForkEntry()->offset);
  EXPECT_TRUE(std::ranges::equal(fork, packed.resourceFork()));
}

TEST(AppleDoubleTest, RecognisesAppleSingle) {
  std::vector<UInt8> file =
      BuildAppleDouble(kZeroFiller, {{kEntryDataFork, BytesOf("data")}, {kEntryResourceFork, {}}}, {},
                       kAppleSingleMagic);
  EXPECT_EQ(AppleDoubleFormat::kAppleSingle, MustParse(file).format);
}

TEST(AppleDoubleTest, AcceptsEmptyEntriesThatShareOffsetsOrSitAtTheEnd) {
  // Samba's empty fork sits where FinderInfo ends, which is also the end of
  // the file; empty entries take no bytes.
  std::vector<UInt8> file = BuildSambaSidecar(kInfo);
  AppleDoubleView view = MustParse(file);
  EXPECT_EQ(file.size(), view.resourceForkEntry()->offset);
  EXPECT_TRUE(view.resourceFork().empty());
}

// A sound old-copyfile sidecar (entry 9 at 0x32, 32 bytes; fork at 82,
// 16 bytes) bent by `change`.
std::vector<UInt8> Bent(const std::function<void(std::vector<UInt8> &)> &change) {
  std::vector<UInt8> file = BuildOldCopyfileSidecar(kInfo, MakeResourceFork(16));
  change(file);
  return file;
}

TEST(AppleDoubleTest, RefusesHeadersThatAreNotSound) {
  EXPECT_EQ(ForkFormatError::kTooShort, ParseError(BytesOf("\x00\x05\x16\x07")));
  EXPECT_EQ(ForkFormatError::kBadMagic, ParseError(Bent([](auto &f) { f[3] = 0x08; })));
  EXPECT_EQ(ForkFormatError::kBadVersion, ParseError(Bent([](auto &f) { PutBE32(f, 4, 0x00010000); })));
  EXPECT_EQ(ForkFormatError::kBadEntryCount, ParseError(Bent([](auto &f) { PutBE16(f, 24, 0); })));
  EXPECT_EQ(ForkFormatError::kBadEntryCount, ParseError(Bent([](auto &f) { PutBE16(f, 24, 16); })));
  // Three descriptors claimed, but the third would run into the data of a
  // file cut right after the header.
  EXPECT_EQ(ForkFormatError::kTooShort, ParseError(Bent([](auto &f) {
              PutBE16(f, 24, 15);
              f.resize(60);
            })));
}

TEST(AppleDoubleTest, AcceptsFifteenEntries) {
  std::vector<Entry> entries;
  for (UInt32 i = 0; i < 15; ++i) entries.push_back({100 + i, {UInt8(i)}});
  std::vector<UInt8> file = BuildAppleDouble(kZeroFiller, entries);
  EXPECT_EQ(15u, MustParse(file).entries.size());
  entries.push_back({200, {1}});
  EXPECT_EQ(ForkFormatError::kBadEntryCount, ParseError(BuildAppleDouble(kZeroFiller, entries)));
}

TEST(AppleDoubleTest, RefusesEntriesOutsideTheFileOrOverlapping) {
  // Fork descriptor is the second one: offset at 42, length at 46.
  EXPECT_EQ(ForkFormatError::kEntryOutsideFile, ParseError(Bent([](auto &f) { PutBE32(f, 46, 17); })));
  EXPECT_EQ(ForkFormatError::kEntryOutsideFile, ParseError(Bent([](auto &f) { f.pop_back(); })));
  // offset + length wraps around 32 bits.
  EXPECT_EQ(ForkFormatError::kEntryOutsideFile, ParseError(Bent([](auto &f) {
              PutBE32(f, 42, 0xFFFFFFF0);
              PutBE32(f, 46, 0x20);
            })));
  // An empty entry beyond the end is outside too.
  EXPECT_EQ(ForkFormatError::kEntryOutsideFile, ParseError(Bent([](auto &f) {
              PutBE32(f, 42, UInt32(f.size() + 1));
              PutBE32(f, 46, 0);
            })));
  EXPECT_EQ(ForkFormatError::kEntryOverlapsHeader, ParseError(Bent([](auto &f) { PutBE32(f, 42, 40); })));
  // The fork starting one byte inside FinderInfo.
  EXPECT_EQ(ForkFormatError::kEntriesOverlap, ParseError(Bent([](auto &f) { PutBE32(f, 42, 81); })));
  // The fork inside FinderInfo entirely.
  EXPECT_EQ(ForkFormatError::kEntriesOverlap, ParseError(Bent([](auto &f) {
              PutBE32(f, 42, 0x40);
              PutBE32(f, 46, 4);
            })));
  EXPECT_EQ(ForkFormatError::kDuplicateEntry, ParseError(Bent([](auto &f) { PutBE32(f, 26, kEntryResourceFork); })));
  EXPECT_EQ(ForkFormatError::kFinderInfoTooShort, ParseError(Bent([](auto &f) { PutBE32(f, 34, 31); })));
}

// A copyfile sidecar with the typical attributes, bent inside its ATTR block
// (at 0x54: total size +8, data start +12, data length +16, count +34; the
// first attribute entry at 0x78).
std::vector<UInt8> BentAttr(const std::function<void(std::vector<UInt8> &)> &change,
                            size_t entry9Length = 0) {
  std::vector<UInt8> file = BuildAppleDouble(
      kMacOSFiller, {{kEntryFinderInfo, BuildFinderInfoWithAttr(kInfo, TypicalAttributes(), 0x32, entry9Length)},
                     {kEntryResourceFork, MakeResourceFork(8)}});
  change(file);
  return file;
}

TEST(AppleDoubleTest, RefusesAttrBlocksThatAreNotSound) {
  constexpr size_t A = 0x54, E = 0x78;  // ATTR header, first attribute entry
  EXPECT_EQ(ForkFormatError::kNone, ParseError(BentAttr([](auto &) {})));
  EXPECT_EQ(ForkFormatError::kAttrBadTotalSize,
            ParseError(BentAttr([](auto &f) { PutBE32(f, A + 8, GetBE32(f, A + 8) + 1); })));
  EXPECT_EQ(ForkFormatError::kAttrBadTotalSize, ParseError(BentAttr([](auto &f) { PutBE32(f, A + 8, 0x77); })));
  EXPECT_EQ(ForkFormatError::kAttrTooMany, ParseError(BentAttr([](auto &f) { PutBE16(f, A + 34, 257); })));
  // Name length 0, a name without its 0, a name with an early 0.
  EXPECT_EQ(ForkFormatError::kAttrBadName, ParseError(BentAttr([](auto &f) { f[E + 10] = 0; })));
  EXPECT_EQ(ForkFormatError::kAttrBadName, ParseError(BentAttr([](auto &f) { f[E + 10] -= 1; })));
  EXPECT_EQ(ForkFormatError::kAttrBadName, ParseError(BentAttr([](auto &f) { f[E + 11 + 3] = 0; })));
  EXPECT_EQ(ForkFormatError::kAttrBadDataStart, ParseError(BentAttr([](auto &f) { PutBE32(f, A + 12, 119); })));
  EXPECT_EQ(ForkFormatError::kAttrBadDataStart,
            ParseError(BentAttr([](auto &f) { PutBE32(f, A + 12, E + 4); })));
  EXPECT_EQ(ForkFormatError::kAttrBadDataArea,
            ParseError(BentAttr([](auto &f) { PutBE32(f, A + 16, GetBE32(f, A + 16) + 1); })));
  // First value starts one byte before the data area.
  EXPECT_EQ(ForkFormatError::kAttrValueOutsideData,
            ParseError(BentAttr([](auto &f) { PutBE32(f, E, GetBE32(f, E) - 1); })));
  // The first value one byte shorter: still inside, but the sum falls short.
  EXPECT_EQ(ForkFormatError::kAttrLengthsMismatch,
            ParseError(BentAttr([](auto &f) { PutBE32(f, E + 4, GetBE32(f, E + 4) - 1); })));
  // Room in entry 9 after the block: a data area one byte larger than the
  // values add up to.
  EXPECT_EQ(ForkFormatError::kAttrLengthsMismatch, ParseError(BentAttr(
                                                       [](auto &f) {
                                                         PutBE32(f, A + 8, GetBE32(f, A + 8) + 1);
                                                         PutBE32(f, A + 16, GetBE32(f, A + 16) + 1);
                                                       },
                                                       0x200)));
  // "ATTR" visible but entry 9 too short for its header.
  std::vector<UInt8> cut = BuildAppleDouble(
      kZeroFiller, {{kEntryFinderInfo, BuildFinderInfoWithAttr(kInfo, {}, 0x32)}, {kEntryResourceFork, {}}});
  PutBE32(cut, 34, 50);
  EXPECT_EQ(ForkFormatError::kAttrTruncated, ParseError(cut));
}

TEST(AppleDoubleTest, AttrEntriesMustFitIn64KiBFromTheBlockWhereverItStarts) {
  std::vector<Attribute> many;
  for (int i = 0; i < 256; ++i) many.push_back({std::string(250, 'a') + std::to_string(1000 + i), {UInt8(i)}});
  std::vector<Attribute> fewer(many.begin(), many.begin() + 200);  // 200 * 268 bytes of entries fit
  EXPECT_EQ(ForkFormatError::kAttrEntryOutside, ParseError(BuildCopyfileSidecar(kInfo, many)));
  const std::vector<UInt8> fits = BuildCopyfileSidecar(kInfo, fewer);
  EXPECT_EQ(200u, MustParse(fits).attr->attributes.size());

  // After a fork of about 64 KiB or more the block's entries run past the
  // first 64 KiB of the file: 32-bit offsets reach them, and the same limits
  // hold from where the block starts.
  for (size_t forkSize : {size_t(65360), size_t(65536), size_t(3) << 20}) {
    SCOPED_TRACE(forkSize);
    const std::vector<UInt8> fork = MakeResourceFork(forkSize);
    const std::vector<UInt8> file = BuildForkFirstSidecar(kInfo, fork, TypicalAttributes());
    const AppleDoubleView view = MustParse(file);
    ASSERT_TRUE(view.attr.has_value());
    EXPECT_GT(view.attr->dataStart, UInt32(64) << 10);
    EXPECT_EQ(TypicalAttributes().size(), view.attr->attributes.size());
    EXPECT_EQ(TypicalAttributes()[0].value, std::vector<UInt8>(view.attr->attributes[0].value.begin(),
                                                               view.attr->attributes[0].value.end()));
    const std::vector<UInt8> farFits = BuildForkFirstSidecar(kInfo, fork, fewer);
    EXPECT_EQ(ForkFormatError::kNone, ParseError(farFits));
    EXPECT_EQ(ForkFormatError::kAttrEntryOutside, ParseError(BuildForkFirstSidecar(kInfo, fork, many)));
  }
}

TEST(AppleDoubleTest, CountsWhatASidecarHolds) {
  EXPECT_FALSE(ContentOf((BuildMacOSKernelSidecar(FinderInfoBytes{}))).any());
  EXPECT_FALSE(ContentOf((BuildSambaSidecar(FinderInfoBytes{}))).any());

  SidecarContent fork = ContentOf((BuildSambaSidecar(FinderInfoBytes{}, MakeResourceFork(1))));
  EXPECT_TRUE(fork.resourceFork);
  EXPECT_FALSE(fork.finderInfo);

  SidecarContent info = ContentOf((BuildMacOSKernelSidecar(kInfo)));
  EXPECT_TRUE(info.finderInfo);
  EXPECT_FALSE(info.resourceFork);

  SidecarContent packed =
      ContentOf((BuildMacOSKernelSidecar(FinderInfoBytes{}, TypicalAttributes())));
  EXPECT_TRUE(packed.attributes);
  EXPECT_FALSE(packed.finderInfo);

  // Unknown bytes after FinderInfo, without an ATTR block, are kept as content.
  std::vector<UInt8> extra(40, 0);
  extra[36] = 1;
  EXPECT_TRUE(ContentOf((BuildAppleDouble(kZeroFiller, {{kEntryFinderInfo, extra}}))).attributes);
  extra[36] = 0;
  EXPECT_FALSE(ContentOf((BuildAppleDouble(kZeroFiller, {{kEntryFinderInfo, extra}}))).any());

  SidecarContent comment = ContentOf((BuildAppleDouble(
      kZeroFiller, {{kEntryFinderInfo, std::vector<UInt8>(32)}, {kEntryComment, BytesOf("note")}})));
  EXPECT_TRUE(comment.otherEntries);
}

}  // namespace
}  // namespace tv::forks
