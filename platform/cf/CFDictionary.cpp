// CFDictionary and CFNumber: string keys to values, and integers, both made
// from property lists alone, and the conversion of a property-list node into
// CF objects.
#include "platform/cf/CFInternal.h"
#include "platform/cf/PlistSupport.h"

#include <cstdint>

namespace {

// Property lists nest this deep at most; deeper ones are not converted.
constexpr int kMaxDepth = 32;

CFTypeRef Convert(plist_t node, int depth);

CFTypeRef ConvertArray(plist_t node, int depth) {
  std::vector<CFTypeRef> values;
  for (uint32_t i = 0; i < plist_array_get_size(node); ++i) {
    if (CFTypeRef v = Convert(plist_array_get_item(node, i), depth + 1)) values.push_back(v);
  }
  CFArrayRef a = CFArrayCreate(nullptr, values.data(), CFIndex(values.size()), &kCFTypeArrayCallBacks);
  for (CFTypeRef v : values) CFRelease(v);
  return a;
}

CFTypeRef ConvertDict(plist_t node, int depth) {
  __CFDictionary *d = tv::cf::New<__CFDictionary>();
  if (!d) return nullptr;
  bool failed = false;
  tv::cf::ForEachDictItem(node, [&](const std::string &key, plist_t value) {
    CFTypeRef v = failed ? nullptr : Convert(value, depth + 1);
    if (!v) return;
    CFStringRef k = tv::cf::CreateStringFromUTF8Lossy(key);
    if (k) d->entries.emplace_back(k, v);
    if (!k) {
      CFRelease(v);
      failed = true;
    }
  });
  if (failed) {
    CFRelease(d);
    return nullptr;
  }
  return d;
}

// A new object for the node; NULL for the types left out, and when memory
// is short.
CFTypeRef Convert(plist_t node, int depth) {
  if (!node || depth > kMaxDepth) return nullptr;
  switch (plist_get_node_type(node)) {
    case PLIST_STRING: {
      std::string text;
      return tv::cf::PlistString(node, &text) ? tv::cf::CreateStringFromUTF8Lossy(text) : nullptr;
    }
    case PLIST_BOOLEAN: {
      uint8_t value = 0;
      plist_get_bool_val(node, &value);
      return CFRetain(value ? kCFBooleanTrue : kCFBooleanFalse);
    }
    case PLIST_DATA: {
      uint64_t length = 0;
      const char *bytes = plist_get_data_ptr(node, &length);
      return CFDataCreate(nullptr, reinterpret_cast<const UInt8 *>(bytes), CFIndex(length));
    }
    case PLIST_UINT: {  // every integer, a negative one as its two's complement
      __CFNumber *n = tv::cf::New<__CFNumber>();
      uint64_t value = 0;
      plist_get_uint_val(node, &value);
      if (n) n->value = int64_t(value);
      return n;
    }
    case PLIST_ARRAY: return ConvertArray(node, depth);
    case PLIST_DICT: return ConvertDict(node, depth);
    default: return nullptr;
  }
}

}  // namespace

namespace tv::cf {

CFTypeRef CreateFromPlist(plist_t node) {
  try {
    return Convert(node, 0);
  } catch (const std::exception &) {
    return nullptr;
  }
}

}  // namespace tv::cf

__CFDictionary::~__CFDictionary() {
  for (auto &[k, v] : entries) {
    CFRelease(k);
    CFRelease(v);
  }
}

bool __CFDictionary::Equal(const TVCFObject &other) const {
  const auto &o = static_cast<const __CFDictionary &>(other);
  if (entries.size() != o.entries.size()) return false;
  for (const auto &[k, v] : entries) {
    if (!CFEqual(v, CFDictionaryGetValue(&o, k))) return false;
  }
  return true;
}

std::u16string __CFDictionary::Describe() const {
  std::u16string d = u"{";
  for (const auto &[k, v] : entries) d += tv::cf::Chars(k) + u" = " + tv::cf::Describe(v) + u"; ";
  return d + u"}";
}

CFIndex CFDictionaryGetCount(CFDictionaryRef d) {
  const __CFDictionary *o = tv::cf::As<__CFDictionary>(d, tv::cf::kDictionaryTypeID);
  return o ? CFIndex(o->entries.size()) : 0;
}

const void *CFDictionaryGetValue(CFDictionaryRef d, const void *key) {
  const __CFDictionary *o = tv::cf::As<__CFDictionary>(d, tv::cf::kDictionaryTypeID);
  if (!o || !key) return nullptr;
  for (const auto &[k, v] : o->entries) {
    if (CFEqual(k, key)) return v;
  }
  return nullptr;
}

std::u16string __CFNumber::Describe() const {
  std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void *valuePtr) {
  const __CFNumber *o = tv::cf::As<__CFNumber>(number, tv::cf::kNumberTypeID);
  if (!o || !valuePtr) return false;
  if (theType == kCFNumberSInt64Type) {
    *static_cast<int64_t *>(valuePtr) = o->value;
    return true;
  }
  if (theType != kCFNumberSInt32Type || o->value < INT32_MIN || o->value > INT32_MAX) return false;
  *static_cast<int32_t *>(valuePtr) = int32_t(o->value);
  return true;
}
