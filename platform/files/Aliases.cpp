// Alias records, FSNewAlias, FSResolveAlias and TVNewAliasFromPath.
#include "platform/files/Aliases.h"

#include <cstring>
#include <new>

#include "platform/Files.h"
#include "platform/MacMemory.h"
#include "platform/files/Errors.h"
#include "platform/files/PathNodes.h"
#include "platform/files/Refs.h"

namespace tv::files {
namespace {

constexpr uint32_t kAliasMagic = 0x5456616C;  // 'TVal'
constexpr uint16_t kAliasVersion = 1;

// Writes value big-endian in `bytes` bytes at p; returns the end.
uint8_t *Put(uint8_t *p, uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; i--) *p++ = uint8_t(value >> (8 * i));
  return p;
}

uint64_t Get(const uint8_t *p, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; i++) value = (value << 8) | p[i];
  return value;
}

// The record's bytes into out, which has room for kAliasHeaderSize plus the
// path.
void EncodeAliasRecordInto(const AliasRecord &record, uint8_t *out) {
  uint8_t *p = Put(out, kAliasMagic, 4);
  p = Put(p, kAliasVersion, 2);
  p = Put(p, 0, 2);
  p = Put(p, record.device, 8);
  p = Put(p, record.inode, 8);
  p = Put(p, record.path.size(), 4);
  std::memcpy(p, record.path.data(), record.path.size());
}

}  // namespace

std::vector<uint8_t> EncodeAliasRecord(const AliasRecord &record) {
  std::vector<uint8_t> out(kAliasHeaderSize + record.path.size());
  EncodeAliasRecordInto(record, out.data());
  return out;
}

bool DecodeAliasRecord(const uint8_t *bytes, size_t size, AliasRecord *record) {
  if (!bytes || size < kAliasHeaderSize) return false;
  if (Get(bytes, 4) != kAliasMagic || Get(bytes + 4, 2) != kAliasVersion) return false;
  uint64_t length = Get(bytes + 24, 4);
  if (length == 0 || length != size - kAliasHeaderSize) return false;
  const char *path = reinterpret_cast<const char *>(bytes + kAliasHeaderSize);
  if (path[0] != '/' || std::memchr(path, 0, length)) return false;
  record->device = Get(bytes + 8, 8);
  record->inode = Get(bytes + 16, 8);
  record->path.assign(path, length);
  return true;
}

namespace {

// A new handle holding the record; memFullErr when there is no memory.
OSErr NewAliasHandle(const AliasRecord &record, AliasHandle *out) {
  Handle h = NewHandle(Size(kAliasHeaderSize + record.path.size()));
  if (!h) return memFullErr;
  EncodeAliasRecordInto(record, reinterpret_cast<uint8_t *>(*h));
  *out = h;
  return noErr;
}

}  // namespace
}  // namespace tv::files

using namespace tv::files;

// fromFile is for relative aliases, which this platform does not make: it
// is ignored.
OSErr FSNewAlias(const FSRef *fromFile, const FSRef *target, AliasHandle *inAlias) {
  if (!target || !inAlias) return paramErr;
  return OSErr(MemFullOnThrow([&]() -> OSStatus {
    // A ref gives its item's device and inode (checked by whatever used it
    // last) without a look; one made from a listing that could not number
    // its entries gives the inode kUnlistedInode, as it names its item.
    RefFields fields;
    OSStatus result = DecodeRef(target, &fields);
    // Only the path is kept: the item is not reached, so no folder is opened.
    std::string path;
    if (result == noErr) {
      path = PathNodes().Path(fields.node);
      if (path.empty()) result = errFSBadFSRef;  // a node never made
    }
    if (result == noErr) result = NewAliasHandle(AliasRecord{fields.device, fields.inode, std::move(path)}, inAlias);
    return result;
  }));
}

// Resolves by path, never following a final symbolic link: fnfErr when
// nothing is there. *wasChanged (optional) tells that what is there now has
// another device or inode than the record says (a record of an item known by
// its name only, another device); it still resolves.
OSErr FSResolveAlias(const FSRef *fromFile, AliasHandle alias, FSRef *target, Boolean *wasChanged) {
  if (!alias || !*alias || !target) return paramErr;
  return OSErr(MemFullOnThrow([&]() -> OSStatus {
    AliasRecord record;
    Size size = GetHandleSize(alias);
    if (size <= 0 || !DecodeAliasRecord(reinterpret_cast<const uint8_t *>(*alias), size_t(size), &record))
      return paramErr;
    uint32_t node = 0;
    ItemStat st;
    OSStatus result = WalkPath(record.path, false, &node, &st);
    if (result == dirNFErr) result = fnfErr;  // a folder on the way is a file now: nothing there
    if (result == noErr) {
      RefFields fields{uint64_t(st.st.st_dev), uint64_t(st.st.st_ino), node};
      *target = EncodeRef(fields);
      if (wasChanged)
        *wasChanged = fields.device != record.device ||
                      (record.inode != kUnlistedInode && fields.inode != record.inode);
    }
    return result;
  }));
}

// The path is made absolute against the working directory and normalised
// without consulting the disk; the device and inode are those of the item
// there now, 0 and 0 when there is none.
OSErr TVNewAliasFromPath(const char *path, AliasHandle *outAlias) {
  if (!path || !path[0] || !outAlias) return paramErr;
  return OSErr(MemFullOnThrow([&]() -> OSStatus {
    AliasRecord record;
    record.path = LexicallyNormalPath(path);
    if (record.path.empty()) return ioErr;  // no working directory to start from
    ItemStat st;
    if (WalkPath(record.path, false, nullptr, &st) == noErr) {
      record.device = uint64_t(st.st.st_dev);
      record.inode = uint64_t(st.st.st_ino);
    }
    return NewAliasHandle(record, outAlias);
  }));
}
