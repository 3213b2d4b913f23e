// The contextual-menu plug-in interface: the COM-style table through which a
// file manager calls a menu plug-in, and the identifiers of that plug-in type.
#pragma once

#include "AppleEvents.h"
#include "CoreFoundation.h"
#include "MacTypes.h"

typedef UInt32 ULONG;

// The plug-in type a contextual-menu plug-in's factory serves.
#define kContextualMenuTypeID                                                                    \
  CFUUIDGetConstantUUIDWithBytes(nullptr, 0x2F, 0x65, 0x22, 0xE9, 0x3E, 0x66, 0x11, 0xD5, 0x80, \
                                 0xA7, 0x00, 0x30, 0x65, 0xB3, 0x00, 0xBC)
// The interface of such a plug-in.
#define kContextualMenuInterfaceID                                                               \
  CFUUIDGetConstantUUIDWithBytes(nullptr, 0x32, 0x99, 0x7B, 0x62, 0x3E, 0x66, 0x11, 0xD5, 0xBE, \
                                 0xAB, 0x00, 0x30, 0x65, 0xB3, 0x00, 0xBC)
// Every COM object answers for IUnknown.
#define IUnknownUUID                                                                             \
  CFUUIDGetConstantUUIDWithBytes(nullptr, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, \
                                 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)

// Slot 0 is reserved; the instance pointer is a pointer to a pointer to this table.
struct ContextualMenuInterfaceStruct {
  void *_reserved;
  HRESULT (*QueryInterface)(void *thisPointer, REFIID iid, LPVOID *ppv);
  ULONG (*AddRef)(void *thisPointer);
  ULONG (*Release)(void *thisPointer);
  OSStatus (*ExamineContext)(void *thisInstance, const AEDesc *inContext,
                             AEDescList *outCommandPairs);
  OSStatus (*HandleSelection)(void *thisInstance, AEDesc *inContext, SInt32 inCommandID);
  void (*PostMenuCleanup)(void *thisInstance);
};

// The function a bundle's CFPlugInFactories names.
typedef void *(*CFPlugInFactoryFunction)(CFAllocatorRef allocator, CFUUIDRef typeID);
