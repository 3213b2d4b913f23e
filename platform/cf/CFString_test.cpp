// CFString creation and conversion to bytes.
#include "platform/cf/CFStringEncodings.h"
#include "tests/support/CFFixture.h"

#include <string>
#include <vector>

using tv::test::CFOwned;
using tv::test::Utf8;

namespace {

class CFStringTest : public tv::test::CFBalanceTest {
 protected:
  static CFStringRef Make(const char *utf8) {
    return CFStringCreateWithCString(nullptr, utf8, kCFStringEncodingUTF8);
  }
  // The whole string converted; stops where the conversion stops.
  static std::string Bytes(CFStringRef s, CFStringEncoding enc, UInt8 loss, bool external = false,
                           CFIndex max = 1000, CFIndex *converted = nullptr) {
    std::string out(size_t(max), '\0');
    CFIndex used = -1;
    const CFIndex n = CFStringGetBytes(s, CFRangeMake(0, CFStringGetLength(s)), enc, loss, external,
                                       reinterpret_cast<UInt8 *>(out.data()), max, &used);
    if (converted) *converted = n;
    out.resize(size_t(used));
    return out;
  }
};

TEST_F(CFStringTest, CreatesFromEachEightBitEncoding) {
  CFOwned<CFStringRef> roman(CFStringCreateWithCString(nullptr, "caf\x8E \xDB \xF0", kCFStringEncodingMacRoman));
  EXPECT_EQ("caf\xC3\xA9 \xE2\x82\xAC \xEF\xA3\xBF", Utf8(roman));  // é, €, Apple logo
  CFOwned<CFStringRef> latin(CFStringCreateWithCString(nullptr, "caf\xE9", kCFStringEncodingISOLatin1));
  EXPECT_EQ("caf\xC3\xA9", Utf8(latin));
  CFOwned<CFStringRef> ascii(CFStringCreateWithCString(nullptr, "plain", kCFStringEncodingASCII));
  EXPECT_EQ("plain", Utf8(ascii));
  EXPECT_EQ(nullptr, CFStringCreateWithCString(nullptr, "caf\xE9", kCFStringEncodingASCII));
  EXPECT_EQ(nullptr, CFStringCreateWithCString(nullptr, "x", 0x12345));
  EXPECT_EQ(nullptr, CFStringCreateWithCString(nullptr, nullptr, kCFStringEncodingUTF8));
}

TEST_F(CFStringTest, RejectsMalformedUTF8) {
  for (const char *bad : {"\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "a\xFF", "\xE2\x82"}) {
    EXPECT_EQ(nullptr, Make(bad)) << "accepted " << bad;
  }
  CFOwned<CFStringRef> emoji(Make("\xF0\x9F\x98\x80"));
  ASSERT_TRUE(emoji);
  EXPECT_EQ(2, CFStringGetLength(emoji));
  EXPECT_EQ(0xD83D, CFStringGetCharacterAtIndex(emoji, 0));
  EXPECT_EQ(0xDE00, CFStringGetCharacterAtIndex(emoji, 1));
}

TEST_F(CFStringTest, ReadsUTF16WithByteOrderMarks) {
  const UInt8 le[] = {0xFF, 0xFE, 'h', 0, 0xE9, 0};
  const UInt8 be[] = {0xFE, 0xFF, 0, 'h', 0, 0xE9};
  const UInt8 bare[] = {0, 'h', 0, 0xE9};
  CFOwned<CFStringRef> a(CFStringCreateWithBytes(nullptr, le, 6, kCFStringEncodingUTF16, true));
  CFOwned<CFStringRef> b(CFStringCreateWithBytes(nullptr, be, 6, kCFStringEncodingUTF16, true));
  CFOwned<CFStringRef> c(CFStringCreateWithBytes(nullptr, bare, 4, kCFStringEncodingUTF16, true));
  CFOwned<CFStringRef> d(CFStringCreateWithBytes(nullptr, bare, 4, kCFStringEncodingUTF16BE, false));
  for (CFStringRef s : {a.get(), b.get(), c.get(), d.get()}) EXPECT_EQ("h\xC3\xA9", Utf8(s));
  EXPECT_EQ(nullptr, CFStringCreateWithBytes(nullptr, le, 5, kCFStringEncodingUTF16LE, false));
  // With the order given, the mark is dropped only from an external representation.
  CFOwned<CFStringRef> f(CFStringCreateWithBytes(nullptr, le, 6, kCFStringEncodingUTF16LE, true));
  CFOwned<CFStringRef> g(CFStringCreateWithBytes(nullptr, be, 6, kCFStringEncodingUTF16BE, false));
  EXPECT_EQ("h\xC3\xA9", Utf8(f));
  EXPECT_EQ(3, CFStringGetLength(g));
  EXPECT_EQ(0xFEFF, CFStringGetCharacterAtIndex(g, 0));
  const UInt8 utf8Bom[] = {0xEF, 0xBB, 0xBF, 'o', 'k'};
  CFOwned<CFStringRef> e(CFStringCreateWithBytes(nullptr, utf8Bom, 5, kCFStringEncodingUTF8, true));
  EXPECT_EQ(2, CFStringGetLength(e));
}

TEST_F(CFStringTest, MacRomanTableRoundTripsAllHighBytes) {
  for (int b = 0; b < 256; ++b) {
    UInt8 back = 0;
    ASSERT_TRUE(tv::cf::MacRomanFromUnicode(tv::cf::MacRomanToUnicode(UInt8(b)), &back)) << b;
    EXPECT_EQ(b, back);
  }
  UInt8 out;
  EXPECT_FALSE(tv::cf::MacRomanFromUnicode(0x3042, &out));  // あ
  EXPECT_FALSE(tv::cf::MacRomanFromUnicode(0x00A4, &out));  // currency sign: replaced by the euro
}

TEST_F(CFStringTest, LossByteReplacesOrStopsAtUnconvertibleCharacters) {
  CFOwned<CFStringRef> s(Make("a\xE3\x81\x82" "b\xC3\xA9"));  // a あ b é
  CFIndex n = 0;
  EXPECT_EQ("a?b\x8E", Bytes(s, kCFStringEncodingMacRoman, '?', false, 1000, &n));
  EXPECT_EQ(4, n);
  EXPECT_EQ("a", Bytes(s, kCFStringEncodingMacRoman, 0, false, 1000, &n));
  EXPECT_EQ(1, n);
  EXPECT_EQ("a?b?", Bytes(s, kCFStringEncodingASCII, '?'));
  EXPECT_EQ("a?b\xE9", Bytes(s, kCFStringEncodingISOLatin1, '?'));
}

TEST_F(CFStringTest, SurrogatePairIsOneLossByte) {
  CFOwned<CFStringRef> s(Make("x\xF0\x9F\x98\x80y"));
  CFIndex n = 0;
  EXPECT_EQ("x?y", Bytes(s, kCFStringEncodingMacRoman, '?', false, 1000, &n));
  EXPECT_EQ(4, n);  // characters count in UTF-16 units
  // An unpaired surrogate is lost in UTF-8 too.
  const UniChar lone[] = {'a', 0xD800, 'b'};
  CFOwned<CFStringRef> l(CFStringCreateWithCharacters(nullptr, lone, 3));
  EXPECT_EQ("a?b", Bytes(l, kCFStringEncodingUTF8, '?'));
  EXPECT_EQ("a", Bytes(l, kCFStringEncodingUTF8, 0));
}

TEST_F(CFStringTest, MeasuresWithoutBufferAndNeverSplitsASequence) {
  CFOwned<CFStringRef> s(Make("\xC3\xA9\xE2\x82\xAC!"));  // é € !
  CFIndex used = 0;
  EXPECT_EQ(3, CFStringGetBytes(s, CFRangeMake(0, 3), kCFStringEncodingUTF8, '?', false, nullptr, 0, &used));
  EXPECT_EQ(6, used);
  CFIndex n = 0;
  EXPECT_EQ("\xC3\xA9", Bytes(s, kCFStringEncodingUTF8, '?', false, 4, &n));  // € needs 3 more
  EXPECT_EQ(1, n);
  EXPECT_EQ("", Bytes(s, kCFStringEncodingUTF8, '?', false, 1, &n));
  EXPECT_EQ(0, n);
  // A sub-range and a range outside the string.
  EXPECT_EQ(1, CFStringGetBytes(s, CFRangeMake(2, 1), kCFStringEncodingASCII, 0, false, nullptr, 0, &used));
  EXPECT_EQ(1, used);
  EXPECT_EQ(0, CFStringGetBytes(s, CFRangeMake(2, 5), kCFStringEncodingASCII, 0, false, nullptr, 0, &used));
  EXPECT_EQ(0, used);
}

TEST_F(CFStringTest, UTF16ExternalRepresentationHasAByteOrderMark) {
  CFOwned<CFStringRef> s(Make("hi"));
  const std::string ext = Bytes(s, kCFStringEncodingUTF16, 0, true);
  ASSERT_EQ(6u, ext.size());
  CFOwned<CFStringRef> back(CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8 *>(ext.data()),
                                                    6, kCFStringEncodingUTF16, true));
  EXPECT_TRUE(CFEqual(s, back));
  EXPECT_EQ(std::string("\0h\0i", 4), Bytes(s, kCFStringEncodingUTF16BE, 0, true));
  EXPECT_EQ(std::string("h\0i\0", 4), Bytes(s, kCFStringEncodingUTF16LE, 0));
  CFIndex n = 0;
  EXPECT_EQ(std::string("h\0", 2), Bytes(s, kCFStringEncodingUTF16LE, 0, false, 3, &n));
  EXPECT_EQ(1, n);
  EXPECT_EQ("", Bytes(s, kCFStringEncodingUTF16, 0, true, 1, &n));  // not even the mark fits
}

TEST_F(CFStringTest, GetCStringNeedsRoomForTheTerminator) {
  CFOwned<CFStringRef> s(Make("caf\xC3\xA9"));
  char buf[8];
  EXPECT_TRUE(CFStringGetCString(s, buf, 6, kCFStringEncodingUTF8));
  EXPECT_STREQ("caf\xC3\xA9", buf);
  EXPECT_FALSE(CFStringGetCString(s, buf, 5, kCFStringEncodingUTF8));
  EXPECT_STREQ("", buf);
  EXPECT_TRUE(CFStringGetCString(s, buf, 5, kCFStringEncodingMacRoman));
  EXPECT_STREQ("caf\x8E", buf);
  EXPECT_FALSE(CFStringGetCString(s, buf, 8, kCFStringEncodingASCII));
  EXPECT_EQ(kCFStringEncodingMacRoman, CFStringGetSystemEncoding());
}

TEST_F(CFStringTest, MutableStringAppendsAndCopiesDetach) {
  CFOwned<CFMutableStringRef> m(CFStringCreateMutable(nullptr, 0));
  CFStringAppend(m, CFSTR("ab"));
  CFStringAppend(m, m);  // itself
  CFStringAppendCString(m, "\x8E", kCFStringEncodingMacRoman);
  EXPECT_EQ("abab\xC3\xA9", Utf8(m));
  CFOwned<CFStringRef> copy(CFStringCreateCopy(nullptr, m));
  CFStringAppend(m, CFSTR("!"));
  EXPECT_EQ("abab\xC3\xA9", Utf8(copy));
  // Appending to an immutable string or a constant is refused.
  CFStringAppend(reinterpret_cast<CFMutableStringRef>(const_cast<__CFString *>(CFSTR("k"))), CFSTR("x"));
  EXPECT_EQ("k", Utf8(CFSTR("k")));
  // Copying an immutable string shares it.
  CFOwned<CFStringRef> again(CFStringCreateCopy(nullptr, copy));
  EXPECT_EQ(copy.get(), again.get());
  UniChar chars[2] = {0, 0};
  CFStringGetCharacters(m, CFRangeMake(4, 2), chars);
  EXPECT_EQ(0xE9, chars[0]);
  EXPECT_EQ('!', chars[1]);
}

TEST_F(CFStringTest, LossyUTF8DecodingReplacesEachBadByte) {
  EXPECT_EQ(u"a\uFFFD\uFFFDb", tv::cf::DecodeUTF8Lossy("a\xC3\xFF" "b"));
  EXPECT_EQ("\xEF\xBF\xBD", tv::cf::EncodeUTF8(u"\xDC00"));
}

}  // namespace
