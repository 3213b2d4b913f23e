// Mount points: which folders are volumes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tv::files {

// The mount points named by a /proc/self/mountinfo text (fifth field, with
// the kernel's \ooo escapes undone), in the order given. Lines that do not
// parse are skipped.
std::vector<std::string> ParseMountPoints(std::string_view mountinfo);

// Whether an absolute path is a mount point of this process, from
// /proc/self/mountinfo. The table is read once and read again only when the
// kernel signals that the mounts changed (POLLPRI on the open file).
bool IsMountPoint(const std::string &path);

// The names of the entries of folder `folderPath` that are mount points.
std::vector<std::string> MountPointsIn(const std::string &folderPath);

class FolderDescriptor;

// What the listing of a folder learnt of its volume, for the folder's items,
// so that a walk asks the kernel once per folder instead of once per file:
// whether the mount is read-only (noted by the listing, which starts the
// folder's record anew), that the file system keeps no lock flags
// (FS_IOC_GETFLAGS refused as unknown, as by FUSE and FAT) or no user
// attributes (as FAT and exFAT; noted by the first item asked). The listing
// also hands over the folder it opened (fd, or -1), which its items are
// then reached from (see ItemLocation). A few folders are kept: the chain
// of folders above the last one listed first, so that a walk back from a
// subfolder finds its folder still open, then the most recent.
enum FolderFact : unsigned { kFolderReadOnly = 1, kFolderWithoutLockFlags = 2, kFolderWithoutXattrs = 4 };
void NoteFolderListed(uint32_t folderNode, bool readOnly, int fd = -1);
// The open folder the last listing of folderNode handed over; null when it
// is not kept.
std::shared_ptr<const FolderDescriptor> ListedFolder(uint32_t folderNode);
void NoteFolderFact(uint32_t folderNode, FolderFact fact);
// The facts noted of a folder; -1 for a folder not among those kept.
int FolderFacts(uint32_t folderNode);

}  // namespace tv::files
