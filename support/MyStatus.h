// The plug-in's own status codes, below every folder that returns or reports
// one (the log among them).
#pragma once

#include "platform/Carbon.h"

// A needed object or text is missing.
constexpr OSStatus nilPointerErr = OSStatus(FOUR_CHAR_CODE("NilP"));
// The error has already been shown to the user; stay silent.
constexpr OSStatus noBeepErr = OSStatus(FOUR_CHAR_CODE("NBep"));
// The pre-scan count ran out of time (only inside the count).
constexpr OSStatus timeOverErr = OSStatus(FOUR_CHAR_CODE("TMOV"));
