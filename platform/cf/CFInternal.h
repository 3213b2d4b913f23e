// What the CoreFoundation files share and nothing else sees: the object
// header every CF object starts with, the concrete object records, and the
// helpers that create, register and recognise objects.
//
// Every object is a C++ object derived from TVCFObject, created through
// tv::cf::New (which counts it and honours TVCFFailNthAllocation) and destroyed
// by the CFRelease that drops its last reference. Constant objects (CFSTR
// strings, the two booleans, constant UUIDs) are never counted or destroyed.
#pragma once

#include "platform/CoreFoundation.h"

#include <array>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace tv::cf {

enum TypeID : CFTypeID {
  kStringTypeID = 7,
  kDictionaryTypeID = 18,
  kNumberTypeID = 22,
  kArrayTypeID = 19,
  kDataTypeID = 20,
  kBooleanTypeID = 21,
  kUUIDTypeID = 28,
  kURLTypeID = 29,
  kBundleTypeID = 31,
};

}  // namespace tv::cf

struct TVCFObject {
  constexpr explicit TVCFObject(CFTypeID type) : typeID(type) {}
  virtual ~TVCFObject() = default;
  TVCFObject(const TVCFObject &) = delete;
  TVCFObject &operator=(const TVCFObject &) = delete;

  // Called only with an object of the same type.
  virtual bool Equal(const TVCFObject &other) const { return this == &other; }
  virtual CFHashCode Hash() const { return CFHashCode(reinterpret_cast<uintptr_t>(this)); }
  // What %@ shows for the object.
  virtual std::u16string Describe() const;

  CFTypeID typeID;
  CFIndex retainCount = 1;
  bool constant = false;
};

struct __CFString : TVCFObject {
  __CFString() : TVCFObject(tv::cf::kStringTypeID) {}
  bool Equal(const TVCFObject &other) const override;
  CFHashCode Hash() const override;
  std::u16string Describe() const override { return chars; }

  std::u16string chars;
  bool isMutable = false;
};

struct __CFArray : TVCFObject {
  __CFArray() : TVCFObject(tv::cf::kArrayTypeID) {}
  ~__CFArray() override;
  bool Equal(const TVCFObject &other) const override;
  CFHashCode Hash() const override { return CFHashCode(values.size()); }
  std::u16string Describe() const override;

  std::vector<const void *> values;
  CFArrayCallBacks callBacks{};  // all NULL: values are plain pointers
  bool isMutable = false;
};

// Immutable, string keys, in the order they were read.
struct __CFDictionary : TVCFObject {
  __CFDictionary() : TVCFObject(tv::cf::kDictionaryTypeID) {}
  ~__CFDictionary() override;
  bool Equal(const TVCFObject &other) const override;
  CFHashCode Hash() const override { return CFHashCode(entries.size()); }
  std::u16string Describe() const override;

  std::vector<std::pair<CFStringRef, CFTypeRef>> entries;  // both owned
};

// An integer, as property lists hold them.
struct __CFNumber : TVCFObject {
  __CFNumber() : TVCFObject(tv::cf::kNumberTypeID) {}
  bool Equal(const TVCFObject &other) const override {
    return value == static_cast<const __CFNumber &>(other).value;
  }
  CFHashCode Hash() const override { return CFHashCode(value); }
  std::u16string Describe() const override;

  int64_t value = 0;
};

struct __CFData : TVCFObject {
  __CFData() : TVCFObject(tv::cf::kDataTypeID) {}
  bool Equal(const TVCFObject &other) const override;
  CFHashCode Hash() const override;
  std::u16string Describe() const override;

  std::vector<UInt8> bytes;
  bool isMutable = false;
};

struct __CFBoolean : TVCFObject {
  constexpr explicit __CFBoolean(bool v) : TVCFObject(tv::cf::kBooleanTypeID), value(v) {
    constant = true;
  }
  CFHashCode Hash() const override { return value ? 1 : 0; }
  std::u16string Describe() const override { return value ? u"true" : u"false"; }

  bool value;
};

struct __CFUUID : TVCFObject {
  __CFUUID() : TVCFObject(tv::cf::kUUIDTypeID) {}
  bool Equal(const TVCFObject &other) const override;
  CFHashCode Hash() const override;
  std::u16string Describe() const override;

  std::array<UInt8, 16> bytes{};
};

struct __CFURL : TVCFObject {
  __CFURL() : TVCFObject(tv::cf::kURLTypeID) {}
  bool Equal(const TVCFObject &other) const override;
  CFHashCode Hash() const override;
  std::u16string Describe() const override;

  std::string path;  // absolute, no trailing "/" except for "/" itself; raw bytes
  bool isDirectory = false;
};

namespace tv::cf {

// Turns a CF reference into its object; NULL when cf is NULL.
inline const TVCFObject *Obj(CFTypeRef cf) { return static_cast<const TVCFObject *>(cf); }
inline TVCFObject *MutableObj(CFTypeRef cf) {
  return const_cast<TVCFObject *>(static_cast<const TVCFObject *>(cf));
}

// The object as T when it is one of type id, else NULL.
template <class T> const T *As(CFTypeRef cf, CFTypeID id) {
  const TVCFObject *o = Obj(cf);
  return (o && o->typeID == id) ? static_cast<const T *>(o) : nullptr;
}
template <class T> T *AsMutable(CFTypeRef cf, CFTypeID id) {
  return const_cast<T *>(As<T>(cf, id));
}
inline const __CFString *AsString(CFTypeRef cf) { return As<__CFString>(cf, kStringTypeID); }

// Asks whether the next object creation may go ahead (TVCFFailNthAllocation).
bool AllocationAllowed();
// Counts a freshly created object and makes it recognisable by IsObject.
void Register(TVCFObject *obj);
// Makes a constant object recognisable by IsObject; not counted.
void RegisterConstant(TVCFObject *obj);
// True when p is a live CF object of this process (or a constant).
bool IsObject(const void *p);

// Creates a counted object, or NULL when memory is short or a test made this
// creation fail. The caller owns the one reference.
template <class T, class... A> T *New(A &&...args) {
  if (!AllocationAllowed()) return nullptr;
  T *obj = nullptr;
  try {
    obj = new T(std::forward<A>(args)...);
    Register(obj);
  } catch (const std::exception &) {  // out of memory, or a size beyond any container
    delete obj;
    return nullptr;
  }
  return obj;
}

// A new immutable string holding chars; NULL on failure. Caller releases.
CFStringRef CreateString(std::u16string chars);
// A new immutable string from UTF-8 (invalid sequences become U+FFFD).
CFStringRef CreateStringFromUTF8Lossy(const std::string &utf8);
// The string's characters; empty for NULL or a non-string.
const std::u16string &Chars(CFStringRef s);
// The string as UTF-8 (unpaired surrogates become U+FFFD).
std::string UTF8(CFStringRef s);

// The description %@ shows for any object ("(null)" for NULL).
std::u16string Describe(CFTypeRef cf);

}  // namespace tv::cf
