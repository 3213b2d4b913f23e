// The static menus an install wrote (Dolphin's service menus, Thunar's
// actions), rewritten when what the plug-ins offer has changed.
#pragma once

#include "host/PlugInHost.h"

#include <cstdio>

namespace tv::host {

// After a successful `run`: when this user's manifest lists static menus and
// what the plug-in offers now differs from them (a toggle changed a
// setting), they are rewritten. Problems are reported on err only.
void RefreshStaticMenus(PlugInHost &host, FILE *err);

}  // namespace tv::host
