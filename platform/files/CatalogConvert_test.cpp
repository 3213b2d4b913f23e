#include "platform/files/CatalogConvert.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace tv::files;

TEST(CatalogConvertTest, DatesCountFrom1904WithTheFractionFromNanoseconds) {
  UTCDateTime d = UTCDateFromTimespec({0, 500000000});
  EXPECT_EQ(0, d.highSeconds);
  EXPECT_EQ(2082844800u, UInt32(d.lowSeconds));
  EXPECT_EQ(0x8000, d.fraction);

  // 2100 needs more than 32 bits of seconds since 1904.
  d = UTCDateFromTimespec({4102444800, 0});
  uint64_t seconds = (uint64_t(d.highSeconds) << 32) | d.lowSeconds;
  EXPECT_EQ(4102444800ull + 2082844800ull, seconds);
  EXPECT_EQ(1, d.highSeconds);
  EXPECT_EQ(4102444800, TimespecFromUTCDate(d).tv_sec);

  // Before 1904: the earliest date.
  d = UTCDateFromTimespec({-2082844801, 0});
  EXPECT_EQ(0, d.highSeconds);
  EXPECT_EQ(0u, UInt32(d.lowSeconds));

  d = UTCDateFromTimespec({1700000000, 999999999});
  EXPECT_EQ(0xFFFF, d.fraction);
  struct timespec back = TimespecFromUTCDate(d);
  EXPECT_EQ(1700000000, back.tv_sec);
  EXPECT_EQ(0, back.tv_nsec);  // dates are written in whole seconds
}

TEST(CatalogConvertTest, FileFinderInfoSwapsEachFieldFromBigEndian) {
  UInt8 stored[32] = {'T', 'E', 'X', 'T', 't', 't', 'x', 't', 0x04, 0x01, 0x00, 0x0A, 0xFF, 0xFE, 0x12, 0x34,
                      0, 1, 0, 2, 0, 3, 0, 4, 0x80, 0x01, 0x00, 0x05, 0x01, 0x02, 0x03, 0x04};
  FSCatalogInfo info{};
  FinderInfoToNative(stored, false, info.finderInfo, info.extFinderInfo);
  FileInfo fi;
  ExtendedFileInfo xi;
  std::memcpy(&fi, info.finderInfo, 16);
  std::memcpy(&xi, info.extFinderInfo, 16);
  EXPECT_EQ(FOUR_CHAR_CODE("TEXT"), fi.fileType);
  EXPECT_EQ(FOUR_CHAR_CODE("ttxt"), fi.fileCreator);
  EXPECT_EQ(0x0401, fi.finderFlags);
  EXPECT_TRUE(fi.finderFlags & kHasCustomIcon);
  EXPECT_EQ(10, fi.location.v);
  EXPECT_EQ(-2, fi.location.h);
  EXPECT_EQ(0x1234, fi.reservedField);
  EXPECT_EQ(4, xi.reserved1[3]);
  EXPECT_EQ(0x8001, xi.extendedFinderFlags);
  EXPECT_EQ(5, xi.reserved2);
  EXPECT_EQ(0x01020304, xi.putAwayFolderID);
}

TEST(CatalogConvertTest, FolderFinderInfoSwapsEachFieldFromBigEndian) {
  UInt8 stored[32] = {0, 1, 0, 2, 0, 3, 0, 4, 0x44, 0x00, 0xFF, 0xFF, 0, 7, 0, 0,
                      0, 9, 0, 10, 0xA0, 0xB0, 0xC0, 0xD0, 0x00, 0x10, 0, 0, 0xFF, 0xFF, 0xFF, 0xFE};
  FSCatalogInfo info{};
  FinderInfoToNative(stored, true, info.finderInfo, info.extFinderInfo);
  FolderInfo fo;
  ExtendedFolderInfo xo;
  std::memcpy(&fo, info.finderInfo, 16);
  std::memcpy(&xo, info.extFinderInfo, 16);
  EXPECT_EQ(1, fo.windowBounds.top);
  EXPECT_EQ(4, fo.windowBounds.right);
  EXPECT_EQ(0x4400, fo.finderFlags);
  EXPECT_EQ(-1, fo.location.v);
  EXPECT_EQ(7, fo.location.h);
  EXPECT_EQ(9, xo.scrollPosition.v);
  EXPECT_EQ(10, xo.scrollPosition.h);
  EXPECT_EQ(SInt32(0xA0B0C0D0), xo.reserved1);
  EXPECT_EQ(0x0010, xo.extendedFinderFlags);
  EXPECT_EQ(-2, xo.putAwayFolderID);
}

TEST(CatalogConvertTest, FinderInfoRoundTripsForBothKinds) {
  UInt8 stored[32];
  for (int i = 0; i < 32; i++) stored[i] = UInt8(i * 37 + 11);
  for (bool folder : {false, true}) {
    UInt8 fi[16], xi[16], back[32];
    FinderInfoToNative(stored, folder, fi, xi);
    FinderInfoToStored(fi, xi, folder, back);
    EXPECT_EQ(0, std::memcmp(stored, back, 32)) << (folder ? "folder" : "file");
  }
  // The flags word sits at byte 8 for both kinds.
  FileInfo fi{};
  fi.finderFlags = kHasCustomIcon | kIsInvisible;
  UInt8 xi[16] = {}, out[32];
  FinderInfoToStored(reinterpret_cast<UInt8 *>(&fi), xi, false, out);
  EXPECT_EQ(0x44, out[8]);
  EXPECT_EQ(0x00, out[9]);
}

TEST(CatalogConvertTest, NamesBecomeUtf16AndBadBytesAReplacementCharacter) {
  HFSUniStr255 s;
  UniStrFromName("caf\xc3\xa9 \xf0\x9f\x98\x80", &s);
  ASSERT_EQ(7, s.length);
  EXPECT_EQ(u'\u00e9', s.unicode[3]);
  EXPECT_EQ(0xD83D, s.unicode[5]);
  EXPECT_EQ(0xDE00, s.unicode[6]);

  UniStrFromName("a\xff\xc3", &s);  // a stray byte and a cut sequence
  ASSERT_EQ(3, s.length);
  EXPECT_EQ(0xFFFD, s.unicode[1]);
  EXPECT_EQ(0xFFFD, s.unicode[2]);

  UniStrFromName("\xc0\xaf", &s);  // an overlong '/'
  EXPECT_EQ(0xFFFD, s.unicode[0]);

  UniStrFromName(std::string(300, 'x'), &s);
  EXPECT_EQ(255, s.length);
}
