#include "host/ZapSummary.h"

#include <cstring>
#include <gtest/gtest.h>

namespace tv::host {
namespace {

constexpr SummaryLanguage kEn = SummaryLanguage::kEnglish, kJa = SummaryLanguage::kJapanese;

TEST(ZapSummaryTest, CountsGroupByThreeAndSizesReadAsFileManagersShowThem) {
  EXPECT_EQ(GroupedCount(0), "0");
  EXPECT_EQ(GroupedCount(999), "999");
  EXPECT_EQ(GroupedCount(1000), "1,000");
  EXPECT_EQ(GroupedCount(1234567), "1,234,567");
  struct Row {
    unsigned long long bytes;
    SummaryLanguage language;
    const char *text;
  };
  for (const Row &r : {Row{0, kEn, "0 bytes"}, Row{1, kEn, "1 byte"}, Row{999, kEn, "999 bytes"},
                       Row{600, kJa, "600 バイト"}, Row{1000, kEn, "1.0 kB"}, Row{44040192, kEn, "44.0 MB"},
                       Row{999950, kJa, "1.0 MB"}, Row{2500000000000000ull, kEn, "2500.0 TB"}})
    EXPECT_EQ(ReadableBytes(r.bytes, r.language), r.text) << r.bytes;
}

TEST(ZapSummaryTest, SaysWhatWasDoneAndWhatTheStopLeft) {
  struct Row {
    ZapTally tally;
    SummaryLanguage language;
    const char *text;
  };
  const Row rows[] = {
      {{2019, 2007, 44040192, 2019, ZapTally::kFinished, 3.24}, kEn,
       "2,007 files zapped, 44.0 MB freed; 12 files had no fork; 3.2 s."},
      {{1, 1, 600, 1, ZapTally::kFinished, 0}, kEn, "1 file zapped, 600 bytes freed; 0 files had no fork; 0.0 s."},
      {{4026, 4026, 2415600, 30000, ZapTally::kCanceled, 1.06}, kEn,
       "Canceled: 4,026 files zapped, 2.4 MB freed; 0 files had no fork; 25,974 not reached; 1.1 s."},
      // The count gave up: how many were left is not known.
      {{5, 4, 2400, -1, ZapTally::kFailed, 0.5}, kEn,
       "Stopped by an error: 4 files zapped, 2.4 kB freed; 1 file had no fork; the files after the stop were not "
       "reached (how many is not known: the count ran out of time); 0.5 s."},
      // The tree grew after the count: nothing is left over, never a negative count.
      {{12, 12, 7200, 10, ZapTally::kCanceled, 0.25}, kEn,
       "Canceled: 12 files zapped, 7.2 kB freed; 0 files had no fork; 0 not reached; 0.2 s."},
      {{2019, 2007, 44040192, 2019, ZapTally::kFinished, 3.24}, kJa,
       "2,007 個のファイルを消去、44.0 MB を解放しました。フォークのないファイル 12 個。3.2 秒。"},
      {{4026, 4026, 2415600, 30000, ZapTally::kCanceled, 1.06}, kJa,
       "キャンセルしました：4,026 個のファイルを消去、2.4 MB を解放しました。フォークのないファイル 0 個、未処理 "
       "25,974 個。1.1 秒。"},
      {{5, 4, 2400, -1, ZapTally::kFailed, 0.5}, kJa,
       "エラーで停止しました：4 個のファイルを消去、2.4 kB を解放しました。フォークのないファイル 1 個、"
       "停止後のファイルは未処理です（数え上げが時間切れのため、数は不明）。0.5 秒。"},
  };
  for (const Row &r : rows) EXPECT_EQ(ZapSummaryText(r.tally, r.language), r.text);
}

const char *JapaneseLocale(const char *name) { return strcmp(name, "LANG") == 0 ? "ja_JP.UTF-8" : nullptr; }
const char *FrenchLocale(const char *name) { return strcmp(name, "LANG") == 0 ? "fr_FR.UTF-8" : nullptr; }

TEST(ZapSummaryTest, JapaneseUnderAJapaneseLocaleEnglishOtherwise) {
  EXPECT_EQ(SummaryLanguageFrom(JapaneseLocale), kJa);
  EXPECT_EQ(SummaryLanguageFrom(FrenchLocale), kEn);
}

TEST(ZapSummaryTest, NotificationBodyReachesGdbusAsOneQuotedString) {
  std::vector<std::string> args = NotificationArguments("it's C:\\ done\n");
  ASSERT_GE(args.size(), 5u);
  EXPECT_EQ(args[args.size() - 4], "'it\\'s C:\\\\ done\\n'");
  EXPECT_EQ(args[args.size() - 5], "'Tarrovel'");  // the title
}

}  // namespace
}  // namespace tv::host
