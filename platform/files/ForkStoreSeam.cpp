// The fork stores plug in here. Until they do, no item has a resource fork or
// FinderInfo: reading reports an empty fork and 32 zero bytes, and writing
// FinderInfo is refused (ioErr) rather than pretending to store it.
#include "platform/files/ForkStoreSeam.h"

#include <cstring>

namespace tv::files {

OSStatus ForkStoreReadInfo(const ItemLocation &, const struct stat &, bool wantRsrc, UInt64 *rsrcSize,
                           bool wantFinderInfo, UInt8 finderInfo[32]) {
  if (wantRsrc) *rsrcSize = 0;
  if (wantFinderInfo) std::memset(finderInfo, 0, 32);
  return noErr;
}

OSStatus ForkStoreWriteFinderInfo(const ItemLocation &, const struct stat &, const UInt8 *) { return ioErr; }

}  // namespace tv::files
