#include "platform/files/Listing.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <linux/fs.h>
#include <memory>
#include <unordered_map>
#include <utility>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>

#include "platform/files/Errors.h"
#include "platform/files/PathNodes.h"
#include "platform/files/StoreIO.h"
#include "platform/sys/CallTable.h"
#include "platform/files/Volumes.h"

namespace tv::files {

namespace {

bool IsSidecarName(std::string_view name) { return name.size() > 2 && name.compare(0, 2, "._") == 0; }

// Only a regular file is metadata: a folder, link or FIFO named like a
// sidecar or a temporary is an item of its own. An entry whose kind the
// listing did not tell is taken for a file.
bool MayBeFile(const FolderEntry &e) { return e.type == DT_REG || e.type == DT_UNKNOWN; }

// The simple case folding of one code point below U+0800, in the scripts
// FoldCase covers.
uint32_t SimpleFold(uint32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;  // Latin-1
  if (c == 0xB5) return 0x3BC;                              // micro sign
  if (c >= 0x100 && c <= 0x177 && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149) {
    // Latin Extended-A: pairs, uppercase first; the run from U+0139 to
    // U+0148 starts at an odd code point.
    bool oddRun = c >= 0x139 && c <= 0x148;
    return ((c & 1) == 0) != oddRun ? c + 1 : c;
  }
  if (c == 0x178) return 0xFF;
  if (c >= 0x179 && c <= 0x17E) return (c & 1) ? c + 1 : c;
  if (c == 0x17F) return 's';
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;  // Greek
  if (c == 0x3C2) return 0x3C3;                                // final sigma
  if (c >= 0x410 && c <= 0x42F) return c + 32;                 // Cyrillic
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

}  // namespace

std::string FoldCase(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (size_t i = 0; i < name.size(); i++) {
    unsigned char b = static_cast<unsigned char>(name[i]);
    if (b < 0x80) {
      out += char(SimpleFold(b));
      continue;
    }
    unsigned char next = i + 1 < name.size() ? static_cast<unsigned char>(name[i + 1]) : 0;
    if ((b & 0xE0) != 0xC0 || (next & 0xC0) != 0x80 || b < 0xC2) {
      out += char(b);  // longer sequences, and bytes that are not UTF-8
      continue;
    }
    uint32_t c = SimpleFold((uint32_t(b & 0x1F) << 6) | (next & 0x3F));
    if (c < 0x80) {
      out += char(c);
    } else {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    }
    i++;
  }
  return out;
}

std::vector<FolderEntry> VisibleEntries(std::vector<FolderEntry> entries, bool volumeRoot,
                                        const CaseProbe &ignoresCase) {
  // std::string compares as unsigned bytes: the order of the raw names.
  // The entries stay where they are; the order of all but "." and ".." is
  // sorted, and they are moved once, into the result.
  // Each name's first eight bytes as one big-endian number (names hold no
  // NUL, so a shorter name's padding sorts it first, as its end does): most
  // pairs differ there, and one compare of numbers orders them.
  struct Ranked {
    uint64_t head;
    uint32_t index;
    bool hidden;
  };
  auto headOf = [](std::string_view name) {
    uint64_t word = 0;
    std::memcpy(&word, name.data(), std::min<size_t>(name.size(), sizeof word));
    return std::endian::native == std::endian::little ? __builtin_bswap64(word) : word;
  };
  std::vector<Ranked> order;
  order.reserve(entries.size());
  for (size_t i = 0; i < entries.size(); i++) {
    const std::string &name = entries[i].name;
    if (name != "." && name != "..") order.push_back({headOf(name), uint32_t(i), false});
  }
  auto before = [&](const Ranked &a, uint64_t head, std::string_view name) {
    return a.head != head ? a.head < head : std::string_view(entries[a.index].name) < name;
  };
  std::sort(order.begin(), order.end(),
            [&](const Ranked &a, const Ranked &b) { return before(a, b.head, entries[b.index].name); });
  auto find = [&](std::string_view name) -> FolderEntry * {
    const uint64_t head = headOf(name);
    auto it = std::lower_bound(order.begin(), order.end(), name,
                               [&](const Ranked &e, std::string_view n) { return before(e, head, n); });
    return it != order.end() && entries[it->index].name == name ? &entries[it->index] : nullptr;
  };
  // Items by folded name, made only once a sidecar has no item of its exact
  // name, and asked only while the folder may ignore case.
  std::unordered_map<std::string, size_t> folded;
  enum { kUnknown, kYes, kNo } caseless = ignoresCase ? kUnknown : kNo;
  auto caseOnlyItem = [&](std::string_view name) -> FolderEntry * {
    if (caseless == kNo) return nullptr;
    if (folded.empty()) {
      for (const Ranked &r : order) folded.emplace(FoldCase(entries[r.index].name), r.index);
    }
    auto it = folded.find(FoldCase(name));
    if (it == folded.end()) return nullptr;
    FolderEntry *item = &entries[it->second];
    if (caseless == kUnknown) caseless = ignoresCase(item->name) ? kYes : kNo;
    return caseless == kYes ? item : nullptr;
  };
  // Sidecars sort before what they describe only sometimes: pair them all
  // first, then drop them.
  for (Ranked &r : order) {
    std::string_view name = entries[r.index].name;
    if (!IsSidecarName(name) || !MayBeFile(entries[r.index])) continue;
    if (name == "._." && volumeRoot) {
      r.hidden = true;
      continue;
    }
    FolderEntry *item = find(name.substr(2));
    if (!item) item = caseOnlyItem(name.substr(2));
    if (!item || item == &entries[r.index]) continue;
    item->hasSidecar = true;
    if (item->name != name.substr(2)) item->sidecarName = std::string(name);
    r.hidden = true;
  }
  std::vector<FolderEntry> visible;
  visible.reserve(order.size());
  for (const Ranked &r : order) {
    // A sidecar rewrite's temporary sibling, left by a process killed in
    // the middle of one: metadata in the making, never an item.
    FolderEntry &e = entries[r.index];
    bool temporary = sys::IsTemporaryName(e.name) && MayBeFile(e);
    if (!r.hidden && !temporary) visible.push_back(std::move(e));
  }
  return visible;
}

#ifndef FS_CASEFOLD_FL
#define FS_CASEFOLD_FL 0x40000000
#endif

namespace {

// Whether the open folder fd may ignore case: the casefold flag of ext4 and
// tmpfs folders, or a file system that says nothing of it.
bool FolderMayIgnoreCase(int fd) {
  unsigned flags = 0;
  if (sys::GetFlags(fd, &flags) == 0 && (flags & FS_CASEFOLD_FL)) return true;
  // These fold case nowhere but in folders with the flag.
  struct statfs sfs {};
  if (sys::Fstatfs(fd, &sfs) == 0) {
    switch (uint64_t(sfs.f_type)) {
      case EXT4_SUPER_MAGIC:
      case TMPFS_MAGIC:
      case XFS_SUPER_MAGIC:
      case BTRFS_SUPER_MAGIC:
        return false;
      default:
        break;
    }
  }
  return true;
}

}  // namespace

bool FolderIgnoresCase(int fd, std::string_view itemName) {
  unsigned flags = 0;
  if (sys::GetFlags(fd, &flags) == 0 && (flags & FS_CASEFOLD_FL)) return true;
  if (!FolderMayIgnoreCase(fd)) return false;
  // Elsewhere ask the folder itself: the listing holds no "._" + itemName,
  // so finding it means the lookup ignored case.
  struct stat st {};
  std::string probe = "._" + std::string(itemName);
  return sys::Fstatat(fd, probe.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool IsVolumeRoot(const ItemLocation &where, const struct stat &st) {
  if (!S_ISDIR(st.st_mode)) return false;
  if (where.isRoot() || IsMountPoint(where.FullPath())) return true;
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

bool NeedsOwnLook(const FolderEntry &e) { return e.type == DT_UNKNOWN; }

namespace {

bool ReportsInodes(const struct statfs &sfs) {
  switch (uint64_t(sfs.f_type)) {
    case EXT4_SUPER_MAGIC:  // ext2, ext3 and ext4 share it
    case TMPFS_MAGIC:
    case XFS_SUPER_MAGIC:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool ListingReportsInodes(int fd) {
  struct statfs sfs {};
  return sys::Fstatfs(fd, &sfs) == 0 && ReportsInodes(sfs);
}

namespace {

// Every entry of the open folder fd, "." and ".." included, with the kind
// the listing gives; entries named like metadata (a sidecar, a temporary)
// whose kind it does not give are looked at, since only a file is metadata.
OSStatus ListEntries(int fd, dev_t device, std::vector<FolderEntry> *entries) {
  // One large buffer per thread, kept: a walk opens many folders, and most
  // of them fit in one read.
  constexpr size_t kBufferSize = 256 * 1024;
  thread_local std::unique_ptr<char[]> buffer;
  if (!buffer) buffer = std::make_unique_for_overwrite<char[]>(kBufferSize);
  char *buf = buffer.get();
  for (;;) {
    ssize_t n = sys::Getdents64(fd, buf, kBufferSize);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return StatusFromErrno(errno);
    if (n == 0) break;
    // linux_dirent64: u64 ino, s64 off, u16 reclen, u8 type, name with its 0.
    // Room for all of the read's records at once, so that the entries are
    // not moved again and again as the vector grows.
    size_t records = 0;
    for (size_t pos = 0; pos + 19 < size_t(n); ++records) {
      uint16_t reclen;
      std::memcpy(&reclen, buf + pos + 16, 2);
      if (reclen < 20) break;  // refused below
      pos += reclen;
    }
    entries->reserve(entries->size() + records);
    for (size_t pos = 0; pos + 19 < size_t(n);) {
      uint64_t ino;
      uint16_t reclen;
      std::memcpy(&ino, buf + pos, 8);
      std::memcpy(&reclen, buf + pos + 16, 2);
      if (reclen < 20 || pos + reclen > size_t(n)) return ioErr;
      const char *name = buf + pos + 19;
      FolderEntry &e = entries->emplace_back();  // filled in place, not moved in
      e.name.append(name, strnlen(name, reclen - 19u));
      e.device = uint64_t(device);
      e.inode = ino;
      e.type = static_cast<uint8_t>(buf[pos + 18]);
      if (e.type == DT_UNKNOWN && (IsSidecarName(e.name) || sys::IsTemporaryName(e.name))) {
        struct stat st {};
        if (sys::Fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0) e.type = uint8_t(IFTODT(st.st_mode));
      }
      pos += reclen;
    }
  }
  return noErr;
}

}  // namespace

OSStatus ListFolderRemovingLeftovers(const ItemLocation &where, const ItemStat &st,
                                     std::vector<FolderEntry> *out) {
  OwnedFd dir{sys::Openat(where.dirFd, where.itemPath.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)};
  if (dir.fd < 0) {
    // O_NOFOLLOW refuses a symbolic link with ELOOP: not a folder either.
    if (errno == ELOOP || errno == ENOTDIR) return dirNFErr;
    return StatusFromErrno(errno);
  }
  struct stat now {};
  if (sys::Fstat(dir.fd, &now) != 0) return StatusFromErrno(errno);
  // A folder its listing could not number is known by its name: the one
  // opened there, on the same device, is it.
  if (now.st_dev != st.st.st_dev || (uint64_t(st.st.st_ino) != kUnlistedInode && now.st_ino != st.st.st_ino))
    return fnfErr;

  std::vector<FolderEntry> entries;
  OSStatus listed = ListEntries(dir.fd, now.st_dev, &entries);
  if (listed != noErr) return listed;
  std::vector<std::string> leftovers;
  for (const FolderEntry &e : entries)
    if (e.name[0] == '.' && e.name[1] == 't' && sys::IsTemporaryName(e.name) && MayBeFile(e))
      leftovers.push_back(e.name);
  // Folders are listed by the walks of a zap (its count and the zap itself),
  // never for the menu: the temporaries a killed rewrite left here go now,
  // at the cost of a few calls for each such name and none for other names.
  for (const std::string &name : leftovers) RemoveLeftoverTemporary(dir.fd, name.c_str());
  // Whether the folder is a volume's root matters only to a "._." in it.
  const bool volumeMetadata = std::any_of(entries.begin(), entries.end(),
                                          [](const FolderEntry &e) { return e.name == "._."; });
  std::vector<FolderEntry> visible = VisibleEntries(
      std::move(entries), volumeMetadata && IsVolumeRoot(where, now),
      [&](std::string_view itemName) { return FolderIgnoresCase(dir.fd, itemName); });

  // Entries whose identity the listing cannot tell are looked at one by one;
  // one that went away in between is left out. In a folder that can be
  // read but not searched nothing can be looked at: the listing's numbers
  // are all there is (and every use of such an entry is denied anyway).
  // Where the listing's numbers are not the inodes (FUSE, FAT, network file
  // systems) its kinds still are right: only what the listing gives no kind
  // for is looked at; any other entry, folders included, keeps its kind and
  // is known by its name alone (inode kUnlistedInode) until something looks
  // at it or opens it. Everywhere the mount points the table names here are
  // looked at, as volumes of their own; any other folder is on this one.
  // One look at the volume for the folder: how its listing numbers entries,
  // and whether its items can be written (asked of every file zapped here).
  struct statfs sfs {};
  const bool volumeKnown = sys::Fstatfs(dir.fd, &sfs) == 0;
  const bool statAll = !volumeKnown || !ReportsInodes(sfs);
  const std::vector<std::string> mounts = MountPointsIn(where.FullPath());
  if (statAll || !mounts.empty()) {
    std::vector<FolderEntry> checked;
    checked.reserve(visible.size());
    for (auto &e : visible) {
      const bool mountPoint = std::find(mounts.begin(), mounts.end(), e.name) != mounts.end();
      if (!mountPoint && !(statAll && NeedsOwnLook(e))) {
        if (statAll) e.inode = kUnlistedInode;
        e.onFolderVolume = e.type == DT_DIR;
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
        e.type = uint8_t(IFTODT(item.st.st_mode));
        // A mount point of the table is a volume of its own whatever statx
        // says; elsewhere statx tells whether a mount has its root here.
        e.onFolderVolume = !mountPoint && e.type == DT_DIR && item.onFolderMount && item.st.st_dev == now.st_dev;
      }
      checked.push_back(std::move(e));
    }
    visible.swap(checked);
  } else {
    for (auto &e : visible) e.onFolderVolume = e.type == DT_DIR;
  }
  // The items are reached from the folder opened here from now on.
  if (volumeKnown) NoteFolderListed(where.node, (sfs.f_flags & ST_RDONLY) != 0, std::exchange(dir.fd, -1));
  *out = std::move(visible);
  return noErr;
}

void LearnSidecarName(const ItemLocation &where) {
  PathNodeTable &nodes = PathNodes();
  const uint8_t hints = nodes.Hints(where.node);
  if (where.isRoot() || (hints & (PathNodeTable::kHintListed | PathNodeTable::kHintSidecarNamed))) return;
  OwnedFd dir{sys::Openat(where.dirFd, where.folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  if (dir.fd < 0) return;  // the read that follows says why
  struct stat st {};
  std::vector<FolderEntry> entries;
  if (FolderMayIgnoreCase(dir.fd)) {
    if (sys::Fstat(dir.fd, &st) != 0 || ListEntries(dir.fd, st.st_dev, &entries) != noErr) return;
    std::vector<FolderEntry> visible = VisibleEntries(
        std::move(entries), false, [&](std::string_view itemName) { return FolderIgnoresCase(dir.fd, itemName); });
    auto it = std::lower_bound(visible.begin(), visible.end(), where.name,
                               [](const FolderEntry &e, const std::string &n) { return e.name < n; });
    if (it != visible.end() && it->name == where.name) {
      nodes.SetHints(where.node, PathNodeTable::kHintListed | (it->hasSidecar ? PathNodeTable::kHintSidecar : 0),
                     it->sidecarName);
      return;
    }
  }
  nodes.SetHints(where.node, hints | PathNodeTable::kHintSidecarNamed);
}

}  // namespace tv::files
