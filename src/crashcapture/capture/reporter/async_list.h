#pragma once

// A doubly linked list that a signal handler may walk while another thread
// changes it. Writers (append, prepend, remove) take a spin lock that the
// signal path never takes; readers take no lock: they raise the reader count,
// follow the head and next pointers and lower the count when done.
//
// A removed node is freed at once only when no reader holds the list;
// otherwise it is parked on a free list so that a reader standing on it can
// still follow its next pointer. Parked nodes are reused, or freed, only by a
// writer that finds no reader holding the list, so a reader never sees a node
// rewritten or moved under it.
//
// `T` must be trivially copyable (readers copy values out of nodes that
// writers filled before publishing them).

#include <atomic>
#include <new>
#include <type_traits>

namespace tlcrash {

template <class T>
class async_list {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  class node {
   public:
    const T& value() const noexcept { return value_; }

   private:
    friend class async_list;
    T value_{};
    node* prev_ = nullptr;
    std::atomic<node*> next_{nullptr};
  };

  async_list() = default;
  async_list(const async_list&) = delete;
  async_list& operator=(const async_list&) = delete;
  ~async_list() { clear_all(); }

  // Adds `value` at the end. False when no node could be allocated.
  // Not for the signal path.
  bool append(const T& value) noexcept { return insert(value, false); }
  // Adds `value` at the front. False when no node could be allocated.
  // Not for the signal path.
  bool prepend(const T& value) noexcept { return insert(value, true); }

  // Removes the first node holding a value equal to `value` (compared with
  // `==`). False when there is none. Not for the signal path.
  bool remove(const T& value) noexcept {
    return remove_if([&value](const T& candidate) { return candidate == value; });
  }

  // Removes the first node whose value satisfies `match`. False when there is
  // none. Not for the signal path.
  template <class Match>
  bool remove_if(Match match) noexcept {
    lock();
    node* found = head_.load(std::memory_order_acquire);
    while (found != nullptr && !match(found->value_))
      found = found->next_.load(std::memory_order_relaxed);
    if (found == nullptr) {
      unlock();
      return false;
    }
    node* successor = found->next_.load(std::memory_order_relaxed);
    if (found->prev_ == nullptr) {
      node* expected = found;
      head_.compare_exchange_strong(expected, successor, std::memory_order_seq_cst);
    } else {
      node* expected = found;
      found->prev_->next_.compare_exchange_strong(expected, successor, std::memory_order_seq_cst);
    }
    if (successor != nullptr) {
      successor->prev_ = found->prev_;
    } else {
      tail_ = found->prev_;
    }
    // `found` keeps its next pointer: a reader standing on it walks on.
    park(found);
    unlock();
    return true;
  }

  // Signal path: marks the calling thread as reading (true) or done (false).
  // Every `set_reading(true)` needs its `set_reading(false)`.
  void set_reading(bool reading) noexcept {
    if (reading) {
      readers_.fetch_add(1, std::memory_order_seq_cst);
    } else {
      readers_.fetch_sub(1, std::memory_order_seq_cst);
    }
  }

  // Signal path: the node after `current`, or the head when `current` is
  // null; null at the end. Only while reading.
  const node* next(const node* current) const noexcept {
    // Sequentially consistent, paired with the writers' check of the reader
    // count after unlinking: a reader that entered after that check cannot
    // reach the unlinked node.
    if (current == nullptr) return head_.load(std::memory_order_seq_cst);
    return current->next_.load(std::memory_order_seq_cst);
  }

  // Number of parked nodes; for tests.
  int parked_count() const noexcept {
    int count = 0;
    for (node* parked = free_; parked != nullptr; parked = parked->prev_)
      ++count;
    return count;
  }

 private:
  bool insert(const T& value, bool at_front) noexcept {
    lock();
    node* fresh = take_node();
    if (fresh == nullptr) {
      unlock();
      return false;
    }
    fresh->value_ = value;
    if (at_front) {
      node* old_head = head_.load(std::memory_order_relaxed);
      fresh->prev_ = nullptr;
      // The compare-exchange below releases this store with the node.
      fresh->next_.store(old_head, std::memory_order_relaxed);
      node* expected = old_head;
      head_.compare_exchange_strong(expected, fresh, std::memory_order_seq_cst);
      if (old_head != nullptr) {
        old_head->prev_ = fresh;
      } else {
        tail_ = fresh;
      }
    } else {
      fresh->prev_ = tail_;
      // The compare-exchange below releases this store with the node.
      fresh->next_.store(nullptr, std::memory_order_relaxed);
      if (tail_ == nullptr) {
        node* expected = nullptr;
        head_.compare_exchange_strong(expected, fresh, std::memory_order_seq_cst);
      } else {
        node* expected = nullptr;
        tail_->next_.compare_exchange_strong(expected, fresh, std::memory_order_seq_cst);
      }
      tail_ = fresh;
    }
    unlock();
    return true;
  }

  // A parked node when no reader holds the list, else a new one. Parked nodes
  // beyond the one reused are freed while nobody can reach them.
  node* take_node() noexcept {
    if (readers_.load(std::memory_order_seq_cst) == 0 && free_ != nullptr) {
      node* reused = free_;
      free_ = reused->prev_;
      return reused;
    }
    return new (std::nothrow) node;
  }

  void park(node* removed) noexcept {
    if (readers_.load(std::memory_order_seq_cst) == 0) {
      delete removed;
      return;
    }
    // The free list links through prev_, leaving next_ for readers.
    removed->prev_ = free_;
    free_ = removed;
  }

  void clear_all() noexcept {
    node* current = head_.load(std::memory_order_relaxed);
    while (current != nullptr) {
      node* successor = current->next_.load(std::memory_order_relaxed);
      delete current;
      current = successor;
    }
    while (free_ != nullptr) {
      node* parked = free_;
      free_ = parked->prev_;
      delete parked;
    }
    head_.store(nullptr, std::memory_order_relaxed);
    tail_ = nullptr;
  }

  void lock() noexcept {
    while (lock_.test_and_set(std::memory_order_acquire)) {
    }
  }
  void unlock() noexcept { lock_.clear(std::memory_order_release); }

  std::atomic_flag lock_ = ATOMIC_FLAG_INIT;
  std::atomic<node*> head_{nullptr};
  node* tail_ = nullptr;
  node* free_ = nullptr;
  std::atomic<int> readers_{0};
};

}  // namespace tlcrash
