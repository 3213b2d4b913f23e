// Standard alerts. The host supplies the presentation (HostServices.h); an
// alert shown with no front end installed fails with paramErr.
#pragma once

#include "CoreFoundation.h"
#include "MacTypes.h"

typedef SInt16 AlertType;
enum : AlertType { kAlertStopAlert = 0, kAlertNoteAlert = 1, kAlertCautionAlert = 2, kAlertPlainAlert = 3 };
typedef SInt16 DialogItemIndex;
enum : SInt16 {
  kAlertStdAlertOKButton = 1,
  kAlertStdAlertCancelButton = 2,
  kAlertStdAlertOtherButton = 3,
  kAlertStdAlertHelpButton = 4,
};
constexpr UInt32 kStdCFStringAlertVersionOne = 1;
// Stand-ins for the system's own button titles.
#define kAlertDefaultOKText ((CFStringRef)(intptr_t)-1)
#define kAlertDefaultCancelText ((CFStringRef)(intptr_t)-1)
#define kAlertDefaultOtherText ((CFStringRef)(intptr_t)-1)
enum : UInt16 { kWindowDefaultPosition = 0, kWindowAlertPositionParentWindowScreen = 0x700A };

struct AlertStdCFStringAlertParamRec {
  UInt32 version;
  Boolean movable;
  Boolean helpButton;
  CFStringRef defaultText;  // NULL: no button; kAlertDefaultOKText: the system's "OK"
  CFStringRef cancelText;
  CFStringRef otherText;
  SInt16 defaultButton;
  SInt16 cancelButton;
  UInt16 position;
  OptionBits flags;
};
typedef AlertStdCFStringAlertParamRec *AlertStdCFStringAlertParamPtr;
typedef struct OpaqueDialogPtr *DialogRef;
typedef Boolean (*ModalFilterUPP)(DialogRef, void *event, DialogItemIndex *itemHit);

// Defaults: movable false, no help button, defaultText kAlertDefaultOKText, no
// cancel or other text, defaultButton kAlertStdAlertOKButton, cancelButton 0,
// position kWindowDefaultPosition, flags 0. paramErr for another version.
OSStatus GetStandardAlertDefaultParams(AlertStdCFStringAlertParamPtr param, UInt32 version);
// The alert keeps its own references to the texts until it has run.
OSStatus CreateStandardAlert(AlertType alertType, CFStringRef error, CFStringRef explanation,
                             const AlertStdCFStringAlertParamRec *param, DialogRef *outAlert);
// Shows the alert modally, returns the button pressed (1 default, 2 cancel,
// 3 other) and disposes of the alert.
OSStatus RunStandardAlert(DialogRef inAlert, ModalFilterUPP filterProc, DialogItemIndex *outItemHit);
