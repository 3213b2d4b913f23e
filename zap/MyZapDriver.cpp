#include "zap/MyZapDriver.h"

#include "zap/MyConfirm.h"
#include "zap/MyFileCount.h"
#include "zap/MyZapTraversal.h"

// Two seconds of counting before the user is asked.
static constexpr UInt32 kCountLimitTicks = 120;

OSStatus DoZapFork(MyFSDirIter iter, Boolean isDataFork, Boolean recursive, Boolean keepModificationDate) {
  if (iter == nullptr) return paramErr;
  // An item named twice, or inside a folder that a recursive walk enters,
  // would be counted and zapped twice.
  OSStatus err = MyFSDirIterDropRepeats(iter, recursive);
  if (err != noErr) return err;
  MyFileCountInfo count = {};
  err = CountFilesWithContextIter(iter, recursive, kCountLimitTicks, &count);
  if (err != noErr) return err;

  Boolean answer = false;
  err = ConfirmZapFork(&count, isDataFork, recursive, &answer);
  if (err != noErr || !answer) return err;  // a cancelled confirmation is not an error
  if (recursive) {
    answer = false;
    err = ConfirmZapRsrcForkInVolumeOrHomeDir(&count, &answer);
    if (err != noErr || !answer) return err;
  }
  // The count walked the iterator to its end; the zap walks the whole
  // selection again, whatever the count saw.
  MyFSDirIterReset(iter);
  TVProgressBegin(count.timeOver ? SInt64(kTVProgressUnknown) : SInt64(count.fileCount));
  return ZapForkWithIter(iter, isDataFork, recursive, keepModificationDate);
}
