#include "platform/forks/SidecarPlan.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace tv::forks {

namespace {

// A rewritten sidecar is written only when it parses again.
ForkFormatError CheckRewrite(const std::vector<UInt8> &content) {
  AppleDoubleView check;
  return ParseAppleDouble(content, &check) == ForkFormatError::kNone ? ForkFormatError::kNone
                                                                     : ForkFormatError::kInternal;
}

// The sidecar without the fork's bytes: later entries move down by the fork's
// length, and so do the absolute offsets inside an ATTR block that moves.
std::vector<UInt8> CutOutFork(const AppleDoubleView &view, const AppleDoubleEntry &fork) {
  const Bytes bytes = view.bytes;
  const UInt32 start = fork.offset, length = fork.length;
  const UInt64 end = UInt64(start) + length;
  std::vector<UInt8> content(bytes.begin(), bytes.begin() + start);
  content.insert(content.end(), bytes.begin() + size_t(end), bytes.end());
  // The empty fork goes to the end, where it can grow by appending, unless
  // that offset would not fit its 32-bit field.
  const UInt32 newForkOffset = content.size() <= UINT32_MAX ? UInt32(content.size()) : start;

  // Descriptors lie in the header, before any entry's data: they do not move.
  for (const AppleDoubleEntry &entry : view.entries) {
    UInt32 offset = entry.offset;
    if (&entry == &fork)
      offset = newForkOffset;
    else if (offset >= end)
      offset -= length;
    else if (offset > start)  // an empty entry that pointed into the fork
      offset = start;
    PutBE32(content, entry.descriptorOffset + 4, offset);
  }
  PutBE32(content, fork.descriptorOffset + 8, 0);

  const AppleDoubleEntry *info = view.finderInfoEntry();
  if (view.attr && info && info->offset >= end) {
    const AttrBlock &attr = *view.attr;
    const size_t at = attr.offset - length;
    PutBE32(content, at + 8, attr.totalSize - length);
    PutBE32(content, at + 12, attr.dataStart - length);
    for (const PackedAttribute &attribute : attr.attributes)
      PutBE32(content, attribute.entryOffset - length, attribute.valueOffset - length);
  }
  return content;
}

// The sidecar with an entry 9 holding info, its descriptor first and its data
// right after the descriptors; every other entry's data moves down by 44.
std::vector<UInt8> InsertFinderInfo(const AppleDoubleView &view, const FinderInfoBytes &info) {
  const Bytes bytes = view.bytes;
  const size_t oldHeaderEnd = view.headerEnd();
  const size_t newHeaderEnd = oldHeaderEnd + kAppleDoubleDescriptorSize;
  const UInt32 shift = UInt32(kAppleDoubleDescriptorSize + kFinderInfoSize);

  std::vector<UInt8> content(bytes.begin(), bytes.begin() + kAppleDoubleHeaderSize);
  content.resize(newHeaderEnd);
  PutBE16(content, 24, UInt16(view.entries.size() + 1));
  PutBE32(content, kAppleDoubleHeaderSize, kEntryFinderInfo);
  PutBE32(content, kAppleDoubleHeaderSize + 4, UInt32(newHeaderEnd));
  PutBE32(content, kAppleDoubleHeaderSize + 8, UInt32(kFinderInfoSize));
  size_t at = kAppleDoubleHeaderSize + kAppleDoubleDescriptorSize;
  for (const AppleDoubleEntry &entry : view.entries) {
    // Only an empty entry may point into the header; it stays where it was.
    UInt32 offset = entry.offset >= oldHeaderEnd ? entry.offset + shift : entry.offset;
    PutBE32(content, at, entry.id);
    PutBE32(content, at + 4, offset);
    PutBE32(content, at + 8, entry.length);
    at += kAppleDoubleDescriptorSize;
  }
  content.insert(content.end(), info.begin(), info.end());
  content.insert(content.end(), bytes.begin() + oldHeaderEnd, bytes.end());
  return content;
}

}  // namespace

ForkFormatError PlanSidecarEmptyResourceFork(Bytes sidecar, SidecarPlan *out) {
  AppleDoubleView view;
  ForkFormatError error = ParseSidecar(sidecar, &view);
  if (error != ForkFormatError::kNone) return error;

  SidecarPlan plan;
  const AppleDoubleEntry *fork = view.resourceForkEntry();
  if (!fork || fork->length == 0) {
    *out = std::move(plan);
    return ForkFormatError::kNone;
  }

  SidecarContent left = GetSidecarContent(view);
  left.resourceFork = false;
  const bool forkIsLast = std::all_of(view.entries.begin(), view.entries.end(), [&](const AppleDoubleEntry &e) {
    return &e == fork || UInt64(e.offset) + e.length <= fork->offset;
  });
  if (!left.any()) {
    plan.kind = SidecarPlanKind::kRemove;
  } else if (forkIsLast) {
    // Length field first: until the cut the file parses with an empty fork
    // and some bytes after it that belong to nothing.
    plan.kind = SidecarPlanKind::kInPlace;
    plan.patchOffset = fork->descriptorOffset + 8;
    plan.patch.assign(4, 0);
    plan.truncateTo = fork->offset;
  } else {
    plan.kind = SidecarPlanKind::kRewrite;
    plan.content = CutOutFork(view, *fork);
    error = CheckRewrite(plan.content);
  }
  if (error == ForkFormatError::kNone) *out = std::move(plan);
  return error;
}

ForkFormatError PlanSidecarSetFinderInfo(Bytes sidecar, const FinderInfoBytes &info,
                                         SidecarPlan *out) {
  AppleDoubleView view;
  ForkFormatError error = ParseSidecar(sidecar, &view);
  if (error != ForkFormatError::kNone) return error;

  SidecarPlan plan;
  SidecarContent left = GetSidecarContent(view);
  left.finderInfo = !IsAllZero(info);
  if (const AppleDoubleEntry *entry = view.finderInfoEntry()) {
    if (view.finderInfo() == info) {
      // Unchanged: nothing to do.
    } else if (!left.any()) {
      plan.kind = SidecarPlanKind::kRemove;
    } else {
      plan.kind = SidecarPlanKind::kInPlace;
      plan.patchOffset = entry->offset;
      plan.patch.assign(info.begin(), info.end());
      plan.truncateTo = sidecar.size();
    }
  } else if (IsAllZero(info)) {
    // No FinderInfo before or after.
  } else if (view.entries.size() >= kAppleDoubleMaxEntries) {
    error = ForkFormatError::kTooManyEntries;
  } else if (sidecar.size() > UINT32_MAX - kAppleDoubleDescriptorSize - kFinderInfoSize) {
    error = ForkFormatError::kTooLarge;
  } else {
    plan.kind = SidecarPlanKind::kRewrite;
    plan.content = InsertFinderInfo(view, info);
    error = CheckRewrite(plan.content);
  }
  if (error == ForkFormatError::kNone) *out = std::move(plan);
  return error;
}

std::vector<UInt8> BuildSidecarWithFinderInfo(const FinderInfoBytes &info) {
  constexpr UInt32 kInfoAt = 0x32, kForkAt = kAttrMinDataStart;
  std::vector<UInt8> content(kForkAt, 0);
  PutBE32(content, 0, kAppleDoubleMagic);
  PutBE32(content, 4, kAppleDoubleVersion2);
  std::memcpy(content.data() + kAppleDoubleFillerOffset, "Mac OS X        ", kAppleDoubleFillerSize);
  PutBE16(content, 24, 2);
  PutBE32(content, 26, kEntryFinderInfo);
  PutBE32(content, 30, kInfoAt);
  PutBE32(content, 34, kForkAt - kInfoAt);
  PutBE32(content, 38, kEntryResourceFork);
  PutBE32(content, 42, kForkAt);
  PutBE32(content, 46, 0);
  std::memcpy(content.data() + kInfoAt, info.data(), info.size());
  const size_t attr = kInfoAt + kAttrOffsetInEntry;
  PutBE32(content, attr, kAttrMagic);
  PutBE32(content, attr + 8, kForkAt);   // total size
  PutBE32(content, attr + 12, kForkAt);  // data start
  return content;
}

std::vector<UInt8> ApplySidecarPlan(Bytes sidecar, const SidecarPlan &plan) {
  std::vector<UInt8> result(sidecar.begin(), sidecar.end());
  switch (plan.kind) {
    case SidecarPlanKind::kNothing:
      break;
    case SidecarPlanKind::kInPlace:
      // As pwrite would: a patch past the end grows the file.
      if (plan.patchOffset + plan.patch.size() > result.size())
        result.resize(size_t(plan.patchOffset + plan.patch.size()));
      std::copy(plan.patch.begin(), plan.patch.end(), result.begin() + ptrdiff_t(plan.patchOffset));
      result.resize(size_t(plan.truncateTo));
      break;
    case SidecarPlanKind::kRewrite:
      result = plan.content;
      break;
    case SidecarPlanKind::kRemove:
      result.clear();
      break;
  }
  return result;
}

}  // namespace tv::forks
