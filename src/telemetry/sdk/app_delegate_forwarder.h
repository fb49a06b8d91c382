#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bundle/app_identity.h"
#include "telemetry/sdk/delegate_forwarder.h"

namespace tlm {

// What an SDK service may hear of the program's application delegate. Each
// callback runs on the main thread, when the program's delegate gets the
// same call.
class TLMCustomApplicationDelegate : public TLMCustomDelegate {
 public:
  virtual void applicationOpenURLs(const std::vector<std::string>& /*urls*/) {}
  virtual void applicationDidBecomeActive() {}
};

// The forwarder of the program's application delegate. The program hooks it
// to its application's URL opening and activation; the switch
// "DarAvevedAppDelegateForwarderEnabled" of the program's identity turns it
// off.
class TLMAppDelegateForwarder final : public TLMDelegateForwarder {
 public:
  static constexpr std::string_view kEnabledKey = "DarAvevedAppDelegateForwarderEnabled";

  // Reads the switch from `identity` and traces it.
  explicit TLMAppDelegateForwarder(const platform::AppIdentity& identity);

  // The process's forwarder, made on first use from the installed identity.
  static std::shared_ptr<TLMAppDelegateForwarder> sharedInstance();
  // Makes `forwarder` the shared one; none: made again on next use.
  static void setSharedForTesting(std::shared_ptr<TLMAppDelegateForwarder> forwarder = nullptr);

  // The hooks: each passes the call to the registered delegates.
  void applicationOpenURLs(const std::vector<std::string>& urls);
  void applicationDidBecomeActive();
};

}  // namespace tlm
