// The process-wide table of path nodes behind every FSRef.
//
// A node is one name inside its parent node; node 0 is the root folder "/".
// Nodes are interned (the same parent and name give the same node), never
// removed, and their numbers stay valid for the life of the process, so an
// FSRef can carry a node number and rebuild its path when it is used.
//
// Memory per node is a 16-byte record and 11 to 22 bytes of hash slots, plus
// the name itself: a walk over a million files costs some 27 to 38 MB beyond
// the names. Thread-safe. Records and names never move once written, so the
// readers (Valid, Parent, Name, Path, Hints) take no lock: a walk asks them
// several times for every item, and only interning and SetHints serialise.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tv::files {

// Spreads the bits of x over the whole word (the splitmix64 finaliser):
// the last step of the hashes of names and refs.
inline uint64_t MixBits(uint64_t x) {
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

class PathNodeTable {
 public:
  static constexpr uint32_t kRoot = 0;
  static constexpr uint32_t kNone = UINT32_MAX;

  PathNodeTable();
  PathNodeTable(const PathNodeTable &) = delete;
  PathNodeTable &operator=(const PathNodeTable &) = delete;

  // The node for `name` inside `parent`, made on first use. name must be one
  // non-empty component without '/' and not "." or ".."; kNone otherwise.
  // Throws std::bad_alloc when memory runs out.
  uint32_t Intern(uint32_t parent, std::string_view name);
  // Intern, then SetHints, for each of the n entries of a listing of parent,
  // under one lock: nodes[i] is the node of entries[i].name (kNone where it is
  // not one component). The names are hashed a few at a time and their slots
  // fetched from memory together, rather than waited for one after another.
  struct ListedName {
    std::string_view name;
    uint8_t hints;
    std::string_view sidecarName;
  };
  void InternListed(uint32_t parent, const ListedName *entries, size_t n, uint32_t *nodes);
  // The node of an absolute, already canonical path ("/a/b"); kNone for a
  // relative path or one with "." or ".." components. Empty components
  // ("//") are skipped.
  uint32_t InternPath(std::string_view absolutePath);

  bool Valid(uint32_t node) const { return node < count_.load(std::memory_order_acquire); }
  // kNone for the root or an unknown node.
  uint32_t Parent(uint32_t node) const;
  // The last component; "" for the root or an unknown node.
  std::string Name(uint32_t node) const;
  // The same, as a view of the table's own bytes, which never move: "" for
  // an unknown node.
  std::string_view NameView(uint32_t node) const { return Valid(node) ? NameOf(node) : std::string_view(); }
  // The absolute path: "/" for the root, "/a/b" otherwise; "" for an unknown node.
  std::string Path(uint32_t node) const;

  // What the last listing of the parent folder said of a node, so that the
  // fork stores need not look for a "._name" sidecar the listing has just
  // shown not to be there. The hints belong to the snapshot of that listing
  // (as the walk that uses them does): a sidecar made afterwards by someone
  // else is seen once the folder is listed again.
  enum Hint : uint8_t {
    kHintListed = 0x1,   // seen in a listing of its parent
    kHintSidecar = 0x2,  // ... with a "._name" sidecar beside it
    // Not listed, but its sidecar can only be "._name": its folder does not
    // ignore case (see LearnSidecarName in Listing.h).
    kHintSidecarNamed = 0x4,
    // A folder listed on its parent's volume, no mount's root (see
    // FolderEntry::onFolderVolume): its sidecar is the "._name" beside it.
    kHintOnFolderVolume = 0x8,
  };
  // sidecarName: the sidecar's name on disk where it is not "._" + the
  // node's name (a folder that ignores case); empty otherwise.
  void SetHints(uint32_t node, uint8_t hints, std::string_view sidecarName = {});
  uint8_t Hints(uint32_t node) const;  // 0 for an unknown node
  // The sidecar name the last listing gave the node; "" for "._" + its name.
  std::string SidecarName(uint32_t node) const;

  size_t Size() const;
  // Bytes held by the table, names included.
  size_t MemoryBytes() const;

 private:
  struct Node {
    const char *name;  // in a name chunk; unused for the root
    uint32_t parent;
    uint16_t nameLength;
    // In the record's padding: no extra memory. Read and written through
    // std::atomic_ref, as a listing may set it while another thread reads.
    uint8_t hints;
  };
  static constexpr unsigned kChunkBits = 20;  // 1 MiB name chunks, never moved
  static constexpr size_t kChunkSize = size_t(1) << kChunkBits;
  // Records come in blocks of 2^18 (4 MiB, touched only as filled) that
  // never move; the directory has room for every node number.
  static constexpr unsigned kNodeBlockBits = 18;
  static constexpr uint32_t kNodeBlockMask = (uint32_t(1) << kNodeBlockBits) - 1;
  static constexpr size_t kNodeBlocks = (size_t(1) << 32) >> kNodeBlockBits;

  // The record of a node below count_.
  const Node &NodeAt(uint32_t node) const {
    return nodeBlocks_[node >> kNodeBlockBits].load(std::memory_order_relaxed)[node & kNodeBlockMask];
  }
  Node &NodeAt(uint32_t node) {
    return nodeBlocks_[node >> kNodeBlockBits].load(std::memory_order_relaxed)[node & kNodeBlockMask];
  }
  std::string_view NameOf(uint32_t node) const {
    const Node &n = NodeAt(node);
    return std::string_view(n.name, n.nameLength);
  }
  static uint64_t HashOf(uint32_t parent, std::string_view name);
  uint32_t FindOrAddLocked(uint32_t parent, std::string_view name, uint32_t hash);
  void GrowSlotsLocked();
  void SetHintsLocked(uint32_t node, uint8_t hints, std::string_view sidecarName);

  mutable std::mutex mutex_;
  // Records in use, readable without the lock: a record is written, then
  // counted (release), so a reader that sees a node below the count (acquire)
  // sees its record and block. Nodes are never removed, so a node below it
  // stays valid (every ref checks its node).
  std::atomic<uint32_t> count_{0};
  std::array<std::atomic<Node *>, kNodeBlocks> nodeBlocks_{};
  std::vector<std::unique_ptr<Node[]>> ownedBlocks_;
  std::vector<std::unique_ptr<char[]>> chunks_;
  size_t chunkUsed_ = kChunkSize;  // bytes used in the last chunk
  struct Slot {
    uint32_t node;  // kNone when empty
    uint32_t hash;  // the low half of the node's hash, which places it
  };
  std::vector<Slot> slots_;  // power-of-two size
  std::unordered_map<uint32_t, std::string> sidecarNames_;  // rare: only where case is ignored
};

// The non-empty components of a path, in order ("." and ".." included).
std::vector<std::string_view> PathComponents(std::string_view path);

// The table that FSRefs of this process point into.
PathNodeTable &PathNodes();

}  // namespace tv::files
