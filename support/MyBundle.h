// The plug-in's bundle and its localized texts, which the menu, the alerts and
// the confirmation all read.
#pragma once

#include "platform/Carbon.h"

// The bundle identifier, which is also the application ID of the preferences.
#define kMyBundleIdentifier CFSTR("org.tarrovel.Tarrovel")

// The plug-in's bundle, looked up once found; borrowed, never released.
CFBundleRef GetMyBundle(CFStringRef bundleIdentifier);
// The localized text for key, handed to the current autorelease pool; NULL when
// none can be made.
CFStringRef MyCopyLocalizedAutoreleased(CFStringRef key);
