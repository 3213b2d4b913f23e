#include "feedback/MyAlerts.h"

#include "support/MyBundle.h"
#include "support/MyCFAutoreleasePool.h"
#include "support/MyLog.h"
#include "support/MyStatus.h"

#include <string>

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

namespace {

CFStringRef Text(const char *s) {
  // %s reads a name that is not UTF-8 in the system encoding rather than failing.
  return MyCFAutoreleaseT(CFStringCreateWithFormat(kCFAllocatorDefault, nullptr, CFSTR("%s"), s ? s : ""));
}

// A word for a POSIX shell: single-quoted, with each ' closed, escaped and reopened.
CFStringRef ShellWord(const char *s) {
  std::string quoted = "'";
  for (const char *c = s; *c != 0; ++c) quoted += *c == '\'' ? std::string("'\\''") : std::string(1, *c);
  return Text((quoted + "'").c_str());
}

// The rwx letters of mode, as ls shows them.
std::string ModeLetters(UInt32 mode) {
  std::string letters;
  for (int shift = 6; shift >= 0; shift -= 3) {
    letters += (mode >> shift) & 4 ? 'r' : '-';
    letters += (mode >> shift) & 2 ? 'w' : '-';
    letters += (mode >> shift) & 1 ? 'x' : '-';
  }
  return letters;
}

// The owner's permissions the store lacks for what a change needs: a file is
// read and written, a folder written and searched. "" when it lacks none.
std::string MissingOwnerPermissions(const TVFailureCause &c) {
  const bool folder = c.store == kTVFailureStoreFolder;
  std::string missing;
  if (!folder && !(c.mode & 0400)) missing += 'r';
  if (!(c.mode & 0200)) missing += 'w';
  if (folder && !(c.mode & 0100)) missing += 'x';
  return missing;
}

}  // namespace

CFStringRef MyCopyFailureCauseLine(CFBundleRef bundle, const TVFailureCause *cause) {
  if (bundle == nullptr || cause == nullptr) return nullptr;
  const TVFailureCause &c = *cause;
  const bool known = c.path != nullptr && c.path[0] == '/';
  CFStringRef label = nullptr;
  switch (c.store) {
    case kTVFailureStoreEntry:
      label = CFStringCreateWithFormat(kCFAllocatorDefault, nullptr, Localized(bundle, CFSTR("CauseStoreEntry")),
                                       Text(c.name));
      break;
    case kTVFailureStoreFolder:
      label = CFStringCreateWithFormat(kCFAllocatorDefault, nullptr, Localized(bundle, CFSTR("CauseStoreFolder")),
                                       Text(c.name));
      break;
    case kTVFailureStoreAttribute:
      label = CFStringCreateWithFormat(kCFAllocatorDefault, nullptr, Localized(bundle, CFSTR("CauseStoreAttribute")),
                                       Text(c.attribute), Text(c.name));
      break;
    default:
      label = CFStringCreateWithFormat(kCFAllocatorDefault, nullptr, Localized(bundle, CFSTR("CauseStoreUnknown")));
      break;
  }
  if (MyCFAutoreleaseT(label) == nullptr) return nullptr;
  const std::string sudo = c.userIsRoot ? "" : "sudo ";
  auto format = [&](CFStringRef key, auto... args) {
    CFStringRef f = Localized(bundle, key);
    return f != nullptr ? CFStringCreateWithFormat(kCFAllocatorDefault, nullptr, f, label, args...) : nullptr;
  };
  auto command = [&](const std::string &words, const char *path) {
    return MyCFAutoreleaseT(CFStringCreateWithFormat(kCFAllocatorDefault, nullptr, CFSTR("%s%@"), words.c_str(),
                                                     ShellWord(path)));
  };
  switch (c.reason) {
    case kTVFailureImmutable:
      if (known) return format(CFSTR("CauseImmutable"), command(sudo + "chattr -i ", c.path));
      break;
    case kTVFailureAppendOnly:
      if (known) return format(CFSTR("CauseAppendOnly"), command(sudo + "chattr -a ", c.path));
      break;
    case kTVFailureReadOnlyVolume:
      if (known && c.mountPoint[0] == '/')
        return format(CFSTR("CauseReadOnlyVolume"), Text(c.mountPoint), command(sudo + "mount -o remount,rw ", c.mountPoint));
      break;
    case kTVFailureNoAccess: {
      if (!known || c.userIsRoot || c.owner[0] == 0) break;
      const CFStringRef mode = Text(ModeLetters(c.mode).c_str());
      if (!c.userIsOwner) return format(CFSTR("CauseNoAccessOther"), Text(c.owner), mode, Text(c.user));
      const std::string missing = MissingOwnerPermissions(c);
      if (!missing.empty()) return format(CFSTR("CauseNoAccessOwn"), mode, command("chmod u+" + missing + " ", c.path));
      break;  // the owner's bits allow it: something else refused
    }
    case kTVFailureNoSpace:
      if (known && c.mountPoint[0] == '/') return format(CFSTR("CauseNoSpace"), Text(c.mountPoint));
      break;
    case kTVFailureQuota:
      if (known && c.mountPoint[0] == '/') return format(CFSTR("CauseQuota"), Text(c.mountPoint));
      break;
    case kTVFailureChanged:
      return format(CFSTR("CauseChanged"));
    default:
      break;
  }
  return format(CFSTR("CauseOther"), Text(c.systemText), Text(c.errnoName));
}

OSStatus MyAlertError(OSStatus err, const FSRef *ref, MyAlertErrorCustomizer customizer) {
  if (err == noErr || err == noBeepErr) return noErr;
  CFBundleRef bundle = GetMyBundle(kMyBundleIdentifier);
  if (bundle == nullptr) return nilPointerErr;

  // Taken first: what the cause borrows lasts only until the next failure.
  TVFailureCause failure;
  CFStringRef causeLine = nullptr;
  if (TVGetFailureCause(err, &failure)) causeLine = MyCFAutoreleaseT(MyCopyFailureCauseLine(bundle, &failure));

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
  // The cause is one more line under the explanation, so that every front
  // end shows it with the texts it already shows.
  if (causeLine != nullptr) {
    const bool alone = explanation == nullptr || CFStringGetLength(explanation) == 0;
    CFStringRef joined = alone ? CFStringCreateCopy(kCFAllocatorDefault, causeLine)
                               : CFStringCreateWithFormat(kCFAllocatorDefault, nullptr, CFSTR("%@\n%@"), explanation, causeLine);
    if (joined != nullptr) explanation = MyCFAutoreleaseT(joined);
  }

  OSStatus alertErr =
      MyStandardAlert(kAlertStopAlert, message, explanation, nullptr, nullptr, nullptr, nullptr);
  return alertErr != noErr ? alertErr : noBeepErr;
}
