#include "platform/files/PathNodes.h"

#include <algorithm>
#include <cstring>

namespace tv::files {

PathNodeTable::PathNodeTable() {
  std::lock_guard<std::mutex> lock(mutex_);
  ownedBlocks_.push_back(std::make_unique_for_overwrite<Node[]>(size_t(1) << kNodeBlockBits));
  nodeBlocks_[0].store(ownedBlocks_.back().get(), std::memory_order_relaxed);
  NodeAt(kRoot) = Node{nullptr, kNone, 0, 0};
  count_.store(1, std::memory_order_release);
  slots_.assign(1024, Slot{kNone, 0});
}

uint64_t PathNodeTable::HashOf(uint32_t parent, std::string_view name) {
  // Eight bytes of the name at a time: a walk hashes every name it lists.
  uint64_t h = (uint64_t(parent) << 16 | name.size()) * 0x9E3779B97F4A7C15ull;
  const char *p = name.data();
  size_t left = name.size();
  for (; left >= 8; p += 8, left -= 8) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    h = (h ^ word) * 0x9E3779B97F4A7C15ull;
    h ^= h >> 32;
  }
  if (left > 0) {
    uint64_t word = 0;
    std::memcpy(&word, p, left);
    h = (h ^ word) * 0x9E3779B97F4A7C15ull;
  }
  return MixBits(h);
}

void PathNodeTable::GrowSlotsLocked() {
  // The slots keep their hashes: growing reads no record and no name.
  std::vector<Slot> bigger(slots_.size() * 2, Slot{kNone, 0});
  size_t mask = bigger.size() - 1;
  for (const Slot &slot : slots_) {
    if (slot.node == kNone) continue;
    size_t i = slot.hash & mask;
    while (bigger[i].node != kNone) i = (i + 1) & mask;
    bigger[i] = slot;
  }
  slots_.swap(bigger);
}

uint32_t PathNodeTable::FindOrAddLocked(uint32_t parent, std::string_view name, uint32_t h) {
  size_t mask = slots_.size() - 1;
  size_t i = h & mask;
  // The hash in the slot spares nearly every probe a look at a record and
  // its name.
  for (; slots_[i].node != kNone; i = (i + 1) & mask) {
    const uint32_t node = slots_[i].node;
    if (slots_[i].hash == h && NodeAt(node).parent == parent && NameOf(node) == name) return node;
  }
  const uint32_t node = count_.load(std::memory_order_relaxed);
  if (node >= kNone - 1) throw std::bad_alloc();
  if ((node & kNodeBlockMask) == 0) {
    ownedBlocks_.push_back(std::make_unique_for_overwrite<Node[]>(size_t(1) << kNodeBlockBits));  // touched only as filled
    nodeBlocks_[node >> kNodeBlockBits].store(ownedBlocks_.back().get(), std::memory_order_relaxed);
  }
  // Store the name; a name never straddles two chunks.
  if (chunkUsed_ + name.size() > kChunkSize) {
    chunks_.push_back(std::make_unique_for_overwrite<char[]>(kChunkSize));  // touched only as filled
    chunkUsed_ = 0;
  }
  char *stored = chunks_.back().get() + chunkUsed_;
  std::memcpy(stored, name.data(), name.size());
  chunkUsed_ += name.size();
  NodeAt(node) = Node{stored, parent, uint16_t(name.size()), 0};
  count_.store(node + 1, std::memory_order_release);
  slots_[i] = Slot{node, h};
  // Keep the load under 3/4 so that probes stay short.
  if (size_t(node + 1) * 4 > slots_.size() * 3) GrowSlotsLocked();
  return node;
}

namespace {

bool IsComponent(std::string_view name) {
  return !name.empty() && name.size() <= 0xFFFF && name != "." && name != ".." &&
         name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

}  // namespace

uint32_t PathNodeTable::Intern(uint32_t parent, std::string_view name) {
  if (!IsComponent(name)) return kNone;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!Valid(parent)) return kNone;
  return FindOrAddLocked(parent, name, uint32_t(HashOf(parent, name)));
}

void PathNodeTable::InternListed(uint32_t parent, const ListedName *entries, size_t n, uint32_t *nodes) {
  // Hashed in groups small enough for their slots to stay in the cache
  // between the prefetch and the look.
  constexpr size_t kGroup = 16;
  uint32_t hashes[kGroup];
  std::lock_guard<std::mutex> lock(mutex_);
  const bool parentValid = Valid(parent);
  for (size_t first = 0; first < n; first += kGroup) {
    const size_t end = std::min(n, first + kGroup);
    for (size_t i = first; i < end; i++) {
      hashes[i - first] = uint32_t(HashOf(parent, entries[i].name));
      __builtin_prefetch(&slots_[hashes[i - first] & (slots_.size() - 1)]);
    }
    for (size_t i = first; i < end; i++) {
      const ListedName &e = entries[i];
      nodes[i] = kNone;
      if (!parentValid || !IsComponent(e.name)) continue;
      nodes[i] = FindOrAddLocked(parent, e.name, hashes[i - first]);
      SetHintsLocked(nodes[i], e.hints, e.sidecarName);
    }
  }
}

uint32_t PathNodeTable::InternPath(std::string_view path) {
  if (path.empty() || path[0] != '/') return kNone;
  uint32_t node = kRoot;
  for (std::string_view part : PathComponents(path)) {
    node = Intern(node, part);
    if (node == kNone) return kNone;
  }
  return node;
}

std::vector<std::string_view> PathComponents(std::string_view path) {
  std::vector<std::string_view> parts;
  size_t pos = 0;
  while (pos < path.size()) {
    size_t end = path.find('/', pos);
    if (end == std::string_view::npos) end = path.size();
    if (end > pos) parts.push_back(path.substr(pos, end - pos));
    pos = end + 1;
  }
  return parts;
}

void PathNodeTable::SetHints(uint32_t node, uint8_t hints, std::string_view sidecarName) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (Valid(node)) SetHintsLocked(node, hints, sidecarName);
}

void PathNodeTable::SetHintsLocked(uint32_t node, uint8_t hints, std::string_view sidecarName) {
  std::atomic_ref<uint8_t>(NodeAt(node).hints).store(hints, std::memory_order_relaxed);
  if (!sidecarName.empty()) sidecarNames_[node] = std::string(sidecarName);
  else if (!sidecarNames_.empty()) sidecarNames_.erase(node);
}

std::string PathNodeTable::SidecarName(uint32_t node) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = sidecarNames_.find(node);
  return it == sidecarNames_.end() ? std::string() : it->second;
}

uint8_t PathNodeTable::Hints(uint32_t node) const {
  if (!Valid(node)) return 0;
  // Only this byte of a record ever changes, and only through atomic_ref.
  return std::atomic_ref<uint8_t>(const_cast<uint8_t &>(NodeAt(node).hints)).load(std::memory_order_relaxed);
}

uint32_t PathNodeTable::Parent(uint32_t node) const { return Valid(node) ? NodeAt(node).parent : kNone; }

std::string PathNodeTable::Name(uint32_t node) const { return Valid(node) ? std::string(NameOf(node)) : std::string(); }

std::string PathNodeTable::Path(uint32_t node) const {
  if (!Valid(node)) return {};
  if (node == kRoot) return "/";
  size_t length = 0;
  for (uint32_t n = node; n != kRoot; n = NodeAt(n).parent) length += 1 + NodeAt(n).nameLength;
  std::string path(length, '/');
  size_t end = length;
  for (uint32_t n = node; n != kRoot; n = NodeAt(n).parent) {
    std::string_view name = NameOf(n);
    end -= name.size();
    std::memcpy(path.data() + end, name.data(), name.size());
    end -= 1;  // the '/' already there
  }
  return path;
}

size_t PathNodeTable::Size() const { return count_.load(std::memory_order_acquire); }

size_t PathNodeTable::MemoryBytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ownedBlocks_.size() * (size_t(1) << kNodeBlockBits) * sizeof(Node) + sizeof nodeBlocks_ +
         ownedBlocks_.capacity() * sizeof(ownedBlocks_[0]) + slots_.capacity() * sizeof(Slot) +
         chunks_.size() * kChunkSize + chunks_.capacity() * sizeof(chunks_[0]);
}

PathNodeTable &PathNodes() {
  // Never destroyed: refs may be used from static destructors of other code.
  static PathNodeTable *table = new PathNodeTable();
  return *table;
}

}  // namespace tv::files
