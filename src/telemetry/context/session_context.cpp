#include "telemetry/context/session_context.h"

#include "base/shared_slot.h"
#include "telemetry/core/logger.h"

namespace tlm {
namespace {

base::SharedSlot<TLMSessionContext>& sessionContextSlot() {
  static base::SharedSlot<TLMSessionContext> slot;
  return slot;
}

}  // namespace

TLMSessionContext::TLMSessionContext(std::shared_ptr<TLMDarAvevedUserDefaults> settings,
                                     const dispatch::Clock& clock)
    : settings_(std::move(settings)), clock_(clock) {
  sessionHistory_ =
      context_detail::loadHistory<TLMSessionHistoryInfo>(*settings_, kSessionIdHistoryKey);
  TLM_LOG_DEBUG(kTLMLogTag, sessionHistory_.size(), " session(s) in the history.");
  currentSessionInfo_ = std::make_shared<TLMSessionHistoryInfo>(clock_.now(), std::nullopt);
  sessionHistory_.push_back(currentSessionInfo_);
}

std::shared_ptr<TLMSessionContext> TLMSessionContext::sharedInstance() {
  return sessionContextSlot().getOrMake([] {
    return std::make_shared<TLMSessionContext>(TLMDarAvevedUserDefaults::shared(),
                                               dispatch::SystemClock::instance());
  });
}

void TLMSessionContext::setSharedForTesting(std::shared_ptr<TLMSessionContext> context) {
  sessionContextSlot().exchange(std::move(context));
}

std::optional<std::string> TLMSessionContext::sessionId() const {
  std::lock_guard lock(mutex_);
  return currentSessionInfo_->sessionId;
}

void TLMSessionContext::setSessionId(std::optional<std::string> sessionId) {
  std::lock_guard lock(mutex_);
  // This run's entry is the last one unless a clear without keeping it
  // emptied the history; then it is appended again.
  if (!sessionHistory_.empty() && sessionHistory_.back() == currentSessionInfo_)
    sessionHistory_.pop_back();
  currentSessionInfo_->sessionId = std::move(sessionId);
  currentSessionInfo_->timestamp = clock_.now();
  sessionHistory_.push_back(currentSessionInfo_);
  storeHistoryLocked();
  TLM_LOG_VERBOSE(kTLMLogTag, "Stored new session with id:",
                  context_detail::textOrNull(currentSessionInfo_->sessionId),
                  " and timestamp: ", dateToISO8601(*currentSessionInfo_->timestamp), ".");
}

std::optional<std::string> TLMSessionContext::sessionIdAt(Date date) const {
  std::lock_guard lock(mutex_);
  for (auto it = sessionHistory_.rbegin(); it != sessionHistory_.rend(); ++it) {
    if (*(*it)->timestamp < date) return (*it)->sessionId;
  }
  return std::nullopt;
}

void TLMSessionContext::clearSessionHistoryAndKeepCurrentSession(bool keepCurrentSession) {
  std::lock_guard lock(mutex_);
  sessionHistory_.clear();
  if (keepCurrentSession) sessionHistory_.push_back(currentSessionInfo_);
  storeHistoryLocked();
  TLM_LOG_VERBOSE(kTLMLogTag, "Cleared old sessions.");
}

TLMSessionHistoryInfo TLMSessionContext::currentSessionInfo() const {
  std::lock_guard lock(mutex_);
  return *currentSessionInfo_;
}

std::vector<TLMSessionHistoryInfo> TLMSessionContext::sessionHistory() const {
  std::lock_guard lock(mutex_);
  std::vector<TLMSessionHistoryInfo> out;
  out.reserve(sessionHistory_.size());
  for (const auto& entry : sessionHistory_)
    out.push_back(*entry);
  return out;
}

void TLMSessionContext::storeHistoryLocked() {
  context_detail::storeHistory(*settings_, kSessionIdHistoryKey, sessionHistory_);
}

}  // namespace tlm
