#include "telemetry/analytics/authentication_provider.h"

#include <chrono>
#include <utility>

#include "telemetry/analytics/analytics.h"
#include "telemetry/core/logger.h"
#include "telemetry/ingestion/ticket_cache.h"
#include "telemetry/schema/string_formatting.h"

namespace tlm {
namespace {

std::int64_t secondsSince1970(Date date) {
  return std::chrono::duration_cast<std::chrono::seconds>(date.time_since_epoch()).count();
}

std::string ticketPrefix(std::uint64_t type) {
  switch (type) {
    case 0:
      return "p";
    case 1:
      return "d";
    default:
      return "(null)";
  }
}

}  // namespace

TLMAnalyticsAuthenticationProvider::TLMAnalyticsAuthenticationProvider(
    std::uint64_t type, std::string ticketKey,
    std::weak_ptr<TLMAnalyticsAuthenticationProviderDelegate> delegate,
    const dispatch::Clock& clock)
    : type_(type),
      ticketKey_(std::move(ticketKey)),
      ticketKeyHash_(TLMUtility_StringFormatting::sha256(ticketKey_)),
      delegate_(std::move(delegate)),
      clock_(clock) {}

std::optional<Date> TLMAnalyticsAuthenticationProvider::expiryDate() const {
  std::lock_guard lock(mutex_);
  return expiryDate_;
}

bool TLMAnalyticsAuthenticationProvider::isRequestPending() const {
  std::lock_guard lock(mutex_);
  return pendingRequest_.has_value();
}

void TLMAnalyticsAuthenticationProvider::acquireTokenAsync() {
  const auto delegate = delegate_.lock();
  if (!delegate) {
    TLM_LOG_ERROR(TLMAnalytics::kLogTag, "No completionhandler to acquire token has been set.");
    return;
  }
  std::uint64_t request = 0;
  {
    std::lock_guard lock(mutex_);
    if (pendingRequest_) return;
    request = ++requestCount_;
    pendingRequest_ = request;
  }
  // The delegate may answer at once, on this thread; it is called unlocked.
  delegate->authenticationProvider(
      *this, [weak = weak_from_this(), request](std::optional<std::string> token,
                                                std::optional<Date> expiryDate) {
        if (const auto provider = weak.lock())
          provider->handleTokenUpdate(request, token, expiryDate);
      });
}

void TLMAnalyticsAuthenticationProvider::handleTokenUpdate(std::uint64_t request,
                                                           const std::optional<std::string>& token,
                                                           const std::optional<Date>& expiryDate) {
  std::lock_guard lock(mutex_);
  if (pendingRequest_ != request) return;
  pendingRequest_.reset();
  TLM_LOG_DEBUG(TLMAnalytics::kLogTag, "Got result back from TLAcquireTokenCompletionBlock.");
  if (!token) {
    TLM_LOG_ERROR(TLMAnalytics::kLogTag, "Token must not be null");
    return;
  }
  if (!expiryDate) {
    TLM_LOG_ERROR(TLMAnalytics::kLogTag, "Date must not be null");
    return;
  }
  TLMTicketCache::sharedInstance().setTicket(ticketPrefix(type_) + ":" + *token, ticketKeyHash_);
  expiryDate_ = expiryDate;
}

void TLMAnalyticsAuthenticationProvider::checkTokenExpiry() {
  bool due = false;
  {
    std::lock_guard lock(mutex_);
    due = expiryDate_ && secondsSince1970(clock_.now()) + kRefreshThresholdSeconds >=
                             secondsSince1970(*expiryDate_);
  }
  if (due) acquireTokenAsync();
}

}  // namespace tlm
