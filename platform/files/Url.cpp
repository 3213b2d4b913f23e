// CFURLCreateFromFSRef: a file URL for the path of a ref (the last one it was
// known by, when the item is not there any more).
#include <new>

#include "platform/CoreFoundation.h"
#include "platform/Files.h"
#include "platform/files/PathNodes.h"
#include "platform/files/Refs.h"

using namespace tv::files;

CFURLRef CFURLCreateFromFSRef(CFAllocatorRef alloc, const FSRef *ref) {
  if (!ref) return nullptr;
  try {
    RefFields fields;
    if (DecodeRef(ref, &fields) != noErr) return nullptr;
    ItemLocation where;
    ItemStat st;
    std::string path;
    bool folder = false;
    if (ResolveRef(ref, &where, &st) == noErr) {
      path = std::move(where.FullPath());
      folder = S_ISDIR(st.st.st_mode);
    } else {
      // Moved, deleted or replaced since the ref was made: the item is
      // still named by the last path it was known by, which is what an
      // alert about it has to show.
      path = PathNodes().Path(fields.node);
      folder = fields.listedKind == kTVListedKindFolder;
    }
    const auto *bytes = reinterpret_cast<const UInt8 *>(path.data());
    return CFURLCreateFromFileSystemRepresentation(alloc, bytes, CFIndex(path.size()), folder);
  } catch (const std::bad_alloc &) {
    return nullptr;
  }
}
