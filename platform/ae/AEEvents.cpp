// Apple events: creation, attributes, and delivery to a registered process.
//
// AESend hands the event, borrowed, to the receiving process's handler on the
// sender's thread and returns when the handler does; the handler does O(1)
// work, so the sender does not wait on the receiver, and nothing is queued or
// kept, so memory does not grow with the number of events sent.
//
// Only kAENoReply is supported: no receiver here can answer.
//
// Address errors: an event without a target is errAENotAEDesc; a target of
// another type than typeProcessSerialNumber is paramErr; a serial number that
// is not 8 bytes long or names no registered process is procNotFound.
#include "platform/AppleEvents.h"
#include "platform/HostServices.h"
#include "platform/Processes.h"
#include "platform/ae/AEStorage.h"
#include "platform/ae/ProcessRegistry.h"

#include <atomic>
#include <cstring>
#include <mutex>

using tv::ae::OwnedDesc;
using tv::ae::Storage;

namespace {

std::atomic<int> sLastReturnID{0};

std::mutex sFailureLock;
UInt32 sSendsBeforeFailure = 0;
OSErr sSendFailure = noErr;

// A fresh return ID: never 0 and never kAutoGenerateReturnID.
AEReturnID NextReturnID() {
  for (;;) {
    AEReturnID id = AEReturnID(sLastReturnID.fetch_add(1) + 1);
    if (id != 0 && id != kAutoGenerateReturnID) return id;
  }
}

OSErr ResolveEvent(const AppleEvent *event, Storage **out) {
  Storage *s = nullptr;
  OSErr err = tv::ae::Resolve(event, &s);
  if (err != noErr) return err;
  if (s == nullptr || s->kind != Storage::Kind::kEvent) return errAENotAppleEvent;
  *out = s;
  return noErr;
}

// The attribute's value as a new descriptor.
OSErr MakeAttribute(const Storage &event, AEKeyword keyword, AEDesc *out) {
  switch (keyword) {
    case keyEventClassAttr:
      return tv::ae::MakeBytesDesc(typeType, &event.eventClass, sizeof event.eventClass, out);
    case keyEventIDAttr:
      return tv::ae::MakeBytesDesc(typeType, &event.eventID, sizeof event.eventID, out);
    case keyReturnIDAttr:
      return tv::ae::MakeBytesDesc(typeSInt16, &event.returnID, sizeof event.returnID, out);
    case keyTransactionIDAttr:
      return tv::ae::MakeBytesDesc(typeSInt32, &event.transactionID, sizeof event.transactionID, out);
    case keyAddressAttr:
      if (event.target.get().descriptorType == typeNull) return errAEDescNotFound;
      return tv::ae::CopyDesc(event.target.get(), out);
    default:
      return errAEDescNotFound;
  }
}

// The injected failure for this send, or noErr when it goes ahead (and counts).
OSErr TakeSendFailure() {
  std::lock_guard<std::mutex> guard(sFailureLock);
  if (sSendFailure == noErr) return noErr;
  if (sSendsBeforeFailure > 0) {
    --sSendsBeforeFailure;
    return noErr;
  }
  return sSendFailure;
}

// The receiver named by the event's address.
OSErr FindReceiver(const Storage &event, TVAppleEventHandler *handler, void **refcon) {
  const AEDesc &target = event.target.get();
  if (target.descriptorType == typeNull) return errAENotAEDesc;
  if (target.descriptorType != typeProcessSerialNumber) return paramErr;
  // The event owns its address, so its storage is live while the event is.
  const auto *address = reinterpret_cast<const Storage *>(target.dataHandle);
  ProcessSerialNumber psn{};
  if (address == nullptr || address->bytes.size() != sizeof psn) return procNotFound;
  std::memcpy(&psn, address->bytes.data(), sizeof psn);
  if (!tv::ae::FindProcessHandler(psn, handler, refcon)) return procNotFound;
  return noErr;
}

}  // namespace

// target may be NULL: the event then has no address and cannot be sent.
OSErr AECreateAppleEvent(AEEventClass theAEEventClass, AEEventID theAEEventID, const AEAddressDesc *target,
                         AEReturnID returnID, AETransactionID transactionID, AppleEvent *result) {
  if (result == nullptr) return paramErr;
  OwnedDesc made;
  OSErr err = tv::ae::Guarded([&]() -> OSErr {
    Storage *ignored = nullptr;
    if (target != nullptr) {
      OSErr status = tv::ae::Resolve(target, &ignored);
      if (status != noErr) return status;
    }
    Storage *event = nullptr;
    OSErr status = tv::ae::NewStorage(Storage::Kind::kEvent, &event);
    if (status != noErr) return status;
    made.reset(AEDesc{typeAppleEvent, reinterpret_cast<AEDataStorage>(event)});
    event->eventClass = theAEEventClass;
    event->eventID = theAEEventID;
    event->returnID = returnID == kAutoGenerateReturnID ? NextReturnID() : returnID;
    event->transactionID = transactionID;
    if (target != nullptr) status = tv::ae::CopyDesc(*target, event->target.out());
    return status;
  });
  return tv::ae::Finish(err, made, result, target);
}

OSErr AEGetAttributeDesc(const AppleEvent *theAppleEvent, AEKeyword theAEKeyword, DescType desiredType,
                         AEDesc *result) {
  if (result == nullptr) return paramErr;
  Storage *event = nullptr;
  OSErr err = ResolveEvent(theAppleEvent, &event);
  OwnedDesc value;
  if (err == noErr) err = MakeAttribute(*event, theAEKeyword, value.out());
  OwnedDesc made;
  if (err == noErr) err = tv::ae::Coerce(value.get(), desiredType, made.out());
  return tv::ae::Finish(err, made, result, theAppleEvent);
}

OSErr AEGetAttributePtr(const AppleEvent *theAppleEvent, AEKeyword theAEKeyword, DescType desiredType,
                        DescType *typeCode, void *dataPtr, Size maximumSize, Size *actualSize) {
  Storage *event = nullptr;
  OSErr err = ResolveEvent(theAppleEvent, &event);
  OwnedDesc value;
  if (err == noErr) err = MakeAttribute(*event, theAEKeyword, value.out());
  if (err != noErr) return err;
  return tv::ae::ReadCoercedBytes(value.get(), desiredType, typeCode, dataPtr, maximumSize, actualSize);
}

// reply may be NULL; when given it is set to an empty descriptor, as no reply
// ever comes back.
OSErr AESend(const AppleEvent *theAppleEvent, AppleEvent *reply, AESendMode sendMode, AESendPriority sendPriority,
             SInt32 timeOutInTicks, AEIdleUPP idleProc, AEFilterUPP filterProc) {
  if (theAppleEvent == nullptr) return paramErr;
  if (reply != nullptr && reply != theAppleEvent) *reply = AEDesc{typeNull, nullptr};
  if ((sendMode & kAEWaitReply) != kAENoReply) return paramErr;
  Storage *event = nullptr;
  OSErr err = ResolveEvent(theAppleEvent, &event);
  TVAppleEventHandler handler = nullptr;
  void *refcon = nullptr;
  if (err == noErr) err = FindReceiver(*event, &handler, &refcon);
  if (err == noErr && handler == nullptr) err = errAEEventNotHandled;
  if (err == noErr) err = TakeSendFailure();
  if (err == noErr) handler(theAppleEvent, refcon);
  return err;
}

void TVSetAESendFailure(UInt32 after, OSErr err) {
  std::lock_guard<std::mutex> guard(sFailureLock);
  sSendsBeforeFailure = err != noErr ? after : 0;
  sSendFailure = err;
}
