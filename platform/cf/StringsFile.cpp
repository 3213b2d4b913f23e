// The string-table parser. See StringsFile.h.
#include "platform/cf/StringsFile.h"

#include "platform/cf/CFStringEncodings.h"

#include <algorithm>
#include <string_view>

namespace tv::cf {
namespace {

size_t LineAt(std::u16string_view text, size_t pos) {
  return 1 + size_t(std::count(text.begin(), text.begin() + std::min(pos, text.size()), u'\n'));
}

// The file's text; false with *errorLine set when it is not valid text.
bool DecodeText(std::span<const unsigned char> bytes, std::u16string *out, size_t *errorLine) {
  if (bytes.size() >= 2 && ((bytes[0] == 0xFF && bytes[1] == 0xFE) ||
                            (bytes[0] == 0xFE && bytes[1] == 0xFF))) {
    const bool big = bytes[0] == 0xFE;
    const size_t whole = (bytes.size() - 2) / 2 * 2;
    DecodeBytes(bytes.subspan(2, whole), big ? kCFStringEncodingUTF16BE : kCFStringEncodingUTF16LE,
                false, out);
    if (whole != bytes.size() - 2) {  // a dangling last byte
      *errorLine = LineAt(*out, out->size());
      return false;
    }
    return true;
  }
  if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
    bytes = bytes.subspan(3);
  }
  const std::string_view utf8(reinterpret_cast<const char *>(bytes.data()), bytes.size());
  size_t bad = 0;
  if (!DecodeUTF8(utf8, out, &bad)) {
    *errorLine = 1 + size_t(std::count(utf8.begin(), utf8.begin() + bad, '\n'));
    return false;
  }
  return true;
}

bool IsUnquotedChar(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
         c == u'_' || c == u'.' || c == u'$' || c == u':' || c == u'/' || c == u'-';
}

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Unpaired surrogates (from a stray \U escape) become U+FFFD.
void MendSurrogates(std::u16string *s) {
  for (size_t i = 0; i < s->size(); ++i) {
    const char16_t c = (*s)[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s->size() && (*s)[i + 1] >= 0xDC00 &&
        (*s)[i + 1] <= 0xDFFF) {
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      (*s)[i] = u'\uFFFD';
    }
  }
}

class Parser {
 public:
  explicit Parser(std::u16string_view text) : t_(text) {}

  bool Run(StringsTable *out, size_t *errorLine) {
    StringsTable table;
    for (;;) {
      if (!SkipSpace()) return Fail(errorLine);
      if (p_ >= t_.size()) break;
      std::u16string key, value;
      if (!String(&key)) return Fail(errorLine);
      if (!SkipSpace()) return Fail(errorLine);
      if (At(u'=')) {
        ++p_;
        if (!SkipSpace() || !String(&value) || !SkipSpace()) return Fail(errorLine);
      } else {
        value = key;
      }
      if (!At(u';')) {
        failAt_ = p_;
        return Fail(errorLine);
      }
      ++p_;
      table[std::move(key)] = std::move(value);
    }
    *out = std::move(table);
    return true;
  }

 private:
  bool At(char16_t c) const { return p_ < t_.size() && t_[p_] == c; }
  bool AtPair(char16_t a, char16_t b) const {
    return p_ + 1 < t_.size() && t_[p_] == a && t_[p_ + 1] == b;
  }
  bool Fail(size_t *errorLine) {
    *errorLine = LineAt(t_, failAt_);
    return false;
  }

  // Skips white space and comments; false for an unterminated comment.
  bool SkipSpace() {
    while (p_ < t_.size()) {
      const char16_t c = t_[p_];
      if (c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f' || c == u'\v' ||
          c == u'\uFEFF') {
        ++p_;
      } else if (AtPair(u'/', u'*')) {
        const size_t end = t_.find(u"*/", p_ + 2);
        if (end == std::u16string_view::npos) {
          failAt_ = p_;
          return false;
        }
        p_ = end + 2;
      } else if (AtPair(u'/', u'/')) {
        while (p_ < t_.size() && t_[p_] != u'\n' && t_[p_] != u'\r') ++p_;
      } else {
        break;
      }
    }
    return true;
  }

  bool String(std::u16string *out) {
    failAt_ = p_;
    if (At(u'"')) return Quoted(out);
    const size_t start = p_;
    while (p_ < t_.size() && IsUnquotedChar(t_[p_])) ++p_;
    if (p_ == start) return false;
    out->assign(t_.substr(start, p_ - start));
    return true;
  }

  bool Quoted(std::u16string *out) {
    ++p_;  // the opening quote
    std::u16string s;
    for (;;) {
      if (p_ >= t_.size()) return false;  // unterminated: reported where it began
      const char16_t c = t_[p_++];
      if (c == u'"') break;
      if (c != u'\\') {
        s.push_back(c);
        continue;
      }
      if (p_ >= t_.size()) return false;
      const char16_t e = t_[p_++];
      switch (e) {
        case u'n': s.push_back(u'\n'); break;
        case u't': s.push_back(u'\t'); break;
        case u'r': s.push_back(u'\r'); break;
        case u'a': s.push_back(u'\a'); break;
        case u'b': s.push_back(u'\b'); break;
        case u'f': s.push_back(u'\f'); break;
        case u'v': s.push_back(u'\v'); break;
        case u'U':
        case u'u': {
          int v = 0, digits = 0;
          for (; digits < 4 && p_ < t_.size() && HexValue(t_[p_]) >= 0; ++digits, ++p_) {
            v = v * 16 + HexValue(t_[p_]);
          }
          if (digits == 0) {
            failAt_ = p_;
            return false;
          }
          s.push_back(char16_t(v));
          break;
        }
        default:
          if (e >= u'0' && e <= u'7') {
            int v = e - u'0';
            for (int k = 1; k < 3 && p_ < t_.size() && t_[p_] >= u'0' && t_[p_] <= u'7'; ++k, ++p_) {
              v = v * 8 + (t_[p_] - u'0');
            }
            s.push_back(char16_t(v));
          } else {
            s.push_back(e);  // \" \\ \' and any other character stand for themselves
          }
      }
    }
    MendSurrogates(&s);
    *out = std::move(s);
    return true;
  }

  std::u16string_view t_;
  size_t p_ = 0;
  size_t failAt_ = 0;
};

}  // namespace

bool ParseStringsFile(std::span<const unsigned char> bytes, StringsTable *out, size_t *errorLine) {
  out->clear();
  size_t line = 0;
  std::u16string text;
  bool ok = DecodeText(bytes, &text, &line);
  StringsTable table;
  if (ok) ok = Parser(text).Run(&table, &line);
  if (!ok) {
    *errorLine = line;
    return false;
  }
  *out = std::move(table);
  return true;
}

}  // namespace tv::cf
