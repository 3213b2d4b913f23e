// The checked formatter: what it prints, and what it refuses.
#include "tests/support/CFFixture.h"

#include <climits>
#include <random>
#include <string>

using tv::test::CFOwned;
using tv::test::Utf8;

namespace {

class CFStringFormatTest : public tv::test::CFBalanceTest {
 protected:
  // The formatted text, or "<NULL>" when the formatter refused.
  template <class... A> static std::string Fmt(const char *format, A... args) {
    CFOwned<CFStringRef> f(CFStringCreateWithCString(nullptr, format, kCFStringEncodingUTF8));
    CFOwned<CFStringRef> s(CFStringCreateWithFormat(nullptr, nullptr, f.get(), args...));
    return Utf8(s);
  }
};

TEST_F(CFStringFormatTest, FormatsEachConversion) {
  EXPECT_EQ("file is locked: /Users/a/b.txt", Fmt("file is locked: %@", CFSTR("/Users/a/b.txt")));
  EXPECT_EQ("error code = -108", Fmt("error code = %d", OSStatus(-108)));
  EXPECT_EQ("7 7 ff FF 17", Fmt("%i %u %x %X %o", 7, 7u, 255, 255, 15));
  EXPECT_EQ("c=A s=caf\xC3\xA9 100%", Fmt("c=%c s=%s 100%%", 'A', "caf\xC3\xA9"));
  EXPECT_EQ("1.500000 0.25", Fmt("%f %g", 1.5, 0.25));
  EXPECT_EQ("caf\xC3\xA9", Fmt("%s", "caf\x8E"));  // not UTF-8: read in the system encoding
  EXPECT_EQ("no conversions", Fmt("no conversions"));
  EXPECT_EQ("", Fmt(""));
}

TEST_F(CFStringFormatTest, AppliesFlagsWidthPrecisionAndLengths) {
  EXPECT_EQ("[   42][42   ][00042][+42]", Fmt("[%5d][%-5d][%05d][%+d]", 42, 42, 42, 42));
  EXPECT_EQ("[3.14][  abc][ab]", Fmt("[%.2f][%5s][%.2@]", 3.14159, "abc", CFSTR("abc")));
  EXPECT_EQ("[ 7][-7 ]", Fmt("[%*d][%-*d]", 2, 7, 3, -7));
  EXPECT_EQ("5000000000 65535 ffffffff", Fmt("%ld %hu %x", 5000000000L, 65535, -1));
  EXPECT_EQ("-1 255 1 2", Fmt("%hd %hhu %zu %qd", 65535, 511, size_t(1), 2LL));
  EXPECT_EQ("ffffffffffffffff", Fmt("%llx", -1LL));
}

TEST_F(CFStringFormatTest, DescribesObjectsAndNull) {
  const UInt8 bytes[] = {0xAB, 0x01};
  CFOwned<CFDataRef> d(CFDataCreate(nullptr, bytes, 2));
  EXPECT_EQ("<ab01> true (null) (null)",
            Fmt("%@ %@ %@ %@", d.get(), kCFBooleanTrue, nullptr, CFStringRef(nullptr)));
  CFUUIDRef u = CFUUIDGetConstantUUIDWithBytes(nullptr, 0x2F, 0x65, 0x22, 0xE9, 0x3E, 0x66, 0x11,
                                               0xD5, 0x80, 0xA7, 0x00, 0x30, 0x65, 0xB3, 0x00, 0xBC);
  EXPECT_EQ("2F6522E9-3E66-11D5-80A7-003065B300BC", Fmt("%@", u));
  const void *values[] = {CFSTR("a"), CFSTR("b")};
  CFOwned<CFArrayRef> a(CFArrayCreate(nullptr, values, 2, &kCFTypeArrayCallBacks));
  EXPECT_EQ("(a, b)", Fmt("%@", a.get()));
  EXPECT_EQ("(null)", Fmt("%s", static_cast<const char *>(nullptr)));
}

TEST_F(CFStringFormatTest, PositionalArgumentsReorderAndRepeat) {
  EXPECT_EQ("b a b", Fmt("%2$@ %1$@ %2$@", CFSTR("a"), CFSTR("b")));
  EXPECT_EQ("3 of x", Fmt("%2$d of %1$@", CFSTR("x"), 3));
  EXPECT_EQ("only x", Fmt("only %1$@", CFSTR("x"), 99));  // unused arguments are fine
  EXPECT_EQ("<NULL>", Fmt("%1$@ %@", CFSTR("a"), CFSTR("b")));  // mixed forms
  EXPECT_EQ("<NULL>", Fmt("%@ %2$@", CFSTR("a"), CFSTR("b")));
  EXPECT_EQ("<NULL>", Fmt("%3$@", CFSTR("a"), CFSTR("b")));
  EXPECT_EQ("<NULL>", Fmt("%1$*d", 1, 2));
}

TEST_F(CFStringFormatTest, RefusesArgumentsOfAnotherKind) {
  EXPECT_EQ("<NULL>", Fmt("%@", 5));
  EXPECT_EQ("<NULL>", Fmt("%d", CFSTR("x")));
  EXPECT_EQ("<NULL>", Fmt("%s", CFSTR("x")));
  EXPECT_EQ("<NULL>", Fmt("%d", 1.5));
  EXPECT_EQ("<NULL>", Fmt("%f", 1));
  EXPECT_EQ("<NULL>", Fmt("%@", "c string"));
  EXPECT_EQ("<NULL>", Fmt("%c", "c"));
  EXPECT_EQ("<NULL>", Fmt("%ls", "wide?"));
  EXPECT_EQ("<NULL>", Fmt("%l@", CFSTR("x")));
  // A pointer to something that is not a CF object is never looked into.
  struct NotCF {
    int x;
  } notCF{1};
  EXPECT_EQ("<NULL>", Fmt("%@", &notCF));
}

TEST_F(CFStringFormatTest, SurvivesAHostileTranslationCorpus) {
  // Each of these, as a translated "file is locked: %@" given the one path,
  // must come back NULL or as plain text, never crash or read stray memory.
  const char *corpus[] = {
      "%n",          "%@ %@",       "%99999$@",      "%2147483648$@", "%s",
      "%d",          "trailing %",  "%",             "%1$@ %1$n",     "%.99999999f",
      "%99999999d",  "%*@",         "%p",            "%S",            "%lll@",
      "%0$@",        "%-%",         "%hhhd",         "100% sure",     "%1$",
      "%1$@%2$@",    "%@%@%@%@%@",  "%x%x%x%x",      "%.*s",          "%1$s",
  };
  for (const char *f : corpus) {
    EXPECT_EQ("<NULL>", Fmt(f, CFSTR("/Users/a/b.txt"))) << f;
  }
  // The forms a translator may legitimately use still work.
  EXPECT_EQ("/Users/a/b.txt est verrouill\xC3\xA9", Fmt("%1$@ est verrouill\xC3\xA9", CFSTR("/Users/a/b.txt")));
  EXPECT_EQ("dropped the path", Fmt("dropped the path", CFSTR("/Users/a/b.txt")));
}

TEST_F(CFStringFormatTest, SurvivesRandomFormats) {
  const char *pieces[] = {"%", "@", "d", "s", "1$", "2$", "9$", "*", ".", "5", "0", "-", "l", "h",
                          "q", "z", "n", "%%", "x", "f", "c", " ", "text"};
  std::mt19937 rng(1208);
  int accepted = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string f;
    for (unsigned k = rng() % 8; k > 0; --k) f += pieces[rng() % std::size(pieces)];
    const std::string out = Fmt(f.c_str(), CFSTR("/a/b"), 7, "cs", 2.5);
    accepted += out != "<NULL>";
  }
  EXPECT_GT(accepted, 0);  // the generator does reach formats that print
}

TEST_F(CFStringFormatTest, RefusesToGrowAMessageWithoutBound) {
  std::string wide;
  for (int i = 0; i < 200; ++i) wide += "%1$4096@";
  EXPECT_EQ(200u * 4096u, Fmt(wide.c_str(), CFSTR("p")).size());
  for (int i = 0; i < 100; ++i) wide += "%1$4096@";
  EXPECT_EQ("<NULL>", Fmt(wide.c_str(), CFSTR("p")));
}

TEST_F(CFStringFormatTest, DescribesAnArrayThatHoldsItself) {
  CFMutableArrayRef a = CFArrayCreateMutable(nullptr, 0, nullptr);  // no retain: no cycle to leak
  CFArrayAppendValue(a, CFSTR("x"));
  CFArrayAppendValue(a, a);
  const std::string d = Fmt("%@", a);
  EXPECT_EQ(0u, d.find("(x, (x, (x, ")) << d;
  EXPECT_NE(std::string::npos, d.find("(...)")) << d;
  CFRelease(a);
}

TEST_F(CFStringFormatTest, RefusesBadCallsWithoutCrashing) {
  const CFFormatArg arg = tv::cf::format_detail::MakeArg(1);
  EXPECT_EQ(nullptr, CFStringCreateWithFormatArgs(nullptr, nullptr, nullptr, &arg, 1));
  EXPECT_EQ(nullptr, CFStringCreateWithFormatArgs(nullptr, nullptr, CFSTR("%d"), nullptr, 1));
  EXPECT_EQ(nullptr, CFStringCreateWithFormatArgs(nullptr, nullptr, CFSTR("%d"), &arg, -1));
  EXPECT_EQ(nullptr, CFStringCreateWithFormatArgs(nullptr, nullptr, CFSTR("%d"), nullptr, 0));
  CFOwned<CFStringRef> ok(CFStringCreateWithFormatArgs(nullptr, nullptr, CFSTR("%d"), &arg, 1));
  EXPECT_EQ("1", Utf8(ok));
  TVCFFailNthAllocation(1);
  EXPECT_EQ(nullptr, CFStringCreateWithFormat(nullptr, nullptr, CFSTR("%d"), 1));
}

}  // namespace
