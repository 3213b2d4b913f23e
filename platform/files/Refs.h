// FSRefs inside the platform: what the 80 bytes hold, how an item is reached
// from its ref, and how a POSIX path becomes a ref.
//
// Layout of an FSRef (native byte order; a ref never leaves the process):
//   0  magic 'TvRf'      4  layout version 1
//   8  device (64 bits) 16  inode (64 bits)
//  24  path node        28  the kind the listing that made it reported
//  29..71 zero
//  72  check value: a keyed hash of bytes 0..71 with a key drawn at start-up
// A ref that fails any of these tests (garbage, zeroes, a ref of another
// process, a node this process never made) is errFSBadFSRef and is never used.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <fcntl.h>
#include <sys/stat.h>

#include "platform/Files.h"

namespace tv::files {

// The inode of a ref made from a listing whose numbers are not the inodes
// (FUSE, FAT) for an entry that was not looked at: the ref names the entry
// by its folder and name, and resolves to what is there while it is of the
// kind the listing reported. Every open still checks that what it opened is
// what the ref resolved to.
constexpr uint64_t kUnlistedInode = 0;

struct RefFields {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint32_t node = 0;
  uint8_t listedKind = kTVListedKindUnknown;  // refs made from a listing only
};

FSRef EncodeRef(const RefFields &fields);
// paramErr for NULL, errFSBadFSRef for bytes the platform did not make.
OSStatus DecodeRef(const FSRef *ref, RefFields *fields);

// What lstat says of an item, with the birth time and the lock flags that
// only statx reports.
struct ItemStat {
  struct stat st {};
  bool hasBirthTime = false;
  struct timespec birthTime {};
  bool immutable = false;  // the inode carries the immutable or append-only flag
  bool lockKnown = false;  // statx reported both flags (else only FS_IOC_GETFLAGS tells)
  bool onFolderMount = false;  // statx told that no mount has its root here
};

// An open folder that the locations of its items share: the folder a walk
// listed, or the end of a chain of folders beyond PATH_MAX. Closed with the
// last location that uses it.
class FolderDescriptor {
 public:
  explicit FolderDescriptor(int fd) : fd_(fd) {}
  FolderDescriptor(const FolderDescriptor &) = delete;
  FolderDescriptor &operator=(const FolderDescriptor &) = delete;
  ~FolderDescriptor();
  int fd() const { return fd_; }

 private:
  int fd_;
};

// How to reach an item and the folder that holds it with *at() calls.
//
// An item that a listing of its folder numbered is reached from that
// folder while it is held open: dirFd is its descriptor, itemPath the bare name and
// folderPath ".". Lookups then cost one component, not the whole path, and
// find the items of the folder that was listed, wherever it is now (a folder
// renamed during the walk keeps its items; one put in its place does not
// lend them). Otherwise, while the path fits in PATH_MAX, dirFd is AT_FDCWD
// and the paths are absolute; beyond that the folder is reached through a
// chain of openat(O_PATH | O_DIRECTORY | O_NOFOLLOW) calls and dirFd is the
// chain's end. The root "/" is its own folder, with the name ".".
class ItemLocation {
 public:
  ItemLocation() = default;
  ItemLocation(ItemLocation &&other) noexcept;
  ItemLocation &operator=(ItemLocation &&other) noexcept;
  ItemLocation(const ItemLocation &) = delete;
  ItemLocation &operator=(const ItemLocation &) = delete;
  ~ItemLocation() = default;

  int dirFd = AT_FDCWD;    // the folder's descriptor, held by `folder`
  std::string itemPath;    // the item, from dirFd
  std::string folderPath;  // its folder, from dirFd
  std::string name;        // the item's name in its folder
  uint32_t node = 0;
  std::shared_ptr<const FolderDescriptor> folder;  // null with AT_FDCWD

  // The absolute path, which may be longer than PATH_MAX: made when first
  // asked, as an item reached from its folder needs none.
  const std::string &FullPath() const;

  bool isRoot() const { return node == 0; }
  // Makes this the location of itemNode, reached by its name from the open
  // folder whose listing numbered it.
  void SetInListedFolder(uint32_t itemNode, std::shared_ptr<const FolderDescriptor> listedFolder,
                         std::string_view itemName);
  // Another entry of the item's folder (a "._name" sidecar, a temporary
  // file), from dirFd.
  std::string SiblingPath(std::string_view sibling) const;

 private:
  mutable std::string fullPath_;
};

// Sets up *loc for a node. A status when the folder chain cannot be opened.
// An item that a listing made the ref of (listed) is reached from the folder
// that listing opened, while it is kept (ListedFolder); any other, an item
// the user named by its path, from its path as it is now.
OSStatus LocateNode(uint32_t node, ItemLocation *loc, bool listed = false);
// Whether the ref was made from a listing.
inline bool FromListing(const RefFields &fields) { return fields.listedKind != kTVListedKindUnknown; }

// lstat of (dirFd, path) through statx (fstatat where statx is missing).
// Returns 0 or an errno value.
int StatItemAt(int dirFd, const char *path, ItemStat *out);

// Decodes ref, locates its node and checks that what is there now is the
// same item (device and inode): fnfErr when it is gone or was replaced.
// loc and st may be NULL when not wanted.
OSStatus ResolveRef(const FSRef *ref, ItemLocation *loc, ItemStat *st);

// Walks a path from the root (a relative path from the working directory),
// following the symbolic links of the folders on the way and the last
// component only when followLast. "." and ".." are taken after the links
// before them, as the kernel does. Interns the item's node. Folders walked
// before are remembered, so that the items of one folder cost two stats each.
OSStatus WalkPath(std::string_view path, bool followLast, uint32_t *node, ItemStat *st);
// The same, always from the root.
OSStatus WalkPathFromRoot(std::string_view path, bool followLast, uint32_t *node, ItemStat *st);

// "/a/b" from "b/../b/./c/.." style paths: relative paths are joined to the
// working directory; "." and empty components go, ".." takes the component
// before it (never above the root). Symbolic links are not consulted.
// Empty on failure (no working directory).
std::string LexicallyNormalPath(std::string_view path);

}  // namespace tv::files
