#include "telemetry/crashes/memory_pressure.h"

#include <algorithm>

namespace tlm {

std::shared_ptr<TLMManualMemoryPressureSource> TLMManualMemoryPressureSource::shared() {
  static const auto source = std::make_shared<TLMManualMemoryPressureSource>();
  return source;
}

std::shared_ptr<void> TLMManualMemoryPressureSource::observe(std::function<void()> onWarning) {
  auto token = std::make_shared<std::function<void()>>(std::move(onWarning));
  std::lock_guard lock(mutex_);
  std::erase_if(observers_, [](const auto& weak) { return weak.expired(); });
  observers_.push_back(token);
  return token;
}

void TLMManualMemoryPressureSource::warn() {
  std::vector<std::shared_ptr<std::function<void()>>> live;
  {
    std::lock_guard lock(mutex_);
    for (const auto& weak : observers_)
      if (auto observer = weak.lock()) live.push_back(std::move(observer));
  }
  for (const auto& observer : live)
    if (*observer) (*observer)();
}

std::size_t TLMManualMemoryPressureSource::observerCount() const {
  std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(std::count_if(observers_.begin(), observers_.end(),
                                                [](const auto& weak) { return !weak.expired(); }));
}

}  // namespace tlm
