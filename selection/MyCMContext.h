// The selection context: the host's selection descriptor as a list of items
// that turn into aliases and references, the three questions menu composition
// asks of it, and the snapshot iterator commands walk.
#pragma once

#include "platform/Carbon.h"
#include "selection/MyFSDirIter.h"

struct MyCMContextRecord {
  AEDesc *desc;    // the list read: the host's (borrowed) or &ownDesc
  AEDesc ownDesc;  // owned: empty, or a duplicate or coercion of the host's
  MyFSDirIter iter;  // the snapshot, made on first demand; owned
};
typedef MyCMContextRecord *MyCMContext;

// With copy false a host list is read in place, so the context must not
// outlive the host's call. The caller disposes of the context.
OSStatus MyCMContextCreateWithContext(const AEDesc *hostDesc, Boolean copy, MyCMContext *outContext);
OSStatus MyCMContextDispose(MyCMContext context);
UInt32 MyCMContextGetItemCount(MyCMContext context);
// A new alias handle for item index (from 1) that the caller disposes of, or NULL.
AliasHandle MyCMContextExtractAliasAt(MyCMContext context, UInt32 index);
Boolean MyCMContextExtractFSRefAt(MyCMContext context, UInt32 index, FSRef *outRef);
Boolean MyCMContextContainsAlias(MyCMContext context);
Boolean MyCMContextContainsFolder(MyCMContext context);
Boolean MyCMContextContainsPlainFile(MyCMContext context);
// The context's iterator, rewound; borrowed (the context disposes of it). NULL
// when it cannot be made.
MyFSDirIter MyCMContextGetIterater(MyCMContext context);
