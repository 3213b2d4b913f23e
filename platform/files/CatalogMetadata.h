// Where the File Manager meets the fork stores: the resource-fork size and
// the FinderInfo of an item, wherever its metadata lives (AppleDouble
// sidecar, extended attributes). The fork stores implement these; the
// catalog calls them and does everything else itself.
#pragma once

#include <sys/stat.h>

#include "platform/MacTypes.h"
#include "platform/files/Refs.h"

namespace tv::files {

// Reads what is asked of the item at `where`, whose lstat is `st` (the caller
// has checked that it is the item of the ref; st.st_mode tells its kind: a
// FIFO, socket or device must never be opened, and only a regular file is
// ever asked for its resource fork). wantRsrc: the logical size of
// the resource fork into *rsrcSize (0 when no store holds one).
// wantFinderInfo: the 32 FinderInfo bytes as stored (big-endian) into
// finderInfo (all zero when no store holds any). Outputs are written only on
// noErr; a store that does not parse gives a status, never a guess.
OSStatus ForkStoreReadInfo(const ItemLocation &where, const struct stat &st, bool wantRsrc,
                           UInt64 *rsrcSize, bool wantFinderInfo, UInt8 finderInfo[32]);

// Writes FinderInfo (32 bytes, big-endian, as stored) of the item whose look
// is `item` (the one that checked it is the ref's: its lock flags are used
// where statx told them): the halves `halves` names from finderInfo, the
// other as the stores hold it now (read once, with the stores to write).
enum FinderInfoHalves : unsigned { kFinderInfoFirstHalf = 1, kFinderInfoSecondHalf = 2, kFinderInfoWhole = 3 };
OSStatus ForkStoreWriteFinderInfo(const ItemLocation &where, const ItemStat &item, const UInt8 finderInfo[32],
                                  unsigned halves);

}  // namespace tv::files
