// CFArray: an ordered list of values, retained and released through the
// array's callbacks (kCFTypeArrayCallBacks for CF objects, none for plain
// pointers).
#include "platform/cf/CFInternal.h"

#include <algorithm>
#include <cstdio>

namespace {

const void *RetainValue(CFAllocatorRef, const void *v) { return CFRetain(v); }
void ReleaseValue(CFAllocatorRef, const void *v) { CFRelease(v); }
CFStringRef DescribeValue(const void *v) { return tv::cf::CreateString(tv::cf::Describe(v)); }
Boolean EqualValues(const void *a, const void *b) { return CFEqual(a, b); }

const void *Retained(const __CFArray &a, const void *v) {
  return a.callBacks.retain ? a.callBacks.retain(nullptr, v) : v;
}
void Release(const __CFArray &a, const void *v) {
  if (a.callBacks.release) a.callBacks.release(nullptr, v);
}

__CFArray *MutableArray(CFMutableArrayRef a) {
  __CFArray *o = tv::cf::AsMutable<__CFArray>(a, tv::cf::kArrayTypeID);
  return (o && o->isMutable) ? o : nullptr;
}

}  // namespace

const CFArrayCallBacks kCFTypeArrayCallBacks = {0, RetainValue, ReleaseValue, DescribeValue,
                                                EqualValues};

__CFArray::~__CFArray() {
  for (const void *v : values) Release(*this, v);
}

bool __CFArray::Equal(const TVCFObject &other) const {
  const auto &o = static_cast<const __CFArray &>(other);
  if (values.size() != o.values.size()) return false;
  for (size_t i = 0; i < values.size(); ++i) {
    const bool same = callBacks.equal ? callBacks.equal(values[i], o.values[i])
                                      : values[i] == o.values[i];
    if (!same) return false;
  }
  return true;
}

std::u16string __CFArray::Describe() const {
  // An array that holds itself, directly or not, must not describe forever.
  static int depth = 0;
  if (depth >= 32) return u"(...)";
  struct Nest {
    Nest() { ++depth; }
    ~Nest() { --depth; }
  } nest;
  std::u16string d = u"(";
  for (size_t i = 0; i < values.size(); ++i) {
    d += i ? u", " : u"";
    if (tv::cf::IsObject(values[i])) {
      d += tv::cf::Describe(values[i]);
    } else {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%p", values[i]);
      for (const char *p = buf; *p; ++p) d.push_back(char16_t(*p));
    }
  }
  return d + u")";
}

CFArrayRef CFArrayCreate(CFAllocatorRef, const void **values, CFIndex numValues,
                         const CFArrayCallBacks *callBacks) {
  if (numValues < 0 || (!values && numValues > 0)) return nullptr;
  __CFArray *a = tv::cf::New<__CFArray>();
  if (!a) return nullptr;
  if (callBacks) a->callBacks = *callBacks;
  try {
    a->values.reserve(size_t(numValues));
  } catch (const std::exception &) {
    CFRelease(a);
    return nullptr;
  }
  for (CFIndex i = 0; i < numValues; ++i) a->values.push_back(Retained(*a, values[i]));
  return a;
}

CFMutableArrayRef CFArrayCreateMutable(CFAllocatorRef, CFIndex, const CFArrayCallBacks *callBacks) {
  __CFArray *a = tv::cf::New<__CFArray>();
  if (!a) return nullptr;
  if (callBacks) a->callBacks = *callBacks;
  a->isMutable = true;
  return a;
}

CFIndex CFArrayGetCount(CFArrayRef a) {
  const __CFArray *o = tv::cf::As<__CFArray>(a, tv::cf::kArrayTypeID);
  return o ? CFIndex(o->values.size()) : 0;
}

const void *CFArrayGetValueAtIndex(CFArrayRef a, CFIndex idx) {
  const __CFArray *o = tv::cf::As<__CFArray>(a, tv::cf::kArrayTypeID);
  if (!o || idx < 0 || size_t(idx) >= o->values.size()) return nullptr;
  return o->values[size_t(idx)];
}

void CFArrayAppendValue(CFMutableArrayRef a, const void *value) {
  __CFArray *o = MutableArray(a);
  if (!o) return;
  // Make room first, so that a failure leaves no extra reference behind;
  // the room grows by half again, so that a long array is not copied at each
  // append.
  try {
    if (o->values.size() == o->values.capacity())
      o->values.reserve(std::max<size_t>(8, o->values.size() + o->values.size() / 2));
  } catch (const std::exception &) {
    return;
  }
  o->values.push_back(Retained(*o, value));
}

void CFArrayRemoveValueAtIndex(CFMutableArrayRef a, CFIndex idx) {
  __CFArray *o = MutableArray(a);
  if (!o || idx < 0 || size_t(idx) >= o->values.size()) return;
  const void *v = o->values[size_t(idx)];
  o->values.erase(o->values.begin() + idx);
  Release(*o, v);  // last, as the value may own the array's other values
}

void CFArrayRemoveAllValues(CFMutableArrayRef a) {
  __CFArray *o = MutableArray(a);
  if (!o) return;
  std::vector<const void *> old;
  old.swap(o->values);
  for (const void *v : old) Release(*o, v);
}
