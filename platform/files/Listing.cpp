#include "platform/files/Listing.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <linux/magic.h>
#include <sys/statfs.h>

#include "platform/files/Errors.h"
#include "platform/files/ForkStore.h"
#include "platform/files/Syscalls.h"
#include "platform/files/Volumes.h"

namespace tv::files {

std::vector<FolderEntry> VisibleEntries(std::vector<FolderEntry> entries, bool volumeRoot) {
  entries.erase(std::remove_if(entries.begin(), entries.end(),
                               [](const FolderEntry &e) { return e.name == "." || e.name == ".."; }),
                entries.end());
  // std::string compares as unsigned bytes: the order of the raw names.
  std::sort(entries.begin(), entries.end(),
            [](const FolderEntry &a, const FolderEntry &b) { return a.name < b.name; });
  auto find = [&](std::string_view name) -> FolderEntry * {
    auto it = std::lower_bound(entries.begin(), entries.end(), name,
                               [](const FolderEntry &e, std::string_view n) { return e.name < n; });
    return it != entries.end() && it->name == name ? &*it : nullptr;
  };
  // Sidecars sort before what they describe only sometimes; mark the items
  // first, then drop the sidecars.
  for (auto &e : entries) {
    if (e.name.size() > 2 && e.name.compare(0, 2, "._") == 0) {
      if (FolderEntry *item = find(std::string_view(e.name).substr(2))) item->hasSidecar = true;
    }
  }
  auto exists = [&](std::string_view name) { return find(name) != nullptr; };
  std::vector<FolderEntry> visible;
  visible.reserve(entries.size());
  for (auto &e : entries) {
    bool sidecar = e.name.size() > 2 && e.name.compare(0, 2, "._") == 0 &&
                   ((e.name == "._." && volumeRoot) || exists(std::string_view(e.name).substr(2)));
    // A sidecar rewrite's temporary sibling, left by a process killed in
    // the middle of one: metadata in the making, never an item.
    bool temporary = e.name.compare(0, sizeof kTemporaryPrefix - 1, kTemporaryPrefix) == 0;
    if (!sidecar && !temporary) visible.push_back(std::move(e));
  }
  return visible;
}

bool IsVolumeRoot(const ItemLocation &where, const struct stat &st) {
  if (!S_ISDIR(st.st_mode)) return false;
  if (where.isRoot() || IsMountPoint(where.fullPath)) return true;
  ItemStat parent;
  return StatItemAt(where.dirFd, where.folderPath.c_str(), &parent) == 0 && parent.st.st_dev != st.st_dev;
}

namespace {

struct OwnedFd {
  int fd;
  ~OwnedFd() {
    if (fd >= 0) sys::Close(fd);
  }
};

}  // namespace

bool ListingReportsInodes(int fd) {
  struct statfs sfs {};
  if (sys::Fstatfs(fd, &sfs) != 0) return false;
  switch (uint64_t(sfs.f_type)) {
    case EXT4_SUPER_MAGIC:  // ext2, ext3 and ext4 share it
    case TMPFS_MAGIC:
    case XFS_SUPER_MAGIC:
      return true;
    default:
      return false;
  }
}

OSStatus ReadFolder(const ItemLocation &where, const ItemStat &st, std::vector<FolderEntry> *out) {
  OwnedFd dir{sys::Openat(where.dirFd, where.itemPath.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)};
  if (dir.fd < 0) {
    // O_NOFOLLOW refuses a symbolic link with ELOOP: not a folder either.
    if (errno == ELOOP || errno == ENOTDIR) return dirNFErr;
    return StatusFromErrno(errno);
  }
  struct stat now {};
  if (sys::Fstat(dir.fd, &now) != 0) return StatusFromErrno(errno);
  if (now.st_dev != st.st.st_dev || now.st_ino != st.st.st_ino) return fnfErr;

  std::vector<FolderEntry> entries;
  std::vector<std::string> leftovers;
  // One large buffer per thread, kept: a walk opens many folders, and most
  // of them fit in one read.
  constexpr size_t kBufferSize = 256 * 1024;
  thread_local std::unique_ptr<char[]> buffer;
  if (!buffer) buffer = std::make_unique_for_overwrite<char[]>(kBufferSize);
  char *buf = buffer.get();
  for (;;) {
    ssize_t n = sys::Getdents64(dir.fd, buf, kBufferSize);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return StatusFromErrno(errno);
    if (n == 0) break;
    // linux_dirent64: u64 ino, s64 off, u16 reclen, u8 type, name with its 0.
    for (size_t pos = 0; pos + 19 < size_t(n);) {
      uint64_t ino;
      uint16_t reclen;
      std::memcpy(&ino, buf + pos, 8);
      std::memcpy(&reclen, buf + pos + 16, 2);
      if (reclen < 20 || pos + reclen > size_t(n)) return ioErr;
      const char *name = buf + pos + 19;
      entries.push_back(FolderEntry{std::string(name, strnlen(name, reclen - 19u)), uint64_t(now.st_dev), ino});
      if (name[0] == '.' && name[1] == 't' && IsRewriteTemporaryName(entries.back().name))
        leftovers.push_back(entries.back().name);
      pos += reclen;
    }
  }
  // Folders are listed by the walks of a zap (its count and the zap itself),
  // never for the menu: the temporaries a killed rewrite left here go now,
  // at the cost of a few calls for each such name and none for other names.
  for (const std::string &name : leftovers) RemoveLeftoverTemporary(dir.fd, name.c_str());
  std::vector<FolderEntry> visible = VisibleEntries(std::move(entries), IsVolumeRoot(where, st.st));

  // Entries whose identity the listing cannot tell are looked at one by one;
  // one that went away in between is left out. In a folder that can be
  // read but not searched nothing can be looked at: the listing's numbers
  // are all there is (and every use of such an entry is denied anyway).
  std::vector<std::string> mounts;
  bool statAll = !ListingReportsInodes(dir.fd);
  if (!statAll) mounts = MountPointsIn(where.fullPath);
  if (statAll || !mounts.empty()) {
    std::vector<FolderEntry> checked;
    checked.reserve(visible.size());
    for (auto &e : visible) {
      if (!statAll && std::find(mounts.begin(), mounts.end(), e.name) == mounts.end()) {
        checked.push_back(std::move(e));
        continue;
      }
      ItemStat item;
      int err = StatItemAt(dir.fd, e.name.c_str(), &item);
      if (err == ENOENT) continue;
      if (err != 0 && err != EACCES) return StatusFromErrno(err);
      if (err == 0) {
        e.device = uint64_t(item.st.st_dev);
        e.inode = uint64_t(item.st.st_ino);
      }
      checked.push_back(std::move(e));
    }
    visible.swap(checked);
  }
  *out = std::move(visible);
  return noErr;
}

}  // namespace tv::files
