// Descriptors, lists and records of the Apple Event Manager.
//
// Results: every call that makes a descriptor writes a new, independent owner
// through its result argument on success. On failure the result is set to an
// empty descriptor (typeNull, no data), unless it is the very descriptor the
// call reads from, which is then left as it was.
//
// Index rules: items are numbered 1..count. Reading an index outside that
// range is errAEBadListItem; AEPutDesc/AEPutPtr take 0 to append and 1..count
// to replace, and anything else is errAEIllegalIndex.
//
// Lists, records and events have no flattened byte form here: their data size
// is 0 and AEGetDescData refuses them with errAEWrongDataType.
#include "platform/AppleEvents.h"
#include "platform/HostServices.h"
#include "platform/ae/AEStorage.h"
#include "platform/sys/PointerSet.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace tv::ae {
namespace {

std::mutex sLock;
sys::PointerSet sLive;  // every storage made and not yet freed
CFIndex sFailCountdown = 0;  // the allocation that brings it to 0 fails

// Storage given back, kept for the next descriptors made: telling the file
// manager of one changed file makes and frees eight. Each keeps the room of
// its bytes and items, up to the limits, so that reusing it allocates
// nothing. Guarded by sLock, and reachable from here until the process ends.
constexpr size_t kSpareCount = 16;
constexpr size_t kSpareBytes = 4096;
constexpr size_t kSpareItems = 16;
Storage *sSpare[kSpareCount];
size_t sSpareUsed = 0;

bool IsRegistered(Storage *s) {
  std::lock_guard<std::mutex> guard(sLock);
  return sLive.contains(s);
}

// Keeps an unregistered, emptied storage for reuse; false when there is no
// room for it or it holds too much room of its own.
bool KeepSpareLocked(Storage *s) {
  if (sSpareUsed == kSpareCount || s->bytes.capacity() > kSpareBytes || s->items.capacity() > kSpareItems)
    return false;
  sSpare[sSpareUsed++] = s;
  return true;
}

// Unregisters and frees a registered storage, first what it holds; false,
// with nothing done, when s is not a live storage. A storage that holds
// nothing else is done with under one lock.
bool FreeStorage(Storage *s) {
  bool leaf = false;
  {
    std::lock_guard<std::mutex> guard(sLock);
    if (!sLive.contains(s)) return false;
    sLive.erase(s);
    leaf = s->items.empty() && s->target.get().dataHandle == nullptr;
    if (leaf && KeepSpareLocked(s)) return true;
  }
  if (!leaf) {
    // No longer registered, so no one else reaches it while its items go.
    s->items.clear();
    s->target.reset(AEDesc{typeNull, nullptr});
    std::lock_guard<std::mutex> guard(sLock);
    if (KeepSpareLocked(s)) return true;
  }
  delete s;
  return true;
}

void SetEmpty(AEDesc *d) { *d = AEDesc{typeNull, nullptr}; }

OSErr CopyStorage(const Storage &from, Storage **out) {
  Storage *made = nullptr;
  OSErr err = NewStorage(from.kind, &made);
  if (err != noErr) return err;
  struct FreeOnFailure {
    Storage *s;
    ~FreeOnFailure() {
      if (s != nullptr) (void)FreeStorage(s);
    }
  } guard{made};
  made->bytes = from.bytes;
  made->items.reserve(from.items.size());
  for (const Item &item : from.items) {
    OwnedDesc copy;
    err = CopyDesc(item.value.get(), copy.out());
    if (err != noErr) return err;
    made->items.push_back(Item{item.keyword, std::move(copy)});
  }
  made->eventClass = from.eventClass;
  made->eventID = from.eventID;
  made->returnID = from.returnID;
  made->transactionID = from.transactionID;
  err = CopyDesc(from.target.get(), made->target.out());
  if (err != noErr) return err;
  guard.s = nullptr;
  *out = made;
  return noErr;
}

// The container of a list operation, or its error.
OSErr ResolveContainer(const AEDesc *desc, Storage **out) {
  Storage *s = nullptr;
  OSErr err = Resolve(desc, &s);
  if (err != noErr) return err;
  if (!IsContainer(s)) return errAEWrongDataType;
  *out = s;
  return noErr;
}

// The record or event of a keyword operation, or its error.
OSErr ResolveKeyed(const AEDesc *desc, Storage **out) {
  Storage *s = nullptr;
  OSErr err = Resolve(desc, &s);
  if (err != noErr) return err;
  if (s == nullptr || (s->kind != Storage::Kind::kRecord && s->kind != Storage::Kind::kEvent))
    return errAEWrongDataType;
  *out = s;
  return noErr;
}

// Puts an already made copy into a container at index (0 appends to a list).
OSErr PutItem(Storage &container, long index, OwnedDesc value) {
  long count = long(container.items.size());
  if (index == 0) {
    // A record's items have keywords, so they come in only by keyword.
    if (container.kind != Storage::Kind::kList) return errAEWrongDataType;
    container.items.push_back(Item{0, std::move(value)});
    return noErr;
  }
  if (index < 1 || index > count) return errAEIllegalIndex;
  container.items[size_t(index - 1)].value = std::move(value);
  return noErr;
}

OSErr PutKeyed(Storage &record, AEKeyword keyword, OwnedDesc value) {
  for (Item &item : record.items) {
    if (item.keyword == keyword) {
      item.value = std::move(value);
      return noErr;
    }
  }
  record.items.push_back(Item{keyword, std::move(value)});
  return noErr;
}

OSErr CheckBytesArgs(const void *dataPtr, Size dataSize) {
  if (dataSize < 0 || (dataPtr == nullptr && dataSize > 0)) return paramErr;
  return noErr;
}

}  // namespace

void OwnedDesc::reset(AEDesc desc) {
  AEDesc old = std::exchange(desc_, desc);
  if (old.dataHandle != nullptr) AEDisposeDesc(&old);
}

Storage::Kind KindForType(DescType type) {
  switch (type) {
    case typeAEList: return Storage::Kind::kList;
    case typeAERecord: return Storage::Kind::kRecord;
    case typeAppleEvent: return Storage::Kind::kEvent;
    default: return Storage::Kind::kBytes;
  }
}

bool IsContainer(const Storage *s) { return s != nullptr && s->kind != Storage::Kind::kBytes; }

OSErr Finish(OSErr status, OwnedDesc &made, AEDesc *result, const AEDesc *input) {
  if (status == noErr) *result = made.release();
  else if (result != input) SetEmpty(result);
  return status;
}

OSErr NewStorage(Storage::Kind kind, Storage **out) {
  std::lock_guard<std::mutex> guard(sLock);
  if (sFailCountdown > 0 && --sFailCountdown == 0) return memFullErr;
  Storage *s = nullptr;
  if (sSpareUsed > 0) {
    s = sSpare[--sSpareUsed];
    s->Renew(kind);
  } else {
    s = new (std::nothrow) Storage(kind);
    if (s == nullptr) return memFullErr;
  }
  try {
    sLive.insert(s);
  } catch (const std::bad_alloc &) {
    if (!KeepSpareLocked(s)) delete s;
    return memFullErr;
  }
  *out = s;
  return noErr;
}

OSErr Resolve(const AEDesc *desc, Storage **out) {
  if (desc == nullptr) return paramErr;
  auto *s = reinterpret_cast<Storage *>(desc->dataHandle);
  if (s == nullptr) {
    if (desc->descriptorType != typeNull) return errAENotAEDesc;
    *out = nullptr;
    return noErr;
  }
  if (desc->descriptorType == typeNull || !IsRegistered(s) || s->kind != KindForType(desc->descriptorType))
    return errAENotAEDesc;
  *out = s;
  return noErr;
}

OSErr MakeBytesDesc(DescType type, const void *data, size_t size, AEDesc *out) {
  Storage *s = nullptr;
  OSErr err = NewStorage(Storage::Kind::kBytes, &s);
  if (err != noErr) return err;
  AEDesc made{type, reinterpret_cast<AEDataStorage>(s)};
  try {
    const auto *bytes = static_cast<const UInt8 *>(data);
    s->bytes.assign(bytes, bytes + size);
  } catch (const std::bad_alloc &) {
    (void)FreeStorage(s);
    return memFullErr;
  }
  *out = made;
  return noErr;
}

OSErr CopyDesc(const AEDesc &from, AEDesc *out) {
  auto *s = reinterpret_cast<const Storage *>(from.dataHandle);
  if (s == nullptr) {
    SetEmpty(out);
    return noErr;
  }
  Storage *copy = nullptr;
  OSErr err = Guarded([&] { return CopyStorage(*s, &copy); });
  if (err != noErr) return err;
  *out = AEDesc{from.descriptorType, reinterpret_cast<AEDataStorage>(copy)};
  return noErr;
}

OSErr Coerce(const AEDesc &from, DescType toType, AEDesc *out) {
  if (toType == from.descriptorType || toType == typeWildCard) return CopyDesc(from, out);
  if (toType != typeAEList) return errAECoercionFail;
  return Guarded([&]() -> OSErr {
    Storage *list = nullptr;
    OSErr err = NewStorage(Storage::Kind::kList, &list);
    if (err != noErr) return err;
    OwnedDesc made(AEDesc{typeAEList, reinterpret_cast<AEDataStorage>(list)});
    if (from.descriptorType != typeNull) {
      OwnedDesc item;
      err = CopyDesc(from, item.out());
      if (err != noErr) return err;
      list->items.push_back(Item{0, std::move(item)});
    }
    *out = made.release();
    return noErr;
  });
}

OSErr ReadCoercedBytes(const AEDesc &value, DescType desiredType, DescType *actualType,
                       void *dataPtr, Size maximumSize, Size *actualSize) {
  OSErr err = CheckBytesArgs(dataPtr, maximumSize);
  if (err != noErr) return err;
  OwnedDesc coerced;
  err = Coerce(value, desiredType, coerced.out());
  if (err != noErr) return err;
  auto *s = reinterpret_cast<const Storage *>(coerced.get().dataHandle);
  if (IsContainer(s)) return errAEWrongDataType;
  Size size = s != nullptr ? Size(s->bytes.size()) : 0;
  if (size > 0 && maximumSize > 0) std::memcpy(dataPtr, s->bytes.data(), size_t(std::min(size, maximumSize)));
  if (actualType != nullptr) *actualType = coerced.get().descriptorType;
  if (actualSize != nullptr) *actualSize = size;
  return noErr;
}

}  // namespace tv::ae

using tv::ae::Finish;
using tv::ae::OwnedDesc;
using tv::ae::Storage;

OSErr AECreateDesc(DescType typeCode, const void *dataPtr, Size dataSize, AEDesc *result) {
  if (result == nullptr) return paramErr;
  OSErr err = tv::ae::CheckBytesArgs(dataPtr, dataSize);
  // typeNull stands for "no data", and containers are made by AECreateList.
  if (err == noErr && ((typeCode == typeNull && dataSize > 0) ||
                       tv::ae::KindForType(typeCode) != Storage::Kind::kBytes))
    err = errAEWrongDataType;
  OwnedDesc made;
  if (err == noErr && typeCode != typeNull) err = tv::ae::MakeBytesDesc(typeCode, dataPtr, size_t(dataSize), made.out());
  return Finish(err, made, result, nullptr);
}

OSErr AEDisposeDesc(AEDesc *theAEDesc) {
  if (theAEDesc == nullptr) return paramErr;
  auto *s = reinterpret_cast<Storage *>(theAEDesc->dataHandle);
  if (s != nullptr && !tv::ae::FreeStorage(s)) return errAENotAEDesc;
  tv::ae::SetEmpty(theAEDesc);
  return noErr;
}

OSErr AEDuplicateDesc(const AEDesc *theAEDesc, AEDesc *result) {
  if (result == nullptr) return paramErr;
  Storage *s = nullptr;
  OSErr err = tv::ae::Resolve(theAEDesc, &s);
  OwnedDesc made;
  if (err == noErr) err = tv::ae::CopyDesc(*theAEDesc, made.out());
  return Finish(err, made, result, theAEDesc);
}

OSErr AECoerceDesc(const AEDesc *theAEDesc, DescType toType, AEDesc *result) {
  if (result == nullptr) return paramErr;
  Storage *s = nullptr;
  OSErr err = tv::ae::Resolve(theAEDesc, &s);
  OwnedDesc made;
  if (err == noErr) err = tv::ae::Coerce(*theAEDesc, toType, made.out());
  return Finish(err, made, result, theAEDesc);
}

Size AEGetDescDataSize(const AEDesc *theAEDesc) {
  Storage *s = nullptr;
  if (tv::ae::Resolve(theAEDesc, &s) != noErr || s == nullptr || tv::ae::IsContainer(s)) return 0;
  return Size(s->bytes.size());
}

OSErr AEGetDescData(const AEDesc *theAEDesc, void *dataPtr, Size maximumSize) {
  Storage *s = nullptr;
  OSErr err = tv::ae::Resolve(theAEDesc, &s);
  if (err != noErr) return err;
  err = tv::ae::CheckBytesArgs(dataPtr, maximumSize);
  if (err != noErr) return err;
  if (tv::ae::IsContainer(s)) return errAEWrongDataType;
  Size size = s != nullptr ? Size(s->bytes.size()) : 0;
  if (size > 0 && maximumSize > 0) std::memcpy(dataPtr, s->bytes.data(), size_t(std::min(size, maximumSize)));
  return noErr;
}

// Factoring is not supported: factoredSize must be 0.
OSErr AECreateList(const void *factoringPtr, Size factoredSize, Boolean isRecord, AEDescList *resultList) {
  if (resultList == nullptr) return paramErr;
  OSErr err = factoredSize == 0 ? noErr : paramErr;
  Storage *s = nullptr;
  if (err == noErr) err = tv::ae::NewStorage(isRecord ? Storage::Kind::kRecord : Storage::Kind::kList, &s);
  OwnedDesc made;
  if (err == noErr) made.reset(AEDesc{isRecord ? typeAERecord : typeAEList, reinterpret_cast<AEDataStorage>(s)});
  return Finish(err, made, resultList, nullptr);
}

// Lists, records and events (their parameters) have items.
OSErr AECountItems(const AEDescList *theAEDescList, long *theCount) {
  if (theCount == nullptr) return paramErr;
  Storage *s = nullptr;
  OSErr err = tv::ae::ResolveContainer(theAEDescList, &s);
  if (err != noErr) return err;
  *theCount = long(s->items.size());
  return noErr;
}

OSErr AEGetNthDesc(const AEDescList *theAEDescList, long index, DescType desiredType,
                   AEKeyword *theAEKeyword, AEDesc *result) {
  if (result == nullptr) return paramErr;
  Storage *s = nullptr;
  OSErr err = tv::ae::ResolveContainer(theAEDescList, &s);
  if (err == noErr && (index < 1 || index > long(s->items.size()))) err = errAEBadListItem;
  OwnedDesc made;
  if (err == noErr) err = tv::ae::Coerce(s->items[size_t(index - 1)].value.get(), desiredType, made.out());
  if (err == noErr && theAEKeyword != nullptr) *theAEKeyword = s->items[size_t(index - 1)].keyword;
  return Finish(err, made, result, theAEDescList);
}

namespace {

// Hands put an owned copy of value. The copy is made first: a container may be
// put into itself, and a failed copy leaves the container as it was.
template <class Put> OSErr PutCopyOf(const AEDesc *value, Put put) {
  Storage *ignored = nullptr;
  OSErr err = tv::ae::Resolve(value, &ignored);
  OwnedDesc copy;
  if (err == noErr) err = tv::ae::CopyDesc(*value, copy.out());
  if (err == noErr) err = tv::ae::Guarded([&] { return put(std::move(copy)); });
  return err;
}

// Hands put a new byte descriptor.
template <class Put> OSErr PutNewBytes(DescType typeCode, const void *dataPtr, Size dataSize, Put put) {
  OwnedDesc value;
  OSErr err = AECreateDesc(typeCode, dataPtr, dataSize, value.out());
  if (err == noErr) err = tv::ae::Guarded([&] { return put(std::move(value)); });
  return err;
}

}  // namespace

OSErr AEPutDesc(AEDescList *theAEDescList, long index, const AEDesc *theAEDesc) {
  Storage *list = nullptr;
  OSErr err = tv::ae::ResolveContainer(theAEDescList, &list);
  if (err != noErr) return err;
  return PutCopyOf(theAEDesc, [&](OwnedDesc v) { return tv::ae::PutItem(*list, index, std::move(v)); });
}

OSErr AEPutPtr(AEDescList *theAEDescList, long index, DescType typeCode, const void *dataPtr, Size dataSize) {
  Storage *list = nullptr;
  OSErr err = tv::ae::ResolveContainer(theAEDescList, &list);
  if (err != noErr) return err;
  return PutNewBytes(typeCode, dataPtr, dataSize,
                     [&](OwnedDesc v) { return tv::ae::PutItem(*list, index, std::move(v)); });
}

OSErr AEPutParamDesc(AppleEvent *theAppleEvent, AEKeyword theAEKeyword, const AEDesc *theAEDesc) {
  Storage *record = nullptr;
  OSErr err = tv::ae::ResolveKeyed(theAppleEvent, &record);
  if (err != noErr) return err;
  return PutCopyOf(theAEDesc, [&](OwnedDesc v) { return tv::ae::PutKeyed(*record, theAEKeyword, std::move(v)); });
}

OSErr AEPutParamPtr(AppleEvent *theAppleEvent, AEKeyword theAEKeyword, DescType typeCode, const void *dataPtr,
                    Size dataSize) {
  Storage *record = nullptr;
  OSErr err = tv::ae::ResolveKeyed(theAppleEvent, &record);
  if (err != noErr) return err;
  return PutNewBytes(typeCode, dataPtr, dataSize,
                     [&](OwnedDesc v) { return tv::ae::PutKeyed(*record, theAEKeyword, std::move(v)); });
}

namespace {

// The parameter stored under keyword, borrowed from the record or event.
OSErr FindParam(const AppleEvent *record, AEKeyword keyword, const AEDesc **out) {
  Storage *s = nullptr;
  OSErr err = tv::ae::ResolveKeyed(record, &s);
  if (err != noErr) return err;
  for (const tv::ae::Item &item : s->items) {
    if (item.keyword == keyword) {
      *out = &item.value.get();
      return noErr;
    }
  }
  return errAEDescNotFound;
}

}  // namespace

OSErr AEGetParamDesc(const AppleEvent *theAppleEvent, AEKeyword theAEKeyword, DescType desiredType,
                     AEDesc *result) {
  if (result == nullptr) return paramErr;
  const AEDesc *param = nullptr;
  OSErr err = FindParam(theAppleEvent, theAEKeyword, &param);
  OwnedDesc made;
  if (err == noErr) err = tv::ae::Coerce(*param, desiredType, made.out());
  return Finish(err, made, result, theAppleEvent);
}

OSErr AEGetParamPtr(const AppleEvent *theAppleEvent, AEKeyword theAEKeyword, DescType desiredType,
                    DescType *actualType, void *dataPtr, Size maximumSize, Size *actualSize) {
  const AEDesc *param = nullptr;
  OSErr err = FindParam(theAppleEvent, theAEKeyword, &param);
  if (err != noErr) return err;
  return tv::ae::ReadCoercedBytes(*param, desiredType, actualType, dataPtr, maximumSize, actualSize);
}

CFIndex TVAEGetLiveDescriptorCount() {
  std::lock_guard<std::mutex> guard(tv::ae::sLock);
  return CFIndex(tv::ae::sLive.size());
}

void TVAEFailNthAllocation(CFIndex n) {
  std::lock_guard<std::mutex> guard(tv::ae::sLock);
  tv::ae::sFailCountdown = n > 0 ? n : 0;
}
