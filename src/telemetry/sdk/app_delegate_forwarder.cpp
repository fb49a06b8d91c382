#include "telemetry/sdk/app_delegate_forwarder.h"

#include <utility>

#include "base/shared_slot.h"

namespace tlm {
namespace {

base::SharedSlot<TLMAppDelegateForwarder>& forwarderSlot() {
  static base::SharedSlot<TLMAppDelegateForwarder> slot;
  return slot;
}

}  // namespace

TLMAppDelegateForwarder::TLMAppDelegateForwarder(const platform::AppIdentity& identity) {
  setEnabledFromPlistForKey(identity, kEnabledKey);
}

std::shared_ptr<TLMAppDelegateForwarder> TLMAppDelegateForwarder::sharedInstance() {
  return forwarderSlot().getOrMake(
      [] { return std::make_shared<TLMAppDelegateForwarder>(platform::AppIdentity::current()); });
}

void TLMAppDelegateForwarder::setSharedForTesting(
    std::shared_ptr<TLMAppDelegateForwarder> forwarder) {
  forwarderSlot().exchange(std::move(forwarder));
}

void TLMAppDelegateForwarder::applicationOpenURLs(const std::vector<std::string>& urls) {
  forward<TLMCustomApplicationDelegate>(
      [&](TLMCustomApplicationDelegate& delegate) { delegate.applicationOpenURLs(urls); });
}

void TLMAppDelegateForwarder::applicationDidBecomeActive() {
  forward<TLMCustomApplicationDelegate>(
      [](TLMCustomApplicationDelegate& delegate) { delegate.applicationDidBecomeActive(); });
}

}  // namespace tlm
