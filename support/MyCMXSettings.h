// The instance's settings record and the preferences behind it: the plug-in
// object owns and loads it, the menu reads it and its toggles flip it.
#pragma once

#include "platform/Carbon.h"

// The three settings, one byte each (0 false, 1 true).
struct MyCMXYourData {
  Boolean showDataForkMenu;
  Boolean showRsrcForkRecursiveMenu;
  Boolean keepModificationDate;
};

// Settings: a new zero-filled record (NULL when memory is short); disposal
// accepts NULL; loading reloads the three keys from the preferences.
MyCMXYourData *MyCMXCreateYourData();
void MyCMXDisposeYourData(MyCMXYourData *data);
OSStatus MyCMXQueryInterfaceSelf(MyCMXYourData *data);
// Stores value as a CFBoolean under key for the application ID.
void MyPreferencesSetBoolValue(CFStringRef key, Boolean value, CFStringRef applicationID);
// Flips one setting and writes it back; the key names which.
void MyCMXToggleSetting(MyCMXYourData *data, Boolean *field, CFStringRef key);
