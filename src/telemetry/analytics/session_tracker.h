#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "dispatch/clock.h"
#include "telemetry/channel/channel_protocols.h"
#include "telemetry/context/session_context.h"
#include "telemetry/core/sdk_user_defaults.h"
#include "telemetry/util/notification_center.h"
#include "telemetry/util/utility.h"

namespace tlm {

class TLMSessionTracker;

// Receives each start-session log the tracker makes.
class TLMSessionTrackerDelegate {
 public:
  virtual ~TLMSessionTrackerDelegate() = default;
  virtual void sessionTracker(TLMSessionTracker& tracker, const TLMLogPtr& log) = 0;
};

// What the tracker works with; each member left empty takes the process's own.
struct TLMSessionTrackerEnvironment {
  // The shared session context.
  std::shared_ptr<TLMSessionContext> context;
  // The SDK's shared settings.
  std::shared_ptr<TLMDarAvevedUserDefaults> settings;
  // The system clock. Must outlive the tracker.
  const dispatch::Clock* clock = nullptr;
  // The default notification center.
  std::shared_ptr<TLMNotificationCenter> notifications;
  // TLMUtility::applicationState.
  std::function<TLMApplicationState()> applicationState;
  // The running program's path (an application extension's contains ".appex/").
  std::optional<std::string> executablePath;
};

// Decides when the analytics session ends and a new one begins, stamps
// every ordinary log with the current session id, and hands a start-session
// log to its delegate whenever it opens a session.
//
// A session ends once no log was prepared for `sessionTimeout` and the
// application is, or was, in the background for at least that long; a new
// one opens at `start` (when the application is active) and when the
// application becomes active again. Logging alone never opens a session.
//
// Thread-safe: the time stamps and the switch are guarded by the tracker's
// own lock; the delegate is called outside it. Make it with make_shared.
class TLMSessionTracker final : public TLMChannelDelegate,
                                public std::enable_shared_from_this<TLMSessionTracker> {
 public:
  static constexpr std::chrono::seconds kDefaultSessionTimeout{20};
  static constexpr std::string_view kLegacyPastSessionsKey = "PastSessions";

  // Removes the legacy "PastSessions" setting.
  explicit TLMSessionTracker(TLMSessionTrackerEnvironment environment = {});
  ~TLMSessionTracker() override;
  TLMSessionTracker(const TLMSessionTracker&) = delete;
  TLMSessionTracker& operator=(const TLMSessionTracker&) = delete;

  // Held weakly.
  void setDelegate(std::weak_ptr<TLMSessionTrackerDelegate> delegate);

  // Idempotent. Opens a session when the application is active, and
  // follows the application's activation until stopped.
  void start();
  // Idempotent. Stops following the application and clears the context's
  // session id, so the next start opens a new session.
  void stop();
  bool isStarted() const;

  // Opens a new session unless one is running and has not timed out.
  void renewSessionId();
  bool hasSessionTimedOut() const;

  void applicationDidEnterBackground();
  void applicationWillEnterForeground();

  // Start-session and start-service logs are left alone; every other log
  // counts as activity and gets the current session id unless it keeps its
  // own.
  void prepareLog(TLMChannelProtocol& channel, const TLMLogPtr& log) override;

  dispatch::Duration sessionTimeout() const;
  void setSessionTimeout(dispatch::Duration timeout);
  std::optional<dispatch::WallTime> lastCreatedLogTime() const;
  std::optional<dispatch::WallTime> lastEnteredForegroundTime() const;
  std::optional<dispatch::WallTime> lastEnteredBackgroundTime() const;
  const std::shared_ptr<TLMSessionContext>& context() const { return context_; }

 private:
  void removeObservers();

  const std::shared_ptr<TLMSessionContext> context_;
  const dispatch::Clock& clock_;
  const std::shared_ptr<TLMNotificationCenter> notifications_;
  const std::function<TLMApplicationState()> applicationState_;
  const bool isAppExtension_;

  mutable std::recursive_mutex monitor_;
  bool started_ = false;
  std::weak_ptr<TLMSessionTrackerDelegate> delegate_;
  dispatch::Duration sessionTimeout_ = kDefaultSessionTimeout;
  std::optional<dispatch::WallTime> lastCreatedLogTime_;
  std::optional<dispatch::WallTime> lastEnteredForegroundTime_;
  std::optional<dispatch::WallTime> lastEnteredBackgroundTime_;
  std::vector<TLMNotificationCenter::Token> observerTokens_;
};

}  // namespace tlm
