#include "zap/MyTimeStamp.h"

#include "support/MyStatus.h"
#include "tests/support/ZapFixture.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

MyItemDates Dates(double c, double m, double a, double x) { return MyItemDates{c, m, a, x}; }

TEST(DatesToWriteTest, NothingGivenOrNothingDifferentWritesNothing) {
  MyItemDates d = Dates(10, 20, 30, 40);
  EXPECT_FALSE(MyDecideDatesToWrite(&d, nullptr, nullptr));
  double same = 20;
  EXPECT_FALSE(MyDecideDatesToWrite(&d, nullptr, &same));
  double create = 10;
  EXPECT_FALSE(MyDecideDatesToWrite(&d, &create, &same));
  // Equal to the content date even though creation is later: still nothing.
  MyItemDates late = Dates(50, 20, 30, 40);
  EXPECT_FALSE(MyDecideDatesToWrite(&late, nullptr, &same));
  EXPECT_EQ(late.create, 50);
}

TEST(DatesToWriteTest, PuttingBackModDateSetsAttributeAndAccessDatesToo) {
  MyItemDates d = Dates(10, 20, 30, 40);
  double mod = 15;
  ASSERT_TRUE(MyDecideDatesToWrite(&d, nullptr, &mod));
  EXPECT_EQ(d.create, 10);
  EXPECT_EQ(d.contentMod, 15);
  EXPECT_EQ(d.attributeMod, 15);
  EXPECT_EQ(d.access, 15);
}

TEST(DatesToWriteTest, ModDateBeforeCreationLowersCreation) {
  MyItemDates d = Dates(100, 200, 200, 200);
  double mod = 50;
  ASSERT_TRUE(MyDecideDatesToWrite(&d, nullptr, &mod));
  EXPECT_EQ(d.create, 50);
  EXPECT_EQ(d.contentMod, 50);
}

TEST(DatesToWriteTest, LaterCreationGivenRaisesTheOtherDates) {
  MyItemDates d = Dates(100, 200, 200, 200);
  double create = 300;
  ASSERT_TRUE(MyDecideDatesToWrite(&d, &create, nullptr));
  EXPECT_EQ(d.create, 300);
  EXPECT_EQ(d.contentMod, 300);
  EXPECT_EQ(d.attributeMod, 300);
  EXPECT_EQ(d.access, 300);
  // Given and unchanged, but the new modification date is earlier: raised too.
  MyItemDates e = Dates(100, 200, 200, 200);
  double same = 100, mod = 50;
  ASSERT_TRUE(MyDecideDatesToWrite(&e, &same, &mod));
  EXPECT_EQ(e.create, 100);
  EXPECT_EQ(e.contentMod, 100);
}

TEST(DatesToWriteTest, NaNAlwaysCountsAsADifference) {
  MyItemDates d = Dates(10, 20, 30, 40);
  double nan = std::nan("");
  EXPECT_TRUE(MyDecideDatesToWrite(&d, nullptr, &nan));
}

TEST(UTCDateTimeTest, ConvertsWholeSecondsBothWays) {
  UTCDateTime date = {0, 3061152000u + 5u, 0x8000};  // 2001-01-01 00:00:05.5
  EXPECT_EQ(MyUTCDateTimeToAbsolute(date), 5.0);      // the fraction is dropped
  // Fields of the packed record are copied out before comparing.
  UTCDateTime back = MyAbsoluteToUTCDateTime(5.0);
  UInt16 high = back.highSeconds, fraction = back.fraction;
  UInt32 low = back.lowSeconds;
  EXPECT_EQ(high, 0);
  EXPECT_EQ(low, 3061152005u);
  EXPECT_EQ(fraction, 0);
  UTCDateTime highDate = {1, 2, 0};
  EXPECT_EQ(MyUTCDateTimeToAbsolute(highDate), 4294967298.0 - kCFAbsoluteTimeIntervalSince1904);
  UTCDateTime round = MyAbsoluteToUTCDateTime(MyUTCDateTimeToAbsolute(highDate));
  high = round.highSeconds;
  low = round.lowSeconds;
  EXPECT_EQ(high, 1);
  EXPECT_EQ(low, 2u);
  // Out of range never wraps.
  low = MyAbsoluteToUTCDateTime(-4e9).lowSeconds;
  EXPECT_EQ(low, 0u);
  high = MyAbsoluteToUTCDateTime(1e300).highSeconds;
  EXPECT_EQ(high, 0xFFFF);
}

class ZapTimeStampTest : public tv::test::ZapFrontEndTest {};

// Emptying a resource fork with the setting on leaves the file's
// modification date exactly as it was, fraction of a second included.
TEST_F(ZapTimeStampTest, ResourceForkZapKeepsTheModificationDateWhenAsked) {
  std::string f = MacFile("kept");
  ASSERT_EQ(tv::test::Run({"touch", "-m", "-d", "2001-02-03 04:05:06.789", f}).status, 0);
  // The date's fields are packed: copied out before they are compared.
  const UTCDateTime before = Catalog(f).contentModDate;
  const UInt16 beforeHigh = before.highSeconds, beforeFraction = before.fraction;
  const UInt32 beforeLow = before.lowSeconds;
  ASSERT_NE(beforeFraction, 0);
  ASSERT_STATUS(noErr, ZapRsrc({f}, false, true));
  const FSCatalogInfo after = Catalog(f);
  const UInt64 rsrcSize = after.rsrcLogicalSize;
  const UInt16 afterHigh = after.contentModDate.highSeconds, afterFraction = after.contentModDate.fraction;
  const UInt32 afterLow = after.contentModDate.lowSeconds;
  EXPECT_EQ(rsrcSize, 0u);
  EXPECT_EQ(afterHigh, beforeHigh);
  EXPECT_EQ(afterLow, beforeLow);
  EXPECT_EQ(afterFraction, beforeFraction);
}

}  // namespace
