#include "platform/files/Volumes.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <iterator>
#include <set>
#include <vector>

#include "platform/files/PathNodes.h"
#include "platform/files/Refs.h"
#include "platform/sys/CallTable.h"

namespace tv::files {

std::vector<std::string> ParseMountPoints(std::string_view text) {
  std::vector<std::string> points;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string_view::npos) eol = text.size();
    std::string_view line = text.substr(pos, eol - pos);
    pos = eol + 1;
    // Fields: id, parent id, major:minor, root, mount point, ...
    size_t field = 0, start = 0;
    std::string_view point;
    while (start <= line.size() && field < 5) {
      size_t end = line.find(' ', start);
      if (end == std::string_view::npos) end = line.size();
      if (field == 4) point = line.substr(start, end - start);
      field++;
      start = end + 1;
    }
    if (field < 5 || point.empty() || point[0] != '/') continue;
    std::string decoded;
    for (size_t i = 0; i < point.size(); i++) {
      auto oct = [&](size_t k) { return k < point.size() && point[k] >= '0' && point[k] <= '7'; };
      if (point[i] == '\\' && oct(i + 1) && oct(i + 2) && oct(i + 3)) {
        decoded += char(((point[i + 1] - '0') << 6) | ((point[i + 2] - '0') << 3) | (point[i + 3] - '0'));
        i += 3;
        continue;
      }
      decoded += point[i];
    }
    points.push_back(std::move(decoded));
  }
  return points;
}

namespace {

struct MountTable {
  std::mutex mutex;
  int fd = -1;  // /proc/self/mountinfo, kept open to hear of changes
  bool loaded = false;
  std::set<std::string> points;

  void RefreshLocked() {
    if (loaded && fd >= 0) {
      struct pollfd p = {fd, POLLPRI, 0};
      if (sys::Poll(&p, 1, 0) <= 0 || !(p.revents & (POLLPRI | POLLERR))) return;
    }
    if (fd >= 0) sys::Close(fd);
    fd = sys::Openat(AT_FDCWD, "/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    std::string text;
    if (fd >= 0) {
      char buf[16384];
      for (;;) {
        ssize_t n = sys::Read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buf, size_t(n));
      }
    }
    auto parsed = ParseMountPoints(text);
    points = std::set<std::string>(parsed.begin(), parsed.end());
    points.insert("/");
    loaded = true;
  }
};

MountTable &Mounts() {
  static MountTable *table = new MountTable();  // lives as long as the process
  return *table;
}

}  // namespace

bool IsMountPoint(const std::string &path) {
  MountTable &m = Mounts();
  std::lock_guard<std::mutex> lock(m.mutex);
  m.RefreshLocked();
  return m.points.count(path) != 0;
}

std::vector<std::string> MountPointsIn(const std::string &folderPath) {
  MountTable &m = Mounts();
  std::lock_guard<std::mutex> lock(m.mutex);
  m.RefreshLocked();
  std::string prefix = folderPath;
  if (prefix.empty() || prefix.back() != '/') prefix += '/';
  std::vector<std::string> names;
  for (auto it = m.points.lower_bound(prefix); it != m.points.end(); ++it) {
    if (it->compare(0, prefix.size(), prefix) != 0) break;
    std::string rest = it->substr(prefix.size());
    if (!rest.empty() && rest.find('/') == std::string::npos) names.push_back(rest);
  }
  return names;
}

namespace {

struct FolderVolumes {
  std::mutex mutex;
  struct Noted {
    uint32_t node = 0;  // the root, node 0, is never noted: its items are asked
    unsigned facts = 0;
    uint64_t age = 0;  // when it was listed, in listings
    std::shared_ptr<const FolderDescriptor> folder;
  };
  Noted noted[16];
  uint64_t listings = 0;
  // Moved on, under the lock, by every change to what is noted, so that a
  // reader's copy of a folder's facts is known to be current while it stays.
  std::atomic<uint64_t> changes{1};

  Noted *Find(uint32_t folderNode) {
    for (auto &n : noted)
      if (folderNode != 0 && n.node == folderNode) return &n;
    return nullptr;
  }
  // The record a new listing of folderNode takes: its own, else a free one,
  // else the oldest that is not a folder above it, else the oldest.
  Noted *Slot(uint32_t folderNode) {
    if (Noted *n = Find(folderNode)) return n;
    std::vector<uint32_t> above;
    PathNodeTable &nodes = PathNodes();
    for (uint32_t p = nodes.Parent(folderNode); p != PathNodeTable::kNone && above.size() < std::size(noted);
         p = nodes.Parent(p))
      above.push_back(p);
    Noted *oldest = &noted[0], *oldestAside = nullptr;
    for (auto &n : noted) {
      if (n.node == 0) return &n;
      if (n.age < oldest->age) oldest = &n;
      const bool isAbove = std::find(above.begin(), above.end(), n.node) != above.end();
      if (!isAbove && (!oldestAside || n.age < oldestAside->age)) oldestAside = &n;
    }
    return oldestAside ? oldestAside : oldest;
  }
};
FolderVolumes &Folders() {
  static FolderVolumes *folders = new FolderVolumes();  // lives as long as the process
  return *folders;
}

}  // namespace

void NoteFolderListed(uint32_t folderNode, bool readOnly, int fd) {
  // Made before the lock: a descriptor it replaces is closed after it.
  std::shared_ptr<const FolderDescriptor> folder;
  if (fd >= 0) folder = std::make_shared<const FolderDescriptor>(fd);
  if (folderNode == 0) return;
  FolderVolumes &f = Folders();
  std::lock_guard<std::mutex> lock(f.mutex);
  f.changes.fetch_add(1, std::memory_order_release);
  FolderVolumes::Noted *n = f.Slot(folderNode);
  n->node = folderNode;
  n->facts = readOnly ? unsigned(kFolderReadOnly) : 0u;
  n->age = ++f.listings;
  n->folder.swap(folder);
}

std::shared_ptr<const FolderDescriptor> ListedFolder(uint32_t folderNode) {
  FolderVolumes &f = Folders();
  std::lock_guard<std::mutex> lock(f.mutex);
  const FolderVolumes::Noted *n = f.Find(folderNode);
  return n ? n->folder : nullptr;
}

void NoteFolderFact(uint32_t folderNode, FolderFact fact) {
  FolderVolumes &f = Folders();
  std::lock_guard<std::mutex> lock(f.mutex);
  f.changes.fetch_add(1, std::memory_order_release);
  if (FolderVolumes::Noted *n = f.Find(folderNode)) n->facts |= fact;
}

int FolderFacts(uint32_t folderNode) {
  if (folderNode == 0) return -1;  // never noted: nothing to look up
  FolderVolumes &f = Folders();
  // Asked for every file a walk reads, most often of the folder asked
  // last: the answer is kept until anything noted changes.
  thread_local struct {
    uint32_t node = 0;
    uint64_t changes = 0;
    int facts = -1;
  } last;
  const uint64_t changes = f.changes.load(std::memory_order_acquire);
  if (last.node == folderNode && last.changes == changes) return last.facts;
  std::lock_guard<std::mutex> lock(f.mutex);
  const FolderVolumes::Noted *n = f.Find(folderNode);
  last.node = folderNode;
  last.changes = f.changes.load(std::memory_order_relaxed);
  last.facts = n ? int(n->facts) : -1;
  return last.facts;
}

}  // namespace tv::files
