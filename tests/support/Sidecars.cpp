#include "tests/support/Sidecars.h"

#include <algorithm>
#include <cstring>

#include "platform/forks/StreamXattrs.h"

using namespace tv::forks;

namespace tv::test {

std::vector<UInt8> BytesOf(std::string_view text) { return {text.begin(), text.end()}; }

FinderInfoBytes MakeFinderInfo(OSType type, OSType creator, UInt16 flags) {
  FinderInfoBytes info{};
  PutBE32(info, 0, type);
  PutBE32(info, 4, creator);
  SetFinderFlags(info, flags);
  return info;
}

std::vector<UInt8> MakeResourceFork(size_t size) {
  std::vector<UInt8> fork(size);
  for (size_t i = 0; i < size; ++i) fork[i] = UInt8(i * 7 + 1);
  return fork;
}

std::vector<Attribute> TypicalAttributes() {
  using namespace std::literals;
  return {
      {"com.apple.quarantine", BytesOf("0083;6571b2c4;Safari;9A1B2C3D-0000-4000-8000-000000000001"sv)},
      {"com.apple.metadata:_kMDItemUserTags",
       // A binary plist: an array holding the tag "Green\n2".
       BytesOf("bplist00\xA1\x01WGreen\n2\x08\x0A"
               "\0\0\0\0\0\0\x01\x01"
               "\0\0\0\0\0\0\0\x02"
               "\0\0\0\0\0\0\0\0"
               "\0\0\0\0\0\0\0\x12"sv)},
  };
}

std::vector<UInt8> BuildAppleDouble(std::string_view filler, const std::vector<Entry> &entries,
                                    const std::vector<size_t> &dataOrder, UInt32 magic) {
  std::vector<size_t> order = dataOrder;
  if (order.empty())
    for (size_t i = 0; i < entries.size(); ++i) order.push_back(i);
  const size_t headerEnd = kAppleDoubleHeaderSize + entries.size() * kAppleDoubleDescriptorSize;
  std::vector<UInt8> file(headerEnd, 0);
  PutBE32(file, 0, magic);
  PutBE32(file, 4, kAppleDoubleVersion2);
  std::memcpy(file.data() + kAppleDoubleFillerOffset, filler.data(),
              std::min(filler.size(), kAppleDoubleFillerSize));
  PutBE16(file, 24, UInt16(entries.size()));
  for (size_t index : order) {
    const size_t descriptor = kAppleDoubleHeaderSize + index * kAppleDoubleDescriptorSize;
    PutBE32(file, descriptor, entries[index].id);
    PutBE32(file, descriptor + 4, UInt32(file.size()));
    PutBE32(file, descriptor + 8, UInt32(entries[index].data.size()));
    file.insert(file.end(), entries[index].data.begin(), entries[index].data.end());
  }
  return file;
}

std::vector<UInt8> BuildFinderInfoWithAttr(const FinderInfoBytes &info,
                                           const std::vector<Attribute> &attributes,
                                           UInt32 entryOffset, size_t minLength) {
  const size_t header = kAttrOffsetInEntry;  // within the entry
  size_t entriesSize = 0;
  for (const Attribute &a : attributes)
    entriesSize += (kAttrEntryFixedSize + a.name.size() + 1 + 3) & ~size_t(3);
  const size_t dataStartInEntry = header + kAttrHeaderSize + entriesSize;
  size_t dataLength = 0;
  for (const Attribute &a : attributes) dataLength += a.value.size();
  const size_t totalInEntry = dataStartInEntry + dataLength;

  std::vector<UInt8> data(std::max(totalInEntry, minLength), 0);
  std::memcpy(data.data(), info.data(), info.size());
  PutBE32(data, header, kAttrMagic);
  PutBE32(data, header + 8, UInt32(entryOffset + totalInEntry));
  PutBE32(data, header + 12, UInt32(entryOffset + dataStartInEntry));
  PutBE32(data, header + 16, UInt32(dataLength));
  PutBE16(data, header + 34, UInt16(attributes.size()));
  size_t at = header + kAttrHeaderSize, value = dataStartInEntry;
  for (const Attribute &a : attributes) {
    PutBE32(data, at, UInt32(entryOffset + value));
    PutBE32(data, at + 4, UInt32(a.value.size()));
    PutBE16(data, at + 8, a.flags);
    data[at + 10] = UInt8(a.name.size() + 1);
    std::memcpy(data.data() + at + kAttrEntryFixedSize, a.name.c_str(), a.name.size() + 1);
    std::memcpy(data.data() + value, a.value.data(), a.value.size());
    at += (kAttrEntryFixedSize + a.name.size() + 1 + 3) & ~size_t(3);
    value += a.value.size();
  }
  return data;
}

namespace {

constexpr UInt32 kTwoEntryHeaderEnd = 0x32;

std::vector<UInt8> MacLayout(std::string_view filler, const FinderInfoBytes &info,
                             const std::vector<Attribute> &attributes, size_t entry9Length,
                             const std::vector<UInt8> &fork) {
  return BuildAppleDouble(
      filler, {{kEntryFinderInfo, BuildFinderInfoWithAttr(info, attributes, kTwoEntryHeaderEnd, entry9Length)},
               {kEntryResourceFork, fork}});
}

}  // namespace

std::vector<UInt8> BuildMacOSKernelSidecar(const FinderInfoBytes &info,
                                           const std::vector<Attribute> &attributes,
                                           std::optional<std::vector<UInt8>> fork) {
  const BlankResourceFork &blank = GetBlankResourceFork();
  return MacLayout(kMacOSFiller, info, attributes, 0xEB0,
                   fork ? *fork : std::vector<UInt8>(blank.begin(), blank.end()));
}

std::vector<UInt8> BuildCopyfileSidecar(const FinderInfoBytes &info,
                                        const std::vector<Attribute> &attributes,
                                        const std::vector<UInt8> &fork) {
  return MacLayout(kMacOSFiller, info, attributes, 0, fork);
}

std::vector<UInt8> BuildOldCopyfileSidecar(const FinderInfoBytes &info, const std::vector<UInt8> &fork) {
  return BuildAppleDouble(kMacOSFiller, {{kEntryFinderInfo, {info.begin(), info.end()}},
                                         {kEntryResourceFork, fork}});
}

std::vector<UInt8> BuildSambaSidecar(const FinderInfoBytes &info, const std::vector<UInt8> &fork) {
  return BuildAppleDouble(kNetatalkFiller,
                          {{kEntryResourceFork, fork}, {kEntryFinderInfo, {info.begin(), info.end()}}},
                          {1, 0});
}

std::vector<UInt8> BuildUnarchiverSidecar(const FinderInfoBytes &info, const std::vector<UInt8> &fork,
                                          const std::vector<Attribute> &attributes) {
  if (attributes.empty())
    return BuildAppleDouble(kZeroFiller, {{kEntryFinderInfo, {info.begin(), info.end()}},
                                          {kEntryResourceFork, fork}});
  return MacLayout(kZeroFiller, info, attributes, 0, fork);
}

std::vector<UInt8> BuildForkFirstSidecar(const FinderInfoBytes &info, const std::vector<UInt8> &fork,
                                         const std::vector<Attribute> &attributes) {
  const UInt32 infoAt = UInt32(kTwoEntryHeaderEnd + fork.size());
  return BuildAppleDouble(kZeroFiller, {{kEntryResourceFork, fork},
                                        {kEntryFinderInfo, BuildFinderInfoWithAttr(info, attributes, infoAt)}});
}

std::vector<UInt8> BuildNetatalkMetadata(const FinderInfoBytes &info) {
  struct Slot {
    UInt32 id, offset, length;
  };
  static const Slot kSlots[] = {
      {kEntryFinderInfo, 122, 32}, {kEntryComment, 154, 0},  {kEntryFileDates, 354, 16},
      {kEntryAfpFileInfo, 370, 4}, {0x80444556, 374, 0},     {0x80494E4F, 382, 0},
      {0x8053594E, 390, 0},        {0x8053567E, 398, 0},
  };
  std::vector<UInt8> value(402, 0);
  PutBE32(value, 0, kAppleDoubleMagic);
  PutBE32(value, 4, kAppleDoubleVersion2);
  PutBE16(value, 24, UInt16(std::size(kSlots)));
  size_t at = kAppleDoubleHeaderSize;
  for (const Slot &slot : kSlots) {
    PutBE32(value, at, slot.id);
    PutBE32(value, at + 4, slot.offset);
    PutBE32(value, at + 8, slot.length);
    at += kAppleDoubleDescriptorSize;
  }
  std::memcpy(value.data() + 122, info.data(), info.size());
  // Dates: created and modified known, backup and access unknown.
  PutBE32(value, 354, 0x2A3B4C5D);
  PutBE32(value, 358, 0x2A3B4C5E);
  PutBE32(value, 362, 0x80000000);
  PutBE32(value, 366, 0x80000000);
  return value;
}

std::vector<UInt8> BuildAfpInfo(const FinderInfoBytes &info, bool trailingZero) {
  std::vector<UInt8> value(kAfpInfoSize + (trailingZero ? 1 : 0), 0);
  PutBE32(value, 0, kAfpInfoMagic);
  PutBE32(value, 4, kAfpInfoVersion);
  PutBE32(value, 12, kAfpInfoBackupTimeUnknown);
  std::memcpy(value.data() + kAfpInfoFinderInfoOffset, info.data(), info.size());
  value[48] = 0x04;  // ProDOS file type, so that bytes after FinderInfo are not all zero
  return value;
}

std::vector<UInt8> BuildAfpResource(const std::vector<UInt8> &fork) {
  std::vector<UInt8> value = fork;
  value.push_back(0);
  return value;
}

namespace {

std::string CompareAttributes(const std::optional<AttrBlock> &before, const std::optional<AttrBlock> &after) {
  if (before.has_value() != after.has_value()) return "ATTR block appeared or vanished";
  if (!before) return "";
  if (before->attributes.size() != after->attributes.size()) return "packed attribute count changed";
  for (size_t i = 0; i < before->attributes.size(); ++i) {
    const PackedAttribute &a = before->attributes[i], &b = after->attributes[i];
    if (a.name != b.name || a.flags != b.flags ||
        !std::equal(a.value.begin(), a.value.end(), b.value.begin(), b.value.end()))
      return "packed attribute " + std::string(a.name) + " changed";
  }
  return "";
}

}  // namespace

std::string CompareKeptMetadata(const AppleDoubleView &before, const AppleDoubleView &after,
                                UInt32 changedId) {
  if (!std::ranges::equal(before.filler(), after.filler())) return "filler changed";
  for (size_t i = 0; i < before.entries.size(); ++i) {
    const AppleDoubleEntry &entry = before.entries[i];
    if (entry.id == changedId && entry.id != kEntryFinderInfo) continue;
    size_t occurrence = 0;
    for (size_t j = 0; j < i; ++j) occurrence += before.entries[j].id == entry.id;
    const AppleDoubleEntry *match = nullptr;
    for (const AppleDoubleEntry &candidate : after.entries)
      if (candidate.id == entry.id && occurrence-- == 0) {
        match = &candidate;
        break;
      }
    const std::string id = std::to_string(entry.id);
    if (!match) return "entry " + id + " vanished";
    Bytes a = before.data(entry), b = after.data(*match);
    if (entry.id != kEntryFinderInfo) {
      if (!std::ranges::equal(a, b)) return "entry " + id + " changed";
      continue;
    }
    if (a.size() != b.size()) return "entry 9 changed length";
    if (changedId != kEntryFinderInfo && before.finderInfo() != after.finderInfo())
      return "FinderInfo changed";
    // Beyond FinderInfo the bytes stay, unless the entry moved and the ATTR
    // block's absolute offsets moved with it.
    if (entry.offset == match->offset &&
        !std::ranges::equal(a.subspan(kFinderInfoSize), b.subspan(kFinderInfoSize)))
      return "entry 9 changed after its FinderInfo";
  }
  return CompareAttributes(before.attr, after.attr);
}

}  // namespace tv::test
