#pragma once

// The writes of one kind waiting on one object (a window's frame, its
// minimized state, an application's hiding): each waits for its target value
// to show up and is settled by the owner when an event shows it, or handed to
// its time-out handler when none does in time. Main thread only.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "dispatch/queue.h"
#include "winsys/promise.h"

namespace wendrix::x11::detail {

template <class T>
class PendingWrites {
 public:
  struct Wait {
    T target;
    winsys::Resolver<T> resolver;
  };
  using OnTimeout = std::function<void(Wait& wait)>;

  // Waits for `target`. When `timeout` passes first, the wait is taken out
  // and handed to `onTimeout`, which settles it.
  void add(dispatch::Queue& queue, dispatch::Duration timeout, T target,
           winsys::Resolver<T> resolver, OnTimeout onTimeout) {
    const std::uint64_t id = nextId_++;
    auto timer = queue.after(timeout, [weak = std::weak_ptr<std::vector<Entry>>(entries_), id,
                                       onTimeout = std::move(onTimeout)] {
      auto entries = weak.lock();
      if (!entries) return;
      auto it = std::find_if(entries->begin(), entries->end(), [&](auto& e) { return e.id == id; });
      if (it == entries->end()) return;
      Wait wait = std::move(it->wait);
      entries->erase(it);
      onTimeout(wait);
    });
    entries_->push_back(Entry{id, Wait{std::move(target), std::move(resolver)}, timer});
  }

  // Settles with `result` the waits whose target `reached` accepts.
  template <class Reached>
  void settleIf(Reached reached, const base::Result<T>& result) {
    std::vector<Entry> done;
    std::erase_if(*entries_, [&](Entry& e) {
      if (!reached(e.wait.target)) return false;
      done.push_back(std::move(e));
      return true;
    });
    settle(done, result);
  }

  void settleAll(const base::Result<T>& result) {
    auto done = std::move(*entries_);
    entries_->clear();
    settle(done, result);
  }

  bool empty() const { return entries_->empty(); }

 private:
  struct Entry {
    std::uint64_t id;
    Wait wait;
    dispatch::TimerHandle timer;
  };

  static void settle(std::vector<Entry>& done, const base::Result<T>& result) {
    for (auto& e : done) {
      e.timer.cancel();
      e.wait.resolver.settle(result);
    }
  }

  // Shared with the timers, which must not outlive it.
  std::shared_ptr<std::vector<Entry>> entries_ = std::make_shared<std::vector<Entry>>();
  std::uint64_t nextId_ = 1;
};

}  // namespace wendrix::x11::detail
