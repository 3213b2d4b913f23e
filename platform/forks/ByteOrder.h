// Big-endian fields of the Mac metadata formats. Callers check bounds first.
#pragma once

#include <cstddef>
#include <span>

#include "platform/MacTypes.h"

namespace tv::forks {

// A borrowed byte string: a sidecar's content or an extended attribute's value.
using Bytes = std::span<const UInt8>;

inline UInt16 GetBE16(Bytes b, size_t at) {
  return UInt16((UInt16(b[at]) << 8) | b[at + 1]);
}
inline UInt32 GetBE32(Bytes b, size_t at) {
  return (UInt32(b[at]) << 24) | (UInt32(b[at + 1]) << 16) | (UInt32(b[at + 2]) << 8) |
         UInt32(b[at + 3]);
}
inline void PutBE16(std::span<UInt8> b, size_t at, UInt16 v) {
  b[at] = UInt8(v >> 8);
  b[at + 1] = UInt8(v);
}
inline void PutBE32(std::span<UInt8> b, size_t at, UInt32 v) {
  b[at] = UInt8(v >> 24);
  b[at + 1] = UInt8(v >> 16);
  b[at + 2] = UInt8(v >> 8);
  b[at + 3] = UInt8(v);
}

}  // namespace tv::forks
