#include "telemetry/analytics/transmission_target.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "dispatch/clock.h"
#include "support/telemetry_fake_pipeline.h"
#include "support/telemetry_log_capture.h"
#include "support/temp_dir.h"
#include "telemetry/analytics/analytics.h"
#include "telemetry/analytics/analytics_service.h"
#include "telemetry/context/user_id_context.h"
#include "telemetry/sdk/daraveved.h"

namespace tlm {
namespace {

using testing::LogCapture;

constexpr const char* kCantEnable =
    "Can't enable; parent transmission target and/or Analytics service is disabled.";
constexpr const char* kTargetDisabled = "This transmission target is disabled.";

// The SDK over a recording pipeline, the analytics service started from the
// application as the shared instance, with `secret` as the start's secret.
class TransmissionTargetTest : public ::testing::Test {
 protected:
  TransmissionTargetTest() {
    TLMAnalyticsEnvironment environment;
    environment.tracker.clock = &clock;
    environment.tracker.notifications = std::make_shared<TLMNotificationCenter>();
    environment.tracker.applicationState = [] { return TLMApplicationState::Active; };
    service = TLMAnalyticsService::make(std::move(environment));
    TLMAnalyticsService::setSharedForTesting(service);
    TLMAnalytics::setBackend(nullptr);
  }
  ~TransmissionTargetTest() override { TLMAnalyticsService::setSharedForTesting(); }

  void start(const std::string& secret = "secret-1") {
    TLMDarAveved::start(secret, {TLMAnalyticsService::serviceClass()});
  }
  std::optional<coding::Value> stored(const std::string& key) {
    return sdk.settings().objectForKey(key);
  }
  // The event logs enqueued into "Analytics".
  std::vector<std::shared_ptr<TLMEventLog>> events() {
    std::vector<std::shared_ptr<TLMEventLog>> out;
    for (const auto& item : sdk.group()->unit("Analytics")->enqueued())
      if (auto event = std::dynamic_pointer_cast<TLMEventLog>(item.log)) out.push_back(event);
    return out;
  }
  static std::vector<TLMEventProperty> propertiesOf(const std::shared_ptr<TLMEventLog>& event) {
    return event->typedProperties ? event->typedProperties->properties()
                                  : std::vector<TLMEventProperty>{};
  }

  testing::ScopedFakeTelemetrySdk sdk;
  LogCapture logs{TLMLogLevel::Verbose};
  dispatch::VirtualClock clock;
  std::shared_ptr<TLMAnalyticsService> service;
};

TEST_F(TransmissionTargetTest, ChildrenFollowTheirParentsAndTheServiceSwitch) {
  start();
  const auto root = TLMAnalytics::transmissionTargetForToken("root1-token");
  const auto child = root->transmissionTargetForToken("child1-token");
  const auto grandchild = child->transmissionTargetForToken("grand1-token");
  EXPECT_EQ(TLMAnalytics::transmissionTargetForToken("root1-token"), root);
  EXPECT_EQ(root->transmissionTargetForToken("child1-token"), child);
  EXPECT_EQ(child->isEnabledKey(), "AnalyticsIsEnabled/child1");
  EXPECT_TRUE(grandchild->isEnabled());
  EXPECT_FALSE(stored("AnalyticsIsEnabled/child1"));

  root->setEnabled(false);
  EXPECT_FALSE(child->isEnabled());
  EXPECT_FALSE(grandchild->isEnabled());
  EXPECT_EQ(stored("AnalyticsIsEnabled/grand1"), coding::Value(false));

  // Made under a disabled parent: stored disabled at once, and not to be
  // enabled on its own.
  const auto late = root->transmissionTargetForToken("late1-token");
  EXPECT_EQ(stored("AnalyticsIsEnabled/late1"), coding::Value(false));
  logs.clear();
  late->setEnabled(true);
  EXPECT_FALSE(late->isEnabled());
  EXPECT_EQ(logs.at(TLMLogLevel::Warning), std::vector<std::string>{kCantEnable});

  root->setEnabled(true);
  for (const auto& target : {root, child, grandchild, late})
    EXPECT_TRUE(target->isEnabled()) << target->transmissionTargetToken();

  // The service's switch reaches every root target, also when the service's
  // own value does not change.
  TLMAnalytics::setEnabled(false);
  EXPECT_FALSE(grandchild->isEnabled());
  EXPECT_FALSE(TLMAnalytics::transmissionTargetForToken("root2-token")->isEnabled());
  TLMAnalytics::setEnabled(true);
  EXPECT_TRUE(grandchild->isEnabled());
  child->setEnabled(false);
  TLMAnalytics::setEnabled(true);
  EXPECT_TRUE(child->isEnabled());
}

TEST_F(TransmissionTargetTest, ADisabledTargetTracksAndPausesNothing) {
  start();
  const auto root = TLMAnalytics::transmissionTargetForToken("root1-token");
  root->setEnabled(false);
  logs.clear();
  root->trackEvent("Dropped");
  root->pause();
  root->resume();
  EXPECT_TRUE(events().empty());
  EXPECT_EQ(logs.at(TLMLogLevel::Error),
            (std::vector<std::string>{kTargetDisabled, kTargetDisabled, kTargetDisabled}));
}

TEST_F(TransmissionTargetTest, NearestDefaultWinsAndTheCallsOwnValuesWinOverAll) {
  start();
  const auto parent = TLMAnalytics::transmissionTargetForToken("parent1-token");
  const auto child = parent->transmissionTargetForToken("child1-token");
  parent->propertyConfigurator()->setEventPropertyString("Shared", "parent");
  parent->propertyConfigurator()->setEventPropertyInt64("Depth", 1);
  parent->propertyConfigurator()->setEventPropertyString("Removed", "parent");
  parent->propertyConfigurator()->removeEventPropertyForKey("Removed");
  child->propertyConfigurator()->setEventPropertyString("Shared", "child");
  child->propertyConfigurator()->setEventPropertyBool("Own", true);

  TLMEventProperties call;
  call.setString("Own", "call").setDouble("Extra", 2.5);
  child->trackEvent("Both", call);
  child->trackEvent("Defaults");
  parent->trackEvent("Parent", std::map<std::string, std::string>{{"Depth", std::string("given")}});
  const auto bare = TLMAnalytics::transmissionTargetForToken("bare1-token");
  bare->trackEvent("Bare");

  const auto tracked = events();
  ASSERT_EQ(tracked.size(), 4u);
  EXPECT_EQ(propertiesOf(tracked[0]),
            (std::vector<TLMEventProperty>{{"Shared", std::string("child")},
                                           {"Own", std::string("call")},
                                           {"Depth", std::int64_t{1}},
                                           {"Extra", 2.5}}));
  EXPECT_EQ(propertiesOf(tracked[1]),
            (std::vector<TLMEventProperty>{
                {"Shared", std::string("child")}, {"Own", true}, {"Depth", std::int64_t{1}}}));
  EXPECT_EQ(propertiesOf(tracked[2]),
            (std::vector<TLMEventProperty>{{"Shared", std::string("parent")},
                                           {"Depth", std::string("given")}}));
  EXPECT_FALSE(tracked[3]->typedProperties);

  // Each goes under its own target's token, tagged with the target.
  EXPECT_EQ(tracked[0]->transmissionTargetTokens(), std::set<std::string>{"child1-token"});
  EXPECT_EQ(tracked[0]->tag, child);
  EXPECT_EQ(tracked[2]->transmissionTargetTokens(), std::set<std::string>{"parent1-token"});
  EXPECT_FALSE(tracked[2]->userId);
}

TEST_F(TransmissionTargetTest, TheStartsTokenMakesTheDefaultTargetOfThePlainCalls) {
  start("appsecret=secret-1;target=default1-token");
  TLMUserIdContext::sharedInstance()->setUserId("alice");
  const auto target = service->defaultTransmissionTarget();
  ASSERT_TRUE(target);
  EXPECT_EQ(target->transmissionTargetToken(), "default1-token");

  // Properties for a target go as given: no limit of 20.
  TLMEventProperties many;
  for (int i = 0; i < 25; ++i)
    many.setInt64("Key" + std::to_string(i), i);
  TLMAnalytics::trackEvent("Plain", many);
  const auto tracked = events();
  ASSERT_EQ(tracked.size(), 1u);
  EXPECT_EQ(tracked[0]->transmissionTargetTokens(), std::set<std::string>{"default1-token"});
  EXPECT_EQ(tracked[0]->userId, "alice");
  EXPECT_EQ(propertiesOf(tracked[0]).size(), 25u);

  TLMAnalytics::setEnabled(false);
  EXPECT_FALSE(target->isEnabled());
}

TEST_F(TransmissionTargetTest, ConfiguratorKeepsOnlyUserIdsTheCollectorAccepts) {
  start();
  const auto configurator =
      TLMAnalytics::transmissionTargetForToken("root1-token")->propertyConfigurator();
  configurator->setUserId("alice");
  EXPECT_EQ(configurator->userId(), "c:alice");
  configurator->setUserId("x:bob");
  EXPECT_EQ(configurator->userId(), "c:alice");
  configurator->setUserId(std::nullopt);
  EXPECT_FALSE(configurator->userId());
}

TEST(PropertyConfiguratorDeviceId, MachineIdBecomesAnUpperCaseUuid) {
  support::TempDir folder{"machine-id"};
  struct Case {
    std::string content;
    std::string identifier;
  };
  for (const Case& c :
       {Case{"0123456789abcdef0123456789abcdef\n", "u:01234567-89AB-CDEF-0123-456789ABCDEF"},
        Case{"not a machine id\n", "u:(null)"}, Case{"", "u:(null)"}}) {
    const auto file = folder.path() / "machine-id";
    std::ofstream(file) << c.content;
    EXPECT_EQ(TLMPropertyConfigurator::getDeviceIdentifier(file), c.identifier) << c.content;
  }
  EXPECT_EQ(TLMPropertyConfigurator::getDeviceIdentifier(folder.path() / "missing"), "u:(null)");
}

}  // namespace
}  // namespace tlm
