#include "telemetry/analytics/authentication_provider.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "dispatch/clock.h"
#include "support/telemetry_log_capture.h"
#include "telemetry/analytics/transmission_target.h"
#include "telemetry/ingestion/ticket_cache.h"
#include "telemetry/schema/string_formatting.h"

namespace tlm {
namespace {

using namespace std::chrono_literals;
using testing::LogCapture;

class TokenSource final : public TLMAnalyticsAuthenticationProviderDelegate {
 public:
  void authenticationProvider(TLMAnalyticsAuthenticationProvider&,
                              CompletionHandler completionHandler) override {
    requests.push_back(std::move(completionHandler));
  }
  std::vector<CompletionHandler> requests;
};

class AuthenticationProviderTest : public ::testing::Test {
 protected:
  AuthenticationProviderTest() { TLMTicketCache::sharedInstance().clearCache(); }
  ~AuthenticationProviderTest() override {
    TLMAnalyticsTransmissionTarget::setAuthenticationProvider(nullptr);
    TLMTicketCache::sharedInstance().clearCache();
  }

  std::shared_ptr<TLMAnalyticsAuthenticationProvider> make(std::uint64_t type) {
    return std::make_shared<TLMAnalyticsAuthenticationProvider>(type, "key", source, clock);
  }
  std::optional<std::string> ticket() {
    return TLMTicketCache::sharedInstance().ticketFor(TLMUtility_StringFormatting::sha256("key"));
  }

  LogCapture logs{TLMLogLevel::Verbose};
  dispatch::VirtualClock clock;
  std::shared_ptr<TokenSource> source = std::make_shared<TokenSource>();
};

TEST_F(AuthenticationProviderTest, TheTypeChoosesTheTicketPrefix) {
  for (const auto& [type, expected] : std::vector<std::pair<std::uint64_t, std::string>>{
           {0, "p:tok"}, {1, "d:tok"}, {7, "(null):tok"}}) {
    const auto provider = make(type);
    provider->acquireTokenAsync();
    source->requests.back()("tok", clock.now() + 1h);
    EXPECT_EQ(ticket(), expected) << type;
    EXPECT_EQ(provider->expiryDate(), clock.now() + 1h);
  }
}

TEST_F(AuthenticationProviderTest, OneRequestAtATimeAndOnlyThePendingAnswerCounts) {
  const auto provider = make(0);
  TLMAnalyticsTransmissionTarget::addAuthenticationProvider(provider);
  EXPECT_EQ(TLMAnalyticsTransmissionTarget::authenticationProvider(), provider);
  provider->acquireTokenAsync();
  ASSERT_EQ(source->requests.size(), 1u);
  source->requests[0]("first", clock.now() + 10min);
  EXPECT_EQ(ticket(), "p:first");
  EXPECT_TRUE(logs.has(TLMLogLevel::Debug, "Got result back from TLAcquireTokenCompletionBlock.",
                       "DarAvevedAnalytics"));

  // Ten minutes ahead: renewed now; the first request answering again, after
  // the newer one started, is ignored.
  provider->checkTokenExpiry();
  ASSERT_EQ(source->requests.size(), 2u);
  source->requests[0]("stale", clock.now() + 2h);
  EXPECT_EQ(ticket(), "p:first");
  EXPECT_TRUE(provider->isRequestPending());

  // A failed answer stores nothing and ends the request.
  logs.clear();
  source->requests[1](std::nullopt, clock.now() + 2h);
  EXPECT_EQ(logs.at(TLMLogLevel::Error), std::vector<std::string>{"Token must not be null"});
  EXPECT_FALSE(provider->isRequestPending());
  provider->acquireTokenAsync();
  source->requests[2]("third", std::nullopt);
  EXPECT_TRUE(logs.has(TLMLogLevel::Error, "Date must not be null", "DarAvevedAnalytics"));
  EXPECT_EQ(ticket(), "p:first");
  EXPECT_EQ(provider->expiryDate(), clock.now() + 10min);
}

TEST_F(AuthenticationProviderTest, RefreshesFromTenMinutesBeforeExpiryInWholeSeconds) {
  const auto provider = make(0);
  provider->checkTokenExpiry();
  EXPECT_TRUE(source->requests.empty());
  provider->acquireTokenAsync();
  // Expiry 11 min 0.5 s ahead; compared in whole seconds, it is due once
  // now + 600 s reaches its second.
  source->requests[0]("tok", clock.now() + 11min + 500ms);
  provider->checkTokenExpiry();
  EXPECT_EQ(source->requests.size(), 1u);
  clock.advance(59s);
  provider->checkTokenExpiry();
  EXPECT_EQ(source->requests.size(), 1u);
  clock.advance(1s);
  provider->checkTokenExpiry();
  EXPECT_EQ(source->requests.size(), 2u);
}

TEST_F(AuthenticationProviderTest, WithoutTokenSourceOrProviderOnlyLogs) {
  auto gone = std::make_shared<TokenSource>();
  const auto provider = std::make_shared<TLMAnalyticsAuthenticationProvider>(0, "key", gone, clock);
  gone.reset();
  provider->acquireTokenAsync();
  TLMAnalyticsTransmissionTarget::addAuthenticationProvider(nullptr);
  EXPECT_EQ(logs.at(TLMLogLevel::Error),
            (std::vector<std::string>{"No completionhandler to acquire token has been set.",
                                      "Authentication provider may not be null."}));
  EXPECT_FALSE(TLMAnalyticsTransmissionTarget::authenticationProvider());
}

}  // namespace
}  // namespace tlm
