#include "zap/MyFileCount.h"

#include "feedback/MyAlerts.h"
#include "support/MyLog.h"
#include "support/MyStatus.h"
#include "zap/MyZapTraversal.h"

#include <cstdlib>

static FSRef *homeDirRef = nullptr;
static FSRef *sForgottenHomeDirRef = nullptr;

// The cached home folder lives as long as the plug-in's code: when the host
// unloads the code, the storage goes with it.
__attribute__((destructor)) static void FreeHomeDirectoryOnUnload() {
  free(homeDirRef);
  free(sForgottenHomeDirRef);
  homeDirRef = sForgottenHomeDirRef = nullptr;
}

void MyFileCountForgetHomeDirectory() {
  if (homeDirRef != nullptr) sForgottenHomeDirRef = homeDirRef;
  homeDirRef = nullptr;
}

const FSRef *GetHomeDirectory() {
  if (homeDirRef != nullptr) return homeDirRef;
  FSRef *room = sForgottenHomeDirRef;
  sForgottenHomeDirRef = nullptr;
  if (room == nullptr) room = static_cast<FSRef *>(malloc(sizeof(FSRef)));
  if (room == nullptr) return nullptr;
  if (FSFindFolder(kUserDomain, kCurrentUserFolderType, kDontCreateFolder, room) != noErr) {
    free(room);  // tried again next time
    return nullptr;
  }
  homeDirRef = room;
  return homeDirRef;
}

OSStatus CountFilesWithContextIter(MyFSDirIter iter, Boolean recursive, UInt32 limitTicks, MyFileCountInfo *outInfo) {
  if (iter == nullptr || outInfo == nullptr) return paramErr;
  MyFileCountParam param = {};
  param.startTicks = TickCount();
  param.limitTicks = limitTicks;
  if (recursive) {
    const FSRef *home = GetHomeDirectory();
    if (home == nullptr) return nilPointerErr;
    // Only the top level is looked at for volumes and the home folder.
    while (const FSRef *ref = MyFSDirIterNext(iter)) {
      if (!MyFSDirIterIsContainer(iter)) continue;
      if (MyFSDirIterIsVolume(iter)) param.countInfo.containsVolume = true;
      if (FSCompareFSRefs(ref, home) == noErr) param.countInfo.containsHomeDir = true;
    }
    MyFSDirIterReset(iter);
  }
  OSStatus err = CountFilesWithIter(iter, recursive, &param);
  if (err == timeOverErr) {
    param.countInfo.timeOver = true;
  } else if (err != noErr) {
    return err;
  }
  *outInfo = param.countInfo;
  return noErr;
}

OSStatus CountFilesWithIter(MyFSDirIter iter, Boolean recursive, MyFileCountParam *param) {
  if (iter == nullptr || param == nullptr) return paramErr;
  OSStatus err = UserCanceled();
  if (err != noErr) return err;
  // Checked on entering each level: one large folder is always counted to its end.
  if (UInt32(TickCount() - param->startTicks) > param->limitTicks) return timeOverErr;
  while (const FSRef *ref = MyFSDirIterNext(iter)) {
    // A cancel asked for while one large folder is counted ends the count
    // there; the time limit is still looked at per level only.
    err = UserCanceled();
    if (err != noErr) return err;
    if (!MyFSDirIterIsContainer(iter)) {
      // Links, FIFOs, sockets and devices have no forks: nothing to zap.
      if (MyFSDirIterIsFile(iter)) param->countInfo.fileCount += 1;
      continue;
    }
    param->countInfo.folderCount += 1;
    if (!recursive) continue;
    if ((MyFSDirIterGetUserAccessPerm(iter) & 5) != 5) {
      param->countInfo.deniedFolderCount += 1;
      MyLogPathForFSRef(CFSTR("Permission denied"), ref);
      continue;
    }
    MyFSDirIter sub = nullptr;
    err = MyFSDirIterCreateEntered(ref, &sub);
    if (err != noErr) return MyAlertError(err, ref, nullptr);  // named, as in the zap
    err = CountFilesWithIter(sub, recursive, param);
    MyFSDirIterDispose(sub);
    if (err != noErr) return err;
  }
  return noErr;
}
