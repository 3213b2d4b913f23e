// CFString: UTF-16 text, immutable or mutable, and the interned CFSTR constants.
#include "platform/cf/CFInternal.h"
#include "platform/cf/CFStringEncodings.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string_view>
#include <unordered_map>

bool __CFString::Equal(const TVCFObject &other) const {
  return chars == static_cast<const __CFString &>(other).chars;
}

CFHashCode __CFString::Hash() const { return std::hash<std::u16string>{}(chars); }

namespace tv::cf {

const std::u16string &Chars(CFStringRef s) {
  static const std::u16string *empty = new std::u16string;
  const __CFString *o = AsString(s);
  return o ? o->chars : *empty;
}

std::string UTF8(CFStringRef s) { return EncodeUTF8(Chars(s)); }

CFStringRef CreateString(std::u16string chars) {
  __CFString *s = New<__CFString>();
  if (s) s->chars = std::move(chars);
  return s;
}

CFStringRef CreateStringFromUTF8Lossy(const std::string &utf8) {
  try {
    return CreateString(DecodeUTF8Lossy(utf8));
  } catch (const std::exception &) {
    return nullptr;
  }
}

}  // namespace tv::cf

CFStringRef __CFStringMakeConstantString(const char *utf8) {
  // Interned by their bytes for the life of the process, never freed.
  static auto *table = new std::unordered_map<std::string, __CFString *>;
  if (!utf8) utf8 = "";
  auto it = table->find(utf8);
  if (it != table->end()) return it->second;
  auto *s = new __CFString;
  s->chars = tv::cf::DecodeUTF8Lossy(utf8);
  tv::cf::RegisterConstant(s);
  table->emplace(utf8, s);
  return s;
}

CFStringRef CFStringCreateWithCString(CFAllocatorRef, const char *cStr, CFStringEncoding encoding) {
  if (!cStr) return nullptr;
  return CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8 *>(cStr),
                                 CFIndex(std::strlen(cStr)), encoding, false);
}

CFStringRef CFStringCreateWithCharacters(CFAllocatorRef, const UniChar *chars, CFIndex numChars) {
  if (numChars < 0 || (!chars && numChars > 0)) return nullptr;
  try {
    return tv::cf::CreateString(numChars ? std::u16string(reinterpret_cast<const char16_t *>(chars),
                                                        size_t(numChars))
                                       : std::u16string());
  } catch (const std::exception &) {
    return nullptr;
  }
}

CFStringRef CFStringCreateWithBytes(CFAllocatorRef, const UInt8 *bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean isExternalRepresentation) {
  if (numBytes < 0 || (!bytes && numBytes > 0)) return nullptr;
  try {
    std::u16string chars;
    std::span<const UInt8> in;
    if (numBytes > 0) in = std::span<const UInt8>(bytes, size_t(numBytes));
    if (!tv::cf::DecodeBytes(in, encoding, isExternalRepresentation, &chars)) return nullptr;
    return tv::cf::CreateString(std::move(chars));
  } catch (const std::exception &) {
    return nullptr;
  }
}

CFStringRef CFStringCreateCopy(CFAllocatorRef, CFStringRef s) {
  const __CFString *o = tv::cf::AsString(s);
  if (!o) return nullptr;
  if (!o->isMutable) return static_cast<CFStringRef>(CFRetain(s));
  try {
    return tv::cf::CreateString(o->chars);
  } catch (const std::exception &) {
    return nullptr;
  }
}

CFIndex CFStringGetLength(CFStringRef s) { return CFIndex(tv::cf::Chars(s).size()); }

UniChar CFStringGetCharacterAtIndex(CFStringRef s, CFIndex idx) {
  const std::u16string &c = tv::cf::Chars(s);
  if (idx < 0 || size_t(idx) >= c.size()) return 0;
  return c[size_t(idx)];
}

namespace {
// True when range lies inside a string of length len.
bool RangeInside(CFRange range, size_t len) {
  return range.location >= 0 && range.length >= 0 && size_t(range.location) <= len &&
         size_t(range.length) <= len - size_t(range.location);
}
}  // namespace

void CFStringGetCharacters(CFStringRef s, CFRange range, UniChar *buffer) {
  const std::u16string &c = tv::cf::Chars(s);
  if (!buffer || !RangeInside(range, c.size()) || range.length == 0) return;
  std::memcpy(buffer, c.data() + range.location, size_t(range.length) * sizeof(UniChar));
}

CFIndex CFStringGetBytes(CFStringRef s, CFRange range, CFStringEncoding encoding, UInt8 lossByte,
                         Boolean isExternalRepresentation, UInt8 *buffer, CFIndex maxBufLen,
                         CFIndex *usedBufLen) {
  const std::u16string &c = tv::cf::Chars(s);
  tv::cf::EncodeResult r;
  if (RangeInside(range, c.size())) {
    r = tv::cf::EncodeChars(std::u16string_view(c).substr(size_t(range.location), size_t(range.length)),
                          encoding, lossByte, isExternalRepresentation, buffer, maxBufLen);
  }
  if (usedBufLen) *usedBufLen = r.bytesUsed;
  return r.charsConverted;
}

Boolean CFStringGetCString(CFStringRef s, char *buffer, CFIndex bufferSize,
                           CFStringEncoding encoding) {
  if (!buffer || bufferSize <= 0 || !tv::cf::AsString(s)) return false;
  const std::u16string &c = tv::cf::Chars(s);
  CFIndex used = 0;
  const CFIndex converted = CFStringGetBytes(s, CFRangeMake(0, CFIndex(c.size())), encoding, 0,
                                             false, reinterpret_cast<UInt8 *>(buffer),
                                             bufferSize - 1, &used);
  if (converted != CFIndex(c.size()) || !tv::cf::IsSupportedEncoding(encoding)) {
    buffer[0] = 0;  // never leave a half-converted text behind
    return false;
  }
  buffer[used] = 0;
  return true;
}

CFStringEncoding CFStringGetSystemEncoding() { return kCFStringEncodingMacRoman; }

CFMutableStringRef CFStringCreateMutable(CFAllocatorRef, CFIndex) {
  __CFString *s = tv::cf::New<__CFString>();
  if (s) s->isMutable = true;
  return s;
}

void CFStringAppend(CFMutableStringRef s, CFStringRef appended) {
  __CFString *o = tv::cf::AsMutable<__CFString>(s, tv::cf::kStringTypeID);
  const __CFString *a = tv::cf::AsString(appended);
  if (!o || !o->isMutable || !a) return;
  const std::u16string copy = a->chars;  // appended may be s itself
  o->chars += copy;
}

void CFStringAppendCString(CFMutableStringRef s, const char *cStr, CFStringEncoding encoding) {
  __CFString *o = tv::cf::AsMutable<__CFString>(s, tv::cf::kStringTypeID);
  if (!o || !o->isMutable || !cStr) return;
  std::u16string chars;
  const size_t n = std::strlen(cStr);
  if (tv::cf::DecodeBytes(std::span<const UInt8>(reinterpret_cast<const UInt8 *>(cStr), n), encoding,
                        false, &chars)) {
    o->chars += chars;
  }
}
