#pragma once

// Services for the SDK tests: they start, switch and add units like real
// ones, and note what the SDK asked of them.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "telemetry/sdk/service_abstract.h"
#include "telemetry/sdk/service_class.h"

namespace tlm::testing {

class TestService final : public TLMServiceAbstract {
 public:
  struct Options {
    std::string name;
    std::int64_t priority = kDefaultInitializationPriority;
    bool secretRequired = true;
    bool withUnit = true;
  };

  explicit TestService(Options options)
      : options_(std::move(options)), logTag_("DarAveved" + options_.name) {}

  std::string_view serviceName() const override { return options_.name; }
  std::string_view logTag() const override { return logTag_; }
  std::string groupId() const override { return options_.name; }
  std::optional<TLMChannelUnitConfiguration> channelUnitConfiguration() const override {
    if (!options_.withUnit) return std::nullopt;
    return TLMChannelUnitConfiguration(options_.name);
  }
  std::int64_t initializationPriority() const override { return options_.priority; }
  bool isAppSecretRequired() const override { return options_.secretRequired; }

  void applyEnabledState(bool isEnabled) override {
    applied.push_back(isEnabled);
    TLMServiceAbstract::applyEnabledState(isEnabled);
  }
  void startWithChannelGroup(std::shared_ptr<TLMChannelGroupProtocol> channelGroup,
                             std::optional<std::string> appSecret, std::optional<std::string> token,
                             bool fromApplication) override {
    ++starts;
    TLMServiceAbstract::startWithChannelGroup(std::move(channelGroup), std::move(appSecret),
                                              std::move(token), fromApplication);
  }
  void updateConfigurationWithAppSecret(std::optional<std::string> appSecret,
                                        std::optional<std::string> token) override {
    ++updates;
    TLMServiceAbstract::updateConfigurationWithAppSecret(std::move(appSecret), std::move(token));
  }

  std::vector<bool> applied;
  int starts = 0;
  int updates = 0;

 private:
  Options options_;
  std::string logTag_;
};

// The service and its class, whose shared instance it is.
struct TestServiceClass {
  explicit TestServiceClass(TestService::Options options, std::string className)
      : service(std::make_shared<TestService>(std::move(options))),
        serviceClass(std::move(className), [s = service] { return s; }) {}

  std::shared_ptr<TestService> service;
  TLMServiceClass serviceClass;
};

// Fakes of the analytics and crash services: the names, priorities and
// secret needs of the real ones.
inline TestServiceClass testAnalytics() {
  return TestServiceClass({.name = "Analytics", .secretRequired = false}, "TLMAnalytics");
}
inline TestServiceClass testCrashes() {
  return TestServiceClass({.name = "Crashes", .priority = 999}, "TLMCrashes");
}

}  // namespace tlm::testing
