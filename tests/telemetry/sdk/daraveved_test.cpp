#include "telemetry/sdk/daraveved.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "telemetry/analytics/analytics.h"
#include "telemetry/analytics/fake/recording_analytics_backend.h"

namespace tlm {
namespace {

using Services = std::vector<TLMServiceClass>;

class DarAvevedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TLMDarAveved::resetForTesting();
    unsetenv(TLMDarAveved::kDisableEnvironmentVariable);
  }
  void TearDown() override {
    TLMDarAveved::resetForTesting();
    TLMAnalytics::setBackend(nullptr);
    unsetenv(TLMDarAveved::kDisableEnvironmentVariable);
  }

  // Registers starters that note the order and the secret they were given.
  void registerStarters() {
    for (const auto service : {TLMServiceClass::Analytics, TLMServiceClass::Crashes}) {
      TLMDarAveved::setServiceStarter(service, [this, service](const TLMServiceStartArguments& a) {
        calls.push_back(service);
        secrets.push_back(a.appSecret);
        return true;
      });
    }
  }

  Services calls;
  std::vector<std::string> secrets;
};

TEST_F(DarAvevedTest, StartsServicesByPriorityWithTheSecret) {
  registerStarters();
  TLMDarAveved::start("secret-1", {TLMServiceClass::Analytics, TLMServiceClass::Crashes});
  EXPECT_TRUE(TLMDarAveved::isConfigured());
  EXPECT_EQ(calls, (Services{TLMServiceClass::Crashes, TLMServiceClass::Analytics}));
  EXPECT_EQ(secrets, (std::vector<std::string>{"secret-1", "secret-1"}));
  EXPECT_EQ(TLMDarAveved::startedServices(), calls);
}

TEST_F(DarAvevedTest, SecondStartIsRefusedAndStartsNothing) {
  registerStarters();
  TLMDarAveved::start("secret-1", {TLMServiceClass::Crashes});
  TLMDarAveved::start("secret-2", {TLMServiceClass::Analytics});
  EXPECT_EQ(calls, (Services{TLMServiceClass::Crashes}));
  EXPECT_EQ(TLMDarAveved::appSecret(), "secret-1");
}

TEST_F(DarAvevedTest, ServiceWithoutImplementationOrRefusingStaysNotStarted) {
  TLMDarAveved::setServiceStarter(TLMServiceClass::Crashes,
                                  [](const TLMServiceStartArguments&) { return false; });
  TLMDarAveved::start("secret", {TLMServiceClass::Analytics, TLMServiceClass::Crashes});
  EXPECT_TRUE(TLMDarAveved::isConfigured());
  EXPECT_TRUE(TLMDarAveved::startedServices().empty());
  EXPECT_FALSE(TLMAnalytics::isEnabled());
}

TEST_F(DarAvevedTest, EnvironmentSwitchKeepsNamedServicesFromStarting) {
  struct Case {
    const char* value;
    Services started;
  };
  const Case cases[] = {
      {" Crashes , Analytics ", {}},
      {"All", {}},
      {"all", {TLMServiceClass::Crashes, TLMServiceClass::Analytics}},
      {"Analytics", {TLMServiceClass::Crashes}},
  };
  for (const auto& c : cases) {
    TLMDarAveved::resetForTesting();
    calls.clear();
    registerStarters();
    setenv(TLMDarAveved::kDisableEnvironmentVariable, c.value, 1);
    TLMDarAveved::start("secret", {TLMServiceClass::Analytics, TLMServiceClass::Crashes});
    EXPECT_EQ(TLMDarAveved::startedServices(), c.started) << c.value;
  }
}

TEST_F(DarAvevedTest, StartedAnalyticsServiceReceivesEvents) {
  auto backend = std::make_shared<RecordingAnalyticsBackend>();
  TLMDarAveved::setServiceStarter(TLMServiceClass::Analytics,
                                  [backend](const TLMServiceStartArguments&) {
                                    TLMAnalytics::setBackend(backend);
                                    return true;
                                  });
  TLMAnalytics::trackEvent("BeforeStart");
  TLMDarAveved::start("secret", {TLMServiceClass::Analytics, TLMServiceClass::Crashes});
  TLMAnalytics::trackEvent("AfterStart");
  ASSERT_EQ(backend->events().size(), 1u);
  EXPECT_EQ(backend->events()[0].name, "AfterStart");
}

}  // namespace
}  // namespace tlm
