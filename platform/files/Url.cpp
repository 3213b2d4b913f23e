// CFURLCreateFromFSRef: a file URL for the path of a ref.
#include <new>

#include "platform/CoreFoundation.h"
#include "platform/Files.h"
#include "platform/files/Refs.h"

using namespace tv::files;

CFURLRef CFURLCreateFromFSRef(CFAllocatorRef alloc, const FSRef *ref) {
  if (!ref) return nullptr;
  try {
    ItemLocation where;
    ItemStat st;
    if (ResolveRef(ref, &where, &st) != noErr) return nullptr;
    const auto *bytes = reinterpret_cast<const UInt8 *>(where.fullPath.data());
    return CFURLCreateFromFileSystemRepresentation(alloc, bytes, CFIndex(where.fullPath.size()),
                                                   S_ISDIR(st.st.st_mode));
  } catch (const std::bad_alloc &) {
    return nullptr;
  }
}
