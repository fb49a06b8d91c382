#pragma once

#include <memory>

#include "telemetry/http/reachability.h"

namespace tlm {

// Reachable while the main routing table holds a default route (IPv4 or
// IPv6). Changes of routes and links are followed over a netlink socket on a
// thread of its own, which reports once when the notifier starts and then on
// every change of the status.
class TLMNetlinkReachability final : public TLMReachability {
 public:
  TLMNetlinkReachability();
  ~TLMNetlinkReachability() override;
  TLMNetlinkReachability(const TLMNetlinkReachability&) = delete;
  TLMNetlinkReachability& operator=(const TLMNetlinkReachability&) = delete;

  // Not reachable when the routing table cannot be read.
  TLMNetworkStatus currentReachabilityStatus() const override;
  void startNotifier(std::function<void()> onChange) override;
  // A report already under way may still arrive.
  void stopNotifier() override;

  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
};

}  // namespace tlm
