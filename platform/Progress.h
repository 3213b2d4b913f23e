// How far the running command has got, for the host's progress display: the
// plug-in says how many items its work holds before it starts, then each item
// it has finished with (changed or not). The host does the counting; with no
// receiver installed (HostServices.h) these calls do nothing.
//
// A service of its own rather than a parameter on the update events: those go
// only for items that changed, twice for a file whose date is put back, and
// for folders, so they cannot be measured against a count of files; and the
// host learns the total without knowing any command or text of the plug-in.
#pragma once

#include "MacTypes.h"
#include "Files.h"

enum { kTVProgressUnknown = -1 };

// itemCount: the items about to be worked on, or kTVProgressUnknown. Starts
// the count of items done again from 0.
void TVProgressBegin(SInt64 itemCount);
// One more item done; item (borrowed for the call) says where the work is.
void TVProgressItemDone(const FSRef *item);
