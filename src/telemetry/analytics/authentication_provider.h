#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "dispatch/clock.h"
#include "telemetry/core/date_text.h"

namespace tlm {

class TLMAnalyticsAuthenticationProvider;

// The application's token source. It is asked for a token whenever the
// provider needs one and answers through the handler, at once or later, on
// any thread.
class TLMAnalyticsAuthenticationProviderDelegate {
 public:
  // A token and its expiry; none for either means the request failed.
  using CompletionHandler =
      std::function<void(std::optional<std::string> token, std::optional<Date> expiryDate)>;

  virtual ~TLMAnalyticsAuthenticationProviderDelegate() = default;
  virtual void authenticationProvider(TLMAnalyticsAuthenticationProvider& provider,
                                      CompletionHandler completionHandler) = 0;
};

// Supplies the ticket that common-schema logs of transmission targets carry:
// it asks the application's delegate for an access token, stores
// "<prefix>:<token>" in the shared ticket cache under the SHA-256 of the
// ticket key, and asks again from ten minutes before the token expires. At
// most one request is pending at a time; only the pending request's answer
// counts.
//
// Thread-safe: its state is guarded by its own lock; the delegate is called
// outside it. Make it with std::make_shared.
class TLMAnalyticsAuthenticationProvider
    : public std::enable_shared_from_this<TLMAnalyticsAuthenticationProvider> {
 public:
  // A token is renewed once it expires within this many seconds.
  static constexpr std::int64_t kRefreshThresholdSeconds = 600;

  // `type` chooses the ticket prefix: "p" for 0, "d" for 1 (any other type
  // gives "(null)"). The delegate is held weakly; `clock` must outlive the
  // provider.
  TLMAnalyticsAuthenticationProvider(
      std::uint64_t type, std::string ticketKey,
      std::weak_ptr<TLMAnalyticsAuthenticationProviderDelegate> delegate,
      const dispatch::Clock& clock = dispatch::SystemClock::instance());

  std::uint64_t type() const { return type_; }
  const std::string& ticketKey() const { return ticketKey_; }
  // 64 lower-case hexadecimal digits.
  const std::string& ticketKeyHash() const { return ticketKeyHash_; }
  std::optional<Date> expiryDate() const;
  // Whether a request waits for its answer.
  bool isRequestPending() const;

  // Asks the delegate for a token unless a request is pending; without a
  // delegate logs an error.
  void acquireTokenAsync();
  // Asks for a new token once the last one expires within ten minutes
  // (whole seconds since 1970: now + 600 >= expiry).
  void checkTokenExpiry();

 private:
  // The answer to request `request`; ignored unless that request is pending.
  void handleTokenUpdate(std::uint64_t request, const std::optional<std::string>& token,
                         const std::optional<Date>& expiryDate);

  const std::uint64_t type_;
  const std::string ticketKey_;
  const std::string ticketKeyHash_;
  const std::weak_ptr<TLMAnalyticsAuthenticationProviderDelegate> delegate_;
  const dispatch::Clock& clock_;

  mutable std::mutex mutex_;
  std::optional<Date> expiryDate_;
  // The number of the pending request; none when none is pending.
  std::optional<std::uint64_t> pendingRequest_;
  std::uint64_t requestCount_ = 0;
};

}  // namespace tlm
