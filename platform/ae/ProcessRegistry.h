// The registry of processes that receive Apple events, as AESend sees it.
// Internal to the Apple Event Manager.
#pragma once

#include "platform/HostServices.h"
#include "platform/Processes.h"

namespace tv::ae {

// The event handler of a registered process (handler may be NULL: the process
// takes no events). False when psn names no registered process.
bool FindProcessHandler(const ProcessSerialNumber &psn, TVAppleEventHandler *outHandler, void **outRefcon);

}  // namespace tv::ae
