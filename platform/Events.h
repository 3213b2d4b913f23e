// Clock, keyboard, beep, system version and script codes, as the platform
// gives them. The host backs the keyboard and the beep with its front end
// (HostServices.h).
#pragma once

#include "CoreFoundation.h"
#include "MacTypes.h"

// Ticks (1/60 s) of CLOCK_MONOTONIC.
UInt32 TickCount();

// 128 bits: key code k is bit (k mod 8) of byte (k div 8).
typedef UInt8 KeyMap[16];
enum : UInt16 { kVK_ANSI_Period = 47, kVK_Escape = 53, kVK_Command = 55 };
void GetKeys(KeyMap theKeys);

void SysBeep(short duration);

constexpr OSType gestaltSystemVersion = FOUR_CHAR_CODE("sysv");
// 'sysv' answers 0x1049 unless overridden (HostServices.h or $TARROVEL_SYSTEM_VERSION).
OSErr Gestalt(OSType selector, SInt32 *response);

enum : ScriptCode { smRoman = 0, smJapanese = 1, smUnicodeScript = 0x7E };
enum : LangCode { langEnglish = 0, langJapanese = 11 };
enum : TextEncoding { kTextEncodingMacRoman = 0 };
// The script and language codes of a text encoding; fontName may be NULL.
OSStatus RevertTextEncodingToScriptInfo(TextEncoding iEncoding, ScriptCode *oScript,
                                        LangCode *oLanguage, Str255 oFontName);
