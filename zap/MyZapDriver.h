// The zap driver: count, confirm, and zap one command's selection.
#pragma once

#include "platform/Carbon.h"
#include "selection/MyFSDirIter.h"

// iter is positioned before its first entry.
OSStatus DoZapFork(MyFSDirIter iter, Boolean isDataFork, Boolean recursive, Boolean keepModificationDate);
