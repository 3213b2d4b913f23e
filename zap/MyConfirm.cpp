#include "zap/MyConfirm.h"

#include "feedback/MyAlerts.h"
#include "support/MyBundle.h"
#include "support/MyCFAutoreleasePool.h"

void MyConfirmZapForkKeys(const MyFileCountInfo &info, Boolean isDataFork, Boolean recursive,
                          CFStringRef *outMessageKey, CFStringRef *outExplanationKey) {
  if (isDataFork) {
    *outMessageKey = CFSTR("ConfirmZapDataFork");
    *outExplanationKey = CFSTR("ConfirmZapDataExpl");
  } else if (!recursive) {
    *outMessageKey = CFSTR("ConfirmZapRsrcFork");
    *outExplanationKey = CFSTR("ConfirmZapRsrcExpl");
  } else {
    *outMessageKey = info.timeOver ? CFSTR("ConfirmZapRsrcForkRecursivelyOver") : CFSTR("ConfirmZapRsrcForkRecursively");
    *outExplanationKey = CFSTR("ConfirmZapRsrcExplRecursively");
  }
}

Boolean MyConfirmNothingToZap(const MyFileCountInfo &info, Boolean recursive) {
  return info.fileCount == 0 && !info.timeOver && (!recursive || info.folderCount == 0);
}

CFStringRef MyConfirmVolumeOrHomeKey(const MyFileCountInfo &info) {
  if (info.containsVolume && info.containsHomeDir) return CFSTR("ConfirmZapBothVolHome");
  if (info.containsVolume) return CFSTR("ConfirmZapVolume");
  if (info.containsHomeDir) return CFSTR("ConfirmZapHomeDir");
  return nullptr;
}

// Shows one caution alert with "Zap" and "Cancel"; *outAnswer is true when
// "Zap" was pressed.
static OSStatus AskZapOrCancel(CFStringRef message, CFStringRef explanation, Boolean *outAnswer) {
  CFStringRef zap = MyCopyLocalizedAutoreleased(CFSTR("Zap"));
  CFStringRef cancel = MyCopyLocalizedAutoreleased(CFSTR("Cancel"));
  SInt16 itemHit = 0;
  OSStatus err = MyStandardAlert(kAlertCautionAlert, message, explanation, zap, cancel, nullptr, &itemHit);
  if (err != noErr) return err;
  *outAnswer = itemHit == kAlertStdAlertOKButton;
  return noErr;
}

OSStatus ConfirmZapFork(const MyFileCountInfo *info, Boolean isDataFork, Boolean recursive, Boolean *outAnswer) {
  if (info == nullptr || outAnswer == nullptr) return paramErr;
  if (MyConfirmNothingToZap(*info, recursive)) {
    CFStringRef message = MyCopyLocalizedAutoreleased(CFSTR("NothingToZap"));
    if (message == nullptr) return noErr;
    return MyStandardAlert(kAlertNoteAlert, message, nullptr, nullptr, nullptr, nullptr, nullptr);
  }
  CFStringRef messageKey = nullptr, explanationKey = nullptr;
  MyConfirmZapForkKeys(*info, isDataFork, recursive, &messageKey, &explanationKey);
  CFStringRef format = MyCopyLocalizedAutoreleased(messageKey);
  CFStringRef message = format == nullptr ? nullptr
      : MyCFAutoreleaseT(CFStringCreateWithFormat(kCFAllocatorDefault, nullptr, format, int(info->fileCount)));
  CFStringRef explanation = MyCopyLocalizedAutoreleased(explanationKey);
  if (recursive && info->deniedFolderCount > 0 && explanation != nullptr) {
    CFStringRef prefixFormat =
        MyCopyLocalizedAutoreleased(CFSTR("cannot scan inside of %d folder(s), check access privileges.\n\n"));
    CFStringRef prefix = prefixFormat == nullptr ? nullptr
        : MyCFAutoreleaseT(CFStringCreateWithFormat(kCFAllocatorDefault, nullptr, prefixFormat,
                                                    int(info->deniedFolderCount)));
    explanation = prefix == nullptr ? nullptr
        : MyCFAutoreleaseT(CFStringCreateWithFormat(kCFAllocatorDefault, nullptr, CFSTR("%@%@"), prefix, explanation));
  }
  if (message == nullptr || explanation == nullptr) return noErr;  // no text, no alert, no zap
  return AskZapOrCancel(message, explanation, outAnswer);
}

OSStatus ConfirmZapRsrcForkInVolumeOrHomeDir(const MyFileCountInfo *info, Boolean *outAnswer) {
  if (info == nullptr || outAnswer == nullptr) return paramErr;
  CFStringRef key = MyConfirmVolumeOrHomeKey(*info);
  if (key == nullptr) {
    *outAnswer = true;
    return noErr;
  }
  CFStringRef message = MyCopyLocalizedAutoreleased(key);
  if (message == nullptr) return noErr;
  return AskZapOrCancel(message, nullptr, outAnswer);
}
