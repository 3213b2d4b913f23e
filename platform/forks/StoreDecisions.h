// The places where one item's resource fork and FinderInfo may live, and the
// decisions across them: which copy is read (the primary), and what to write
// where to empty the fork or to set FinderInfo. Pure: the file layer reads
// the stores into a ForkStoreSnapshot, asks here, and carries out the plans.
//
//   resource fork, in priority order: the "._name" sidecar's entry 2;
//     user.com.apple.ResourceFork; user.DosStream.AFP_Resource:$DATA.
//   FinderInfo, in priority order: user.com.apple.FinderInfo;
//     user.DosStream.AFP_AfpInfo:$DATA; user.org.netatalk.Metadata; the
//     sidecar's entry 9.
//
// A store holds a fork when its fork is not empty, and FinderInfo when its 32
// bytes are not all zero (all zero means none). A store that does not parse
// is never rewritten: a plan that would touch it, or a read that would have to
// look past it, fails with its error and nothing is planned.
#pragma once

#include <optional>

#include "platform/forks/SidecarPlan.h"
#include "platform/forks/StreamXattrs.h"

namespace tv::forks {

// Linux names of the extended attributes.
inline constexpr char kFinderInfoXattrName[] = "user.com.apple.FinderInfo";
inline constexpr char kResourceForkXattrName[] = "user.com.apple.ResourceFork";
inline constexpr char kAfpInfoXattrName[] = "user.DosStream.AFP_AfpInfo:$DATA";
inline constexpr char kNetatalkMetadataXattrName[] = "user.org.netatalk.Metadata";
inline constexpr char kAfpResourceXattrName[] = "user.DosStream.AFP_Resource:$DATA";

enum class ForkStore : UInt8 {
  kNone,
  kSidecar,
  kFinderInfoXattr,
  kResourceForkXattr,
  kAfpInfo,
  kNetatalkMetadata,
  kAfpResource,
};

// What the stores of one item hold; an absent optional is a store that is not
// there (no sidecar, no such attribute). The spans are borrowed.
struct ForkStoreSnapshot {
  std::optional<Bytes> sidecar;
  std::optional<Bytes> finderInfoXattr;
  std::optional<Bytes> resourceForkXattr;
  std::optional<Bytes> afpInfo;
  std::optional<Bytes> netatalkMetadata;
  std::optional<Bytes> afpResource;
};

// The primary resource fork: its bytes (a view into the snapshot) and where
// they are; an empty fork and kNone when no store holds one. Outputs are set
// only on success; `store` may be null.
ForkFormatError ReadResourceFork(const ForkStoreSnapshot &stores, Bytes *fork, ForkStore *store);

// The primary FinderInfo and where it is; 32 zero bytes and kNone when no
// store holds any. Outputs are set only on success; `store` may be null.
ForkFormatError ReadFinderInfo(const ForkStoreSnapshot &stores, FinderInfoBytes *info, ForkStore *store);

// One plan per store; kNothing for the stores left alone.
struct ForkStorePlan {
  SidecarPlan sidecar;
  XattrPlan finderInfoXattr;
  XattrPlan resourceForkXattr;
  XattrPlan afpInfo;
  XattrPlan netatalkMetadata;
  XattrPlan afpResource;
  bool nothing() const;
};

// Empties the fork in every store that holds one: the sidecar's entry 2 (the
// blank placeholder included), user.com.apple.ResourceFork removed, the
// AFP_Resource stream set to its empty value. *out is set only on success.
ForkFormatError PlanEmptyResourceForkEverywhere(const ForkStoreSnapshot &stores, ForkStorePlan *out);

// The bytes carrying out plan frees, against the stores it was made from:
// what each attribute and the sidecar file lose. A sidecar that other names
// share frees nothing: they keep the old file.
UInt64 BytesFreedByPlan(const ForkStoreSnapshot &stores, const ForkStorePlan &plan, bool sidecarShared);

// Writes info to the primary FinderInfo store; when no store holds FinderInfo,
// to the first FinderInfo store that exists (so that a Samba share's
// metadata attribute, or a sidecar, receives it), else to a new
// user.com.apple.FinderInfo (a file system without user attributes takes a
// new sidecar instead: BuildSidecarWithFinderInfo). Every other store that
// holds a copy loses the finderFlags bits the change cleared and gains none.
// All-zero values remove user.com.apple.FinderInfo and AfpInfo and may remove
// the sidecar; netatalk metadata keeps zeros. *out is set only on success.
ForkFormatError PlanWriteFinderInfoEverywhere(const ForkStoreSnapshot &stores, const FinderInfoBytes &info,
                                              ForkStorePlan *out);

}  // namespace tv::forks
