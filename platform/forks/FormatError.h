// Why a sidecar or a metadata attribute was refused. Nothing that fails to
// parse is ever rewritten; the file layer turns these into a status the user
// sees and leaves the bytes alone.
#pragma once

#include "platform/MacTypes.h"

namespace tv::forks {

enum class ForkFormatError : UInt8 {
  kNone = 0,
  // AppleDouble / AppleSingle header and entry descriptors.
  kTooShort,             // shorter than the header and its descriptors
  kBadMagic,             // neither AppleDouble nor AppleSingle
  kBadVersion,           // not version 2
  kBadEntryCount,        // 0 or more than 15 entries
  kEntryOutsideFile,     // an entry's data runs past the end
  kEntryOverlapsHeader,  // an entry's data lies inside the header or descriptors
  kEntriesOverlap,       // two entries share bytes
  kDuplicateEntry,       // two resource forks or two FinderInfo entries
  kFinderInfoTooShort,   // entry 9 shorter than 32 bytes
  kNoFinderInfo,         // metadata without an entry 9
  kAppleSingle,          // an AppleSingle file where a sidecar was expected
  kTooManyEntries,       // no room for one more entry descriptor
  kTooLarge,             // offsets of the rewritten file would not fit in 32 bits
  // The "ATTR" block of packed extended attributes inside entry 9.
  kAttrTruncated,        // "ATTR" magic, but entry 9 cannot hold the header
  kAttrBadTotalSize,     // total size outside entry 9 or before the header's end
  kAttrTooMany,          // more than 256 attributes
  kAttrEntryOutside,     // an attribute entry runs past the block or 64 KiB
  kAttrBadName,          // name length 0, or the name is not one 0-terminated string
  kAttrBadDataStart,     // data start before 120 or before the end of the entries
  kAttrBadDataArea,      // data area runs past the block's total size
  kAttrValueOutsideData, // a value lies outside the data area
  kAttrLengthsMismatch,  // the value lengths do not add up to the data length
  // Extended attribute values.
  kBadLength,            // a value of a length the format does not allow
  kAfpInfoBadMagic,      // AfpInfo without "AFP\0"
  kAfpInfoBadVersion,    // AfpInfo not version 00 00 01 00
  kInternal,             // a planned result failed its own check; nothing is written
};

// A short English phrase for logs and test failures ("entries overlap").
const char *ForkFormatErrorName(ForkFormatError error);

}  // namespace tv::forks
