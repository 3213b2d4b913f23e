// A set of pointers held in one array (open addressing, linear probing), for
// the registries of live objects: making or freeing an object, which a walk
// does for every item it lists, costs no allocation of its own. Not
// thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tv::sys {

class PointerSet {
 public:
  // Throws std::bad_alloc when the array cannot grow.
  void insert(const void *p) {
    if ((count_ + 1) * 2 > slots_.size()) Grow();
    size_t i = Find(Key(p));
    if (slots_[i] != 0) return;
    slots_[i] = Key(p);
    ++count_;
  }
  bool contains(const void *p) const { return p != nullptr && count_ != 0 && slots_[Find(Key(p))] != 0; }
  void erase(const void *p) {
    if (p == nullptr || count_ == 0) return;
    size_t hole = Find(Key(p));
    if (slots_[hole] == 0) return;
    // Each later entry of the run moves into the hole unless its home lies
    // cyclically after the hole, so that every entry stays reachable from
    // its home.
    for (size_t j = (hole + 1) & Mask(); slots_[j] != 0; j = (j + 1) & Mask()) {
      if (((j - Home(slots_[j])) & Mask()) >= ((j - hole) & Mask())) {
        slots_[hole] = slots_[j];
        hole = j;
      }
    }
    slots_[hole] = 0;
    --count_;
  }
  size_t size() const { return count_; }

 private:
  static uintptr_t Key(const void *p) { return reinterpret_cast<uintptr_t>(p); }
  size_t Mask() const { return slots_.size() - 1; }
  size_t Home(uintptr_t k) const { return size_t((uint64_t(k) * 0x9E3779B97F4A7C15ull) >> shift_); }
  // The slot holding k, or the empty slot where its run ends.
  size_t Find(uintptr_t k) const {
    size_t i = Home(k);
    while (slots_[i] != 0 && slots_[i] != k) i = (i + 1) & Mask();
    return i;
  }
  void Grow() {
    std::vector<uintptr_t> old(slots_.empty() ? 64 : slots_.size() * 2, 0);
    old.swap(slots_);
    shift_ = 64;
    for (size_t n = slots_.size(); n > 1; n >>= 1) --shift_;
    for (uintptr_t k : old)
      if (k != 0) slots_[Find(k)] = k;
  }

  std::vector<uintptr_t> slots_;  // 0: empty; a power of two in size, at most half full
  size_t count_ = 0;
  unsigned shift_ = 64;
};

}  // namespace tv::sys
