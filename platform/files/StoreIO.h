// The fork stores on disk: an item's "._name" sidecar and its metadata
// attributes, read into a snapshot for the decisions of
// platform/forks/StoreDecisions.h, and the plans those decisions make carried
// out so that a sidecar parses as its old or its new content at every
// instant (see ApplyForkStorePlan).
//
// Every system call goes through platform/sys/CallTable.h and every errno
// becomes a status in platform/files/Errors.cpp. A sidecar or attribute that
// does not parse gives kForkStoreDamagedErr and is never rewritten.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

#include "platform/MacTypes.h"
#include "platform/files/Refs.h"
#include "platform/forks/StoreDecisions.h"
#include "platform/sys/FileReplacement.h"

namespace tv::files {

// What a store that does not parse gives (ioErr): the user sees that the
// file's metadata cannot be read, and nothing is written.
constexpr OSStatus kForkStoreDamagedErr = ioErr;

// Sidecar rewrites go through the shared replacement (FileReplacement.h),
// whose temporaries are named this and 16 lowercase hex digits. One left
// behind by a process that died between creating and renaming it holds no
// item's metadata (its name never starts with "._"), is never listed, and
// goes when a zap walks its folder.
using tv::sys::kTemporaryPrefix;

// Removes the entry `name` of the open folder dirFd when it is a leftover of
// a rewrite: named as our temporaries are, a regular file no live process
// holds locked (a writer holds its temporary locked until it is renamed),
// and empty or AppleDouble from its first byte on, whole or cut short (a
// writer killed part way). Anything else stays; failures are ignored.
void RemoveLeftoverTemporary(int dirFd, const char *name);

// How the calls reach the item's extended attributes: through a descriptor of
// the item when the caller holds one (it cannot be swapped underneath),
// else as an entry of its folder, never following a link.
struct XattrTarget {
  int fd = -1;
  int dirFd = AT_FDCWD;
  std::string path;  // from dirFd
  sys::XattrPlace place() const { return sys::XattrPlace{fd, dirFd, path.c_str()}; }
};
XattrTarget XattrTargetOf(const ItemLocation &where, int itemFd = -1);

// Where the item's sidecar is, from where.dirFd: "._name" beside the item;
// "._." inside a volume root (the root folder and every mount point).
std::string SidecarPathOf(const ItemLocation &where, const struct stat &st);

// An open sidecar and its bytes (see ReadSidecarStore for what is read).
class SidecarFile {
 public:
  SidecarFile() = default;
  SidecarFile(const SidecarFile &) = delete;
  SidecarFile &operator=(const SidecarFile &) = delete;
  ~SidecarFile();

  int dirFd = AT_FDCWD;
  std::string path;  // from dirFd
  int fd = -1;       // owned
  bool writable = false;
  int writeErrno = 0;  // why it could not be opened for writing
  struct stat st {};
  std::unique_ptr<UInt8[]> buffer;
  size_t size = 0;

  tv::forks::Bytes bytes() const { return {buffer.get(), size}; }
};

// The stores of one item as read. Attribute values are whole.
struct ItemStores {
  std::optional<std::vector<UInt8>> finderInfoXattr;
  std::optional<std::vector<UInt8>> resourceForkXattr;
  std::optional<std::vector<UInt8>> afpInfo;
  std::optional<std::vector<UInt8>> netatalkMetadata;
  std::optional<std::vector<UInt8>> afpResource;
  std::unique_ptr<SidecarFile> sidecar;  // null when the item has none (or it was not read)

  // Borrowed views of the above, valid while this record is unchanged.
  tv::forks::ForkStoreSnapshot Snapshot() const;
  // Nothing was read: no attribute of ours and no sidecar.
  bool empty() const {
    return !finderInfoXattr && !resourceForkXattr && !afpInfo && !netatalkMetadata && !afpResource && !sidecar;
  }
};

// Reads the item's metadata attributes: one listing, then one read for
// each attribute of ours that is there. Nothing for links, FIFOs, sockets
// and devices (Linux keeps no user attributes on them).
OSStatus ReadXattrStores(const ItemLocation &where, const struct stat &st, const XattrTarget &target,
                         ItemStores *stores);

// Looks for the item's sidecar and reads it: one open (no such file: no
// sidecar), one fstat, one read for all but very large sidecars. forWriting
// opens it for reading and writing where that is allowed. With kSkipLargeFork
// the bytes of a resource fork over a few KiB in a sidecar over 1 MiB are
// not read (they stay undefined): right for reading sizes and for emptying
// the fork, never for a plan that copies the fork. A link, folder or other
// special file where the sidecar belongs is never followed or read: it is
// no sidecar (the listing shows it as an item of its own); for an item no
// listing has shown, it is looked at first and never opened. Where the folder
// may ignore case, an item no listing has shown first learns its sidecar's
// name on disk (LearnSidecarName in Listing.h). A file or a folder on its
// parent's volume whose folder's last listing showed no sidecar beside it
// has none, for reading and writing alike: nothing is opened. For reading,
// one the listing showed is read with no fstat while one read of 64 KiB
// takes it whole (its st then tells only its kind and size).
enum class SidecarBytes { kWhole, kSkipLargeFork };
OSStatus ReadSidecarStore(const ItemLocation &where, const struct stat &st, bool forWriting, SidecarBytes what,
                          ItemStores *stores);
// Whether the last listing of the item's folder showed no "._name" beside
// it, so that ReadSidecarStore finds none without opening anything.
bool ListingShowedNoSidecar(const ItemLocation &where, const struct stat &st);

// Carries out a plan on the stores read into `stores` (which must be the
// ones the plan was made from): the lowest-priority store first and the
// sidecar last for the resource fork, the primary last for FinderInfo, so
// that an error part way leaves what reading sees unchanged for as long as
// possible. Sidecar plans:
//   in place  the patch is written, flushed, and only then is the file cut;
//   rewrite   the shared replacement (FileReplacement.h): a temporary
//             sibling with the sidecar's owner, mode, extended attributes
//             and ACL, flushed, renamed over the sidecar, the folder flushed
//             (on failure it is removed again; a sidecar whose owner, group or
//             attributes the user cannot give to a new file is left as it
//             is, with the status of that failure: permErr for EPERM);
//             an in-place plan for a sidecar with more than one link is
//             carried out this way, so that its other names keep the old
//             content;
//   remove    the sidecar is unlinked.
// A FinderInfo attribute to create on a file system without user attributes
// becomes a new sidecar instead.
enum class PlanOrder { kResourceFork, kFinderInfo };
OSStatus ApplyForkStorePlan(const ItemLocation &where, const struct stat &st, const XattrTarget &target,
                            ItemStores &stores, const tv::forks::ForkStorePlan &plan, PlanOrder order);

// Empties the resource fork in every store that holds one. Locks and access
// are the caller's to check.
OSStatus ForkStoreEmptyResourceFork(const ItemLocation &where, const struct stat &st, const XattrTarget &target);

// Both of the above.
OSStatus ReadItemStores(const ItemLocation &where, const struct stat &st, const XattrTarget &target,
                        bool forWriting, SidecarBytes what, ItemStores *stores);

// Where the primary resource fork is, for reading it.
struct ResourceForkPlace {
  tv::forks::ForkStore store = tv::forks::ForkStore::kNone;
  UInt64 size = 0;
  UInt64 offset = 0;  // in the sidecar, for kSidecar
};
// Finds the primary fork among stores already read (no I/O);
// kForkStoreDamagedErr when a store it must look at does not parse.
OSStatus LocateResourceFork(const ItemStores &stores, ResourceForkPlace *place);

// Checks that the item may be changed: a read-only volume gives wPrErr, an
// immutable or append-only item fLckdErr, a missing write permission of the
// effective user afpAccessDenied. itemFd, when not -1, is an open descriptor
// of the item. The lock flags come from the look `item` where statx reported
// them, and whether the volume is read-only (and keeps lock flags at all)
// from the listing of the item's folder when a walk has just listed it and
// the item is no mount of its own (FolderFacts in Volumes.h); else the item
// is asked.
OSStatus CheckItemWritable(const ItemLocation &where, const ItemStat &item, int itemFd);
// The lock part alone: fLckdErr for an immutable or append-only item.
OSStatus CheckItemUnlocked(const ItemLocation &where, const ItemStat &item, int itemFd);

}  // namespace tv::files
