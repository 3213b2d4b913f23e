// Catalog information of an item already located and checked.
#pragma once

#include "platform/Files.h"
#include "platform/files/Refs.h"

namespace tv::files {

// Fills the fields of *info that whichInfo asks for (the others are left as
// they are). The FinderInfo and the resource-fork size come from the fork
// stores; userAccess is what the current effective user may do.
OSStatus ReadCatalogInfo(const ItemLocation &where, const ItemStat &st, FSCatalogInfoBitmap whichInfo,
                         FSCatalogInfo *info);

// The access bits of the current effective user: 4 read, 2 write, 1 search
// (or execute, for a file).
UInt8 UserAccessAt(const ItemLocation &where, const struct stat &st);

}  // namespace tv::files
