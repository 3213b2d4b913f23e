// What only the host and the tests call: opening bundles, backing alerts, the
// keyboard and the beep with a front end, registering the process that
// receives update events, the console sink, the progress receiver, and the
// counters and overrides through which tests watch the platform. The plug-in
// never calls these.
#pragma once

#include "Alerts.h"
#include "AppleEvents.h"
#include "CoreFoundation.h"
#include "Events.h"
#include "Processes.h"
#include "Progress.h"

// ---- Bundles ------------------------------------------------------------------
// Opens the bundle folder at path: reads Contents/Info.plist (CFBundleIdentifier,
// CFBundleExecutable, CFPlugInFactories, CFPlugInTypes) and makes the bundle
// findable by CFBundleGetBundleWithIdentifier until its last release. NULL with
// *outError set (fnfErr: no Info.plist; paramErr: it does not parse or lacks
// CFBundleIdentifier). The caller releases the bundle.
CFBundleRef TVBundleCreateWithPath(const char *bundlePath, OSStatus *outError);
// The absolute path of the bundle's shared object
// (Contents/MacOS/<CFBundleExecutable>); a new string, or NULL.
CFStringRef TVBundleCopyExecutablePath(CFBundleRef bundle);
// The factories the bundle registers for typeID, in Info.plist order: up to
// maxCount pairs of factory UUID and factory function name, each a new
// reference the caller releases. Returns how many were written.
CFIndex TVBundleCopyFactoriesForType(CFBundleRef bundle, CFUUIDRef typeID, CFUUIDRef *outFactoryIDs,
                                     CFStringRef *outFunctionNames, CFIndex maxCount);
// The language CFBundleCopyLocalizedString uses for bundle ("en", "ja", ...); borrowed.
CFStringRef TVBundleGetLanguage(CFBundleRef bundle);

// Live plug-in instances registered for a factory (CFPlugInAddInstanceForFactory).
CFIndex TVPlugInGetInstanceCount(CFUUIDRef factoryID);

// ---- Alerts, beep, keyboard --------------------------------------------------------
struct TVAlertRequest {
  AlertType type;
  const char *message;      // UTF-8
  const char *explanation;  // UTF-8, or NULL
  const char *buttons[3];   // UTF-8 titles of buttons 1..3; NULL where absent
  SInt16 defaultButton;     // 1, or 0 when there is none
  SInt16 cancelButton;      // 2, or 0 when there is none
};
// Shows the alert and returns the button pressed (1..3), or a negative OSStatus.
typedef SInt32 (*TVAlertPresenter)(const TVAlertRequest *request, void *refcon);
void TVSetAlertPresenter(TVAlertPresenter presenter, void *refcon);
typedef void (*TVBeepHandler)(short duration, void *refcon);
void TVSetBeepHandler(TVBeepHandler handler, void *refcon);
// Fills the key map for GetKeys (all keys up when none is installed).
typedef void (*TVKeyboardPoller)(KeyMap keys, void *refcon);
void TVSetKeyboardPoller(TVKeyboardPoller poller, void *refcon);
// Replaces the tick clock (tests); NULL restores CLOCK_MONOTONIC.
typedef UInt32 (*TVTickSource)(void *refcon);
void TVSetTickSource(TVTickSource source, void *refcon);
// Overrides Gestalt('sysv'); a negative value restores the default.
void TVSetSystemVersion(SInt32 version);
// Makes Gestalt('sysv') fail (tests).
void TVSetGestaltFails(Boolean fails);

// ---- Processes and Apple events ---------------------------------------------------
// Called by AESend for each event sent to the process, on the sender's thread,
// before AESend returns; it must do O(1) work and never call back into the
// sender. The event is borrowed for the call.
typedef void (*TVAppleEventHandler)(const AppleEvent *event, void *refcon);
OSErr TVRegisterProcess(OSType type, OSType creator, const char *name,
                        TVAppleEventHandler handler, void *refcon, ProcessSerialNumber *outPSN);
OSErr TVUnregisterProcess(const ProcessSerialNumber *psn);
// Makes the next AESend calls fail: after `after` more successful sends, every
// send fails with err until reset with err 0 (tests).
void TVSetAESendFailure(UInt32 after, OSErr err);

// ---- Progress ------------------------------------------------------------------------
// Receives the plug-in's TVProgressBegin and TVProgressItemDone (Progress.h) on
// the plug-in's thread; itemDone is called for every item, so it must be cheap.
// NULL for both removes the receiver.
typedef void (*TVProgressBeginHandler)(SInt64 itemCount, void *refcon);
typedef void (*TVProgressItemHandler)(const FSRef *item, void *refcon);
void TVSetProgressReceiver(TVProgressBeginHandler begin, TVProgressItemHandler itemDone, void *refcon);
// Called on the plug-in's thread each time the fork stores empty a fork (a
// data fork cut to 0, a resource fork emptied in every store), after the
// change succeeded, with the bytes it freed in the files and attributes it
// changed (0 where nothing was freed, as for a sidecar that other names
// keep). Between two itemDone calls it tells whether that item's fork was
// emptied. Must be cheap. NULL removes the receiver.
typedef void (*TVForkEmptiedHandler)(UInt64 bytesFreed, void *refcon);
void TVSetForkEmptiedReceiver(TVForkEmptiedHandler handler, void *refcon);

// ---- Termination ---------------------------------------------------------------------
// Removes the temporary files of the metadata rewrites in flight. Makes only
// async-signal-safe calls: the host's handler of a signal that ends the
// process calls it right before _exit, so that no temporary is left behind.
void TVRemoveTemporariesInFlight();

// ---- Console -------------------------------------------------------------------------
// Where TVConsolePrintf's lines go (Console.h); NULL restores standard error.
typedef void (*TVConsoleSink)(const char *text, void *refcon);
void TVSetConsoleSink(TVConsoleSink sink, void *refcon);

// ---- Counters and failure injection for tests ----------------------------------------
CFIndex TVCFGetLiveObjectCount();        // CF objects created and not yet freed
CFIndex TVAEGetLiveDescriptorCount();    // descriptor data not yet disposed of
CFIndex TVGetLiveHandleCount();          // handles not yet disposed of
CFIndex TVGetLiveAlertCount();           // alerts created and not yet run
// The Nth CF object creation from now (1 = the next) fails and returns NULL;
// 0 turns this off.
void TVCFFailNthAllocation(CFIndex n);
// Likewise for NewHandle.
void TVFailNthHandleAllocation(CFIndex n);
// Likewise for descriptor data: the call that needs the Nth new descriptor
// storage (AECreateDesc, AECreateList, AEPutDesc's copy, each item of a deep
// copy, ...) fails with memFullErr and leaves everything as it was.
void TVAEFailNthAllocation(CFIndex n);
