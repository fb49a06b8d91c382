#include "telemetry/channel/channel_protocols.h"

#include <algorithm>

#include "telemetry/http/http_types.h"

namespace tlm {

base::Error TLMConnectionPausedError() {
  return {kTLMErrorDomain, kTLMConnectionPausedErrorCode, kTLMConnectionPausedErrorDesc};
}

void TLMChannelDelegateSet::add(const std::shared_ptr<TLMChannelDelegate>& delegate) {
  if (!delegate) return;
  std::lock_guard lock(mutex_);
  std::erase_if(delegates_, [](const auto& weak) { return weak.expired(); });
  for (const auto& weak : delegates_) {
    if (weak.lock() == delegate) return;
  }
  delegates_.push_back(delegate);
}

void TLMChannelDelegateSet::remove(const std::shared_ptr<TLMChannelDelegate>& delegate) {
  std::lock_guard lock(mutex_);
  std::erase_if(delegates_, [&](const auto& weak) {
    const auto live = weak.lock();
    return !live || live == delegate;
  });
}

std::vector<std::shared_ptr<TLMChannelDelegate>> TLMChannelDelegateSet::snapshot() const {
  std::lock_guard lock(mutex_);
  std::vector<std::shared_ptr<TLMChannelDelegate>> live;
  live.reserve(delegates_.size());
  std::erase_if(delegates_, [&](const auto& weak) {
    auto delegate = weak.lock();
    if (!delegate) return true;
    live.push_back(std::move(delegate));
    return false;
  });
  return live;
}

void TLMChannelDelegateSet::forEach(const std::function<void(TLMChannelDelegate&)>& block) const {
  for (const auto& delegate : snapshot())
    block(*delegate);
}

}  // namespace tlm
