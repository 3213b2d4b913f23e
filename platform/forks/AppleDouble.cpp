#include "platform/forks/AppleDouble.h"

#include <algorithm>
#include <cstring>

namespace tv::forks {

const AppleDoubleEntry *AppleDoubleView::find(UInt32 id) const {
  for (const AppleDoubleEntry &entry : entries)
    if (entry.id == id) return &entry;
  return nullptr;
}

Bytes AppleDoubleView::resourceFork() const {
  const AppleDoubleEntry *fork = resourceForkEntry();
  return fork ? data(*fork) : Bytes();
}

FinderInfoBytes AppleDoubleView::finderInfo() const {
  const AppleDoubleEntry *entry = finderInfoEntry();
  return entry ? FinderInfoFrom(data(*entry)) : FinderInfoBytes{};
}

ForkFormatError ParseAttrBlock(Bytes bytes, const AppleDoubleEntry &finderInfoEntry,
                               std::optional<AttrBlock> *out) {
  // The caller has checked that entry 9 lies inside bytes.
  const UInt64 entryEnd = UInt64(finderInfoEntry.offset) + finderInfoEntry.length;
  const UInt64 magicAt = UInt64(finderInfoEntry.offset) + kAttrOffsetInEntry;
  if (magicAt + 4 > entryEnd || GetBE32(bytes, size_t(magicAt)) != kAttrMagic) {
    out->reset();
    return ForkFormatError::kNone;
  }
  if (magicAt + kAttrHeaderSize > entryEnd) return ForkFormatError::kAttrTruncated;

  const size_t at0 = size_t(magicAt);
  AttrBlock block;
  block.offset = at0;
  block.debugTag = GetBE32(bytes, at0 + 4);
  block.totalSize = GetBE32(bytes, at0 + 8);
  block.dataStart = GetBE32(bytes, at0 + 12);
  block.dataLength = GetBE32(bytes, at0 + 16);
  block.flags = GetBE16(bytes, at0 + 32);
  const UInt16 count = GetBE16(bytes, at0 + 34);
  const UInt64 headerEnd = magicAt + kAttrHeaderSize;

  if (block.totalSize > entryEnd || block.totalSize < headerEnd)
    return ForkFormatError::kAttrBadTotalSize;
  if (count > kAttrMaxCount) return ForkFormatError::kAttrTooMany;
  // Header and entries lie inside the block and within 64 KiB of its start.
  // The start itself may be anywhere a 32-bit offset reaches: after a large
  // fork when the fork's data comes first.
  const UInt64 limit = std::min<UInt64>(block.totalSize, magicAt + kAttrHeaderLimit);
  if (headerEnd > limit) return ForkFormatError::kAttrEntryOutside;

  // Room for as many entries as the header says, as far as they can fit.
  const size_t fit = std::min<size_t>(count, size_t((limit - headerEnd) / kAttrEntryFixedSize));
  std::vector<UInt32> lengths;
  lengths.reserve(fit);
  block.attributes.reserve(fit);
  size_t at = size_t(headerEnd);
  UInt64 entriesEnd = headerEnd;
  for (UInt16 i = 0; i < count; ++i) {
    if (UInt64(at) + kAttrEntryFixedSize > limit) return ForkFormatError::kAttrEntryOutside;
    const UInt8 nameLength = bytes[at + 10];
    if (UInt64(at) + kAttrEntryFixedSize + nameLength > limit)
      return ForkFormatError::kAttrEntryOutside;
    const char *name = reinterpret_cast<const char *>(bytes.data() + at + kAttrEntryFixedSize);
    // The length counts the terminating 0, and the name holds no other 0.
    if (nameLength == 0 || std::memchr(name, 0, nameLength) != name + nameLength - 1)
      return ForkFormatError::kAttrBadName;
    PackedAttribute attribute;
    attribute.valueOffset = GetBE32(bytes, at);
    attribute.flags = GetBE16(bytes, at + 8);
    attribute.name = std::string_view(name, nameLength - 1);
    attribute.entryOffset = at;
    block.attributes.push_back(attribute);
    lengths.push_back(GetBE32(bytes, at + 4));
    entriesEnd = UInt64(at) + kAttrEntryFixedSize + nameLength;
    at += (kAttrEntryFixedSize + nameLength + 3) & ~size_t(3);  // padded to 4 bytes
  }

  if (block.dataStart < kAttrMinDataStart || block.dataStart < entriesEnd)
    return ForkFormatError::kAttrBadDataStart;
  const UInt64 dataEnd = UInt64(block.dataStart) + block.dataLength;
  if (dataEnd > block.totalSize) return ForkFormatError::kAttrBadDataArea;
  UInt64 sum = 0;
  for (size_t i = 0; i < block.attributes.size(); ++i) {
    PackedAttribute &attribute = block.attributes[i];
    if (attribute.valueOffset < block.dataStart ||
        UInt64(attribute.valueOffset) + lengths[i] > dataEnd)
      return ForkFormatError::kAttrValueOutsideData;
    attribute.value = bytes.subspan(attribute.valueOffset, lengths[i]);
    sum += lengths[i];
  }
  if (sum != block.dataLength) return ForkFormatError::kAttrLengthsMismatch;

  *out = std::move(block);
  return ForkFormatError::kNone;
}

ForkFormatError ParseAppleDouble(Bytes bytes, AppleDoubleView *out) {
  if (bytes.size() < kAppleDoubleHeaderSize) return ForkFormatError::kTooShort;
  AppleDoubleView view;
  view.bytes = bytes;
  const UInt32 magic = GetBE32(bytes, 0);
  if (magic == kAppleDoubleMagic)
    view.format = AppleDoubleFormat::kAppleDouble;
  else if (magic == kAppleSingleMagic)
    view.format = AppleDoubleFormat::kAppleSingle;
  else
    return ForkFormatError::kBadMagic;
  if (GetBE32(bytes, 4) != kAppleDoubleVersion2) return ForkFormatError::kBadVersion;
  const UInt16 count = GetBE16(bytes, 24);
  if (count == 0 || count > kAppleDoubleMaxEntries) return ForkFormatError::kBadEntryCount;
  const size_t headerEnd = kAppleDoubleHeaderSize + count * kAppleDoubleDescriptorSize;
  if (bytes.size() < headerEnd) return ForkFormatError::kTooShort;

  view.entries.reserve(count);
  for (UInt16 i = 0; i < count; ++i) {
    AppleDoubleEntry entry;
    entry.descriptorOffset = kAppleDoubleHeaderSize + i * kAppleDoubleDescriptorSize;
    entry.id = GetBE32(bytes, entry.descriptorOffset);
    entry.offset = GetBE32(bytes, entry.descriptorOffset + 4);
    entry.length = GetBE32(bytes, entry.descriptorOffset + 8);
    if (UInt64(entry.offset) + entry.length > bytes.size())
      return ForkFormatError::kEntryOutsideFile;
    if (entry.length != 0 && entry.offset < headerEnd) return ForkFormatError::kEntryOverlapsHeader;
    if ((entry.id == kEntryResourceFork || entry.id == kEntryFinderInfo) && view.find(entry.id))
      return ForkFormatError::kDuplicateEntry;
    view.entries.push_back(entry);
  }

  // Entries that hold bytes, by offset: each must end before the next starts.
  // At most 15 of them: sorted by insertion, on the stack.
  const AppleDoubleEntry *byOffset[kAppleDoubleMaxEntries];
  size_t held = 0;
  for (const AppleDoubleEntry &entry : view.entries) {
    if (entry.length == 0) continue;
    size_t i = held++;
    for (; i > 0 && byOffset[i - 1]->offset > entry.offset; --i) byOffset[i] = byOffset[i - 1];
    byOffset[i] = &entry;
  }
  for (size_t i = 1; i < held; ++i)
    if (UInt64(byOffset[i - 1]->offset) + byOffset[i - 1]->length > byOffset[i]->offset)
      return ForkFormatError::kEntriesOverlap;

  if (const AppleDoubleEntry *info = view.finderInfoEntry()) {
    if (info->length < kFinderInfoSize) return ForkFormatError::kFinderInfoTooShort;
    ForkFormatError error = ParseAttrBlock(bytes, *info, &view.attr);
    if (error != ForkFormatError::kNone) return error;
  }

  *out = std::move(view);
  return ForkFormatError::kNone;
}

ForkFormatError ParseSidecar(Bytes bytes, AppleDoubleView *out) {
  AppleDoubleView view;
  ForkFormatError error = ParseAppleDouble(bytes, &view);
  if (error == ForkFormatError::kNone && view.format != AppleDoubleFormat::kAppleDouble)
    error = ForkFormatError::kAppleSingle;
  if (error == ForkFormatError::kNone) *out = std::move(view);
  return error;
}

SidecarContent GetSidecarContent(const AppleDoubleView &view) {
  SidecarContent content;
  for (const AppleDoubleEntry &entry : view.entries) {
    Bytes data = view.data(entry);
    switch (entry.id) {
      case kEntryResourceFork:
        if (!data.empty() && !IsBlankResourceFork(data)) content.resourceFork = true;
        break;
      case kEntryFinderInfo:
        if (!IsAllZero(data.first(kFinderInfoSize))) content.finderInfo = true;
        // Beyond FinderInfo: packed attributes, or bytes we do not know, which
        // count as content unless they are zero padding.
        if (view.attr ? !view.attr->attributes.empty()
                      : !IsAllZero(data.subspan(kFinderInfoSize)))
          content.attributes = true;
        break;
      default:
        if (!data.empty()) content.otherEntries = true;
        break;
    }
  }
  return content;
}

}  // namespace tv::forks
