#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "platform/bundle/app_identity.h"

namespace tlm {

// A receiver of forwarded delegate calls. Each kind of forwarder declares the
// callbacks of its delegate kind, with defaults that do nothing (a delegate
// "responds" to what it overrides).
class TLMCustomDelegate {
 public:
  virtual ~TLMCustomDelegate() = default;
};

// Lets SDK services see the calls the program makes on one of its delegates
// without the program wiring each service: the program calls the forwarder's
// hooks from the delegate's callbacks, and the forwarder passes each call to
// the custom delegates registered with it, in the order they were added.
// There is no run-time method replacement: the hooks are explicit.
//
// A switch read from the program's information dictionary turns a forwarder
// off; a disabled forwarder holds no delegates and takes none.
//
// Trace lines about the forwarders are held in one process-wide buffer until
// the application sets the SDK's log level, then logged in order; later
// lines are logged at once.
//
// Thread-safe: delegates and switch under the forwarder's monitor; forwarded
// calls are serialised on one lock shared by all forwarders and made on the
// caller's thread. Delegates are held weakly.
class TLMDelegateForwarder {
 public:
  using TLMTraceBlock = std::function<void()>;

  // Enabled, without delegates.
  TLMDelegateForwarder();
  virtual ~TLMDelegateForwarder();
  TLMDelegateForwarder(const TLMDelegateForwarder&) = delete;
  TLMDelegateForwarder& operator=(const TLMDelegateForwarder&) = delete;

  // Only while enabled.
  void addDelegate(const std::shared_ptr<TLMCustomDelegate>& delegate);
  void removeDelegate(const std::shared_ptr<TLMCustomDelegate>& delegate);
  // Disabling also drops every delegate.
  void setEnabled(bool enabled);
  bool isEnabled() const;

  // The switch under `key` of the identity's dictionary (absent means on),
  // then a trace saying which.
  void setEnabledFromPlistForKey(const platform::AppIdentity& identity, std::string_view key);

  // Buffers the block, or runs it at once once the buffer was flushed.
  static void addTraceBlock(TLMTraceBlock block);
  // Runs every buffered block in order and ends the buffering (once).
  static void flushTraceBuffer();
  // Back to buffering with an empty buffer.
  static void resetTraceBufferForTesting();

 protected:
  // Calls `call` on every live delegate of kind D, in the order added.
  template <class D>
  void forward(const std::function<void(D&)>& call) {
    std::lock_guard forwarding(forwardingLock());
    for (const auto& delegate : delegatesOf<D>())
      call(*delegate);
  }

  // A call whose answer the program's own code already gave: each delegate
  // gets the latest answer and gives the next one; the last answer comes
  // back (`returnedValue` itself when there is no delegate).
  template <class D, class R>
  R forwardReturningValue(R returnedValue, const std::function<R(D&, R)>& call) {
    std::lock_guard forwarding(forwardingLock());
    for (const auto& delegate : delegatesOf<D>())
      returnedValue = call(*delegate, std::move(returnedValue));
    return returnedValue;
  }

 private:
  template <class D>
  std::vector<std::shared_ptr<D>> delegatesOf() const {
    std::vector<std::shared_ptr<D>> out;
    for (const auto& delegate : liveDelegates()) {
      if (auto typed = std::dynamic_pointer_cast<D>(delegate)) out.push_back(std::move(typed));
    }
    return out;
  }
  std::vector<std::shared_ptr<TLMCustomDelegate>> liveDelegates() const;
  static std::recursive_mutex& forwardingLock();

  mutable std::recursive_mutex monitor_;
  bool enabled_ = true;
  std::vector<std::weak_ptr<TLMCustomDelegate>> delegates_;
};

}  // namespace tlm
