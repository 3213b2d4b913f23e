// UUID text forms and helpers shared by CFUUID, bundles and plug-in counts.
#pragma once

#include "platform/cf/CFInternal.h"

#include <string_view>

namespace tv::cf {

using UUIDBytes = std::array<UInt8, 16>;

// "68753A44-4D6F-1226-9C60-0050E4C00067" (upper case).
std::string UUIDToText(const UUIDBytes &bytes);
// Accepts exactly that form, in either case; false for anything else.
bool UUIDFromText(std::string_view text, UUIDBytes *out);
// The bytes of uuid; all zero for NULL or a non-UUID.
UUIDBytes BytesOf(CFUUIDRef uuid);
// A new counted UUID object; NULL on failure. Caller releases.
CFUUIDRef CreateUUID(const UUIDBytes &bytes);

}  // namespace tv::cf
