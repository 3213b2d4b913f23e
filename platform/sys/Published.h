// A small record read far more often than it changes, such as the hooks a
// host installs once and the walk asks for at every item: a reader takes the
// current version with one atomic load and no lock; a change publishes a new
// version. A replaced version stays readable, since a reader may still hold
// it: every version is kept, reachable from here, until the process ends
// (changes are rare and records small). Make one with `new` and never delete
// it, so that it outlives every static object that may read it.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace tv::sys {

template <class T> class Published {
 public:
  Published() : current_(versions_.emplace_back(std::make_unique<T>()).get()) {}

  // The current version, copied.
  T Get() const { return *current_.load(std::memory_order_acquire); }

  // Publishes a copy of the current version as change leaves it.
  template <class Change> void Update(Change change) {
    std::lock_guard<std::mutex> guard(mutex_);
    auto next = std::make_unique<T>(*current_.load(std::memory_order_relaxed));
    change(*next);
    current_.store(versions_.emplace_back(std::move(next)).get(), std::memory_order_release);
  }

 private:
  std::mutex mutex_;  // orders the changes
  std::vector<std::unique_ptr<T>> versions_;
  std::atomic<const T *> current_;
};

}  // namespace tv::sys
