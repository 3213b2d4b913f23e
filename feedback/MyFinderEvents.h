// Tells the file manager to refresh an item: the 'fndr'/'fupd' event with a
// one-alias list as its direct object, sent without waiting for a reply.
// Callers ignore the status: a file manager that is not there never fails a zap.
#pragma once

#include "platform/Carbon.h"

OSStatus SendAESyncToFinder(const FSRef *ref);
OSStatus SendAEToFinderForRef(AEEventClass eventClass, AEEventID eventID, const FSRef *ref, AESendMode mode);
// outDesc becomes a new typeAlias descriptor the caller disposes of.
OSStatus MakeAliasDesc(AliasHandle alias, AEDesc *outDesc);
OSStatus SendAEToFinderForAEList(AEEventClass eventClass, AEEventID eventID, const AEDescList *list,
                                 AESendMode mode);
// outEvent becomes a new event addressed to the file manager; the caller disposes of it.
OSStatus MakeAppleEvent(AEEventClass eventClass, AEEventID eventID, AppleEvent *outEvent);
OSStatus SendAppleEvent(const AppleEvent *event, AESendMode mode);
OSStatus GetFinderProcessSerialNumber(ProcessSerialNumber *psn);
// The first process of that type and creator; procNotFound at the end of the list.
OSStatus FindAProcess(OSType processType, OSType creator, ProcessSerialNumber *psn);
