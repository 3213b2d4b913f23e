// The command list handed to the host: an Apple-event descriptor list whose
// items are records with a title, a command ID or a submenu, and attributes.
#pragma once

#include "platform/Carbon.h"

struct MyCMCmdListRecord {
  AEDescList ownList;  // owned; empty when the wrapper points at the host's list
  AEDescList *list;    // where items are appended: the host's list or ownList
};
typedef MyCMCmdListRecord *MyCMCmdList;

// Wraps hostList (may be NULL: then a list of its own). The caller disposes of
// the wrapper with MyCMCmdListDispose; the host's list is never disposed of.
OSStatus MyCMCmdListCreate(AEDescList *hostList, MyCMCmdList *outCmdList);
OSStatus MyCMCmdListDispose(MyCMCmdList cmdList);
// Titles are borrowed: never retained or released here.
OSStatus MyCMCmdListAddItem(MyCMCmdList cmdList, CFStringRef title, SInt32 commandID, UInt32 attributes);
OSStatus MyCMCmdListAddSeparatorItem(MyCMCmdList cmdList);
OSStatus MyCMCmdListAddSubmenuItem(MyCMCmdList cmdList, CFStringRef title, MyCMCmdList submenu,
                                   UInt32 attributes);
// The title as the system version expects it: typeUnicodeText above 0x101F,
// else typeIntlText with its script/language header. The caller disposes of it.
OSStatus CreateNameDesc(CFStringRef title, AEDesc *outDesc);
// The system version (0x1049 is 10.4.9), asked once and cached.
SInt32 GetOSVersion();
// Forgets the cached version so that the next call asks again (tests only).
void MyCMCmdListResetOSVersionCache();
