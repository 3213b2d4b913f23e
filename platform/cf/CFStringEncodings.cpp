// Byte encodings of CFString text. See CFStringEncodings.h.
#include "platform/cf/CFStringEncodings.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace tv::cf {
namespace {

// Mac OS Roman 0x80..0xFF (0xDB is the euro sign, 0xF0 the Apple logo in the
// private use area).
constexpr UniChar kMacRomanHigh[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, 0x00E0, 0x00E2, 0x00E4,
    0x00E3, 0x00E5, 0x00E7, 0x00E9, 0x00E8, 0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF,
    0x00F1, 0x00F3, 0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC, 0x2020,
    0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6, 0x00DF, 0x00AE, 0x00A9, 0x2122, 0x00B4,
    0x00A8, 0x2260, 0x00C6, 0x00D8, 0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202,
    0x2211, 0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8, 0x00BF, 0x00A1,
    0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB, 0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3,
    0x00D5, 0x0152, 0x0153, 0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA,
    0x00FF, 0x0178, 0x2044, 0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02, 0x2021, 0x00B7, 0x201A,
    0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1, 0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC,
    0x00D3, 0x00D4, 0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC, 0x00AF,
    0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,
};

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Reads one UTF-8 sequence at s[i]; returns its length, 0 when invalid.
size_t ReadUTF8(std::string_view s, size_t i, char32_t *out) {
  const auto b0 = UInt8(s[i]);
  if (b0 < 0x80) {
    *out = b0;
    return 1;
  }
  size_t len;
  char32_t c, min;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2; c = b0 & 0x1F; min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3; c = b0 & 0x0F; min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4; c = b0 & 0x07; min = 0x10000;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    const auto b = UInt8(s[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    c = (c << 6) | (b & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  *out = c;
  return len;
}

bool DecodeUTF16(std::span<const UInt8> bytes, bool bigEndian, std::u16string *out) {
  if (bytes.size() % 2 != 0) return false;
  std::u16string s;
  s.reserve(bytes.size() / 2);
  for (size_t i = 0; i < bytes.size(); i += 2) {
    s.push_back(bigEndian ? char16_t((bytes[i] << 8) | bytes[i + 1])
                          : char16_t((bytes[i + 1] << 8) | bytes[i]));
  }
  *out = std::move(s);
  return true;
}

// The byte for one character in an 8-bit encoding; false when it has none.
bool EightBitFromUnicode(UniChar c, CFStringEncoding encoding, UInt8 *out) {
  switch (encoding) {
    case kCFStringEncodingMacRoman:
      return MacRomanFromUnicode(c, out);
    case kCFStringEncodingASCII:
      if (c > 0x7F) return false;
      *out = UInt8(c);
      return true;
    case kCFStringEncodingISOLatin1:
      if (c > 0xFF) return false;
      *out = UInt8(c);
      return true;
    default:
      return false;
  }
}

void PutUnit(UInt8 *p, char16_t u, bool bigEndian) {
  if (bigEndian) {
    p[0] = UInt8(u >> 8);
    p[1] = UInt8(u);
  } else {
    p[0] = UInt8(u);
    p[1] = UInt8(u >> 8);
  }
}

}  // namespace

bool IsSupportedEncoding(CFStringEncoding encoding) {
  switch (encoding) {
    case kCFStringEncodingMacRoman:
    case kCFStringEncodingISOLatin1:
    case kCFStringEncodingASCII:
    case kCFStringEncodingUTF16:
    case kCFStringEncodingUTF8:
    case kCFStringEncodingUTF16BE:
    case kCFStringEncodingUTF16LE:
      return true;
    default:
      return false;
  }
}

UniChar MacRomanToUnicode(UInt8 b) { return b < 0x80 ? UniChar(b) : kMacRomanHigh[b - 0x80]; }

bool MacRomanFromUnicode(UniChar c, UInt8 *out) {
  if (c < 0x80) {
    *out = UInt8(c);
    return true;
  }
  const UniChar *end = kMacRomanHigh + 128;
  const UniChar *hit = std::find(kMacRomanHigh, end, c);
  if (hit == end) return false;
  *out = UInt8(0x80 + (hit - kMacRomanHigh));
  return true;
}

void AppendCodePoint(std::u16string *out, char32_t c) {
  if (c >= 0x10000) {
    c -= 0x10000;
    out->push_back(char16_t(0xD800 + (c >> 10)));
    out->push_back(char16_t(0xDC00 + (c & 0x3FF)));
  } else {
    out->push_back(char16_t(c));
  }
}

namespace {

// Decodes utf8; a malformed sequence either stops the decoding (its offset
// through badOffset) or, when lossy, becomes U+FFFD and the decoding goes on
// with the next byte.
bool DecodeUTF8Into(std::string_view utf8, bool lossy, std::u16string *out, size_t *badOffset) {
  std::u16string s;
  s.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    char32_t c;
    const size_t n = ReadUTF8(utf8, i, &c);
    if (n == 0) {
      if (!lossy) {
        if (badOffset) *badOffset = i;
        return false;
      }
      s.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    AppendCodePoint(&s, c);
    i += n;
  }
  *out = std::move(s);
  return true;
}

}  // namespace

bool DecodeUTF8(std::string_view utf8, std::u16string *out, size_t *badOffset) {
  return DecodeUTF8Into(utf8, false, out, badOffset);
}

std::u16string DecodeUTF8Lossy(std::string_view utf8) {
  std::u16string s;
  DecodeUTF8Into(utf8, true, &s, nullptr);
  return s;
}

std::string EncodeUTF8(std::u16string_view chars) {
  std::string out;
  out.reserve(chars.size());
  for (size_t i = 0; i < chars.size(); ++i) {
    char32_t c = chars[i];
    if (IsHighSurrogate(c) && i + 1 < chars.size() && IsLowSurrogate(chars[i + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (chars[i + 1] - 0xDC00);
      ++i;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out.push_back(char(c));
    } else if (c < 0x800) {
      out.push_back(char(0xC0 | (c >> 6)));
      out.push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(char(0xE0 | (c >> 12)));
      out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(char(0x80 | (c & 0x3F)));
    } else {
      out.push_back(char(0xF0 | (c >> 18)));
      out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(char(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

bool DecodeBytes(std::span<const UInt8> bytes, CFStringEncoding encoding,
                 bool isExternalRepresentation, std::u16string *out) {
  constexpr bool kHostBigEndian = std::endian::native == std::endian::big;
  switch (encoding) {
    case kCFStringEncodingUTF8: {
      if (isExternalRepresentation && bytes.size() >= 3 && bytes[0] == 0xEF &&
          bytes[1] == 0xBB && bytes[2] == 0xBF) {
        bytes = bytes.subspan(3);
      }
      return DecodeUTF8(
          std::string_view(reinterpret_cast<const char *>(bytes.data()), bytes.size()), out);
    }
    case kCFStringEncodingUTF16: {
      bool big = isExternalRepresentation ? true : kHostBigEndian;
      if (bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        big = true;
        bytes = bytes.subspan(2);
      } else if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        big = false;
        bytes = bytes.subspan(2);
      }
      return DecodeUTF16(bytes, big, out);
    }
    case kCFStringEncodingUTF16BE:
    case kCFStringEncodingUTF16LE: {
      // The order is given; an external representation may still start with its mark.
      const bool big = encoding == kCFStringEncodingUTF16BE;
      if (isExternalRepresentation && bytes.size() >= 2 && bytes[0] == (big ? 0xFE : 0xFF) &&
          bytes[1] == (big ? 0xFF : 0xFE)) {
        bytes = bytes.subspan(2);
      }
      return DecodeUTF16(bytes, big, out);
    }
    case kCFStringEncodingMacRoman:
    case kCFStringEncodingISOLatin1:
    case kCFStringEncodingASCII: {
      std::u16string s;
      s.reserve(bytes.size());
      for (UInt8 b : bytes) {
        if (encoding == kCFStringEncodingASCII && b > 0x7F) return false;
        s.push_back(encoding == kCFStringEncodingMacRoman ? MacRomanToUnicode(b) : char16_t(b));
      }
      *out = std::move(s);
      return true;
    }
    default:
      return false;
  }
}

EncodeResult EncodeChars(std::u16string_view chars, CFStringEncoding encoding, UInt8 lossByte,
                         bool isExternalRepresentation, UInt8 *buffer, CFIndex maxBufLen) {
  EncodeResult r;
  if (!IsSupportedEncoding(encoding)) return r;
  const bool measuring = buffer == nullptr;
  const size_t room = measuring ? SIZE_MAX : size_t(std::max<CFIndex>(maxBufLen, 0));
  size_t used = 0;
  // Appends the bytes of one character, or says it does not fit.
  auto put = [&](const UInt8 *bytes, size_t n) {
    if (n > room - used) return false;
    if (!measuring) std::memcpy(buffer + used, bytes, n);
    used += n;
    return true;
  };

  const bool utf16 = encoding == kCFStringEncodingUTF16 || encoding == kCFStringEncodingUTF16BE ||
                     encoding == kCFStringEncodingUTF16LE;
  if (utf16) {
    const bool big = encoding == kCFStringEncodingUTF16BE ||
                     (encoding == kCFStringEncodingUTF16 && std::endian::native == std::endian::big);
    if (encoding == kCFStringEncodingUTF16 && isExternalRepresentation) {
      UInt8 bom[2];
      PutUnit(bom, 0xFEFF, big);
      if (!put(bom, 2)) return r;
    }
    size_t i = 0;
    for (; i < chars.size(); ++i) {
      UInt8 unit[2];
      PutUnit(unit, chars[i], big);
      if (!put(unit, 2)) break;
    }
    r.charsConverted = CFIndex(i);
    r.bytesUsed = CFIndex(used);
    return r;
  }

  size_t i = 0;
  while (i < chars.size()) {
    const char16_t c = chars[i];
    const bool pair = IsHighSurrogate(c) && i + 1 < chars.size() && IsLowSurrogate(chars[i + 1]);
    const size_t width = pair ? 2 : 1;
    UInt8 out[4];
    size_t n = 0;
    if (encoding == kCFStringEncodingUTF8) {
      if (pair || !(IsHighSurrogate(c) || IsLowSurrogate(c))) {
        const std::string enc = EncodeUTF8(chars.substr(i, width));
        n = enc.size();
        std::memcpy(out, enc.data(), n);
      }
    } else if (!pair && EightBitFromUnicode(c, encoding, &out[0])) {
      n = 1;
    }
    if (n == 0) {  // not representable
      if (lossByte == 0) break;
      out[0] = lossByte;
      n = 1;
    }
    if (!put(out, n)) break;
    i += width;
  }
  r.charsConverted = CFIndex(i);
  r.bytesUsed = CFIndex(used);
  return r;
}

}  // namespace tv::cf
