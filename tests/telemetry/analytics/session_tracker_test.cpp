#include "telemetry/analytics/session_tracker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/uuid.h"
#include "dispatch/clock.h"
#include "platform/defaults/memory_user_defaults.h"
#include "support/telemetry_log_capture.h"
#include "telemetry/analytics/analytics_logs.h"
#include "telemetry/model/start_service_log.h"

namespace tlm {
namespace {

using namespace std::chrono_literals;
using testing::LogCapture;

class RecordingDelegate final : public TLMSessionTrackerDelegate {
 public:
  void sessionTracker(TLMSessionTracker&, const TLMLogPtr& log) override {
    logs.push_back(std::dynamic_pointer_cast<TLMStartSessionLog>(log));
  }
  std::vector<std::shared_ptr<TLMStartSessionLog>> logs;
};

// A log that keeps its own session id, as crash logs do.
class OwnSessionLog final : public TLMAbstractLog, public TLMNoAutoAssignSessionIdLog {};

// A channel for the prepare calls.
class NoChannel final : public TLMChannelProtocol {
 public:
  void setEnabled(bool, bool) override {}
  void addDelegate(const std::shared_ptr<TLMChannelDelegate>&) override {}
  void removeDelegate(const std::shared_ptr<TLMChannelDelegate>&) override {}
  void pauseWithIdentifyingObject(const TLMIdentifyingObject&) override {}
  void resumeWithIdentifyingObject(const TLMIdentifyingObject&) override {}
};

class SessionTrackerTest : public ::testing::Test {
 protected:
  std::shared_ptr<TLMSessionTracker> makeTracker(std::string executablePath = "/usr/bin/wendrix") {
    TLMSessionTrackerEnvironment environment;
    environment.context = context;
    environment.settings = settings;
    environment.clock = &clock;
    environment.notifications = notifications;
    environment.applicationState = [this] { return state; };
    environment.executablePath = std::move(executablePath);
    auto made = std::make_shared<TLMSessionTracker>(std::move(environment));
    made->setDelegate(delegate);
    return made;
  }
  void resignActive() { notifications->post(TLMNotificationCenter::kApplicationDidResignActive); }
  void becomeActive() { notifications->post(TLMNotificationCenter::kApplicationWillBecomeActive); }
  std::shared_ptr<TLMEventLog> prepareEvent() {
    auto log = std::make_shared<TLMEventLog>();
    tracker->prepareLog(channel, log);
    return log;
  }

  LogCapture logs{TLMLogLevel::Verbose};
  dispatch::VirtualClock clock;
  std::shared_ptr<platform::MemoryUserDefaults> defaults =
      std::make_shared<platform::MemoryUserDefaults>();
  std::shared_ptr<TLMDarAvevedUserDefaults> settings =
      std::make_shared<TLMDarAvevedUserDefaults>(defaults);
  std::shared_ptr<TLMSessionContext> context = std::make_shared<TLMSessionContext>(settings, clock);
  std::shared_ptr<TLMNotificationCenter> notifications = std::make_shared<TLMNotificationCenter>();
  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
  TLMApplicationState state = TLMApplicationState::Active;
  NoChannel channel;
  std::shared_ptr<TLMSessionTracker> tracker = makeTracker();
};

TEST_F(SessionTrackerTest, StartWhileActiveOpensOneSession) {
  tracker->start();
  tracker->start();
  ASSERT_EQ(delegate->logs.size(), 1u);
  const auto sessionId = context->sessionId();
  ASSERT_TRUE(sessionId);
  EXPECT_TRUE(base::isUuidString(*sessionId));
  EXPECT_EQ(sessionId->find_first_of("abcdef"), std::string::npos) << "upper-case";
  EXPECT_EQ(delegate->logs[0]->sid, sessionId);
  EXPECT_EQ(logs.at(TLMLogLevel::Info), std::vector<std::string>{"New session ID: " + *sessionId});
  EXPECT_EQ(context->sessionHistory().back().sessionId, sessionId);
}

TEST_F(SessionTrackerTest, StartWhileHiddenWaitsForActivation) {
  for (const auto hidden : {TLMApplicationState::Background, TLMApplicationState::Unknown}) {
    state = hidden;
    tracker->start();
    EXPECT_FALSE(context->sessionId());
    EXPECT_TRUE(delegate->logs.empty());
    becomeActive();
    ASSERT_EQ(delegate->logs.size(), 1u);
    EXPECT_EQ(delegate->logs[0]->sid, context->sessionId());
    tracker->stop();
    delegate->logs.clear();
  }
}

// The application resigns active, stays in the background for `background`,
// with its last log prepared `lastLogBeforeReturn` before it becomes active
// again (none: no log since the start).
struct TimeoutCase {
  const char* name;
  dispatch::Duration background;
  std::optional<dispatch::Duration> lastLogBeforeReturn;
  bool renewed;
};

class SessionTimeoutTest : public SessionTrackerTest,
                           public ::testing::WithParamInterface<TimeoutCase> {};

TEST_P(SessionTimeoutTest, BecomingActiveRenewsOnlyAfter20sAwayAndQuiet) {
  const auto& c = GetParam();
  tracker->start();
  const auto first = context->sessionId();
  resignActive();
  if (c.lastLogBeforeReturn) {
    clock.advance(c.background - *c.lastLogBeforeReturn);
    const auto log = prepareEvent();
    EXPECT_EQ(log->sid, first);
    clock.advance(*c.lastLogBeforeReturn);
  } else {
    clock.advance(c.background);
  }
  becomeActive();
  EXPECT_EQ(context->sessionId() != first, c.renewed);
  EXPECT_EQ(delegate->logs.size(), c.renewed ? 2u : 1u);
  if (c.renewed) {
    EXPECT_EQ(delegate->logs.back()->sid, context->sessionId());
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, SessionTimeoutTest,
                         ::testing::Values(TimeoutCase{"Back1msBefore20s", 20s - 1ms, std::nullopt,
                                                       false},
                                           TimeoutCase{"BackAtExactly20s", 20s, std::nullopt, true},
                                           TimeoutCase{"BackAfter21s", 21s, std::nullopt, true},
                                           TimeoutCase{"LogJustUnder20sAgo", 60s, 20s - 1ms, false},
                                           TimeoutCase{"LogExactly20sAgo", 60s, 20s, true},
                                           TimeoutCase{"LogLongAgo", 60s, 40s, true}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST_F(SessionTrackerTest, AnEarlierLongStayInTheBackgroundCountsOnlyWhenQuiet) {
  tracker->start();
  const auto first = context->sessionId();
  // A long stay in the background while a log was just prepared: kept.
  resignActive();
  clock.advance(25s);
  prepareEvent();
  becomeActive();
  EXPECT_EQ(context->sessionId(), first);
  // Once quiet for 20 s, the next activation ends the session: the time
  // from the last resign to this activation is long enough.
  clock.advance(20s);
  becomeActive();
  EXPECT_NE(context->sessionId(), first);
}

TEST_F(SessionTrackerTest, PreparedLogsGetTheSessionIdExceptTheirOwn) {
  tracker->start();
  const auto sessionId = context->sessionId();
  clock.advance(5s);

  auto serviceLog = std::make_shared<TLMStartServiceLog>();
  tracker->prepareLog(channel, serviceLog);
  EXPECT_FALSE(serviceLog->sid);
  EXPECT_FALSE(tracker->lastCreatedLogTime()) << "a start-service log is no activity";

  auto own = std::make_shared<OwnSessionLog>();
  own->sid = "CRASHED-SESSION";
  tracker->prepareLog(channel, own);
  EXPECT_EQ(own->sid, "CRASHED-SESSION");
  EXPECT_EQ(tracker->lastCreatedLogTime(), clock.now());

  clock.advance(1s);
  EXPECT_EQ(prepareEvent()->sid, sessionId);
  EXPECT_EQ(tracker->lastCreatedLogTime(), clock.now());
}

TEST_F(SessionTrackerTest, StopClearsTheSessionAndTheNextStartOpensANewOne) {
  tracker->start();
  const auto first = context->sessionId();
  tracker->stop();
  tracker->stop();
  EXPECT_FALSE(context->sessionId());
  EXPECT_FALSE(prepareEvent()->sid);

  // Stopped: the application's activation is not followed.
  resignActive();
  clock.advance(30s);
  becomeActive();
  EXPECT_EQ(delegate->logs.size(), 1u);
  EXPECT_FALSE(tracker->lastEnteredBackgroundTime());

  tracker->start();
  ASSERT_EQ(delegate->logs.size(), 2u);
  EXPECT_TRUE(context->sessionId());
  EXPECT_NE(context->sessionId(), first);
}

TEST_F(SessionTrackerTest, InAnApplicationExtensionOnlyQuietTimeCounts) {
  tracker = makeTracker("/opt/Host.app/Contents/PlugIns/Ext.appex/Contents/MacOS/Ext");
  tracker->start();
  const auto first = context->sessionId();
  prepareEvent();
  clock.advance(20s - 1ms);
  becomeActive();
  EXPECT_EQ(context->sessionId(), first);
  clock.advance(1ms);
  becomeActive();
  EXPECT_NE(context->sessionId(), first);
}

TEST_F(SessionTrackerTest, MakingATrackerRemovesTheLegacySessionsSetting) {
  settings->setObject(std::string("old"), "PastSessions");
  makeTracker();
  EXPECT_FALSE(settings->objectForKey("PastSessions"));
}

}  // namespace
}  // namespace tlm
