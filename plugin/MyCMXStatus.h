// The plug-in's identity: its status codes and bundle identifier (shared with
// the folders below, so kept in support/) and the factory it registers.
#pragma once

#include "platform/Carbon.h"
#include "support/MyBundle.h"
#include "support/MyStatus.h"

// The factory UUID under which Info.plist registers MyCMMFactory:
// 5C3A9E21-7B4D-4F0A-9E62-1D8B7C4A2F90.
#define kMyFactoryID                                                                             \
  CFUUIDGetConstantUUIDWithBytes(nullptr, 0x5C, 0x3A, 0x9E, 0x21, 0x7B, 0x4D, 0x4F, 0x0A, 0x9E, \
                                 0x62, 0x1D, 0x8B, 0x7C, 0x4A, 0x2F, 0x90)
