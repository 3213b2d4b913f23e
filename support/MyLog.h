// The console log: single diagnostic lines, each starting with "Tarrovel", and
// the conversions they need (a reference to its POSIX path, a CFString to a
// UTF-8 C string).
#pragma once

#include "platform/Carbon.h"

// Prints "Tarrovel: <message>\n".
void MyLogMessage(const char *message);
// Prints "Tarrovel: execution fail: ..." naming err and the phase; nothing for
// noErr and noBeepErr.
void MyLogError(OSStatus err, UInt32 phase);
// Prints "Tarrovel: <label>: <path of ref>\n"; nothing for a NULL ref or when
// the path cannot be made. Hands the path to the current autorelease pool.
void MyLogPathForFSRef(CFStringRef label, const FSRef *ref);
// The POSIX path of ref as a new string the caller releases, or NULL.
CFStringRef CopyPathForRef(const FSRef *ref);
// A new NUL-terminated UTF-8 copy of string that the caller frees with free(),
// or NULL.
char *CreateUTF8CString(CFStringRef string);
// The name the log gives a phase value ("Undefined" for unknown ones).
const char *MyLogPhaseName(UInt32 phase);
