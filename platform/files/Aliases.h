// The alias record: the bytes behind an AliasHandle.
//
// All fields big-endian:
//   0  magic 'TVal'         4  version (u16) = 1     6  reserved (u16) = 0
//   8  device (u64)        16  inode (u64)           24 path length (u32)
//  28  the absolute path, UTF-8, without a terminating 0
// The record is exactly 28 + path length bytes. Device and inode are those
// the item had when the record was made (0 and 0 when nothing was there).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tv::files {

struct AliasRecord {
  uint64_t device = 0;
  uint64_t inode = 0;
  std::string path;
};

constexpr size_t kAliasHeaderSize = 28;

std::vector<uint8_t> EncodeAliasRecord(const AliasRecord &record);
// False for anything that is not a well-formed record: wrong magic or
// version, a length that disagrees with the size, a path that is empty,
// relative or holds a 0 byte. Reads nothing outside [bytes, bytes + size).
bool DecodeAliasRecord(const uint8_t *bytes, size_t size, AliasRecord *record);

}  // namespace tv::files
