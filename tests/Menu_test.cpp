// `tarrovel menu` on real files and folders, with the settings in the real
// preferences file: every kind of selection gives the submenu it should.
#include "tests/support/Tarrovel.h"

#include <gtest/gtest.h>

namespace {

using tv::test::JsonTitles;
using tv::test::Tarrovel;
using Titles = std::vector<std::string>;

const char ZRF[] = "Zap Resource Fork...";
const char ZRFR[] = "Zap Resource Fork Recursively...";
const char ZDF[] = "Zap Data Fork...";
const char SEP[] = "-";
const char ShowR[] = "Show Zap Resource Fork Recursively Menu";
const char HideR[] = "Hide Zap Resource Fork Recursively Menu";
const char ShowD[] = "Show Zap Data Fork Menu";
const char HideD[] = "Hide Zap Data Fork Menu";
const char KeepOff[] = "Make no change file modification date";
const char KeepOn[] = "Make change file modification date";

struct Row {
  const char *selection;  // "files", "folders", "both"
  bool recursive, data, keep;
  Titles items;
};

class MenuTest : public ::testing::TestWithParam<Row> {
 protected:
  tv::test::TempTree tree;
};

TEST_P(MenuTest, OffersTheItemsTheSelectionAndSettingsCallFor) {
  const Row &row = GetParam();
  tv::test::WriteSettings(tree, row.data, row.recursive, row.keep);
  std::vector<std::string> args = {"menu", "--json"};
  std::string sel = row.selection;
  if (sel != "folders") {
    args.push_back(tree.file("a.txt", "a"));
    args.push_back(tree.file("b.txt", "b"));
  }
  if (sel != "files") {
    args.push_back(tree.folder("Folder One"));
    args.push_back(tree.folder("Folder Two"));
  }
  tv::test::RunResult r = Tarrovel(args);
  ASSERT_EQ(r.status, 0) << r.err;
  Titles expected = {"Tarrovel"};
  expected.insert(expected.end(), row.items.begin(), row.items.end());
  EXPECT_EQ(JsonTitles(r.out), expected) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    EveryRow, MenuTest,
    ::testing::Values(
        Row{"files", false, false, false, {ZRF, SEP, ShowR, ShowD, KeepOff}},
        Row{"files", false, true, false, {ZRF, ZDF, SEP, ShowR, HideD, KeepOff}},
        Row{"files", true, false, true, {ZRF, SEP, HideR, ShowD, KeepOn}},
        Row{"files", true, true, false, {ZRF, ZDF, SEP, HideR, HideD, KeepOff}},
        Row{"folders", false, false, false, {ShowR, ShowD, KeepOff}},
        Row{"folders", false, true, true, {ShowR, HideD, KeepOn}},
        Row{"folders", true, false, false, {ZRFR, SEP, HideR, ShowD, KeepOff}},
        Row{"folders", true, true, false, {ZRFR, SEP, HideR, HideD, KeepOff}},
        Row{"both", false, false, false, {ZRF, SEP, ShowR, ShowD, KeepOff}},
        Row{"both", true, true, true, {ZRF, ZRFR, ZDF, SEP, HideR, HideD, KeepOn}}),
    [](const ::testing::TestParamInfo<Row> &info) {
      const Row &r = info.param;
      return std::string(r.selection) + (r.recursive ? "_Recursive" : "") + (r.data ? "_Data" : "") +
             (r.keep ? "_KeepDate" : "");
    });

class MenuOutputTest : public ::testing::Test {
 protected:
  tv::test::TempTree tree;
};

TEST_F(MenuOutputTest, JsonHoldsTheExactItemRecords) {
  tv::test::RunResult r = Tarrovel({"menu", "--json", tree.file("f", "x")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "[\n"
            "  {\"title\": \"Tarrovel\", \"submenu\": [\n"
            "    {\"title\": \"Zap Resource Fork...\", \"command\": 2001},\n"
            "    {\"title\": \"-\", \"command\": 0, \"attributes\": 64},\n"
            "    {\"title\": \"Show Zap Resource Fork Recursively Menu\", \"command\": 2010},\n"
            "    {\"title\": \"Show Zap Data Fork Menu\", \"command\": 2011},\n"
            "    {\"title\": \"Make no change file modification date\", \"command\": 2012}\n"
            "  ]}\n"
            "]\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(MenuOutputTest, SymlinksFifosAndOrphanSidecarsArePlainFiles) {
  tree.folder("dir");
  std::string link = tree.symlink("link", tree.path("dir"));  // not followed: a file
  tv::test::RunResult r = Tarrovel({"menu", "--json", link});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(JsonTitles(r.out), (Titles{"Tarrovel", ZRF, SEP, ShowR, ShowD, KeepOff}));
  tv::test::Run({"mkfifo", tree.path("fifo")});
  r = Tarrovel({"menu", "--json", tree.path("fifo"), tree.file("._orphan", "x")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(JsonTitles(r.out), (Titles{"Tarrovel", ZRF, SEP, ShowR, ShowD, KeepOff}));
}

TEST_F(MenuOutputTest, PeopleSeeTitlesAndCommandIDs) {
  tv::test::RunResult r = Tarrovel({"menu", tree.folder("d")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "Tarrovel >\n"
            "  Show Zap Resource Fork Recursively Menu  [2010]\n"
            "  Show Zap Data Fork Menu  [2011]\n"
            "  Make no change file modification date  [2012]\n");
}

TEST_F(MenuOutputTest, JapaneseTitlesUnderAJapaneseLocale) {
  tv::test::RunResult r = Tarrovel({"menu", "--json", tree.file("f")}, "", {"LANG=ja_JP.UTF-8"});
  ASSERT_EQ(r.status, 0) << r.err;
  Titles titles = JsonTitles(r.out);
  ASSERT_EQ(titles.size(), 6u) << r.out;
  EXPECT_EQ(titles[1], "リソースフォークを消去...");
  EXPECT_EQ(titles[5], "消去したファイルの変更日を変えない");
}

TEST_F(MenuOutputTest, MissingPathIsAUsageError) {
  tv::test::RunResult r = Tarrovel({"menu", "--json", tree.path("nothing here")});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("nothing here"), std::string::npos) << r.err;
  r = Tarrovel({"menu"});
  EXPECT_EQ(r.status, 2);
  r = Tarrovel({"frobnicate", "x"});
  EXPECT_EQ(r.status, 2);
}

}  // namespace
