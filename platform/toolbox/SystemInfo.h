// The decisions behind the clock, Gestalt and the script codes, as pure
// functions that the tests call directly. Internal to the platform.
#pragma once

#include "platform/MacTypes.h"

#include <cstdint>

namespace tv::toolbox {

// The system version Gestalt('sysv') answers by default: 10.4.9.
constexpr SInt32 kDefaultSystemVersion = 0x1049;

// Ticks (1/60 s) since the clock's epoch, wrapping at 2^32 as TickCount does.
UInt32 TicksFromClock(int64_t seconds, int64_t nanoseconds, uint32_t ticksPerSecond = 60);
// 60, or $TARROVEL_TICKS_PER_SECOND (read once) for tests and benchmarks.
uint32_t TicksPerSecond();

// Reads a system version written as hexadecimal with a 0x prefix ("0x1028")
// or as decimal ("4136"). False for anything else: empty text, signs, spaces,
// trailing characters, or a value that does not fit a non-negative SInt32.
bool ParseSystemVersion(const char *text, SInt32 *outVersion);

// The version Gestalt answers: the override when it is not negative, else the
// environment's text when it parses, else the default.
SInt32 ChooseSystemVersion(SInt32 override, const char *environmentText);

// The script and language of a text encoding; false when it has none here.
bool ScriptInfoForEncoding(TextEncoding encoding, ScriptCode *outScript, LangCode *outLanguage);

}  // namespace tv::toolbox
