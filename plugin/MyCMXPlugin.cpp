// The plug-in object and the host's entry points. Each menu entry point
// records its phase, opens an autorelease pool, calls its worker, disposes of
// the pool and hands a non-zero status to the error funnel.
#include "feedback/MyAlerts.h"
#include "menu/MyCMXDispatch.h"
#include "menu/MyCMXMenu.h"
#include "plugin/MyCMXInstance.h"
#include "plugin/MyCMXStatus.h"
#include "support/MyCFAutoreleasePool.h"
#include "support/MyLog.h"

#include <cstdlib>

static const ContextualMenuInterfaceStruct interfaceFtbl = {
    nullptr,
    MyCMXQueryInterface,
    MyCMXAddRef,
    MyCMXRelease,
    MyCMXExamineContext,
    MyCMXHandleSelection,
    MyCMXPostMenuCleanup,
};

static UInt32 sPostMenuCleanupSelfRuns = 0;

extern "C" void *MyCMMFactory(CFAllocatorRef allocator, CFUUIDRef typeID) {
  if (typeID == nullptr || !CFEqual(typeID, kContextualMenuTypeID)) return nullptr;
  auto *instance = static_cast<MyCMXInstance *>(calloc(1, sizeof(MyCMXInstance)));
  if (instance == nullptr) return nullptr;
  instance->phase = kPhaseAllocate;
  instance->interfaceTable = &interfaceFtbl;
  instance->factoryID = static_cast<CFUUIDRef>(CFRetain(kMyFactoryID));
  CFPlugInAddInstanceForFactory(instance->factoryID);
  instance->refCount = 1;
  instance->yourData = MyCMXCreateYourData();
  if (instance->yourData == nullptr) {
    // Every worker reads the settings record: without one there is no instance.
    CFPlugInRemoveInstanceForFactory(instance->factoryID);
    CFRelease(instance->factoryID);
    free(instance);
    return nullptr;
  }
  return instance;
}

HRESULT MyCMXQueryInterface(void *thisInstance, REFIID iid, LPVOID *ppv) {
  if (ppv != nullptr) *ppv = nullptr;
  auto *instance = static_cast<MyCMXInstance *>(thisInstance);
  if (instance == nullptr || ppv == nullptr) return E_NOINTERFACE;
  CFUUIDRef interfaceID = CFUUIDCreateFromUUIDBytes(kCFAllocatorDefault, iid);
  if (interfaceID == nullptr) return E_NOINTERFACE;

  HRESULT result = E_NOINTERFACE;
  if (CFEqual(interfaceID, kContextualMenuInterfaceID) || CFEqual(interfaceID, IUnknownUUID)) {
    instance->phase = kPhaseQuery;
    MyCFAutoreleasePool pool = MyCFAutoreleasePoolCreate();
    if (pool != nullptr) {
      OSStatus err = MyCMXQueryInterfaceSelf(instance->yourData);
      if (err == noErr) {
        instance->refCount += 1;
        *ppv = instance;
        result = S_OK;
      } else {
        MyCMXHandleError(err, instance);
      }
      MyCFAutoreleasePoolDispose(pool);
    }
  }
  CFRelease(interfaceID);
  return result;
}

ULONG MyCMXAddRef(void *thisInstance) {
  auto *instance = static_cast<MyCMXInstance *>(thisInstance);
  if (instance == nullptr) return 0xFFFFFFFFu;
  instance->refCount += 1;
  return instance->refCount;
}

ULONG MyCMXRelease(void *thisInstance) {
  auto *instance = static_cast<MyCMXInstance *>(thisInstance);
  if (instance == nullptr) return 0xFFFFFFFFu;
  instance->refCount -= 1;
  if (instance->refCount != 0) return instance->refCount;

  instance->phase = kPhaseDealloc;
  CFUUIDRef factoryID = instance->factoryID;
  MyCMXDisposeYourData(instance->yourData);
  free(instance);
  if (factoryID != nullptr) {
    CFPlugInRemoveInstanceForFactory(factoryID);
    CFRelease(factoryID);
  }
  return 0;
}

OSStatus MyCMXExamineContext(void *thisInstance, const AEDesc *inContext, AEDescList *outCommandPairs) {
  auto *instance = static_cast<MyCMXInstance *>(thisInstance);
  OSStatus err = paramErr;
  if (instance != nullptr) {
    instance->phase = kPhaseExamineContext;
    instance->menuNestCount += 1;
    MyCFAutoreleasePool pool = MyCFAutoreleasePoolCreate();
    if (pool == nullptr) {
      err = nilPointerErr;
    } else {
      err = MyCMXExamineContextSelf(inContext, outCommandPairs, instance->yourData);
      MyCFAutoreleasePoolDispose(pool);
      if (err == noErr) return noErr;
    }
  }
  MyCMXHandleError(err, instance);
  return err;
}

OSStatus MyCMXHandleSelection(void *thisInstance, AEDesc *inContext, SInt32 inCommandID) {
  auto *instance = static_cast<MyCMXInstance *>(thisInstance);
  OSStatus err = paramErr;
  if (instance != nullptr) {
    instance->phase = kPhaseHandleSelection;
    MyCFAutoreleasePool pool = MyCFAutoreleasePoolCreate();
    if (pool == nullptr) {
      err = nilPointerErr;
    } else {
      err = MyCMXHandleSelectionSelf(inContext, inCommandID, instance->yourData);
      MyCFAutoreleasePoolDispose(pool);
      if (err == noErr) return noErr;
    }
  }
  MyCMXHandleError(err, instance);
  return err;
}

void MyCMXPostMenuCleanup(void *thisInstance) {
  auto *instance = static_cast<MyCMXInstance *>(thisInstance);
  if (instance == nullptr) return;
  instance->phase = kPhasePostMenuCleanup;
  if (instance->menuNestCount != 0) {
    instance->menuNestCount -= 1;
    if (instance->menuNestCount != 0) return;  // an outer menu is still open
  }
  MyCFAutoreleasePool pool = MyCFAutoreleasePoolCreate();
  MyCMXPostMenuCleanupSelf(instance->yourData);
  MyCFAutoreleasePoolDispose(pool);
}

void MyCMXPostMenuCleanupSelf(MyCMXYourData *) { sPostMenuCleanupSelfRuns += 1; }

UInt32 MyCMXPostMenuCleanupSelfRunCount() { return sPostMenuCleanupSelfRuns; }

void MyCMXHandleError(OSStatus err, MyCMXInstance *instance) {
  if (err == noErr || err == noBeepErr) return;
  SysBeep(0);
  if (instance == nullptr) return;
  MyCFAutoreleasePool pool = MyCFAutoreleasePoolCreate();  // carry on without one
  MyLogError(err, UInt32(instance->phase));
  MyCMXHandleErrorSelf(err, instance->phase);
  if (pool != nullptr) MyCFAutoreleasePoolDispose(pool);
}

void MyCMXHandleErrorSelf(OSStatus err, SInt32 phase) {
  if (phase == kPhaseHandleSelection) (void)MyAlertError(err, nullptr, nullptr);
}
