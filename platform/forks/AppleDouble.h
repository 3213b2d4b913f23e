// AppleDouble version 2 files ("._name" sidecars, the netatalk metadata
// attribute) and the "ATTR" block of packed extended attributes that macOS
// keeps inside their FinderInfo entry. Pure parsing: no I/O.
//
// A view borrows the bytes it was parsed from; it stays valid while they do
// and is never changed by the functions here.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "platform/forks/ByteOrder.h"
#include "platform/forks/FinderInfo.h"
#include "platform/forks/FormatError.h"

namespace tv::forks {

constexpr UInt32 kAppleDoubleMagic = 0x00051607;
constexpr UInt32 kAppleSingleMagic = 0x00051600;
constexpr UInt32 kAppleDoubleVersion2 = 0x00020000;
constexpr size_t kAppleDoubleFillerOffset = 8;
constexpr size_t kAppleDoubleFillerSize = 16;
constexpr size_t kAppleDoubleHeaderSize = 26;  // up to and with the entry count
constexpr size_t kAppleDoubleDescriptorSize = 12;
constexpr UInt16 kAppleDoubleMaxEntries = 15;

enum : UInt32 {
  kEntryDataFork = 1,
  kEntryResourceFork = 2,
  kEntryRealName = 3,
  kEntryComment = 4,
  kEntryFileDates = 8,
  kEntryFinderInfo = 9,
  kEntryMacFileInfo = 10,
  kEntryAfpFileInfo = 14,
  kEntryAfpDirectoryId = 15,
};

// The ATTR block: at entry 9's offset + 34, after FinderInfo and 2 pad bytes.
constexpr UInt32 kAttrMagic = 0x41545452;  // "ATTR"
constexpr size_t kAttrOffsetInEntry = kFinderInfoSize + 2;
constexpr size_t kAttrHeaderSize = 36;
constexpr size_t kAttrEntryFixedSize = 11;  // offset, length, flags, name length
constexpr UInt32 kAttrMinDataStart = 120;
constexpr UInt16 kAttrMaxCount = 256;
constexpr size_t kAttrHeaderLimit = 64 * 1024;  // header and entries, from the block's start

enum class AppleDoubleFormat : UInt8 { kAppleDouble, kAppleSingle };

struct AppleDoubleEntry {
  UInt32 id = 0;
  UInt32 offset = 0;            // from file start
  UInt32 length = 0;
  size_t descriptorOffset = 0;  // where this entry's descriptor sits in the file
};

// One packed extended attribute.
struct PackedAttribute {
  std::string_view name;        // without its terminating 0
  Bytes value;                  // inside the parsed bytes
  UInt32 valueOffset = 0;       // from file start, as stored
  UInt16 flags = 0;
  size_t entryOffset = 0;       // where its entry sits in the file
};

struct AttrBlock {
  size_t offset = 0;            // of the "ATTR" magic, from file start
  UInt32 debugTag = 0;
  UInt32 totalSize = 0;         // end of header, entries and data, from file start
  UInt32 dataStart = 0;
  UInt32 dataLength = 0;
  UInt16 flags = 0;
  std::vector<PackedAttribute> attributes;  // in entry order
};

// A sound AppleDouble (or AppleSingle) file.
struct AppleDoubleView {
  Bytes bytes;
  AppleDoubleFormat format = AppleDoubleFormat::kAppleDouble;
  std::vector<AppleDoubleEntry> entries;  // in descriptor order
  std::optional<AttrBlock> attr;          // when entry 9 carries an ATTR block

  Bytes filler() const { return bytes.subspan(kAppleDoubleFillerOffset, kAppleDoubleFillerSize); }
  size_t headerEnd() const {
    return kAppleDoubleHeaderSize + entries.size() * kAppleDoubleDescriptorSize;
  }
  // Null when there is no entry of that id. Ids 2 and 9 occur at most once.
  const AppleDoubleEntry *find(UInt32 id) const;
  const AppleDoubleEntry *resourceForkEntry() const { return find(kEntryResourceFork); }
  const AppleDoubleEntry *finderInfoEntry() const { return find(kEntryFinderInfo); }
  Bytes data(const AppleDoubleEntry &entry) const {
    return bytes.subspan(entry.offset, entry.length);
  }
  // The fork's bytes; empty when there is no entry 2.
  Bytes resourceFork() const;
  // Entry 9's first 32 bytes, all zero when there is no entry 9.
  FinderInfoBytes finderInfo() const;
};

// Parses and checks a whole AppleDouble or AppleSingle file: magic, version 2,
// 1 to 15 entries, every entry inside the file and clear of the header and of
// every other entry (an entry of length 0 takes no bytes and clashes with
// nothing), at most one entry 2 and one entry 9, entry 9 at least 32 bytes,
// and the ATTR block when entry 9 carries one. *out is set only on success.
ForkFormatError ParseAppleDouble(Bytes bytes, AppleDoubleView *out);

// As ParseAppleDouble, for a sidecar or metadata: AppleSingle is refused.
ForkFormatError ParseSidecar(Bytes bytes, AppleDoubleView *out);

// Parses the ATTR block of entry 9 (at its offset + 34) when it starts with
// "ATTR"; *out is left empty when it does not.
ForkFormatError ParseAttrBlock(Bytes bytes, const AppleDoubleEntry &finderInfoEntry,
                               std::optional<AttrBlock> *out);

// What a sidecar holds, as macOS counts it before deleting one.
struct SidecarContent {
  bool resourceFork = false;   // a fork that is neither empty nor the blank one
  bool finderInfo = false;     // FinderInfo not all zero
  bool attributes = false;     // packed attributes, or unknown bytes after FinderInfo
  bool otherEntries = false;   // any other entry with data (comment, dates, ...)
  bool any() const { return resourceFork || finderInfo || attributes || otherEntries; }
};
SidecarContent GetSidecarContent(const AppleDoubleView &view);

}  // namespace tv::forks
