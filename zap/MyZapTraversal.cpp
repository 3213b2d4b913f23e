#include "zap/MyZapTraversal.h"

#include "feedback/MyAlerts.h"
#include "feedback/MyFinderEvents.h"
#include "zap/MyFSFile.h"
#include "zap/MyTimeStamp.h"

static bool KeyDown(const KeyMap keys, unsigned code) { return (keys[code / 8] >> (code % 8)) & 1; }

bool MyKeyMapHoldsCancel(const KeyMap keys) {
  return (KeyDown(keys, kVK_Command) && KeyDown(keys, kVK_ANSI_Period)) || KeyDown(keys, kVK_Escape);
}

OSStatus UserCanceled() {
  KeyMap keys = {};
  GetKeys(keys);
  return MyKeyMapHoldsCancel(keys) ? userCanceledErr : noErr;
}

// The user's cancel, once seen: the beep, the cancel alert, and the status
// that stops the run (noBeepErr once the alert is shown).
static OSStatus AlertCancel(OSStatus canceled) {
  SysBeep(0);
  return MyAlertError(canceled, nullptr, nullptr);
}

OSStatus ZapForkWithIter(MyFSDirIter iter, Boolean isDataFork, Boolean recursive, Boolean keepModificationDate) {
  if (iter == nullptr) return paramErr;
  OSStatus err = UserCanceled();
  if (err != noErr) {
    OSStatus shown = AlertCancel(err);
    if (shown != noErr) return shown;
  }
  CFAbsoluteTime savedModDate = 0;
  // Each file's fork is read in the same look that finds its kind, when the
  // walk reaches it.
  MyFSDirIterWantCatalogInfo(iter, isDataFork ? kZapDataForkInfo : kZapRsrcForkInfo);
  while (const FSRef *ref = MyFSDirIterNext(iter)) {
    if (MyFSDirIterIsContainer(iter)) {
      if (!recursive) continue;
      if ((MyFSDirIterGetUserAccessPerm(iter) & 5) != 5) continue;  // counted and told already
      MyFSDirIter sub = nullptr;
      // A folder that cannot be listed (deleted, moved, swapped for a link
      // since the walk above it began) is named in the alert, as a file is.
      err = MyFSDirIterCreateEntered(ref, &sub);
      if (err != noErr) return MyAlertError(err, ref, nullptr);
      err = ZapForkWithIter(sub, isDataFork, recursive, keepModificationDate);
      MyFSDirIterDispose(sub);
      if (err != noErr) return err;
      // A folder's own custom icon goes after everything inside it.
      if (ClearUseCustomIconBit(ref)) (void)SendAESyncToFinder(ref);
      continue;
    }
    if (!MyFSDirIterIsFile(iter)) continue;  // no forks, not counted either
    // A cancel the front end holds is seen before the next file, not only
    // when the next folder is entered: one folder may hold every file.
    err = UserCanceled();
    if (err != noErr) return AlertCancel(err);
    if (keepModificationDate) {
      err = MyAlertError(GetTimeStampForRef(ref, nullptr, &savedModDate), ref, nullptr);
      if (err != noErr) return err;
    }
    const FSCatalogInfo *info = MyFSDirIterGetCatalogInfo(iter);
    err = isDataFork ? ZapDataForkAtRefWithInfo(ref, info) : ZapRsrcForkAtRefWithInfo(ref, info);
    err = MyAlertError(err, ref, nullptr);
    if (err != noErr) return err;
    if (keepModificationDate) {
      err = MyAlertError(SetTimeStampForRef(ref, nullptr, &savedModDate), ref, nullptr);
      if (err != noErr) return err;
    }
    TVProgressItemDone(ref);  // the unit the count counted: every file, with a fork or not
  }
  return noErr;
}
