// What to do to a "._name" sidecar to empty its resource fork or to change
// its FinderInfo, decided from its bytes alone. The file layer carries a plan
// out; every plan keeps the file parsing as the old or the new content at
// each instant:
//   kInPlace  write `patch` at `patchOffset`, then truncate to `truncateTo`
//             (no truncation when it equals the current size);
//   kRewrite  write `content` to a temporary sibling and rename it over;
//   kRemove   unlink the sidecar: it holds nothing any more.
// Every other entry and the packed attributes are kept byte for byte. A
// sidecar that does not parse yields an error and no plan.
#pragma once

#include <vector>

#include "platform/forks/AppleDouble.h"

namespace tv::forks {

enum class SidecarPlanKind : UInt8 { kNothing, kInPlace, kRewrite, kRemove };

struct SidecarPlan {
  SidecarPlanKind kind = SidecarPlanKind::kNothing;
  UInt64 patchOffset = 0;        // kInPlace
  std::vector<UInt8> patch;      // kInPlace
  UInt64 truncateTo = 0;         // kInPlace: the new file size
  std::vector<UInt8> content;    // kRewrite: the whole new file
};

// Empties entry 2. In place when nothing lies after the fork's data
// (whatever the order of the descriptors): its length field becomes 0, then
// the file is cut where the fork began. Otherwise the fork's bytes are cut
// out, the entries after it move down (the ATTR block's absolute offsets with
// them) and the empty fork is placed at the new end of the file. kRemove when
// the sidecar would hold nothing; kNothing when the fork is absent or empty.
// *out is set only on success. AppleSingle files are refused.
ForkFormatError PlanSidecarEmptyResourceFork(Bytes sidecar, SidecarPlan *out);

// Replaces entry 9's first 32 bytes in place, or adds an entry 9 right after
// the descriptors when there is none. kRemove when the sidecar would hold
// nothing; kNothing when the value is unchanged, or all zero and there is no
// entry 9. *out is set only on success.
ForkFormatError PlanSidecarSetFinderInfo(Bytes sidecar, const FinderInfoBytes &info,
                                         SidecarPlan *out);

// A new sidecar that holds just this FinderInfo, laid out as macOS lays out
// the sidecars its copy tools write: filler "Mac OS X        ", entry 9 (the
// FinderInfo, 2 pad bytes and an ATTR header with no attributes) then an
// empty entry 2 at offset 120. macOS adds attributes and a fork to such a
// file without converting it, and the fork, last, can grow by appending.
std::vector<UInt8> BuildSidecarWithFinderInfo(const FinderInfoBytes &info);

// The bytes a sidecar has after the plan is carried out (empty for kRemove).
// For tests and for checking plans.
std::vector<UInt8> ApplySidecarPlan(Bytes sidecar, const SidecarPlan &plan);

}  // namespace tv::forks
