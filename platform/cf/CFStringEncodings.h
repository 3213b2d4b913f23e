// Conversions between UTF-16 text and the byte encodings CFString supports:
// UTF-8, Mac OS Roman, ASCII, ISO Latin-1 and the UTF-16 forms. Pure functions,
// no objects, so they are tested directly.
#pragma once

#include "platform/CoreFoundation.h"

#include <span>
#include <string>
#include <string_view>

namespace tv::cf {

bool IsSupportedEncoding(CFStringEncoding encoding);

// Decodes bytes. For UTF-16 a byte-order mark picks the order (it is dropped);
// without one, external representation means big-endian and otherwise the
// host's order. For UTF-16BE/LE and UTF-8 a leading mark is dropped in
// external representation only (otherwise it is a character). False (and
// *out untouched) when the bytes are not valid in the encoding.
bool DecodeBytes(std::span<const UInt8> bytes, CFStringEncoding encoding,
                 bool isExternalRepresentation, std::u16string *out);

// Strict UTF-8 (no overlong forms, surrogates or values above U+10FFFF).
// On failure *badOffset (optional) gets the offset of the first bad byte.
bool DecodeUTF8(std::string_view utf8, std::u16string *out, size_t *badOffset = nullptr);
// Every invalid sequence becomes U+FFFD.
std::u16string DecodeUTF8Lossy(std::string_view utf8);
// Unpaired surrogates become U+FFFD.
std::string EncodeUTF8(std::u16string_view chars);
// One Unicode scalar value appended as UTF-16.
void AppendCodePoint(std::u16string *out, char32_t c);

struct EncodeResult {
  CFIndex charsConverted = 0;  // UTF-16 units consumed
  CFIndex bytesUsed = 0;
};
// Converts chars to encoding, as CFStringGetBytes does: a character the
// encoding lacks becomes lossByte, or ends the conversion when lossByte is 0
// (a surrogate pair is one character there: one loss byte). With a NULL
// buffer only measures and maxBufLen is ignored; otherwise never writes more
// than maxBufLen bytes and never splits a character's bytes. External
// representation puts a byte-order mark before UTF-16 (kCFStringEncodingUTF16).
EncodeResult EncodeChars(std::u16string_view chars, CFStringEncoding encoding, UInt8 lossByte,
                         bool isExternalRepresentation, UInt8 *buffer, CFIndex maxBufLen);

// Mac OS Roman byte for a UTF-16 unit; false when it has none.
bool MacRomanFromUnicode(UniChar c, UInt8 *out);
UniChar MacRomanToUnicode(UInt8 b);

}  // namespace tv::cf
