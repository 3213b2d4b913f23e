// The string-table parser, fed bytes directly.
#include "platform/cf/StringsFile.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

using tv::cf::StringsTable;

struct Parsed {
  bool ok = false;
  StringsTable table;
  size_t line = 0;
};

Parsed Parse(const std::string &bytes) {
  Parsed p;
  p.table[u"stale"] = u"entry";  // must not survive either way
  p.ok = tv::cf::ParseStringsFile(
      std::span(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size()), &p.table, &p.line);
  return p;
}

std::string Utf16(const std::u16string &text, bool bigEndian) {
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t c : text) {
    const char hi = char(c >> 8), lo = char(c & 0xFF);
    out += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
  }
  return out;
}

TEST(StringsFileTest, ReadsEntriesCommentsAndUnquotedForms) {
  const Parsed p = Parse(
      "/* Menu titles */\n"
      "\"Zap Resource Fork...\" = \"Vider la ressource...\";\n"
      "// a line comment = \"not an entry\";\n"
      "Cancel = Annuler ;\n"
      "path/key.v1:$-_ = \"x\"; \"Same\";\n"
      "\"Zap\" /* inline */ = /* here too */ \"Vider\";");
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(5u, p.table.size());
  EXPECT_EQ(u"Vider la ressource...", p.table.at(u"Zap Resource Fork..."));
  EXPECT_EQ(u"Annuler", p.table.at(u"Cancel"));
  EXPECT_EQ(u"x", p.table.at(u"path/key.v1:$-_"));
  EXPECT_EQ(u"Same", p.table.at(u"Same"));
  EXPECT_EQ(u"Vider", p.table.at(u"Zap"));
}

TEST(StringsFileTest, EmptyAndCommentOnlyFilesHaveNoEntries) {
  for (const char *text : {"", "\xEF\xBB\xBF", "  \n\t/* nothing */ // here\n"}) {
    const Parsed p = Parse(text);
    EXPECT_TRUE(p.ok) << text;
    EXPECT_TRUE(p.table.empty()) << text;
  }
}

TEST(StringsFileTest, DecodesEscapes) {
  const Parsed p = Parse(
      "\"q\" = \"say \\\"hi\\\" \\\\ done\";\n"
      "\"ws\" = \"a\\tb\\rc\\nd\";\n"
      "\"oct\" = \"\\101\\0z\\7\";\n"
      "\"uni\" = \"caf\\U00e9 \\u20AC\";\n"
      "\"pair\" = \"\\UD83D\\UDE00\";\n"
      "\"lone\" = \"[\\UD800]\";\n");
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(u"say \"hi\" \\ done", p.table.at(u"q"));
  EXPECT_EQ(u"a\tb\rc\nd", p.table.at(u"ws"));
  EXPECT_EQ(std::u16string(u"A\0z\a", 4), p.table.at(u"oct"));
  EXPECT_EQ(u"caf\u00e9 \u20ac", p.table.at(u"uni"));
  EXPECT_EQ(u"\U0001F600", p.table.at(u"pair"));
  EXPECT_EQ(u"[\uFFFD]", p.table.at(u"lone"));
}

TEST(StringsFileTest, KeepsMultiLineValuesAndNewlinesInKeys) {
  const Parsed p = Parse(
      "\"Are you sure?\\n\\nThis cannot be undone.\" =\n"
      "\"Sure?\n\nNo undo.\";\n"
      "\"next\" = \"ok\";\n");
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(u"Sure?\n\nNo undo.", p.table.at(u"Are you sure?\n\nThis cannot be undone."));
  EXPECT_EQ(u"ok", p.table.at(u"next"));
}

TEST(StringsFileTest, ReadsUTF16InBothByteOrdersAndUTF8WithMark) {
  const std::u16string text = u"\"Zap\" = \"\u6d88\u53bb\"; // \U0001F600\n\"Cancel\" = \"\u30ad\u30e3\u30f3\u30bb\u30eb\";";
  for (bool big : {false, true}) {
    const Parsed p = Parse(Utf16(text, big));
    ASSERT_TRUE(p.ok) << big;
    EXPECT_EQ(u"\u6d88\u53bb", p.table.at(u"Zap"));
    EXPECT_EQ(u"\u30ad\u30e3\u30f3\u30bb\u30eb", p.table.at(u"Cancel"));
  }
  const Parsed p = Parse("\xEF\xBB\xBF\"Zap\" = \"\xE6\xB6\x88\";");
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(u"\u6d88", p.table.at(u"Zap"));
}

TEST(StringsFileTest, LaterEntryReplacesEarlierOne) {
  const Parsed p = Parse("\"k\" = \"first\";\n\"k\" = \"second\";");
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(u"second", p.table.at(u"k"));
}

TEST(StringsFileTest, SyntaxErrorsVoidTheTableAndNameTheLine) {
  struct Case {
    const char *text;
    size_t line;
  } cases[] = {
      {"\"a\" = \"1\";\n\"b\" = \"2\"\n\"c\" = \"3\";", 3},      // missing ";" seen at the next entry
      {"\"a\" = \"1\";\n\n\"b\" = \"never closed;\nc = d;\n", 3},  // unterminated string
      {"\"a\" = \"1\";\n\n\"b\" = \"closed\nlate\"\nc = d;\n", 5},  // then no ";"
      {"\"a\" = \"1\";\n/* never closed\n\"b\" = \"2\";", 2},     // unterminated comment
      {"= \"orphan value\";", 1},
      {"\"a\" = ;", 1},
      {"\"a\" = \"1\";\n\"b\" \"2\";", 2},
      {"\"a\" = \"1\";\nkey with space = \"x\";", 2},
      {"\"a\" = \"x\\U\";", 1},
      {"\"a\" = \"1\";\n\"b\" = \"\xC3\x28\";", 2},  // not UTF-8
      {"\"a\" = \"1\"", 1},
      {"\"a\" = \"1\\", 1},
      {"\"a\" = \"1\"; %", 1},
  };
  for (const Case &c : cases) {
    const Parsed p = Parse(c.text);
    EXPECT_FALSE(p.ok) << c.text;
    EXPECT_TRUE(p.table.empty()) << c.text;
    EXPECT_EQ(c.line, p.line) << c.text;
  }
  // A UTF-16 file with a dangling byte.
  const Parsed odd = Parse(Utf16(u"\"a\" = \"1\";", false) + "x");
  EXPECT_FALSE(odd.ok);
  EXPECT_TRUE(odd.table.empty());
}

TEST(StringsFileTest, SurvivesRandomInput) {
  // Mostly the characters the grammar cares about, so that the parser gets deep.
  const std::string alphabet = "\"\\=;/*\n aZ09_.U00e9\xC3\xA9\xFF\xFE";
  std::mt19937 rng(20261208);
  for (int round = 0; round < 3000; ++round) {
    std::string bytes(rng() % 64, '\0');
    for (char &c : bytes) c = alphabet[rng() % alphabet.size()];
    const Parsed p = Parse(bytes);
    if (!p.ok) {
      EXPECT_TRUE(p.table.empty());
      EXPECT_GE(p.line, 1u);
    }
  }
}

}  // namespace
