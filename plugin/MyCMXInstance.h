// The plug-in object: the reference-counted instance the host talks to, its
// settings record, and the entry points reached through its interface table.
#pragma once

#include "platform/Carbon.h"
#include "support/MyCMXSettings.h"

// The last entry point that set the phase; read only by the error funnel.
enum MyCMXPhase : SInt32 {
  kPhaseAllocate = 1,
  kPhaseQuery = 2,
  kPhaseExamineContext = 3,
  kPhaseHandleSelection = 4,
  kPhasePostMenuCleanup = 5,
  kPhaseDealloc = 6,
};

// One per successful factory call. The first field makes the instance pointer
// the interface pointer the host calls through.
struct MyCMXInstance {
  const ContextualMenuInterfaceStruct *interfaceTable;
  CFUUIDRef factoryID;  // one reference owned
  UInt32 refCount;
  SInt32 phase;
  UInt32 menuNestCount;
  MyCMXYourData *yourData;  // owned
};

extern "C" __attribute__((visibility("default"))) void *MyCMMFactory(CFAllocatorRef allocator,
                                                                      CFUUIDRef typeID);

HRESULT MyCMXQueryInterface(void *thisInstance, REFIID iid, LPVOID *ppv);
ULONG MyCMXAddRef(void *thisInstance);
ULONG MyCMXRelease(void *thisInstance);
OSStatus MyCMXExamineContext(void *thisInstance, const AEDesc *inContext, AEDescList *outCommandPairs);
OSStatus MyCMXHandleSelection(void *thisInstance, AEDesc *inContext, SInt32 inCommandID);
void MyCMXPostMenuCleanup(void *thisInstance);

// The error funnel: beeps, logs with the phase and, while a command runs,
// shows an alert. Silent for noErr and noBeepErr. instance may be NULL.
void MyCMXHandleError(OSStatus err, MyCMXInstance *instance);
void MyCMXHandleErrorSelf(OSStatus err, SInt32 phase);
void MyCMXPostMenuCleanupSelf(MyCMXYourData *yourData);

// How many times the cleanup worker has run in this process (tests watch the
// outermost-menu rule through it).
UInt32 MyCMXPostMenuCleanupSelfRunCount();
