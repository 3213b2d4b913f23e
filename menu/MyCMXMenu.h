// Menu composition: which commands the plug-in offers for a selection, built
// as the "Tarrovel" submenu of the host's contextual menu.
#pragma once

#include "platform/Carbon.h"
#include "support/MyCMXSettings.h"

enum : SInt32 {
  kCmdZapDataFork = 2000,
  kCmdZapRsrcFork = 2001,
  kCmdZapRsrcForkRecursively = 2002,
  kCmdToggleRsrcForkRecursiveMenu = 2010,
  kCmdToggleDataForkMenu = 2011,
  kCmdToggleKeepModificationDate = 2012,
};

// Appends the submenu to outCommandPairs when anything in the selection
// resolves; noErr also when nothing was added.
OSStatus MyCMXExamineContextSelf(const AEDesc *inContext, AEDescList *outCommandPairs,
                                 MyCMXYourData *yourData);
