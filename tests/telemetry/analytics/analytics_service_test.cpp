#include "telemetry/analytics/analytics_service.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/uuid.h"
#include "dispatch/clock.h"
#include "support/telemetry_fake_pipeline.h"
#include "support/telemetry_log_capture.h"
#include "telemetry/analytics/analytics.h"
#include "telemetry/analytics/fake/recording_analytics_backend.h"
#include "telemetry/sdk/daraveved.h"

namespace tlm {
namespace {

using testing::FakeChannelUnit;
using testing::LogCapture;
using Switches = std::vector<std::pair<bool, bool>>;

constexpr const char* kNotStarted =
    "Analytics service hasn't been started. You need to call [TLMDarAveved "
    "start:YOUR_APP_SECRET withServices:LIST_OF_SERVICES] first.";

class AnalyticsServiceTest : public ::testing::Test {
 protected:
  AnalyticsServiceTest() {
    TLMAnalyticsEnvironment environment;
    environment.tracker.context = context;
    environment.tracker.clock = &clock;
    environment.tracker.notifications = notifications;
    environment.tracker.applicationState = [] { return TLMApplicationState::Active; };
    environment.tracker.executablePath = "/usr/bin/wendrix";
    service = TLMAnalyticsService::make(std::move(environment));
    TLMAnalyticsService::setSharedForTesting(service);
    TLMAnalytics::setBackend(nullptr);
  }
  ~AnalyticsServiceTest() override { TLMAnalyticsService::setSharedForTesting(); }

  void start() { TLMDarAveved::start("secret-1", {TLMAnalyticsService::serviceClass()}); }
  std::shared_ptr<FakeChannelUnit> unit(const std::string& groupId) {
    return sdk.group() ? sdk.group()->unit(groupId) : nullptr;
  }
  // The event logs enqueued into a unit, with their flags.
  std::vector<std::pair<std::shared_ptr<TLMEventLog>, std::uint64_t>> events(
      const std::string& groupId) {
    std::vector<std::pair<std::shared_ptr<TLMEventLog>, std::uint64_t>> out;
    if (const auto u = unit(groupId)) {
      for (const auto& item : u->enqueued())
        if (auto event = std::dynamic_pointer_cast<TLMEventLog>(item.log))
          out.emplace_back(event, item.flags);
    }
    return out;
  }
  // The group's delegates that are the service or its tracker, in order.
  using Delegates = std::vector<std::shared_ptr<TLMChannelDelegate>>;
  Delegates ownDelegates() {
    Delegates out;
    for (const auto& delegate : sdk.group()->delegates()) {
      if (delegate == service->sessionTracker() ||
          delegate == std::static_pointer_cast<TLMChannelDelegate>(service))
        out.push_back(delegate);
    }
    return out;
  }
  std::vector<std::shared_ptr<TLMStartSessionLog>> sessionLogs() {
    std::vector<std::shared_ptr<TLMStartSessionLog>> out;
    for (const auto& item : unit("Analytics")->enqueued())
      if (auto log = std::dynamic_pointer_cast<TLMStartSessionLog>(item.log)) out.push_back(log);
    return out;
  }

  testing::ScopedFakeTelemetrySdk sdk;
  LogCapture logs{TLMLogLevel::Verbose};
  dispatch::VirtualClock clock;
  std::shared_ptr<TLMSessionContext> context =
      std::make_shared<TLMSessionContext>(TLMDarAvevedUserDefaults::shared(), clock);
  std::shared_ptr<TLMNotificationCenter> notifications = std::make_shared<TLMNotificationCenter>();
  std::shared_ptr<TLMAnalyticsService> service;
};

TEST_F(AnalyticsServiceTest, BeforeTheStartNothingIsTracked) {
  TLMAnalytics::trackEvent("Early");
  service->trackEvent("Early", std::nullopt);
  service->trackPage("Early");
  EXPECT_FALSE(sdk.group());
  EXPECT_TRUE(logs.has(TLMLogLevel::Error, kNotStarted));
  EXPECT_FALSE(context->sessionId());
}

TEST_F(AnalyticsServiceTest, StartAddsBothUnitsOpensASessionAndTakesTheProgramsEvents) {
  start();
  EXPECT_EQ(sdk.group()->unitGroupIds(),
            (std::vector<std::string>{"DarAveved", "Analytics", "Analytics_critical"}));
  EXPECT_EQ(unit("Analytics")->configuration().flushInterval(), 3u);
  EXPECT_EQ(unit("Analytics")->enabledCalls(), (Switches{{true, true}}));
  EXPECT_TRUE(unit("Analytics_critical")->enabledCalls().empty());
  EXPECT_EQ(ownDelegates(), (Delegates{service->sessionTracker(), service}));

  const auto sessions = sessionLogs();
  ASSERT_EQ(sessions.size(), 1u);
  EXPECT_EQ(sessions[0]->sid, context->sessionId());
  EXPECT_TRUE(logs.has(TLMLogLevel::Verbose, "Started Analytics service.", "DarAvevedAnalytics"));
  EXPECT_TRUE(
      logs.has(TLMLogLevel::Info, "Analytics service has been enabled.", "DarAvevedAnalytics"));

  // The program's road: the facade reaches the started service.
  TLMEventProperties properties;
  properties.setDouble("TimeInSec", 1.5);
  TLMAnalytics::trackEvent("Layout_Saved", properties);
  TLMAnalytics::trackEvent("Bare");
  TLMAnalytics::trackEvent("Empty", TLMEventProperties());
  const auto tracked = events("Analytics");
  ASSERT_EQ(tracked.size(), 3u);
  EXPECT_EQ(tracked[0].first->name, "Layout_Saved");
  EXPECT_EQ(tracked[0].second, 1u);
  EXPECT_TRUE(base::isUuidString(tracked[0].first->eventId.value_or("")));
  EXPECT_EQ(tracked[0].first->typedProperties, properties);
  EXPECT_FALSE(tracked[1].first->typedProperties);
  EXPECT_FALSE(tracked[2].first->typedProperties);
  EXPECT_TRUE(TLMAnalytics::isEnabled());
}

struct FlagsCase {
  std::uint64_t flags;
  const char* unit;
  std::uint64_t enqueuedFlags;
  std::string warning;  // "" for none
};

class AnalyticsFlagsTest : public AnalyticsServiceTest,
                           public ::testing::WithParamInterface<FlagsCase> {};

TEST_P(AnalyticsFlagsTest, LowByteChoosesTheUnitOtherValuesFallBackToNormal) {
  const auto& c = GetParam();
  start();
  logs.clear();
  service->trackEvent("E", std::nullopt, c.flags);
  const auto tracked = events(c.unit);
  ASSERT_EQ(tracked.size(), 1u);
  EXPECT_EQ(tracked[0].second, c.enqueuedFlags);
  EXPECT_TRUE(
      events(std::string(c.unit) == "Analytics" ? "Analytics_critical" : "Analytics").empty());
  const auto warnings = logs.at(TLMLogLevel::Warning);
  EXPECT_EQ(warnings,
            c.warning.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.warning});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AnalyticsFlagsTest,
    ::testing::Values(
        FlagsCase{1, "Analytics", 1, ""}, FlagsCase{2, "Analytics_critical", 2, ""},
        FlagsCase{257, "Analytics", 1, ""}, FlagsCase{258, "Analytics_critical", 2, ""},
        FlagsCase{0, "Analytics", 1, "Invalid flags (0) received, using normal as a default."},
        FlagsCase{3, "Analytics", 1, "Invalid flags (3) received, using normal as a default."},
        FlagsCase{255, "Analytics", 1,
                  "Invalid flags (255) received, using normal as a default."}));

TEST_F(AnalyticsServiceTest, TrackedPropertiesAreHeldToTheirLimits) {
  start();
  logs.clear();
  TLMEventProperties properties;
  for (int i = 0; i < 25; ++i)
    properties.setString(std::to_string(i + 10) + std::string(130, 'k'), std::string(130, 'v'));
  service->trackEvent("E", properties);
  const auto tracked = events("Analytics");
  ASSERT_EQ(tracked.size(), 1u);
  const auto kept = tracked[0].first->typedProperties->properties();
  ASSERT_EQ(kept.size(), 20u);
  EXPECT_EQ(kept[19], (TLMEventProperty{"29" + std::string(123, 'k'), std::string(125, 'v')}));
  EXPECT_TRUE(logs.has(TLMLogLevel::Warning,
                       "Typed properties cannot contain more than 20 items. Skipping other "
                       "properties.",
                       "DarAvevedAnalytics"));
}

TEST_F(AnalyticsServiceTest, TransmissionIntervalOnlyWithinBoundsAndBeforeTheStart) {
  struct Case {
    std::uint64_t seconds;
    std::uint64_t kept;
    TLMLogLevel level;
    std::string line;
  };
  const std::string invalid =
      "The transmission interval is not valid, it should be between 3 second(s) and 86400 "
      "second(s) (1 day).";
  for (const Case& c :
       {Case{2, 3, TLMLogLevel::Error, invalid}, Case{86401, 3, TLMLogLevel::Error, invalid},
        Case{86400, 86400, TLMLogLevel::Debug, "Transmission interval set to 86400 second(s)"},
        Case{3, 3, TLMLogLevel::Debug, "Transmission interval set to 3 second(s)"},
        Case{60, 60, TLMLogLevel::Debug, "Transmission interval set to 60 second(s)"}}) {
    logs.clear();
    TLMAnalytics::setTransmissionInterval(c.seconds);
    EXPECT_EQ(TLMAnalytics::transmissionInterval(), c.kept) << c.seconds;
    EXPECT_EQ(logs.at(c.level), std::vector<std::string>{c.line}) << c.seconds;
  }
  start();
  logs.clear();
  TLMAnalytics::setTransmissionInterval(10);
  EXPECT_EQ(TLMAnalytics::transmissionInterval(), 60u);
  EXPECT_EQ(logs.at(TLMLogLevel::Error),
            std::vector<std::string>{"The transmission interval should be set before the "
                                     "TLMAnalytics service is started."});
  EXPECT_EQ(unit("Analytics")->configuration().flushInterval(), 60u);
  EXPECT_EQ(unit("Analytics_critical")->configuration().flushInterval(), 3u);
}

TEST_F(AnalyticsServiceTest, DisablingDeletesBothUnitsStopsTheTrackerEnablingOpensANewSession) {
  start();
  const auto first = context->sessionId();
  TLMAnalytics::setEnabled(false);
  EXPECT_EQ(unit("Analytics")->enabledCalls().back(), (std::pair{false, true}));
  EXPECT_EQ(unit("Analytics_critical")->enabledCalls(), (Switches{{false, true}}));
  EXPECT_TRUE(ownDelegates().empty());
  EXPECT_FALSE(service->sessionTracker()->isStarted());
  EXPECT_FALSE(context->sessionId());
  EXPECT_TRUE(context->sessionHistory().empty());
  EXPECT_TRUE(
      logs.has(TLMLogLevel::Info, "Analytics service has been disabled.", "DarAvevedAnalytics"));
  EXPECT_FALSE(TLMAnalytics::isEnabled());
  TLMAnalytics::trackEvent("Dropped");
  service->trackPage("Dropped");
  EXPECT_TRUE(events("Analytics").empty());

  TLMAnalytics::setEnabled(true);
  EXPECT_EQ(unit("Analytics_critical")->enabledCalls(), (Switches{{false, true}, {true, true}}));
  EXPECT_EQ(ownDelegates(), (Delegates{service->sessionTracker(), service}));
  const auto sessions = sessionLogs();
  ASSERT_EQ(sessions.size(), 2u);
  EXPECT_TRUE(context->sessionId());
  EXPECT_NE(context->sessionId(), first);
  EXPECT_EQ(sessions[1]->sid, context->sessionId());
  TLMAnalytics::trackEvent("Kept");
  EXPECT_EQ(events("Analytics").size(), 1u);
}

TEST_F(AnalyticsServiceTest, DelegateHearsOfEventAndPageLogsOnly) {
  start();
  std::vector<std::string> heard;
  TLMAnalyticsDelegate delegate;
  delegate.willSendEventLog = [&](TLMAnalyticsService&, const std::shared_ptr<TLMEventLog>& log) {
    heard.push_back("will event " + *log->name);
  };
  delegate.didFailSendingPageLog = [&](TLMAnalyticsService&, const std::shared_ptr<TLMPageLog>& log,
                                       const std::optional<base::Error>&) {
    heard.push_back("failed page " + *log->name);
  };
  TLMAnalytics::setDelegate(delegate);
  auto channel = unit("Analytics");
  auto event = std::make_shared<TLMEventLog>();
  event->name = "E";
  auto page = std::make_shared<TLMPageLog>();
  page->name = "P";
  const auto session = std::make_shared<TLMStartSessionLog>();
  for (const TLMLogPtr& log : std::vector<TLMLogPtr>{event, page, session}) {
    service->willSendLog(*channel, log);
    service->didSucceedSendingLog(*channel, log);
    service->didFailSendingLog(*channel, log, std::nullopt);
  }
  EXPECT_EQ(heard, (std::vector<std::string>{"will event E", "failed page P"}));
}

TEST_F(AnalyticsServiceTest, PagesGoToTheNormalUnitWithTheirProperties) {
  start();
  TLMAnalytics::trackPage("Preferences", std::map<std::string, std::string>{{"From", "menu"}});
  TLMAnalytics::trackPage("About", std::map<std::string, std::string>{});
  std::vector<std::shared_ptr<TLMPageLog>> pages;
  for (const auto& item : unit("Analytics")->enqueued()) {
    if (auto page = std::dynamic_pointer_cast<TLMPageLog>(item.log)) {
      EXPECT_EQ(item.flags, 1u);
      pages.push_back(page);
    }
  }
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0]->properties, (std::map<std::string, std::string>{{"From", "menu"}}));
  EXPECT_FALSE(pages[1]->properties);
}

TEST_F(AnalyticsServiceTest, ActivationNotificationsReachTheTrackerAfterTheStart) {
  start();
  const auto first = context->sessionId();
  notifications->post(TLMNotificationCenter::kApplicationDidResignActive);
  clock.advance(std::chrono::seconds(20));
  notifications->post(TLMNotificationCenter::kApplicationWillBecomeActive);
  EXPECT_NE(context->sessionId(), first);
  EXPECT_EQ(sessionLogs().size(), 2u);
}

TEST_F(AnalyticsServiceTest, ABackendAlreadyInPlaceKeepsTheProgramsEvents) {
  ScopedRecordingAnalytics recording;
  start();
  TLMAnalytics::trackEvent("Recorded");
  EXPECT_EQ(recording.events().size(), 1u);
  EXPECT_TRUE(events("Analytics").empty());
}

TEST_F(AnalyticsServiceTest, ResetStopsTheTrackerAndForgetsTheService) {
  start();
  TLMAnalytics::resetSharedInstance();
  EXPECT_FALSE(service->sessionTracker()->isStarted());
  EXPECT_NE(TLMAnalyticsService::sharedInstance(), service);
}

}  // namespace
}  // namespace tlm
