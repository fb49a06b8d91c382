#include "telemetry/context/user_id_context.h"

#include <algorithm>

#include "base/shared_slot.h"
#include "base/utf8.h"
#include "telemetry/core/logger.h"

namespace tlm {
namespace {

base::SharedSlot<TLMUserIdContext>& userIdContextSlot() {
  static base::SharedSlot<TLMUserIdContext> slot;
  return slot;
}

bool sameObject(const std::weak_ptr<TLMUserIdContextDelegate>& a,
                const std::shared_ptr<TLMUserIdContextDelegate>& b) {
  return !a.owner_before(b) && !b.owner_before(a);
}

}  // namespace

TLMUserIdContext::TLMUserIdContext(std::shared_ptr<TLMDarAvevedUserDefaults> settings,
                                   const dispatch::Clock& clock)
    : settings_(std::move(settings)), clock_(clock) {
  std::lock_guard lock(mutex_);
  userIdHistory_ = context_detail::loadHistory<TLMUserIdHistoryInfo>(*settings_, kUserIdHistoryKey);
  TLM_LOG_DEBUG(kTLMLogTag, userIdHistory_.size(), " userId(s) in the history.");
  currentUserIdInfo_ = std::make_shared<TLMUserIdHistoryInfo>(clock_.now(), std::nullopt);
  userIdHistory_.push_back(currentUserIdInfo_);
  storeHistoryLocked();
}

std::shared_ptr<TLMUserIdContext> TLMUserIdContext::sharedInstance() {
  return userIdContextSlot().getOrMake([] {
    return std::make_shared<TLMUserIdContext>(TLMDarAvevedUserDefaults::shared(),
                                              dispatch::SystemClock::instance());
  });
}

void TLMUserIdContext::setSharedForTesting(std::shared_ptr<TLMUserIdContext> context) {
  userIdContextSlot().exchange(std::move(context));
}

std::optional<std::string> TLMUserIdContext::userId() const {
  std::lock_guard lock(mutex_);
  return currentUserIdInfo_->userId;
}

void TLMUserIdContext::setUserId(std::optional<std::string> userId) {
  std::vector<std::shared_ptr<TLMUserIdContextDelegate>> observers;
  {
    std::lock_guard lock(mutex_);
    if (userId == currentUserIdInfo_->userId) return;
    currentUserIdInfo_->timestamp = clock_.now();
    currentUserIdInfo_->userId = std::move(userId);
    if (!userIdHistory_.empty() && userIdHistory_.back() == currentUserIdInfo_)
      userIdHistory_.pop_back();
    userIdHistory_.push_back(currentUserIdInfo_);
    storeHistoryLocked();
    TLM_LOG_VERBOSE(kTLMLogTag,
                    "Stored new userId:", context_detail::textOrNull(currentUserIdInfo_->userId),
                    " and timestamp: ", dateToISO8601(*currentUserIdInfo_->timestamp), ".");
    for (const auto& weak : delegates_) {
      if (auto delegate = weak.lock()) observers.push_back(std::move(delegate));
    }
    userId = currentUserIdInfo_->userId;
  }
  for (const auto& delegate : observers)
    delegate->userIdContext(*this, userId);
}

std::optional<std::string> TLMUserIdContext::userIdAt(Date date) const {
  std::lock_guard lock(mutex_);
  for (auto it = userIdHistory_.rbegin(); it != userIdHistory_.rend(); ++it) {
    if (*(*it)->timestamp < date) return (*it)->userId;
  }
  return std::nullopt;
}

void TLMUserIdContext::clearUserIdHistory() {
  std::lock_guard lock(mutex_);
  userIdHistory_.clear();
  userIdHistory_.push_back(currentUserIdInfo_);
  storeHistoryLocked();
  TLM_LOG_VERBOSE(kTLMLogTag, "Cleared old userIds while keeping current userId.");
}

void TLMUserIdContext::addDelegate(const std::shared_ptr<TLMUserIdContextDelegate>& delegate) {
  if (!delegate) return;
  std::lock_guard lock(mutex_);
  std::erase_if(delegates_, [](const auto& weak) { return weak.expired(); });
  const bool known = std::any_of(delegates_.begin(), delegates_.end(),
                                 [&](const auto& weak) { return sameObject(weak, delegate); });
  if (!known) delegates_.push_back(delegate);
}

void TLMUserIdContext::removeDelegate(const std::shared_ptr<TLMUserIdContextDelegate>& delegate) {
  std::lock_guard lock(mutex_);
  std::erase_if(delegates_,
                [&](const auto& weak) { return weak.expired() || sameObject(weak, delegate); });
}

TLMUserIdHistoryInfo TLMUserIdContext::currentUserIdInfo() const {
  std::lock_guard lock(mutex_);
  return *currentUserIdInfo_;
}

std::vector<TLMUserIdHistoryInfo> TLMUserIdContext::userIdHistory() const {
  std::lock_guard lock(mutex_);
  std::vector<TLMUserIdHistoryInfo> out;
  out.reserve(userIdHistory_.size());
  for (const auto& entry : userIdHistory_)
    out.push_back(*entry);
  return out;
}

void TLMUserIdContext::storeHistoryLocked() {
  context_detail::storeHistory(*settings_, kUserIdHistoryKey, userIdHistory_);
}

bool TLMUserIdContext::isUserIdValidForDarAveved(const std::optional<std::string>& userId) {
  // Counted in UTF-16 units, as the ingestion service counts characters.
  if (userId && base::utf16Length(*userId) > kUserIdMaxLength) {
    TLM_LOG_ERROR(kTLMLogTag, "userId is limited to ", kUserIdMaxLength, " characters.");
    return false;
  }
  return true;
}

bool TLMUserIdContext::isUserIdValidForCollector(const std::optional<std::string>& userId) {
  if (!userId) return true;
  if (userId->empty()) {
    TLM_LOG_ERROR(kTLMLogTag, "userId must not be empty.");
    return false;
  }
  const auto colon = userId->find(':');
  if (colon == std::string::npos) return true;
  const std::string_view prefix = std::string_view(*userId).substr(0, colon);
  if (prefix != kUserIdPrefix) {
    TLM_LOG_ERROR(kTLMLogTag, "userId prefix must be '", kUserIdPrefix, "', '", prefix,
                  "' is not supported.");
    return false;
  }
  if (colon + 1 == userId->size()) {
    TLM_LOG_ERROR(kTLMLogTag, "userId must not be empty.");
    return false;
  }
  return true;
}

std::optional<std::string> TLMUserIdContext::prefixedUserIdFromUserId(
    const std::optional<std::string>& userId) {
  if (userId && userId->find(':') == std::string::npos)
    return std::string(kUserIdPrefix) + ":" + *userId;
  return userId;
}

}  // namespace tlm
