// Builders of sidecars and attribute values laid out the way the tools that
// write them in the wild lay them out, so that tests anywhere in the project
// can create realistic files. Every builder returns the complete bytes.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/forks/AppleDouble.h"

namespace tv::test {

std::vector<UInt8> BytesOf(std::string_view text);
// FinderInfo with a type, a creator and finderFlags; the rest zero.
forks::FinderInfoBytes MakeFinderInfo(OSType type, OSType creator, UInt16 flags);
// A small resource fork that is not the blank one: `size` bytes of a pattern.
std::vector<UInt8> MakeResourceFork(size_t size);

constexpr std::string_view kMacOSFiller = "Mac OS X        ";
constexpr std::string_view kNetatalkFiller = "Netatalk        ";
constexpr std::string_view kZeroFiller{"\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 16};

struct Attribute {
  std::string name;
  std::vector<UInt8> value;
  UInt16 flags = 0;
};
// com.apple.quarantine and a tags plist, as a downloaded file carries them.
std::vector<Attribute> TypicalAttributes();

struct Entry {
  UInt32 id = 0;
  std::vector<UInt8> data;
};
// An AppleDouble file: descriptors in the order of `entries`, their data one
// after another right after the descriptors in `dataOrder` (indices into
// entries; empty means descriptor order).
std::vector<UInt8> BuildAppleDouble(std::string_view filler, const std::vector<Entry> &entries,
                                    const std::vector<size_t> &dataOrder = {},
                                    UInt32 magic = forks::kAppleDoubleMagic);
// Entry 9's data when it will sit at `entryOffset`: FinderInfo, 2 pad bytes,
// an ATTR block packing `attributes` (absolute offsets computed from
// entryOffset), zero-filled up to `minLength`.
std::vector<UInt8> BuildFinderInfoWithAttr(const forks::FinderInfoBytes &info,
                                           const std::vector<Attribute> &attributes,
                                           UInt32 entryOffset, size_t minLength = 0);

// macOS's kernel: "Mac OS X" filler, entries 9 then 2, entry 9 at 0x32 of
// length 0xEB0 with the ATTR block, the fork at 0xEE2; with the blank fork
// (the default) the file is 4096 bytes.
std::vector<UInt8> BuildMacOSKernelSidecar(const forks::FinderInfoBytes &info,
                                           const std::vector<Attribute> &attributes = {},
                                           std::optional<std::vector<UInt8>> fork = std::nullopt);
// copyfile (tar, zip, ditto): entry 9 just long enough for its ATTR block
// (70 bytes with no attributes), the fork right after it (0x78).
std::vector<UInt8> BuildCopyfileSidecar(const forks::FinderInfoBytes &info,
                                        const std::vector<Attribute> &attributes = {},
                                        const std::vector<UInt8> &fork = {});
// Older copyfile: entry 9 of 32 bytes, the fork at 82.
std::vector<UInt8> BuildOldCopyfileSidecar(const forks::FinderInfoBytes &info,
                                           const std::vector<UInt8> &fork = {});
// Samba (fruit:resource=file) and netatalk: "Netatalk" filler, the fork's
// descriptor first (data at 0x52) and FinderInfo second (at 0x32, 32 bytes).
// An empty fork gives 82 bytes.
std::vector<UInt8> BuildSambaSidecar(const forks::FinderInfoBytes &info, const std::vector<UInt8> &fork = {});
// The Unarchiver: zero filler, entry 9 first at 0x32, the fork at 82, or after
// an ATTR block when there are attributes.
std::vector<UInt8> BuildUnarchiverSidecar(const forks::FinderInfoBytes &info, const std::vector<UInt8> &fork,
                                          const std::vector<Attribute> &attributes = {});
// A layout no known tool writes but the format allows: descriptors 2 then 9,
// the fork's data first and entry 9 (with its ATTR block) after it.
std::vector<UInt8> BuildForkFirstSidecar(const forks::FinderInfoBytes &info, const std::vector<UInt8> &fork,
                                         const std::vector<Attribute> &attributes = {});

// user.org.netatalk.Metadata: 402 bytes, zero filler, 8 entries.
std::vector<UInt8> BuildNetatalkMetadata(const forks::FinderInfoBytes &info);
// user.DosStream.AFP_AfpInfo:$DATA: 60 bytes, plus the trailing 0 by default.
std::vector<UInt8> BuildAfpInfo(const forks::FinderInfoBytes &info, bool trailingZero = true);
// user.DosStream.AFP_Resource:$DATA: the fork and a trailing 0.
std::vector<UInt8> BuildAfpResource(const std::vector<UInt8> &fork);

// "" when `after` keeps everything of `before` but entry `changedId`: the
// filler, every other entry's bytes (matched by id and occurrence) and, for
// entry 9, its FinderInfo (unless changedId is 9), its packed attributes by
// name, flags and value, and its raw bytes when it stayed where it was.
// Otherwise a description of the first difference.
std::string CompareKeptMetadata(const forks::AppleDoubleView &before, const forks::AppleDoubleView &after,
                                UInt32 changedId);

}  // namespace tv::test
