// The 32 FinderInfo bytes as they are stored (big-endian), the finderFlags
// word at byte 8, and the 286-byte placeholder resource fork that macOS
// writes into the sidecars it creates.
#pragma once

#include <array>

#include "platform/forks/ByteOrder.h"

namespace tv::forks {

constexpr size_t kFinderInfoSize = 32;
constexpr size_t kFinderFlagsOffset = 8;
constexpr UInt16 kFinderFlagHasCustomIcon = 0x0400;

// FinderInfo of a file or folder in its on-disk byte order.
using FinderInfoBytes = std::array<UInt8, kFinderInfoSize>;

// All 32 bytes zero: the item has no FinderInfo.
bool IsAllZero(const FinderInfoBytes &info);
bool IsAllZero(Bytes bytes);

UInt16 GetFinderFlags(const FinderInfoBytes &info);
void SetFinderFlags(FinderInfoBytes &info, UInt16 flags);
// Clears the given bits; true when one of them was set.
bool ClearFinderFlags(FinderInfoBytes &info, UInt16 bits);

// The copy of FinderInfo to keep in a secondary store after the primary went
// from oldPrimary to newPrimary: the finderFlags bits the change cleared are
// cleared in the secondary copy too, and it never gains a bit, so a flag the
// user cleared cannot come back from a stale copy. Every other byte of the
// secondary copy is kept.
FinderInfoBytes MergeFinderFlagsIntoSecondary(const FinderInfoBytes &secondary,
                                              const FinderInfoBytes &oldPrimary,
                                              const FinderInfoBytes &newPrimary);

// Copies the first 32 bytes of bytes (which must hold at least 32).
FinderInfoBytes FinderInfoFrom(Bytes bytes);

// ---- The "intentionally left blank" resource fork --------------------------

constexpr size_t kBlankResourceForkSize = 286;
using BlankResourceFork = std::array<UInt8, kBlankResourceForkSize>;

// The placeholder fork byte for byte.
const BlankResourceFork &GetBlankResourceFork();
// True only for exactly those 286 bytes. It is a real fork when zapping (the
// zap empties it) but not content when deciding whether a sidecar holds
// anything.
bool IsBlankResourceFork(Bytes fork);

}  // namespace tv::forks
