#pragma once

#include <functional>
#include <memory>

namespace tlm {

enum TLMNetworkStatus : int { TLMNotReachable = 0, TLMReachable = 1 };

// The network state as seen by the HTTP client.
class TLMReachability {
 public:
  virtual ~TLMReachability() = default;
  virtual TLMNetworkStatus currentReachabilityStatus() const = 0;
  // Calls `onChange` once soon after starting and then on every change, from
  // any thread. One observer at a time; starting again replaces it.
  virtual void startNotifier(std::function<void()> onChange) = 0;
  // No calls after this returns.
  virtual void stopNotifier() = 0;
};

// The default on Linux: the network is taken as always there, so the client
// only pauses when its retries are used up.
class TLMAlwaysReachable final : public TLMReachability {
 public:
  TLMNetworkStatus currentReachabilityStatus() const override { return TLMReachable; }
  void startNotifier(std::function<void()> onChange) override {
    if (onChange) onChange();
  }
  void stopNotifier() override {}
};

}  // namespace tlm
