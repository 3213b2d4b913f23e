// The zap traversal: every plain file of a snapshot zapped, depth first through
// folders when asked, the user able to cancel between files, and the
// run stopped at the first file that fails, with an alert naming it.
#pragma once

#include "platform/Carbon.h"
#include "selection/MyFSDirIter.h"

// userCanceledErr while Escape, or Command and period, is held; else noErr.
OSStatus UserCanceled();
// The key map test behind UserCanceled.
bool MyKeyMapHoldsCancel(const KeyMap keys);
OSStatus ZapForkWithIter(MyFSDirIter iter, Boolean isDataFork, Boolean recursive, Boolean keepModificationDate);
