// CFData: a byte buffer, immutable or mutable.
#include "platform/cf/CFInternal.h"

#include <cstring>
#include <string_view>

bool __CFData::Equal(const TVCFObject &other) const {
  return bytes == static_cast<const __CFData &>(other).bytes;
}

CFHashCode __CFData::Hash() const {
  return std::hash<std::string_view>{}(
      std::string_view(reinterpret_cast<const char *>(bytes.data()), bytes.size()));
}

std::u16string __CFData::Describe() const {
  static const char16_t kHex[] = u"0123456789abcdef";
  std::u16string d = u"<";
  for (UInt8 b : bytes) {
    d.push_back(kHex[b >> 4]);
    d.push_back(kHex[b & 15]);
  }
  return d + u">";
}

namespace {

// A non-NULL pointer even for empty data, so that callers may pass it to memcpy.
UInt8 sNoBytes[1];

__CFData *MutableData(CFMutableDataRef d) {
  __CFData *o = tv::cf::AsMutable<__CFData>(d, tv::cf::kDataTypeID);
  return (o && o->isMutable) ? o : nullptr;
}

}  // namespace

CFDataRef CFDataCreate(CFAllocatorRef, const UInt8 *bytes, CFIndex length) {
  if (length < 0 || (!bytes && length > 0)) return nullptr;
  __CFData *d = tv::cf::New<__CFData>();
  if (!d) return nullptr;
  try {
    d->bytes.assign(bytes, bytes + length);
  } catch (const std::exception &) {
    CFRelease(d);
    return nullptr;
  }
  return d;
}

CFMutableDataRef CFDataCreateMutable(CFAllocatorRef, CFIndex) {
  __CFData *d = tv::cf::New<__CFData>();
  if (d) d->isMutable = true;
  return d;
}

CFIndex CFDataGetLength(CFDataRef d) {
  const __CFData *o = tv::cf::As<__CFData>(d, tv::cf::kDataTypeID);
  return o ? CFIndex(o->bytes.size()) : 0;
}

const UInt8 *CFDataGetBytePtr(CFDataRef d) {
  const __CFData *o = tv::cf::As<__CFData>(d, tv::cf::kDataTypeID);
  if (!o) return nullptr;
  return o->bytes.empty() ? sNoBytes : o->bytes.data();
}

UInt8 *CFDataGetMutableBytePtr(CFMutableDataRef d) {
  __CFData *o = MutableData(d);
  if (!o) return nullptr;
  return o->bytes.empty() ? sNoBytes : o->bytes.data();
}

void CFDataAppendBytes(CFMutableDataRef d, const UInt8 *bytes, CFIndex length) {
  __CFData *o = MutableData(d);
  if (!o || length <= 0 || !bytes) return;
  try {
    o->bytes.insert(o->bytes.end(), bytes, bytes + length);
  } catch (const std::exception &) {
  }
}

void CFDataSetLength(CFMutableDataRef d, CFIndex length) {
  __CFData *o = MutableData(d);
  if (!o || length < 0) return;
  try {
    o->bytes.resize(size_t(length), 0);
  } catch (const std::exception &) {
  }
}
