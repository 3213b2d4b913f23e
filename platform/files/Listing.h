// Folder listings: what a folder shows, and how it is read.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/MacTypes.h"
#include "platform/files/Refs.h"

namespace tv::files {

struct FolderEntry {
  std::string name;
  uint64_t device = 0;
  uint64_t inode = 0;
  uint8_t type = 0;         // the listing's DT_* value (DT_UNKNOWN where it does not say)
  bool hasSidecar = false;  // a "._name" sidecar stood beside it
  // The sidecar's name on disk when it is not "._" + name: in a folder that
  // ignores case, "._mixed.txt" is the sidecar of "Mixed.TXT".
  std::string sidecarName;
  // A folder known to be on the listed folder's own volume: the same device
  // and no mount's root (its metadata then is a "._name" beside it, never a
  // "._." inside).
  bool onFolderVolume = false;
};

// Asked at most once per listing, and only when a sidecar pairs with an item
// just by ignoring case ("._mixed.txt" beside "Mixed.TXT"): whether the
// folder ignores case. itemName is that item's name.
using CaseProbe = std::function<bool(std::string_view itemName)>;

// The entries a folder shows, sorted by the bytes of their names: all but
// "." and "..", and but the "._name" sidecars whose "name" is in the same
// folder, wherever the two sort (they are that item's metadata); in a folder
// that ignores case, "name" may differ from the item's name in case. "._."
// is the metadata of a volume root and is left out there; elsewhere, like
// any orphan "._x", it is a plain file. Only a regular file (or an entry of
// unknown kind) is metadata, a sidecar or a temporary: a folder, link or FIFO
// of such a name is an item like any other.
std::vector<FolderEntry> VisibleEntries(std::vector<FolderEntry> entries, bool volumeRoot,
                                        const CaseProbe &ignoresCase = {});

// A name with its letters in one case, by simple (one to one) Unicode case
// folding of ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic letters;
// other characters and bytes that are not UTF-8 are kept as they are. It
// neither normalises nor folds one letter into several ("ß" stays).
std::string FoldCase(std::string_view name);

// Whether the open folder fd ignores case: the casefold flag of ext4 and
// tmpfs folders, else (FAT, exFAT, FUSE, network file systems) whether
// "._" + itemName, which the listing does not hold, can be looked up.
bool FolderIgnoresCase(int fd, std::string_view itemName);

// Tells the node of an item that no listing has shown (one reached by its
// path) what a listing of its folder would tell of its sidecar, where the
// folder may ignore case: there "._" + name may reach a sidecar whose name
// differs in case, and only its name on disk keeps that name when it is
// rewritten (FUSE even gives the other name a node of its own, with pages of
// its own). Elsewhere the node learns that "._" + name is the only name.
// Nothing for a node already listed or learned; failures are left to the
// reads that follow.
void LearnSidecarName(const ItemLocation &where);

// Reads the folder `where` (whose lstat is `st`, of which only the device
// and inode are used: the folder is checked to be that one once it is open),
// removes the temporaries a killed sidecar rewrite left in it
// (RemoveLeftoverTemporary), and returns its visible entries with the device
// and inode each one has. Reads names in large
// batches and looks at an entry on its own only where the folder listing
// cannot tell its identity (mount points, and file systems whose listing
// numbers are not the inode numbers). afpAccessDenied for an unreadable
// folder, dirNFErr for something that is not a folder, fnfErr when the
// folder is not the one described by st any more.
OSStatus ListFolderRemovingLeftovers(const ItemLocation &where, const ItemStat &st,
                                     std::vector<FolderEntry> *out);

// Whether the listing of the open folder fd reports the inode numbers that
// stat reports (ext2/3/4, tmpfs, xfs). Elsewhere (FAT numbers uncached
// entries as it lists them; overlayfs and btrfs subvolumes report others)
// every entry is looked at on its own.
bool ListingReportsInodes(int fd);

// Where the listing's numbers are not the inodes, whether an entry must be
// looked at for its identity while the folder is read: it gives no kind.
// Any other entry, a folder or a file with a sidecar too, is known by its
// name until it is opened (mount points, named by the mount table, are
// always looked at).
bool NeedsOwnLook(const FolderEntry &e);

// Whether the folder at `where` is the root of a volume: "/", a mount point,
// or a folder on another device than its parent.
bool IsVolumeRoot(const ItemLocation &where, const struct stat &st);

}  // namespace tv::files
