#include "platform/forks/FinderInfo.h"

#include <algorithm>
#include <cstring>

namespace tv::forks {

bool IsAllZero(const FinderInfoBytes &info) { return IsAllZero(Bytes(info)); }

bool IsAllZero(Bytes bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](UInt8 b) { return b == 0; });
}

UInt16 GetFinderFlags(const FinderInfoBytes &info) { return GetBE16(info, kFinderFlagsOffset); }

void SetFinderFlags(FinderInfoBytes &info, UInt16 flags) {
  PutBE16(info, kFinderFlagsOffset, flags);
}

bool ClearFinderFlags(FinderInfoBytes &info, UInt16 bits) {
  UInt16 flags = GetFinderFlags(info);
  if ((flags & bits) == 0) return false;
  SetFinderFlags(info, UInt16(flags & ~bits));
  return true;
}

FinderInfoBytes MergeFinderFlagsIntoSecondary(const FinderInfoBytes &secondary,
                                              const FinderInfoBytes &oldPrimary,
                                              const FinderInfoBytes &newPrimary) {
  UInt16 cleared = UInt16(GetFinderFlags(oldPrimary) & ~GetFinderFlags(newPrimary));
  FinderInfoBytes merged = secondary;
  ClearFinderFlags(merged, cleared);
  return merged;
}

FinderInfoBytes FinderInfoFrom(Bytes bytes) {
  FinderInfoBytes info{};
  std::memcpy(info.data(), bytes.data(), kFinderInfoSize);
  return info;
}

namespace {

BlankResourceFork MakeBlankResourceFork() {
  BlankResourceFork fork{};
  // Resource header: data and map both at 0x100, no data, a 30-byte map.
  PutBE32(fork, 0, 0x100);
  PutBE32(fork, 4, 0x100);
  PutBE32(fork, 8, 0);
  PutBE32(fork, 12, 0x1E);
  static const char kText[] = "This resource fork intentionally left blank   ";
  std::memcpy(fork.data() + 16, kText, sizeof kText);  // with its 0
  // The map: a copy of the header, then the type-list and name-list offsets
  // and a type count of -1 (no types).
  std::memcpy(fork.data() + 256, fork.data(), 16);
  PutBE16(fork, 280, 0x001C);
  PutBE16(fork, 282, 0x001E);
  PutBE16(fork, 284, 0xFFFF);
  return fork;
}

}  // namespace

const BlankResourceFork &GetBlankResourceFork() {
  static const BlankResourceFork fork = MakeBlankResourceFork();
  return fork;
}

bool IsBlankResourceFork(Bytes fork) {
  const BlankResourceFork &blank = GetBlankResourceFork();
  return fork.size() == blank.size() && std::equal(fork.begin(), fork.end(), blank.begin());
}

}  // namespace tv::forks
