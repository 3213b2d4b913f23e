// Pure conversions between what Linux stores and what FSCatalogInfo holds.
#pragma once

#include <ctime>
#include <string_view>

#include "platform/Files.h"

namespace tv::files {

// Seconds between 1904-01-01 and 1970-01-01 (UTC).
constexpr int64_t kSecondsFrom1904To1970 = 2082844800;

// A Unix time as a UTCDateTime: whole seconds since 1904 and the nanoseconds
// as 1/65536 s. Times before 1904 give 0; times past the 48-bit range give
// the largest date.
UTCDateTime UTCDateFromTimespec(const struct timespec &t);
// The Unix time of a UTCDateTime, whole seconds (the fraction is dropped:
// dates are written with nanoseconds 0).
struct timespec TimespecFromUTCDate(const UTCDateTime &d);

// The 32 FinderInfo bytes as stored (big-endian) into the native-endian
// finderInfo/extFinderInfo of a catalog record (FileInfo and ExtendedFileInfo
// for files, FolderInfo and ExtendedFolderInfo for folders), and back.
void FinderInfoToNative(const UInt8 stored[32], bool isFolder, UInt8 finderInfo[16], UInt8 extFinderInfo[16]);
void FinderInfoToStored(const UInt8 finderInfo[16], const UInt8 extFinderInfo[16], bool isFolder,
                        UInt8 stored[32]);

// A file name (UTF-8 bytes) as an HFSUniStr255. Bytes that are not UTF-8
// become U+FFFD; the name is cut at 255 UTF-16 units.
void UniStrFromName(std::string_view name, HFSUniStr255 *out);

}  // namespace tv::files
