#include "telemetry/sdk/delegate_forwarder.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "telemetry/core/logger.h"

namespace tlm {
namespace {

// The process-wide trace buffer: none once flushed.
// Recursive, so that a block may add a trace while the buffer is flushed.
struct TraceBuffer {
  std::recursive_mutex mutex;
  std::optional<std::vector<TLMDelegateForwarder::TLMTraceBlock>> blocks{std::in_place};
  bool started = false;
};

TraceBuffer& traceBuffer() {
  static TraceBuffer buffer;
  return buffer;
}

}  // namespace

TLMDelegateForwarder::TLMDelegateForwarder() = default;
TLMDelegateForwarder::~TLMDelegateForwarder() = default;

void TLMDelegateForwarder::addDelegate(const std::shared_ptr<TLMCustomDelegate>& delegate) {
  if (!delegate) return;
  std::lock_guard lock(monitor_);
  if (!enabled_) return;
  for (const auto& held : delegates_) {
    if (held.lock() == delegate) return;
  }
  delegates_.push_back(delegate);
}

void TLMDelegateForwarder::removeDelegate(const std::shared_ptr<TLMCustomDelegate>& delegate) {
  std::lock_guard lock(monitor_);
  if (!enabled_) return;
  std::erase_if(delegates_, [&](const std::weak_ptr<TLMCustomDelegate>& held) {
    const auto live = held.lock();
    return !live || live == delegate;
  });
}

void TLMDelegateForwarder::setEnabled(bool enabled) {
  std::lock_guard lock(monitor_);
  enabled_ = enabled;
  if (!enabled) delegates_.clear();
}

bool TLMDelegateForwarder::isEnabled() const {
  std::lock_guard lock(monitor_);
  return enabled_;
}

void TLMDelegateForwarder::setEnabledFromPlistForKey(const platform::AppIdentity& identity,
                                                     std::string_view key) {
  const bool enabled = identity.switchOn(key, true);
  setEnabled(enabled);
  addTraceBlock([key = std::string(key), enabled] {
    if (enabled) {
      TLM_LOG_DEBUG(kTLMLogTag, "Delegate forwarder for info.plist key '", key,
                    "' enabled. It may use swizzling.");
    } else {
      TLM_LOG_DEBUG(kTLMLogTag, "Delegate forwarder for info.plist key '", key,
                    "' disabled. It won't use swizzling.");
    }
  });
}

std::vector<std::shared_ptr<TLMCustomDelegate>> TLMDelegateForwarder::liveDelegates() const {
  std::lock_guard lock(monitor_);
  std::vector<std::shared_ptr<TLMCustomDelegate>> out;
  for (const auto& held : delegates_) {
    if (auto live = held.lock()) out.push_back(std::move(live));
  }
  return out;
}

std::recursive_mutex& TLMDelegateForwarder::forwardingLock() {
  static std::recursive_mutex lock;
  return lock;
}

void TLMDelegateForwarder::addTraceBlock(TLMTraceBlock block) {
  if (!block) return;
  TraceBuffer& buffer = traceBuffer();
  {
    std::lock_guard lock(buffer.mutex);
    if (buffer.blocks) {
      if (!buffer.started) {
        buffer.started = true;
        buffer.blocks->push_back([] { TLM_LOG_VERBOSE(kTLMLogTag, "Start buffering traces."); });
      }
      buffer.blocks->push_back(std::move(block));
      return;
    }
  }
  block();
}

void TLMDelegateForwarder::flushTraceBuffer() {
  TraceBuffer& buffer = traceBuffer();
  std::lock_guard lock(buffer.mutex);
  if (!buffer.blocks) return;
  // By index and by copy: a block may add to the buffer while it runs.
  for (std::size_t i = 0; i < buffer.blocks->size(); ++i) {
    const auto block = (*buffer.blocks)[i];
    block();
  }
  buffer.blocks.reset();
  TLM_LOG_VERBOSE(kTLMLogTag, "Stop buffering traces, flushed.");
}

void TLMDelegateForwarder::resetTraceBufferForTesting() {
  TraceBuffer& buffer = traceBuffer();
  std::lock_guard lock(buffer.mutex);
  buffer.blocks.emplace();
  buffer.started = false;
}

}  // namespace tlm
