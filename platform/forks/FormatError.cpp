#include "platform/forks/FormatError.h"

namespace tv::forks {

const char *ForkFormatErrorName(ForkFormatError error) {
  switch (error) {
    case ForkFormatError::kNone: return "no error";
    case ForkFormatError::kTooShort: return "too short for its header";
    case ForkFormatError::kBadMagic: return "not AppleDouble";
    case ForkFormatError::kBadVersion: return "unknown AppleDouble version";
    case ForkFormatError::kBadEntryCount: return "entry count not 1 to 15";
    case ForkFormatError::kEntryOutsideFile: return "entry outside the file";
    case ForkFormatError::kEntryOverlapsHeader: return "entry overlaps the header";
    case ForkFormatError::kEntriesOverlap: return "entries overlap";
    case ForkFormatError::kDuplicateEntry: return "duplicate resource fork or FinderInfo entry";
    case ForkFormatError::kFinderInfoTooShort: return "FinderInfo entry shorter than 32 bytes";
    case ForkFormatError::kNoFinderInfo: return "no FinderInfo entry";
    case ForkFormatError::kAppleSingle: return "AppleSingle file, not a sidecar";
    case ForkFormatError::kTooManyEntries: return "no room for another entry";
    case ForkFormatError::kTooLarge: return "too large to rewrite";
    case ForkFormatError::kAttrTruncated: return "truncated ATTR header";
    case ForkFormatError::kAttrBadTotalSize: return "ATTR total size out of range";
    case ForkFormatError::kAttrTooMany: return "more than 256 packed attributes";
    case ForkFormatError::kAttrEntryOutside: return "ATTR entry out of range";
    case ForkFormatError::kAttrBadName: return "bad packed attribute name";
    case ForkFormatError::kAttrBadDataStart: return "bad ATTR data start";
    case ForkFormatError::kAttrBadDataArea: return "ATTR data area out of range";
    case ForkFormatError::kAttrValueOutsideData: return "packed attribute value outside the data area";
    case ForkFormatError::kAttrLengthsMismatch: return "packed attribute lengths do not add up";
    case ForkFormatError::kBadLength: return "bad value length";
    case ForkFormatError::kAfpInfoBadMagic: return "not AfpInfo";
    case ForkFormatError::kAfpInfoBadVersion: return "unknown AfpInfo version";
    case ForkFormatError::kInternal: return "planned result failed its check";
  }
  return "unknown error";
}

}  // namespace tv::forks
