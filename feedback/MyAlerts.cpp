#include "feedback/MyAlerts.h"

#include "support/MyBundle.h"
#include "support/MyCFAutoreleasePool.h"
#include "support/MyLog.h"
#include "support/MyStatus.h"

OSStatus MyStandardAlert(AlertType alertType, CFStringRef message, CFStringRef explanation,
                         CFStringRef defaultText, CFStringRef cancelText, CFStringRef otherText,
                         SInt16 *outItemHit) {
  if (message == nullptr) return paramErr;
  AlertStdCFStringAlertParamRec param;
  OSStatus err = GetStandardAlertDefaultParams(&param, kStdCFStringAlertVersionOne);
  if (err != noErr) return err;
  param.movable = true;
  if (defaultText != nullptr) param.defaultText = defaultText;
  param.cancelText = cancelText;
  param.otherText = otherText;
  if (cancelText != nullptr) param.cancelButton = kAlertStdAlertCancelButton;

  DialogRef alert = nullptr;
  err = CreateStandardAlert(alertType, message, explanation, &param, &alert);
  if (err != noErr) return err;
  DialogItemIndex itemHit = 0;
  err = RunStandardAlert(alert, nullptr, &itemHit);  // disposes of the alert
  if (err != noErr) return err;
  if (outItemHit != nullptr) *outItemHit = itemHit;
  return noErr;
}

void MyAlertErrorKeys(OSStatus err, CFStringRef *outFormatKey, CFStringRef *outExplanationKey) {
  switch (err) {
    case afpAccessDenied:
      *outFormatKey = CFSTR("Insufficient access privileges for operation: %@");
      *outExplanationKey = CFSTR("Change access privileges using Finder Get Info.");
      break;
    case wPrErr:
      *outFormatKey = CFSTR("diskette is write protected: %@");
      *outExplanationKey = CFSTR("Check write protect of disk.");
      break;
    case fLckdErr:
      *outFormatKey = CFSTR("file is locked: %@");
      *outExplanationKey = CFSTR("Change lock status using Finder Get Info.");
      break;
    case dupFNErr:
      *outFormatKey = CFSTR("duplicate file name: %@");
      *outExplanationKey = CFSTR("Rename file name.");
      break;
    case permErr:
      *outFormatKey = CFSTR("permissions error: %@");
      *outExplanationKey = CFSTR("Check the file/folder permission and lock status.");
      break;
    case wrPermErr:
      *outFormatKey = CFSTR("write permissions error: %@");
      *outExplanationKey = CFSTR("The file may be on the read-only media.");
      break;
    case userCanceledErr:
      *outFormatKey = CFSTR("canceled by user: %@");
      *outExplanationKey = CFSTR("");
      break;
    default:
      *outFormatKey = CFSTR("unexpected error: %@");
      *outExplanationKey = nullptr;
      break;
  }
}

static CFStringRef Localized(CFBundleRef bundle, CFStringRef key) {
  return MyCFAutoreleaseT(CFBundleCopyLocalizedString(bundle, key, key, nullptr));
}

OSStatus MyAlertError(OSStatus err, const FSRef *ref, MyAlertErrorCustomizer customizer) {
  if (err == noErr || err == noBeepErr) return noErr;
  CFBundleRef bundle = GetMyBundle(kMyBundleIdentifier);
  if (bundle == nullptr) return nilPointerErr;

  CFStringRef path = nullptr;
  if (ref != nullptr) path = MyCFAutoreleaseT(CopyPathForRef(ref));
  if (path == nullptr) path = CFSTR("");

  CFStringRef format = nullptr;
  CFStringRef explanation = nullptr;
  bool customized = false;
  if (customizer != nullptr) {
    CFStringRef customFormat = nullptr;
    CFStringRef customExplanation = nullptr;
    if (customizer(err, ref, &customFormat, &customExplanation) == noErr) {
      format = MyCFAutoreleaseT(customFormat);
      explanation = MyCFAutoreleaseT(customExplanation);
      customized = true;
    }
  }
  if (!customized) {
    CFStringRef formatKey = nullptr;
    CFStringRef explanationKey = nullptr;
    MyAlertErrorKeys(err, &formatKey, &explanationKey);
    format = Localized(bundle, formatKey);
    if (explanationKey != nullptr) {
      explanation = Localized(bundle, explanationKey);
    } else {
      // Never translated: the number is for whoever reads the report.
      explanation = MyCFAutoreleaseT(
          CFStringCreateWithFormat(kCFAllocatorDefault, nullptr, CFSTR("error code = %d"), int(err)));
    }
    if (format == nullptr || explanation == nullptr) return nilPointerErr;
  }
  // A customizer that answered noErr must have stored both texts; one that did
  // not is treated as a missing text rather than shown half-empty.
  if (format == nullptr) return nilPointerErr;

  CFStringRef message =
      MyCFAutoreleaseT(CFStringCreateWithFormat(kCFAllocatorDefault, nullptr, format, path));
  if (message == nullptr) return nilPointerErr;

  OSStatus alertErr =
      MyStandardAlert(kAlertStopAlert, message, explanation, nullptr, nullptr, nullptr, nullptr);
  return alertErr != noErr ? alertErr : noBeepErr;
}
