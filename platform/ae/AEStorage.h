// What lies behind an AEDesc's data handle: one storage object per descriptor,
// owned by exactly that descriptor. Internal to the Apple Event Manager.
//
// A descriptor of type typeNull never has storage; every other valid
// descriptor has exactly one, and its kind follows from the type: typeAEList
// holds a list, typeAERecord a record, typeAppleEvent an event, and any other
// type plain bytes. Every storage object is registered while it lives, so a
// handle that is not ours, or one already disposed of, is recognised and
// refused with errAENotAEDesc instead of being dereferenced.
#pragma once

#include "platform/AppleEvents.h"

#include <new>
#include <utility>
#include <vector>

namespace tv::ae {

// Owns one descriptor and disposes of it when it goes; moves hand it on.
class OwnedDesc {
 public:
  OwnedDesc() = default;
  explicit OwnedDesc(AEDesc desc) : desc_(desc) {}
  OwnedDesc(OwnedDesc &&other) noexcept : desc_(other.release()) {}
  OwnedDesc &operator=(OwnedDesc &&other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  OwnedDesc(const OwnedDesc &) = delete;
  OwnedDesc &operator=(const OwnedDesc &) = delete;
  ~OwnedDesc() { reset(AEDesc{typeNull, nullptr}); }

  const AEDesc &get() const { return desc_; }
  AEDesc *out() { return &desc_; }  // for a call that fills an empty descriptor
  AEDesc release() { return std::exchange(desc_, AEDesc{typeNull, nullptr}); }
  void reset(AEDesc desc);

 private:
  AEDesc desc_{typeNull, nullptr};
};

struct Item {
  AEKeyword keyword;  // 0 in a plain list
  OwnedDesc value;
};

struct Storage {
  enum class Kind { kBytes, kList, kRecord, kEvent };
  explicit Storage(Kind k) : kind(k) {}
  // As new, of kind k, for a storage that holds no items and no address: the
  // room of its bytes and items is kept.
  void Renew(Kind k) {
    kind = k;
    bytes.clear();
    eventClass = 0;
    eventID = 0;
    returnID = 0;
    transactionID = 0;
  }

  Kind kind;
  std::vector<UInt8> bytes;  // kBytes
  std::vector<Item> items;   // list items, or record and event parameters
  // Attributes of an event.
  AEEventClass eventClass = 0;
  AEEventID eventID = 0;
  OwnedDesc target;  // typeNull when the event has no address
  AEReturnID returnID = 0;
  AETransactionID transactionID = 0;
};

// The storage kind a descriptor of this type has.
Storage::Kind KindForType(DescType type);
bool IsContainer(const Storage *s);  // a list, a record or an event

// A new registered storage object; memFullErr when there is no memory or an
// injected failure (TVAEFailNthAllocation) hits this allocation.
OSErr NewStorage(Storage::Kind kind, Storage **out);

// The storage of a valid descriptor (NULL for typeNull); paramErr for a NULL
// pointer, errAENotAEDesc for a handle that is not ours or a type that does not
// match it.
OSErr Resolve(const AEDesc *desc, Storage **out);

// A new descriptor of the given type holding a copy of the bytes.
OSErr MakeBytesDesc(DescType type, const void *data, size_t size, AEDesc *out);

// An independent deep copy of a valid descriptor.
OSErr CopyDesc(const AEDesc &from, AEDesc *out);

// The coercions this platform knows: the same type or typeWildCard gives a
// copy; typeAEList of typeNull gives an empty list, of any other non-list a
// one-item list holding a copy; anything else is errAECoercionFail.
OSErr Coerce(const AEDesc &from, DescType toType, AEDesc *out);

// Copies a byte descriptor's data, coerced to desiredType, into a caller's
// buffer, as AEGetParamPtr and AEGetAttributePtr do. The outputs are written
// only on success; actualSize gets the whole size even when it was cut short.
OSErr ReadCoercedBytes(const AEDesc &value, DescType desiredType, DescType *actualType,
                       void *dataPtr, Size maximumSize, Size *actualSize);

// Stores a finished result, or clears the result after a failure (unless the
// result is the input the call read, which must survive a failed call).
OSErr Finish(OSErr status, OwnedDesc &made, AEDesc *result, const AEDesc *input);

// Runs an entry point's body, turning an exhausted heap into memFullErr.
template <class Body> OSErr Guarded(Body body) {
  try {
    return body();
  } catch (const std::bad_alloc &) {
    return memFullErr;
  }
}

}  // namespace tv::ae
