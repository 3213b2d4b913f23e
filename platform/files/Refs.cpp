#include "platform/files/Refs.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <unordered_map>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

#include "platform/files/Errors.h"
#include "platform/files/PathNodes.h"
#include "platform/files/Volumes.h"
#include "platform/sys/CallTable.h"

namespace tv::files {
namespace {

constexpr uint32_t kRefMagic = 0x54765266;  // 'TvRf'
constexpr uint32_t kRefVersion = 1;
constexpr size_t kCheckOffset = 72;

uint64_t RefKey() {
  static const uint64_t key = [] {
    // Any key will do as long as it changes between runs; without an entropy
    // source, the clock and an address stand in.
    uint64_t k = 0x9E3779B97F4A7C15ull ^ uint64_t(reinterpret_cast<uintptr_t>(&k)) ^
                 uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
    try {
      std::random_device rd;
      k ^= (uint64_t(rd()) << 32) ^ rd();
    } catch (...) {
    }
    return k;
  }();
  return key;
}

// The words that hold a ref's fields. What follows them up to the check is
// zero in every ref made here, and DecodeRef sees that for itself, so the
// keyed hash need not go over it.
constexpr size_t kKeyedBytes = 32;

uint64_t CheckValue(const UInt8 *bytes) {
  uint64_t h = RefKey();
  for (size_t i = 0; i < kKeyedBytes; i += 8) {
    uint64_t word;
    std::memcpy(&word, bytes + i, 8);
    h = MixBits(h ^ word);
  }
  return h;
}

struct RefImage {
  uint32_t magic;
  uint32_t version;
  uint64_t device;
  uint64_t inode;
  uint32_t node;
  uint8_t listedKind;  // a TVListedKind
  uint8_t zero[kCheckOffset - 29];
  uint64_t check;
};
static_assert(sizeof(RefImage) == sizeof(FSRef));
static_assert(offsetof(RefImage, zero) <= kKeyedBytes && kKeyedBytes <= kCheckOffset);

// Closes a descriptor it holds unless it is AT_FDCWD.
struct Fd {
  int fd = -1;
  Fd() = default;
  explicit Fd(int f) : fd(f) {}
  Fd(const Fd &) = delete;
  Fd &operator=(const Fd &) = delete;
  ~Fd() { reset(-1); }
  void reset(int f) {
    if (fd >= 0) sys::Close(fd);
    fd = f;
  }
};

constexpr int kPathFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Opens the folder at an absolute path of any length, PATH_MAX-sized pieces at
// a time. Returns the descriptor or -errno.
int OpenFolderChain(const std::string &path) {
  int fd = AT_FDCWD;
  size_t pos = 0;
  while (pos < path.size()) {
    size_t end = path.size();
    if (end - pos >= PATH_MAX) {
      // Cut at the last '/' that keeps the piece under PATH_MAX.
      end = path.rfind('/', pos + PATH_MAX - 1);
      if (end == std::string::npos || end <= pos) {
        if (fd >= 0) sys::Close(fd);
        return -ENAMETOOLONG;
      }
    }
    std::string piece = path.substr(pos, end - pos);
    if (piece.empty()) piece = "/";
    int next = sys::Openat(fd, piece.c_str(), kPathFlags);
    int err = errno;
    if (fd >= 0) sys::Close(fd);
    if (next < 0) return -err;
    fd = next;
    pos = end;
    while (pos < path.size() && path[pos] == '/') pos++;
  }
  return fd;
}

// ENOTDIR on the way to an item means a folder of its path was replaced:
// the item is not there any more.
OSStatus StatusOfStat(int err) { return err == ENOTDIR ? fnfErr : StatusFromErrno(err); }

// The components still to walk, the next one at the back.
std::vector<std::string> SplitReversed(std::string_view path) {
  std::vector<std::string> parts;
  auto all = PathComponents(path);
  for (auto it = all.rbegin(); it != all.rend(); ++it)
    if (*it != ".") parts.emplace_back(*it);
  return parts;
}

}  // namespace

FSRef EncodeRef(const RefFields &fields) {
  RefImage image{};
  image.magic = kRefMagic;
  image.version = kRefVersion;
  image.device = fields.device;
  image.inode = fields.inode;
  image.node = fields.node;
  image.listedKind = fields.listedKind;
  FSRef ref;
  std::memcpy(ref.hidden, &image, sizeof ref.hidden);
  image.check = CheckValue(ref.hidden);
  std::memcpy(ref.hidden, &image, sizeof ref.hidden);
  return ref;
}

OSStatus DecodeRef(const FSRef *ref, RefFields *fields) {
  if (!ref) return paramErr;
  RefImage image;
  std::memcpy(&image, ref->hidden, sizeof image);
  if (image.magic != kRefMagic || image.version != kRefVersion) return errFSBadFSRef;
  if (image.listedKind > kTVListedKindOther) return errFSBadFSRef;
  static constexpr uint8_t kZero[sizeof image.zero] = {};
  if (std::memcmp(image.zero, kZero, sizeof kZero) != 0) return errFSBadFSRef;
  // A ref is decoded several times in a row as a walk reaches its item (its
  // kind, its information, its fork): the bytes of the last one that passed
  // pass again without the keyed hash being worked out anew.
  thread_local FSRef lastPassed{};
  const bool passed = std::memcmp(ref->hidden, lastPassed.hidden, sizeof lastPassed.hidden) == 0;
  if (!passed && image.check != CheckValue(ref->hidden)) return errFSBadFSRef;
  if (!PathNodes().Valid(image.node)) return errFSBadFSRef;
  if (!passed) lastPassed = *ref;
  if (fields) *fields = RefFields{image.device, image.inode, image.node, image.listedKind};
  return noErr;
}

// ---- ItemLocation ----------------------------------------------------------------

FolderDescriptor::~FolderDescriptor() {
  if (fd_ >= 0) sys::Close(fd_);
}

ItemLocation::ItemLocation(ItemLocation &&other) noexcept { *this = std::move(other); }

ItemLocation &ItemLocation::operator=(ItemLocation &&other) noexcept {
  if (this != &other) {
    dirFd = other.dirFd;
    other.dirFd = AT_FDCWD;
    itemPath = std::move(other.itemPath);
    folderPath = std::move(other.folderPath);
    name = std::move(other.name);
    fullPath_ = std::move(other.fullPath_);
    node = other.node;
    folder = std::move(other.folder);
  }
  return *this;
}

const std::string &ItemLocation::FullPath() const {
  if (fullPath_.empty()) fullPath_ = PathNodes().Path(node);
  return fullPath_;
}

std::string ItemLocation::SiblingPath(std::string_view sibling) const {
  if (dirFd >= 0) return std::string(sibling);
  std::string p = folderPath;
  if (p.back() != '/') p += '/';
  return p.append(sibling);
}

OSStatus LocateNode(uint32_t node, ItemLocation *loc, bool listed) {
  if (!PathNodes().Valid(node)) return errFSBadFSRef;  // a node never made
  if (node != PathNodeTable::kRoot && listed) {
    if (auto open = ListedFolder(PathNodes().Parent(node))) {
      // Nothing can fail from here: the location is filled in place.
      loc->SetInListedFolder(node, std::move(open), PathNodes().NameView(node));
      return noErr;
    }
  }
  ItemLocation result;
  result.node = node;
  if (node == PathNodeTable::kRoot) {
    result.itemPath = result.folderPath = "/";
    result.name = ".";
    *loc = std::move(result);
    return noErr;
  }
  // The name is the path's last component (a name holds no '/'), the
  // folder's path the item's without it.
  const std::string &fullPath = result.FullPath();
  const size_t cut = fullPath.rfind('/');
  result.name.assign(fullPath, cut + 1);
  if (fullPath.size() < PATH_MAX) {
    result.itemPath = fullPath;
    if (cut == 0) result.folderPath = "/";
    else result.folderPath.assign(fullPath, 0, cut);
  } else {
    int fd = OpenFolderChain(cut == 0 ? std::string("/") : fullPath.substr(0, cut));
    if (fd < 0) return StatusOfStat(-fd);
    result.folder = std::make_shared<const FolderDescriptor>(fd);
    result.dirFd = result.folder->fd();
    result.itemPath = result.name;
    result.folderPath = ".";
  }
  *loc = std::move(result);
  return noErr;
}

void ItemLocation::SetInListedFolder(uint32_t itemNode, std::shared_ptr<const FolderDescriptor> listedFolder,
                                     std::string_view itemName) {
  dirFd = listedFolder->fd();
  // Cleared and appended: plain copies, with none of the care for
  // overlapping bytes that an assignment takes.
  itemPath.clear();
  itemPath.append(itemName);
  folderPath.clear();
  folderPath.push_back('.');
  name.clear();
  name.append(itemName);
  node = itemNode;
  folder = std::move(listedFolder);
  fullPath_.clear();
}

int StatItemAt(int dirFd, const char *path, ItemStat *out) {
  struct statx stx {};
  int flags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | (path[0] ? 0 : AT_EMPTY_PATH);
  if (sys::Statx(dirFd, path, flags, STATX_BASIC_STATS | STATX_BTIME, &stx) != 0) {
    if (errno != ENOSYS) return errno;
    // No statx: plain lstat, and no birth time.
    ItemStat result;
    if (sys::Fstatat(dirFd, path, &result.st, flags & ~AT_NO_AUTOMOUNT) != 0) return errno;
    *out = result;
    return 0;
  }
  ItemStat result;
  struct stat &st = result.st;
  st.st_dev = makedev(stx.stx_dev_major, stx.stx_dev_minor);
  st.st_rdev = makedev(stx.stx_rdev_major, stx.stx_rdev_minor);
  st.st_ino = stx.stx_ino;
  st.st_mode = stx.stx_mode;
  st.st_nlink = stx.stx_nlink;
  st.st_uid = stx.stx_uid;
  st.st_gid = stx.stx_gid;
  st.st_size = off_t(stx.stx_size);
  st.st_blksize = blksize_t(stx.stx_blksize);
  st.st_blocks = blkcnt_t(stx.stx_blocks);
  st.st_atim = {stx.stx_atime.tv_sec, stx.stx_atime.tv_nsec};
  st.st_mtim = {stx.stx_mtime.tv_sec, stx.stx_mtime.tv_nsec};
  st.st_ctim = {stx.stx_ctime.tv_sec, stx.stx_ctime.tv_nsec};
  if (stx.stx_mask & STATX_BTIME) {
    result.hasBirthTime = true;
    result.birthTime = {stx.stx_btime.tv_sec, stx.stx_btime.tv_nsec};
  }
  const uint64_t lockBits = STATX_ATTR_IMMUTABLE | STATX_ATTR_APPEND;
  result.immutable = (stx.stx_attributes & stx.stx_attributes_mask & lockBits) != 0;
  result.lockKnown = (stx.stx_attributes_mask & lockBits) == lockBits;
  result.onFolderMount = (stx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) && !(stx.stx_attributes & STATX_ATTR_MOUNT_ROOT);
  *out = result;
  return 0;
}

namespace {

// The inode, or for an entry the listing could not number, the kind it listed.
bool SameIdentity(const RefFields &fields, const struct stat &now) {
  if (fields.inode != kUnlistedInode) return uint64_t(now.st_ino) == fields.inode;
  switch (fields.listedKind) {
    case kTVListedKindFile:
      return S_ISREG(now.st_mode);
    case kTVListedKindFolder:
      return S_ISDIR(now.st_mode);
    case kTVListedKindOther:
      return !S_ISREG(now.st_mode) && !S_ISDIR(now.st_mode);
    default:
      return false;  // entries of no listed kind are always looked at
  }
}

}  // namespace

OSStatus ResolveRef(const FSRef *ref, ItemLocation *loc, ItemStat *st) {
  RefFields fields;
  OSStatus result = DecodeRef(ref, &fields);
  ItemLocation where;
  if (result == noErr) result = LocateNode(fields.node, &where, FromListing(fields));
  ItemStat now;
  if (result == noErr) {
    int err = StatItemAt(where.dirFd, where.itemPath.c_str(), &now);
    if (err != 0) result = StatusOfStat(err);
  }
  // Something else at the path (the file was replaced, the folder renamed
  // and another put in its place) is not the item of this ref.
  if (result == noErr && (uint64_t(now.st.st_dev) != fields.device || !SameIdentity(fields, now.st)))
    result = StatusOfChangedItem(where.dirFd, where.itemPath.c_str());
  if (result == noErr) {
    if (loc) *loc = std::move(where);
    if (st) *st = now;
  }
  return result;
}

std::string LexicallyNormalPath(std::string_view path) {
  std::string base;
  if (path.empty() || path[0] != '/') {
    std::vector<char> buf(PATH_MAX);
    if (!getcwd(buf.data(), buf.size())) return {};
    base = buf.data();
  }
  std::vector<std::string_view> parts;
  std::string joined = base + "/" + std::string(path);
  for (std::string_view part : PathComponents(joined)) {
    if (part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  std::string out;
  for (auto part : parts) out.append("/").append(part);
  return out.empty() ? "/" : out;
}

namespace {

// Folders whose paths were walked before: the text of a folder's absolute
// path, the node the walk found for it (links on the way resolved) and the
// folder's identity. A selection names thousands of items in a few folders;
// with this, each one costs two stats instead of a walk from "/". An entry is
// used only while the path still leads to the same folder.
struct WalkedFolder {
  uint32_t node;
  uint64_t device;
  uint64_t inode;
};
struct WalkedFolders {
  std::mutex mutex;
  std::unordered_map<std::string, WalkedFolder> byPath;
};
WalkedFolders &Walked() {
  static WalkedFolders *folders = new WalkedFolders;  // kept for the process
  return *folders;
}
constexpr size_t kMaxWalkedFolders = 4096;

// "/a/b/c" -> "/a/b" and "c", for absolute paths without "." or ".." or empty
// components; false for anything else.
bool SplitPlainPath(std::string_view path, std::string_view *folder, std::string_view *name) {
  if (path.size() < 2 || path[0] != '/' || path.back() == '/' || path.size() >= PATH_MAX) return false;
  for (auto part : PathComponents(path)) {
    if (part == "." || part == "..") return false;
  }
  if (path.find("//") != std::string_view::npos) return false;
  size_t slash = path.rfind('/');
  *folder = slash == 0 ? std::string_view("/") : path.substr(0, slash);
  *name = path.substr(slash + 1);
  return true;
}

bool SameFolder(const char *path, const WalkedFolder &known) {
  struct statx stx {};
  if (sys::Statx(AT_FDCWD, path, AT_NO_AUTOMOUNT, STATX_TYPE | STATX_INO, &stx) != 0) return false;
  return makedev(stx.stx_dev_major, stx.stx_dev_minor) == known.device && stx.stx_ino == known.inode;
}

}  // namespace

OSStatus WalkPath(std::string_view path, bool followLast, uint32_t *nodeOut, ItemStat *stOut) {
  if (path.empty()) return fnfErr;
  std::string_view folderPath, leaf;
  const bool plain = !followLast && SplitPlainPath(path, &folderPath, &leaf);
  if (plain) {
    std::string folder(folderPath);
    WalkedFolder known{};
    bool found = false;
    {
      std::lock_guard<std::mutex> lock(Walked().mutex);
      auto it = Walked().byPath.find(folder);
      if (it != Walked().byPath.end()) {
        known = it->second;
        found = true;
      }
    }
    if (found && SameFolder(folder.c_str(), known)) {
      ItemStat st;
      std::string full(path);
      int err = StatItemAt(AT_FDCWD, full.c_str(), &st);
      if (err != 0) return err == ENOTDIR ? dirNFErr : StatusFromErrno(err);
      uint32_t node = PathNodes().Intern(known.node, leaf);
      if (node == PathNodeTable::kNone) return bdNamErr;
      if (nodeOut) *nodeOut = node;
      if (stOut) *stOut = st;
      return noErr;
    }
    // Walk, and remember the folder for the next item in it.
    uint32_t folderNode = 0;
    ItemStat folderSt;
    if (WalkPath(folder, true, &folderNode, &folderSt) == noErr && S_ISDIR(folderSt.st.st_mode)) {
      std::lock_guard<std::mutex> lock(Walked().mutex);
      if (Walked().byPath.size() >= kMaxWalkedFolders) Walked().byPath.clear();
      Walked().byPath[folder] =
          WalkedFolder{folderNode, uint64_t(folderSt.st.st_dev), uint64_t(folderSt.st.st_ino)};
    }
  }
  return WalkPathFromRoot(path, followLast, nodeOut, stOut);
}

OSStatus WalkPathFromRoot(std::string_view path, bool followLast, uint32_t *nodeOut, ItemStat *stOut) {
  if (path.empty()) return fnfErr;
  std::string start;
  if (path[0] != '/') {
    std::vector<char> buf(PATH_MAX);
    if (!getcwd(buf.data(), buf.size())) return StatusFromErrno(errno);
    start = buf.data();
  }
  std::vector<std::string> pending = SplitReversed(path);
  if (!start.empty()) {
    auto cwdParts = SplitReversed(start);
    pending.insert(pending.end(), cwdParts.begin(), cwdParts.end());
  }
  PathNodeTable &nodes = PathNodes();
  Fd dir(sys::Openat(AT_FDCWD, "/", kPathFlags));
  if (dir.fd < 0) return StatusFromErrno(errno);
  uint32_t node = PathNodeTable::kRoot;
  int links = 0;
  ItemStat st;
  bool haveItem = false;  // st describes `node` already
  while (!pending.empty()) {
    std::string part = std::move(pending.back());
    pending.pop_back();
    if (part == "..") {
      if (node != PathNodeTable::kRoot) {
        node = nodes.Parent(node);
        dir.reset(sys::Openat(dir.fd, "..", kPathFlags));
        if (dir.fd < 0) return StatusOfStat(errno);
      }
      continue;
    }
    bool last = pending.empty();
    int err = StatItemAt(dir.fd, part.c_str(), &st);
    if (err != 0) return err == ENOTDIR ? dirNFErr : StatusFromErrno(err);
    if (S_ISLNK(st.st.st_mode) && (!last || followLast)) {
      if (++links > 40) return StatusFromErrno(ELOOP);
      std::vector<char> target(PATH_MAX + 1);
      ssize_t n = sys::Readlinkat(dir.fd, part.c_str(), target.data(), target.size());
      if (n < 0) return StatusFromErrno(errno);
      if (size_t(n) >= target.size()) return StatusFromErrno(ENAMETOOLONG);
      std::string_view link(target.data(), size_t(n));
      if (link.empty()) return fnfErr;
      auto more = SplitReversed(link);
      pending.insert(pending.end(), more.begin(), more.end());
      if (link[0] == '/') {
        dir.reset(sys::Openat(AT_FDCWD, "/", kPathFlags));
        if (dir.fd < 0) return StatusFromErrno(errno);
        node = PathNodeTable::kRoot;
      }
      continue;
    }
    uint32_t child = nodes.Intern(node, part);
    if (child == PathNodeTable::kNone) return bdNamErr;
    if (last) {
      node = child;
      haveItem = true;
      break;
    }
    if (!S_ISDIR(st.st.st_mode)) return dirNFErr;
    dir.reset(sys::Openat(dir.fd, part.c_str(), kPathFlags));
    if (dir.fd < 0) return StatusOfStat(errno);
    node = child;
  }
  if (!haveItem) {
    // The path ended on a folder already open ("/", "a/..", "a/.").
    int err = StatItemAt(dir.fd, "", &st);
    if (err != 0) return StatusFromErrno(err);
  }
  if (nodeOut) *nodeOut = node;
  if (stOut) *stOut = st;
  return noErr;
}

}  // namespace tv::files
