// The plug-in's own status codes and identity.
#pragma once

#include "platform/Carbon.h"

// A needed object or text is missing.
constexpr OSStatus nilPointerErr = OSStatus(FOUR_CHAR_CODE("NilP"));
// The error has already been shown to the user; stay silent.
constexpr OSStatus noBeepErr = OSStatus(FOUR_CHAR_CODE("NBep"));
// The pre-scan count ran out of time (only inside the count).
constexpr OSStatus timeOverErr = OSStatus(FOUR_CHAR_CODE("TMOV"));

// The bundle identifier, which is also the application ID of the preferences.
#define kMyBundleIdentifier CFSTR("org.tarrovel.Tarrovel")

// The factory UUID under which Info.plist registers MyCMMFactory:
// 5C3A9E21-7B4D-4F0A-9E62-1D8B7C4A2F90.
#define kMyFactoryID                                                                             \
  CFUUIDGetConstantUUIDWithBytes(nullptr, 0x5C, 0x3A, 0x9E, 0x21, 0x7B, 0x4D, 0x4F, 0x0A, 0x9E, \
                                 0x62, 0x1D, 0x8B, 0x7C, 0x4A, 0x2F, 0x90)
