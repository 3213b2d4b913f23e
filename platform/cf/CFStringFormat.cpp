// The checked formatter behind CFStringCreateWithFormat.
//
// Format strings come from translations, which are data: every conversion is
// checked against the kinds of the arguments the code passed before anything
// is read, and any conversion that does not fit (a missing argument, another
// kind, an unknown or malformed conversion, an absurd width) makes the whole
// call return NULL instead of guessing.
#include "platform/cf/CFInternal.h"
#include "platform/cf/CFStringEncodings.h"

#include <climits>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <span>
#include <string_view>

namespace tv::cf {
namespace {

// Widths and precisions beyond this are taken as a malformed format rather
// than an order to build a huge string.
constexpr int kMaxWidth = 4096;
// Nor may a translation grow a message without bound by repeating conversions.
constexpr size_t kMaxResultLength = 1 << 20;

enum class Length { kNone, kChar, kShort, kLong, kLongDouble };

struct Directive {
  bool left = false, plus = false, space = false, alt = false, zero = false;
  int width = -1;      // -1: none
  int precision = -1;  // -1: none
  Length length = Length::kNone;
  char16_t conv = 0;
};

class Formatter {
 public:
  Formatter(std::u16string_view format, std::span<const CFFormatArg> args)
      : fmt_(format), args_(args) {}

  bool Run(std::u16string *out) {
    std::u16string result;
    for (size_t i = 0; i < fmt_.size();) {
      const size_t pct = fmt_.find(u'%', i);
      result.append(fmt_.substr(i, pct == std::u16string_view::npos ? fmt_.npos : pct - i));
      if (pct == std::u16string_view::npos) break;
      i = pct + 1;
      if (!Conversion(&i, &result)) return false;
      if (result.size() > kMaxResultLength) return false;
    }
    *out = std::move(result);
    return true;
  }

 private:
  enum class Mode { kUnknown, kSequential, kPositional };

  bool AtDigit(size_t i) const { return i < fmt_.size() && fmt_[i] >= u'0' && fmt_[i] <= u'9'; }

  // Reads a decimal number of at most kMaxWidth; false when it is larger.
  bool Number(size_t *i, int *out) {
    long v = 0;
    while (AtDigit(*i)) {
      v = v * 10 + (fmt_[*i] - u'0');
      if (v > kMaxWidth) return false;
      ++*i;
    }
    *out = int(v);
    return true;
  }

  bool SetMode(Mode m) {
    if (mode_ == Mode::kUnknown) mode_ = m;
    return mode_ == m;
  }

  // The argument of the next sequential conversion, or of position pos (1-based).
  const CFFormatArg *Arg(int pos) {
    size_t index;
    if (pos > 0) {
      if (!SetMode(Mode::kPositional)) return nullptr;
      index = size_t(pos - 1);
    } else {
      if (!SetMode(Mode::kSequential)) return nullptr;
      index = next_++;
    }
    return index < args_.size() ? &args_[index] : nullptr;
  }

  static bool IsInteger(const CFFormatArg *a) {
    return a && (a->kind == CFFormatArg::kSigned || a->kind == CFFormatArg::kUnsigned);
  }

  // A width or precision given as "*": an integer argument of its own.
  bool StarValue(int pos, int *out) {
    if (pos > 0) return false;  // "*" cannot name its argument's position here
    const CFFormatArg *a = Arg(0);
    if (!IsInteger(a)) return false;
    const long long v = a->kind == CFFormatArg::kSigned ? a->i
                        : a->u > (unsigned long long)LLONG_MAX ? LLONG_MAX
                                                              : (long long)a->u;
    if (v > kMaxWidth || v < -kMaxWidth) return false;
    *out = int(v);
    return true;
  }

  bool Conversion(size_t *pi, std::u16string *out) {
    size_t i = *pi;
    if (i >= fmt_.size()) return false;  // a lone "%" at the end
    if (fmt_[i] == u'%') {
      out->push_back(u'%');
      *pi = i + 1;
      return true;
    }
    // An argument position: digits then "$".
    int pos = 0;
    if (AtDigit(i) && fmt_[i] != u'0') {
      size_t j = i;
      int n = 0;
      if (!Number(&j, &n)) return false;  // too large for a width or a position
      if (j < fmt_.size() && fmt_[j] == u'$') {
        pos = n;
        i = j + 1;
      }
    }
    Directive s;
    for (; i < fmt_.size(); ++i) {
      const char16_t c = fmt_[i];
      if (c == u'-') s.left = true;
      else if (c == u'+') s.plus = true;
      else if (c == u' ') s.space = true;
      else if (c == u'#') s.alt = true;
      else if (c == u'0') s.zero = true;
      else if (c == u'\'') continue;  // grouping: accepted and ignored
      else break;
    }
    if (i < fmt_.size() && fmt_[i] == u'*') {
      ++i;
      if (!StarValue(pos, &s.width)) return false;
      if (s.width < 0) {
        s.left = true;
        s.width = -s.width;
      }
    } else if (AtDigit(i) && !Number(&i, &s.width)) {
      return false;
    }
    if (i < fmt_.size() && fmt_[i] == u'.') {
      ++i;
      if (i < fmt_.size() && fmt_[i] == u'*') {
        ++i;
        if (!StarValue(pos, &s.precision)) return false;
        if (s.precision < 0) s.precision = -1;
      } else {
        s.precision = 0;
        if (!Number(&i, &s.precision)) return false;
      }
    }
    ParseLength(&i, &s);
    if (i >= fmt_.size()) return false;
    s.conv = fmt_[i];
    *pi = i + 1;
    return Convert(s, pos, out);
  }

  void ParseLength(size_t *pi, Directive *s) {
    size_t i = *pi;
    auto at = [&](char16_t c) { return i < fmt_.size() && fmt_[i] == c; };
    if (at(u'h')) {
      ++i;
      s->length = Length::kShort;
      if (at(u'h')) {
        ++i;
        s->length = Length::kChar;
      }
    } else if (at(u'l')) {
      ++i;
      s->length = Length::kLong;
      if (at(u'l')) ++i;
    } else if (at(u'q') || at(u'z') || at(u'j') || at(u't')) {
      ++i;
      s->length = Length::kLong;
    } else if (at(u'L')) {
      ++i;
      s->length = Length::kLongDouble;
    }
    *pi = i;
  }

  bool Convert(const Directive &s, int pos, std::u16string *out) {
    switch (s.conv) {
      case u'd': case u'i': case u'u': case u'x': case u'X': case u'o':
        return Integer(s, Arg(pos), out);
      case u'c': case u'C':
        return Character(s, Arg(pos), out);
      case u'f': case u'F': case u'e': case u'E': case u'g': case u'G':
        return Double(s, Arg(pos), out);
      case u's':
        return CString(s, Arg(pos), out);
      case u'@':
        return Object(s, Arg(pos), out);
      default:
        return false;  // %n, %p and everything unknown
    }
  }

  // The printf directive for s with the given length and conversion letters.
  static std::string PrintfFormat(const Directive &s, const char *length, char conv) {
    std::string d = "%";
    if (s.left) d += '-';
    if (s.plus) d += '+';
    if (s.space) d += ' ';
    if (s.alt) d += '#';
    if (s.zero) d += '0';
    if (s.width >= 0) d += std::to_string(s.width);
    if (s.precision >= 0) d += "." + std::to_string(s.precision);
    return d + length + conv;
  }

  template <class T> static void Print(const std::string &directive, T value, std::u16string *out) {
    const int n = std::snprintf(nullptr, 0, directive.c_str(), value);
    if (n <= 0) return;
    std::string buf(size_t(n) + 1, '\0');
    std::snprintf(buf.data(), buf.size(), directive.c_str(), value);
    buf.resize(size_t(n));
    // The C library follows LC_NUMERIC; these strings always use ".".
    const char *point = std::localeconv()->decimal_point;
    const bool otherPoint = point && std::strcmp(point, ".") != 0 && std::strlen(point) == 1;
    for (char c : buf) out->push_back(char16_t(UInt8(otherPoint && c == point[0] ? '.' : c)));
  }

  static bool Integer(const Directive &s, const CFFormatArg *a, std::u16string *out) {
    if (!IsInteger(a) || s.length == Length::kLongDouble) return false;
    const bool isSigned = a->kind == CFFormatArg::kSigned;
    if (s.conv == u'd' || s.conv == u'i') {
      if (!isSigned && a->u > (unsigned long long)LLONG_MAX) {
        Print(PrintfFormat(s, "ll", 'u'), a->u, out);
        return true;
      }
      long long v = isSigned ? a->i : (long long)a->u;
      if (s.length == Length::kShort) v = (short)v;
      if (s.length == Length::kChar) v = (signed char)v;
      Print(PrintfFormat(s, "ll", 'd'), v, out);
      return true;
    }
    unsigned long long v = isSigned ? (unsigned long long)a->i : a->u;
    // A negative int shown in hex reads as C shows it ("%x" of -1 is
    // ffffffff); wider values keep all their bits.
    if (isSigned && a->i < 0 && a->i >= INT_MIN && s.length == Length::kNone) v = UInt32(a->i);
    if (s.length == Length::kShort) v = (unsigned short)v;
    if (s.length == Length::kChar) v = (unsigned char)v;
    Print(PrintfFormat(s, "ll", char(s.conv)), v, out);
    return true;
  }

  static bool Double(const Directive &s, const CFFormatArg *a, std::u16string *out) {
    if (!a || a->kind != CFFormatArg::kDouble) return false;
    if (s.length != Length::kNone && s.length != Length::kLong && s.length != Length::kLongDouble)
      return false;
    Print(PrintfFormat(s, "", char(s.conv)), a->d, out);
    return true;
  }

  // Text conversions: precision cuts (never inside a surrogate pair), width pads.
  static void Text(const Directive &s, std::u16string text, std::u16string *out) {
    if (s.precision >= 0 && size_t(s.precision) < text.size()) {
      size_t cut = size_t(s.precision);
      if (cut > 0 && text[cut - 1] >= 0xD800 && text[cut - 1] <= 0xDBFF) --cut;
      text.resize(cut);
    }
    const size_t pad = s.width > 0 && size_t(s.width) > text.size() ? size_t(s.width) - text.size() : 0;
    if (!s.left) out->append(pad, u' ');
    out->append(text);
    if (s.left) out->append(pad, u' ');
  }

  static bool Character(const Directive &s, const CFFormatArg *a, std::u16string *out) {
    if (!IsInteger(a)) return false;
    const unsigned long long v = a->kind == CFFormatArg::kSigned ? (unsigned long long)a->i : a->u;
    std::u16string text;
    if (v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) text = u"\uFFFD";
    else AppendCodePoint(&text, char32_t(v));
    Directive t = s;
    t.precision = -1;
    Text(t, std::move(text), out);
    return true;
  }

  static bool CString(const Directive &s, const CFFormatArg *a, std::u16string *out) {
    if (!a || a->kind != CFFormatArg::kCString || s.length != Length::kNone) return false;
    std::u16string text;
    if (!a->s) {
      text = u"(null)";
    } else if (!DecodeUTF8(a->s, &text)) {
      // Not UTF-8: the system encoding.
      DecodeBytes(std::span<const UInt8>(reinterpret_cast<const UInt8 *>(a->s), std::strlen(a->s)),
                  kCFStringEncodingMacRoman, false, &text);
    }
    Text(s, std::move(text), out);
    return true;
  }

  static bool Object(const Directive &s, const CFFormatArg *a, std::u16string *out) {
    if (!a || s.length != Length::kNone) return false;
    if (a->kind == CFFormatArg::kPointer && a->p != nullptr) return false;
    if (a->kind != CFFormatArg::kObject && a->kind != CFFormatArg::kPointer) return false;
    if (a->p && !IsObject(a->p)) return false;  // not a CF object: never look inside
    Text(s, Describe(a->p), out);
    return true;
  }

  std::u16string_view fmt_;
  std::span<const CFFormatArg> args_;
  Mode mode_ = Mode::kUnknown;
  size_t next_ = 0;
};

}  // namespace

bool FormatChars(std::u16string_view format, std::span<const CFFormatArg> args,
                 std::u16string *out) {
  try {
    return Formatter(format, args).Run(out);
  } catch (const std::exception &) {
    return false;
  }
}

}  // namespace tv::cf

CFStringRef CFStringCreateWithFormatArgs(CFAllocatorRef, CFDictionaryRef, CFStringRef format,
                                         const CFFormatArg *args, CFIndex argCount) {
  if (!tv::cf::AsString(format) || argCount < 0 || (!args && argCount > 0)) return nullptr;
  std::span<const CFFormatArg> list;
  if (argCount > 0) list = std::span<const CFFormatArg>(args, size_t(argCount));
  std::u16string out;
  if (!tv::cf::FormatChars(tv::cf::Chars(format), list, &out)) return nullptr;
  return tv::cf::CreateString(std::move(out));
}
