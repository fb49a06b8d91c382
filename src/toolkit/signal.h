#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace toolkit {

// A list of callbacks. Emitting calls the callbacks connected when the
// emission starts; a callback may connect or disconnect others (or itself)
// while it runs. Single-threaded, like the rest of the toolkit.
template <class... Args>
class Signal {
 public:
  using Slot = std::function<void(Args...)>;
  using Id = std::uint64_t;

  Signal() = default;
  Signal(const Signal&) = delete;
  Signal& operator=(const Signal&) = delete;

  Id connect(Slot slot) {
    auto id = ++lastId_;
    if (!slots_) slots_ = std::make_shared<std::vector<Entry>>();
    slots_->push_back({id, std::make_shared<Slot>(std::move(slot))});
    return id;
  }
  void disconnect(Id id) {
    if (slots_) std::erase_if(*slots_, [id](const auto& entry) { return entry.id == id; });
  }
  bool empty() const { return !slots_ || slots_->empty(); }

  void emit(Args... args) const {
    if (empty()) return;
    // A copy, so that slots changing the list do not disturb this emission;
    // a slot disconnected during it is skipped.
    auto snapshot = *slots_;
    for (const auto& entry : snapshot) {
      if (!connected(entry.id)) continue;
      (*entry.slot)(args...);
    }
  }

 private:
  struct Entry {
    Id id;
    std::shared_ptr<Slot> slot;
  };
  bool connected(Id id) const {
    for (const auto& entry : *slots_)
      if (entry.id == id) return true;
    return false;
  }

  // Made at the first connection: most signals never get one.
  std::shared_ptr<std::vector<Entry>> slots_;
  Id lastId_ = 0;
};

}  // namespace toolkit
