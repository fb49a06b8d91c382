#include "telemetry/analytics/session_tracker.h"

#include <unistd.h>

#include <utility>

#include "base/uuid.h"
#include "telemetry/analytics/analytics.h"
#include "telemetry/analytics/analytics_logs.h"
#include "telemetry/core/logger.h"
#include "telemetry/model/start_service_log.h"

namespace tlm {
namespace {

std::string runningExecutablePath() {
  char path[4096] = {};
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

}  // namespace

TLMSessionTracker::TLMSessionTracker(TLMSessionTrackerEnvironment environment)
    : context_(environment.context ? std::move(environment.context)
                                   : TLMSessionContext::sharedInstance()),
      clock_(environment.clock ? *environment.clock : dispatch::SystemClock::instance()),
      notifications_(environment.notifications ? std::move(environment.notifications)
                                               : TLMNotificationCenter::defaultCenter()),
      applicationState_(environment.applicationState
                            ? std::move(environment.applicationState)
                            : [] { return TLMUtility::applicationState(); }),
      isAppExtension_(
          environment.executablePath.value_or(runningExecutablePath()).find(".appex/") !=
          std::string::npos) {
  const auto settings =
      environment.settings ? environment.settings : TLMDarAvevedUserDefaults::shared();
  settings->removeObjectForKey(kLegacyPastSessionsKey);
}

TLMSessionTracker::~TLMSessionTracker() {
  removeObservers();
}

void TLMSessionTracker::setDelegate(std::weak_ptr<TLMSessionTrackerDelegate> delegate) {
  std::lock_guard lock(monitor_);
  delegate_ = std::move(delegate);
}

void TLMSessionTracker::start() {
  {
    std::lock_guard lock(monitor_);
    if (started_) return;
    started_ = true;
  }
  const auto state = applicationState_();
  if (state == TLMApplicationState::Active || static_cast<int>(state) == 1) renewSessionId();
  std::weak_ptr<TLMSessionTracker> weak = weak_from_this();
  std::vector<TLMNotificationCenter::Token> tokens;
  tokens.push_back(
      notifications_->addObserver(TLMNotificationCenter::kApplicationDidResignActive, [weak] {
        if (auto self = weak.lock()) self->applicationDidEnterBackground();
      }));
  tokens.push_back(
      notifications_->addObserver(TLMNotificationCenter::kApplicationWillBecomeActive, [weak] {
        if (auto self = weak.lock()) self->applicationWillEnterForeground();
      }));
  std::lock_guard lock(monitor_);
  observerTokens_.insert(observerTokens_.end(), tokens.begin(), tokens.end());
}

void TLMSessionTracker::stop() {
  {
    std::lock_guard lock(monitor_);
    if (!started_) return;
  }
  removeObservers();
  {
    std::lock_guard lock(monitor_);
    started_ = false;
  }
  context_->setSessionId(std::nullopt);
}

bool TLMSessionTracker::isStarted() const {
  std::lock_guard lock(monitor_);
  return started_;
}

void TLMSessionTracker::removeObservers() {
  std::vector<TLMNotificationCenter::Token> tokens;
  {
    std::lock_guard lock(monitor_);
    tokens.swap(observerTokens_);
  }
  for (const auto token : tokens)
    notifications_->removeObserver(token);
}

void TLMSessionTracker::renewSessionId() {
  std::shared_ptr<TLMStartSessionLog> log;
  std::shared_ptr<TLMSessionTrackerDelegate> delegate;
  {
    std::lock_guard lock(monitor_);
    if (!started_) return;
    if (context_->sessionId() && !hasSessionTimedOut()) return;
    const std::string sessionId = base::makeUuidString();
    context_->setSessionId(sessionId);
    TLM_LOG_INFO(TLMAnalytics::kLogTag, "New session ID: ", sessionId);
    log = std::make_shared<TLMStartSessionLog>();
    log->sid = sessionId;
    delegate = delegate_.lock();
  }
  // Outside the lock: the delegate enqueues the log, which passes through
  // this tracker's `prepareLog` and may meet other locks on its way.
  if (delegate) delegate->sessionTracker(*this, log);
}

bool TLMSessionTracker::hasSessionTimedOut() const {
  std::lock_guard lock(monitor_);
  const auto now = clock_.now();
  const bool noLogSentForLong =
      !lastCreatedLogTime_ || now - *lastCreatedLogTime_ >= sessionTimeout_;
  if (isAppExtension_) return noLogSentForLong;
  const bool isBackgroundForLong = lastEnteredBackgroundTime_ && lastEnteredForegroundTime_ &&
                                   *lastEnteredBackgroundTime_ > *lastEnteredForegroundTime_ &&
                                   now - *lastEnteredBackgroundTime_ >= sessionTimeout_;
  const auto backgroundStay = lastEnteredForegroundTime_ && lastEnteredBackgroundTime_
                                  ? *lastEnteredForegroundTime_ - *lastEnteredBackgroundTime_
                                  : dispatch::WallTime::duration::zero();
  const bool wasBackgroundForLong =
      lastEnteredBackgroundTime_.has_value() && backgroundStay >= sessionTimeout_;
  return noLogSentForLong && (isBackgroundForLong || wasBackgroundForLong);
}

void TLMSessionTracker::applicationDidEnterBackground() {
  std::lock_guard lock(monitor_);
  lastEnteredBackgroundTime_ = clock_.now();
}

void TLMSessionTracker::applicationWillEnterForeground() {
  {
    std::lock_guard lock(monitor_);
    lastEnteredForegroundTime_ = clock_.now();
  }
  renewSessionId();
}

void TLMSessionTracker::prepareLog(TLMChannelProtocol& /*channel*/, const TLMLogPtr& log) {
  if (!log) return;
  if (dynamic_cast<const TLMStartSessionLog*>(log.get()) ||
      dynamic_cast<const TLMStartServiceLog*>(log.get()))
    return;
  if (!dynamic_cast<const TLMNoAutoAssignSessionIdLog*>(log.get()))
    log->sid = context_->sessionId();
  std::lock_guard lock(monitor_);
  lastCreatedLogTime_ = clock_.now();
}

dispatch::Duration TLMSessionTracker::sessionTimeout() const {
  std::lock_guard lock(monitor_);
  return sessionTimeout_;
}

void TLMSessionTracker::setSessionTimeout(dispatch::Duration timeout) {
  std::lock_guard lock(monitor_);
  sessionTimeout_ = timeout;
}

std::optional<dispatch::WallTime> TLMSessionTracker::lastCreatedLogTime() const {
  std::lock_guard lock(monitor_);
  return lastCreatedLogTime_;
}

std::optional<dispatch::WallTime> TLMSessionTracker::lastEnteredForegroundTime() const {
  std::lock_guard lock(monitor_);
  return lastEnteredForegroundTime_;
}

std::optional<dispatch::WallTime> TLMSessionTracker::lastEnteredBackgroundTime() const {
  std::lock_guard lock(monitor_);
  return lastEnteredBackgroundTime_;
}

}  // namespace tlm
