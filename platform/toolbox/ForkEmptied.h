// How the fork stores tell the host what a zap really did: each fork they
// empty, with the bytes that emptying freed in the files and attributes it
// changed. Forwarded to the host's receiver (HostServices.h), if any.
#pragma once

#include "platform/MacTypes.h"

namespace tv::toolbox {

void NoteForkEmptied(UInt64 bytesFreed);

}  // namespace tv::toolbox
