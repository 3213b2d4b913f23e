// The values of the extended attributes where Linux servers and copy tools
// keep a Mac file's FinderInfo and resource fork:
//   user.com.apple.FinderInfo          the 32 bytes;
//   user.DosStream.AFP_AfpInfo:$DATA   AfpInfo (60 bytes) and the 0 byte that
//                                      Samba's streams_xattr appends;
//   user.org.netatalk.Metadata         an AppleDouble header with entry 9;
//   user.DosStream.AFP_Resource:$DATA  the fork and one trailing 0 byte.
// Pure functions of the values; the file layer reads and writes them.
#pragma once

#include <vector>

#include "platform/forks/AppleDouble.h"

namespace tv::forks {

// What to do to one extended attribute.
enum class XattrPlanKind : UInt8 { kNothing, kSet, kRemove };
struct XattrPlan {
  XattrPlanKind kind = XattrPlanKind::kNothing;
  std::vector<UInt8> value;  // kSet: the new value
};

// ---- user.com.apple.FinderInfo ----------------------------------------------

// Exactly 32 bytes, or kBadLength. *out is set only on success.
ForkFormatError ParseFinderInfoXattr(Bytes value, FinderInfoBytes *out);
// Sets the attribute to info; an all-zero info removes it, as macOS does.
// `exists` says whether the attribute is there now (`current` is then its
// value, which is not checked: the attribute is replaced whole).
XattrPlan PlanFinderInfoXattr(bool exists, Bytes current, const FinderInfoBytes &info);

// ---- AfpInfo -----------------------------------------------------------------

constexpr size_t kAfpInfoSize = 60;
constexpr UInt32 kAfpInfoMagic = 0x41465000;    // "AFP\0"
constexpr UInt32 kAfpInfoVersion = 0x00000100;  // bytes 00 00 01 00
constexpr size_t kAfpInfoFinderInfoOffset = 16;
constexpr UInt32 kAfpInfoBackupTimeUnknown = 0x80000000;

// Accepts 60 bytes, or 61 whose last byte is 0 (the form streams_xattr
// stores), with the magic and version; every other length, or a 61st byte that
// is not 0, is refused. *out is set only on success.
ForkFormatError ParseAfpInfo(Bytes value, FinderInfoBytes *out);
// Replaces bytes 16..47 and keeps every other byte, the trailing 0 included;
// an all-zero info removes the attribute, as Samba does. kNothing when the
// value is unchanged.
ForkFormatError PlanAfpInfoSetFinderInfo(Bytes value, const FinderInfoBytes &info, XattrPlan *out);

// ---- netatalk metadata -------------------------------------------------------

// A sound AppleDouble (not AppleSingle) header that has an entry 9.
ForkFormatError ParseNetatalkMetadata(Bytes value, AppleDoubleView *out);
// Replaces entry 9's first 32 bytes in place; kept even when all zero.
ForkFormatError PlanNetatalkSetFinderInfo(Bytes value, const FinderInfoBytes &info, XattrPlan *out);

// ---- AFP_Resource stream -----------------------------------------------------

// The fork's length: the value's length less its trailing byte. A value of
// length 0 (not even the trailing byte) is an empty fork too.
UInt64 AfpResourceForkSize(Bytes value);
// The fork's bytes, without the trailing byte.
Bytes AfpResourceFork(Bytes value);
// The value of an empty fork: the single byte 0.
std::vector<UInt8> EmptyAfpResourceValue();
// Sets the value to the empty fork; kNothing when the fork is empty already.
XattrPlan PlanAfpResourceEmpty(Bytes value);

}  // namespace tv::forks
