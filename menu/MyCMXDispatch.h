// Command dispatch: the chosen item's command ID turned into work.
#pragma once

#include "platform/Carbon.h"
#include "support/MyCMXSettings.h"

// Runs the zap commands through the zap driver and flips the toggles in memory
// and in the preferences. noErr for IDs it does not know.
OSStatus MyCMXHandleSelectionSelf(AEDesc *inContext, SInt32 inCommandID, MyCMXYourData *yourData);
