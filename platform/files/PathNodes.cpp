#include "platform/files/PathNodes.h"

#include <cstring>

namespace tv::files {

PathNodeTable::PathNodeTable() {
  nodes_.push_back(Node{0, kNone, 0});  // the root
  slots_.assign(1024, kNone);
}

uint64_t PathNodeTable::HashOf(uint32_t parent, std::string_view name) const {
  // FNV-1a over the parent number and the name bytes.
  uint64_t h = 1469598103934665603ull;
  for (int i = 0; i < 4; i++) {
    h ^= (parent >> (8 * i)) & 0xFF;
    h *= 1099511628211ull;
  }
  for (unsigned char c : name) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h ^ (h >> 29);
}

std::string_view PathNodeTable::NameLocked(uint32_t node) const {
  const Node &n = nodes_[node];
  if (n.nameLength == 0) return {};
  const char *chunk = chunks_[n.nameOffset >> kChunkBits].get();
  return std::string_view(chunk + (n.nameOffset & (kChunkSize - 1)), n.nameLength);
}

void PathNodeTable::GrowSlotsLocked() {
  std::vector<uint32_t> bigger(slots_.size() * 2, kNone);
  size_t mask = bigger.size() - 1;
  for (uint32_t node = 1; node < nodes_.size(); node++) {
    size_t i = HashOf(nodes_[node].parent, NameLocked(node)) & mask;
    while (bigger[i] != kNone) i = (i + 1) & mask;
    bigger[i] = node;
  }
  slots_.swap(bigger);
}

uint32_t PathNodeTable::FindOrAddLocked(uint32_t parent, std::string_view name) {
  size_t mask = slots_.size() - 1;
  size_t i = HashOf(parent, name) & mask;
  for (; slots_[i] != kNone; i = (i + 1) & mask) {
    uint32_t node = slots_[i];
    if (nodes_[node].parent == parent && NameLocked(node) == name) return node;
  }
  if (nodes_.size() >= kNone - 1) throw std::bad_alloc();
  // Store the name; a name never straddles two chunks.
  if (chunkUsed_ + name.size() > kChunkSize) {
    chunks_.push_back(std::make_unique_for_overwrite<char[]>(kChunkSize));  // touched only as filled
    chunkUsed_ = 0;
  }
  uint64_t offset = (uint64_t(chunks_.size() - 1) << kChunkBits) | chunkUsed_;
  std::memcpy(chunks_.back().get() + chunkUsed_, name.data(), name.size());
  chunkUsed_ += name.size();
  uint32_t node = uint32_t(nodes_.size());
  nodes_.push_back(Node{offset, parent, uint16_t(name.size())});
  count_.store(uint32_t(nodes_.size()), std::memory_order_release);
  slots_[i] = node;
  // Keep the load under 3/4 so that probes stay short.
  if (nodes_.size() * 4 > slots_.size() * 3) GrowSlotsLocked();
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
  if (parent >= nodes_.size()) return kNone;
  return FindOrAddLocked(parent, name);
}

uint32_t PathNodeTable::InternWithHints(uint32_t parent, std::string_view name, uint8_t hints,
                                        std::string_view sidecarName) {
  if (!IsComponent(name)) return kNone;
  std::lock_guard<std::mutex> lock(mutex_);
  if (parent >= nodes_.size()) return kNone;
  const uint32_t node = FindOrAddLocked(parent, name);
  SetHintsLocked(node, hints, sidecarName);
  return node;
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

bool PathNodeTable::Valid(uint32_t node) const { return node < count_.load(std::memory_order_acquire); }

void PathNodeTable::SetHints(uint32_t node, uint8_t hints, std::string_view sidecarName) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (node < nodes_.size()) SetHintsLocked(node, hints, sidecarName);
}

void PathNodeTable::SetHintsLocked(uint32_t node, uint8_t hints, std::string_view sidecarName) {
  nodes_[node].hints = hints;
  if (!sidecarName.empty()) sidecarNames_[node] = std::string(sidecarName);
  else if (!sidecarNames_.empty()) sidecarNames_.erase(node);
}

std::string PathNodeTable::SidecarName(uint32_t node) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = sidecarNames_.find(node);
  return it == sidecarNames_.end() ? std::string() : it->second;
}

uint8_t PathNodeTable::Hints(uint32_t node) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return node < nodes_.size() ? nodes_[node].hints : 0;
}

uint32_t PathNodeTable::Parent(uint32_t node) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return node < nodes_.size() ? nodes_[node].parent : kNone;
}

std::string PathNodeTable::Name(uint32_t node) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return node < nodes_.size() ? std::string(NameLocked(node)) : std::string();
}

std::string PathNodeTable::Path(uint32_t node) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (node >= nodes_.size()) return {};
  if (node == kRoot) return "/";
  size_t length = 0;
  for (uint32_t n = node; n != kRoot; n = nodes_[n].parent) length += 1 + nodes_[n].nameLength;
  std::string path(length, '/');
  size_t end = length;
  for (uint32_t n = node; n != kRoot; n = nodes_[n].parent) {
    std::string_view name = NameLocked(n);
    end -= name.size();
    std::memcpy(path.data() + end, name.data(), name.size());
    end -= 1;  // the '/' already there
  }
  return path;
}

size_t PathNodeTable::Size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return nodes_.size();
}

size_t PathNodeTable::MemoryBytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return nodes_.capacity() * sizeof(Node) + slots_.capacity() * sizeof(uint32_t) +
         chunks_.size() * kChunkSize + chunks_.capacity() * sizeof(chunks_[0]);
}

PathNodeTable &PathNodes() {
  // Never destroyed: refs may be used from static destructors of other code.
  static PathNodeTable *table = new PathNodeTable();
  return *table;
}

}  // namespace tv::files
