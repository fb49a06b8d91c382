#pragma once

#include <memory>
#include <mutex>
#include <utility>

namespace base {

// The slot behind a process-wide shared instance: made on first use,
// replaceable, and emptied by tests. Thread-safe.
//
// A class with a shared instance keeps one slot in a function-local static
// and offers its own accessor (`shared()`, `sharedInstance()`, ...) plus the
// test hook every such class names the same:
//
//   // Makes `instance` the shared one; none forgets it (and what it was made
//   // from), so the next use makes a new one.
//   static void setSharedForTesting(std::shared_ptr<T> instance = nullptr);
template <class T>
class SharedSlot {
 public:
  // The instance, made by `make()` (which answers a std::shared_ptr<T>) when
  // there is none. `make` runs under the slot's lock: it may use other slots,
  // not this one.
  template <class Make>
  std::shared_ptr<T> getOrMake(Make&& make) {
    std::lock_guard lock(mutex_);
    if (!instance_) instance_ = std::forward<Make>(make)();
    return instance_;
  }

  // The instance, none when there is none yet.
  std::shared_ptr<T> get() const {
    std::lock_guard lock(mutex_);
    return instance_;
  }

  // Installs `instance` (none: empty) and answers the one it replaces.
  std::shared_ptr<T> exchange(std::shared_ptr<T> instance) {
    std::lock_guard lock(mutex_);
    std::swap(instance_, instance);
    return instance;
  }

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<T> instance_;
};

}  // namespace base
