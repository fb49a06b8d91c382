#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace tlm {

// The system's low-memory warnings, delivered on the main queue.
class TLMMemoryPressureSource {
 public:
  virtual ~TLMMemoryPressureSource() = default;
  // Calls `onWarning` at each warning for as long as the answered token lives.
  virtual std::shared_ptr<void> observe(std::function<void()> onWarning) = 0;
};

// A source whose warnings are raised by hand (Linux has no memory-pressure
// event the program follows yet; tests raise them). Thread-safe.
class TLMManualMemoryPressureSource final : public TLMMemoryPressureSource {
 public:
  // The process's source.
  static std::shared_ptr<TLMManualMemoryPressureSource> shared();

  std::shared_ptr<void> observe(std::function<void()> onWarning) override;
  // Calls every live observer, on the calling thread.
  void warn();
  std::size_t observerCount() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::weak_ptr<std::function<void()>>> observers_;
};

}  // namespace tlm
