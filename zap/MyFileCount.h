// The pre-scan count: what a zap command would touch, counted within a time
// limit before anything changes, with the folders that could not be entered
// and whether the selection holds a volume or the user's home folder.
#pragma once

#include "platform/Carbon.h"
#include "selection/MyFSDirIter.h"

struct MyFileCountInfo {
  SInt32 fileCount;
  SInt32 folderCount;
  SInt32 deniedFolderCount;
  Boolean containsVolume;
  Boolean containsHomeDir;
  Boolean timeOver;
};

struct MyFileCountParam {
  MyFileCountInfo countInfo;
  UInt32 startTicks;
  UInt32 limitTicks;
};

// iter stands before its first entry; on return it stands at its end.
OSStatus CountFilesWithContextIter(MyFSDirIter iter, Boolean recursive, UInt32 limitTicks, MyFileCountInfo *outInfo);
OSStatus CountFilesWithIter(MyFSDirIter iter, Boolean recursive, MyFileCountParam *param);
// The user's home folder, looked up once and kept; NULL when it cannot be found.
const FSRef *GetHomeDirectory();
// Forgets the cached home folder so that the next lookup asks again (tests only;
// the storage stays allocated and is reused).
void MyFileCountForgetHomeDirectory();
