// The confirmations: nothing is zapped before the user has pressed "Zap".
#pragma once

#include "platform/Carbon.h"
#include "zap/MyFileCount.h"

// The caller sets *outAnswer to false first; it becomes true only when "Zap"
// is pressed. When the count found nothing the command could zap, a note
// says so instead and the answer stays false.
OSStatus ConfirmZapFork(const MyFileCountInfo *info, Boolean isDataFork, Boolean recursive, Boolean *outAnswer);
// Asks again when the selection holds a volume or the home folder; answers
// true without an alert otherwise.
OSStatus ConfirmZapRsrcForkInVolumeOrHomeDir(const MyFileCountInfo *info, Boolean *outAnswer);

// The message and explanation keys of the first alert.
void MyConfirmZapForkKeys(const MyFileCountInfo &info, Boolean isDataFork, Boolean recursive,
                          CFStringRef *outMessageKey, CFStringRef *outExplanationKey);
// Whether the count found nothing to zap: no file, and for a recursive
// command no folder either (a folder's own custom icon is still cleared).
Boolean MyConfirmNothingToZap(const MyFileCountInfo &info, Boolean recursive);
// The key of the second alert, or NULL when there is none.
CFStringRef MyConfirmVolumeOrHomeKey(const MyFileCountInfo &info);
