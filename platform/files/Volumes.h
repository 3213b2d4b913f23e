// Mount points: which folders are volumes.
#pragma once

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

}  // namespace tv::files
