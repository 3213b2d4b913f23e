// CFUUID: 16 bytes naming a plug-in type, factory or interface.
#include "platform/cf/CFInternal.h"
#include "platform/cf/CFUUIDText.h"

#include <cstring>
#include <string_view>

bool __CFUUID::Equal(const TVCFObject &other) const {
  return bytes == static_cast<const __CFUUID &>(other).bytes;
}

CFHashCode __CFUUID::Hash() const {
  return std::hash<std::string_view>{}(
      std::string_view(reinterpret_cast<const char *>(bytes.data()), bytes.size()));
}

std::u16string __CFUUID::Describe() const {
  const std::string s = tv::cf::UUIDToText(bytes);
  return std::u16string(s.begin(), s.end());
}

namespace tv::cf {

std::string UUIDToText(const UUIDBytes &b) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) s.push_back('-');
    s.push_back(kHex[b[i] >> 4]);
    s.push_back(kHex[b[i] & 15]);
  }
  return s;
}

bool UUIDFromText(std::string_view text, UUIDBytes *out) {
  if (text.size() != 36) return false;
  UUIDBytes b{};
  size_t k = 0;
  for (size_t i = 0; i < 36;) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (text[i] != '-') return false;
      ++i;
      continue;
    }
    int v = 0;
    for (int half = 0; half < 2; ++half, ++i) {
      const char c = text[i];
      int d;
      if (c >= '0' && c <= '9') d = c - '0';
      else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
      else return false;
      v = v * 16 + d;
    }
    b[k++] = UInt8(v);
  }
  *out = b;
  return true;
}

UUIDBytes BytesOf(CFUUIDRef uuid) {
  const __CFUUID *o = As<__CFUUID>(uuid, kUUIDTypeID);
  return o ? o->bytes : UUIDBytes{};
}

CFUUIDRef CreateUUID(const UUIDBytes &bytes) {
  __CFUUID *u = New<__CFUUID>();
  if (u) u->bytes = bytes;
  return u;
}

}  // namespace tv::cf

CFUUIDRef CFUUIDGetConstantUUIDWithBytes(CFAllocatorRef, UInt8 b0, UInt8 b1, UInt8 b2, UInt8 b3,
                                         UInt8 b4, UInt8 b5, UInt8 b6, UInt8 b7, UInt8 b8,
                                         UInt8 b9, UInt8 b10, UInt8 b11, UInt8 b12, UInt8 b13,
                                         UInt8 b14, UInt8 b15) {
  // Interned by bytes for the life of the process: equal bytes, same object.
  static auto *table = new std::map<tv::cf::UUIDBytes, __CFUUID *>;
  const tv::cf::UUIDBytes bytes = {b0, b1, b2, b3, b4, b5, b6, b7,
                                 b8, b9, b10, b11, b12, b13, b14, b15};
  auto it = table->find(bytes);
  if (it != table->end()) return it->second;
  auto *u = new __CFUUID;
  u->bytes = bytes;
  tv::cf::RegisterConstant(u);
  table->emplace(bytes, u);
  return u;
}

CFUUIDRef CFUUIDCreateFromUUIDBytes(CFAllocatorRef, CFUUIDBytes bytes) {
  tv::cf::UUIDBytes b;
  static_assert(sizeof(bytes) == 16);
  std::memcpy(b.data(), &bytes, 16);
  return tv::cf::CreateUUID(b);
}

CFUUIDRef CFUUIDCreateFromString(CFAllocatorRef, CFStringRef uuidStr) {
  tv::cf::UUIDBytes b;
  if (!tv::cf::AsString(uuidStr) || !tv::cf::UUIDFromText(tv::cf::UTF8(uuidStr), &b)) return nullptr;
  return tv::cf::CreateUUID(b);
}

CFStringRef CFUUIDCreateString(CFAllocatorRef, CFUUIDRef uuid) {
  if (!tv::cf::As<__CFUUID>(uuid, tv::cf::kUUIDTypeID)) return nullptr;
  const std::string s = tv::cf::UUIDToText(tv::cf::BytesOf(uuid));
  return tv::cf::CreateString(std::u16string(s.begin(), s.end()));
}

CFUUIDBytes CFUUIDGetUUIDBytes(CFUUIDRef uuid) {
  const tv::cf::UUIDBytes b = tv::cf::BytesOf(uuid);
  CFUUIDBytes out;
  std::memcpy(&out, b.data(), 16);
  return out;
}
