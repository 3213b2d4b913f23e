// Mount points: which folders are volumes.
#pragma once

#include <cstdint>
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

// Whether the mount a folder was just listed on is read-only, as its listing
// saw it: noted by the listing, asked for the folder's items, so that a walk
// asks the kernel once per folder instead of once per file. The last few
// folders listed are kept. -1 for a folder not among them.
void NoteFolderReadOnly(uint32_t folderNode, bool readOnly);
int FolderReadOnly(uint32_t folderNode);
// Likewise that the file system of a folder so noted keeps no lock flags
// (FS_IOC_GETFLAGS refused as unknown, as FUSE and FAT do): its other
// items are not asked again.
void NoteFolderWithoutLockFlags(uint32_t folderNode);
bool FolderWithoutLockFlags(uint32_t folderNode);

}  // namespace tv::files
