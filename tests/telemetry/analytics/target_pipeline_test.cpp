// Events of transmission targets through the real channel group: the
// common-schema logs the collector endpoint receives, with the fields of the
// targets' configurators and the authentication provider's ticket.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "dispatch/manual_queue.h"
#include "support/telemetry_devices.h"
#include "support/telemetry_fake_pipeline.h"
#include "support/temp_dir.h"
#include "telemetry/analytics/analytics.h"
#include "telemetry/analytics/analytics_service.h"
#include "telemetry/analytics/authentication_provider.h"
#include "telemetry/analytics/transmission_target.h"
#include "telemetry/channel/channel_environment.h"
#include "telemetry/channel/channel_group_default.h"
#include "telemetry/channel/collector_channel_delegate.h"
#include "telemetry/ingestion/dar_aveved_ingestion.h"
#include "telemetry/ingestion/ticket_cache.h"
#include "telemetry/schema/string_formatting.h"
#include "telemetry/sdk/daraveved.h"
#include "telemetry/storage/log_db_storage.h"

namespace tlm {
namespace {

using namespace std::chrono_literals;

// Keeps every request; answers none. Thread-safe.
class RecordingHttpClient final : public TLMHttpClientProtocol {
 public:
  struct Request {
    std::string url;
    TLMHttpHeaders headers;
    std::string body;
  };
  using TLMHttpClientProtocol::sendAsync;
  void sendAsync(const std::string& url, const std::string&, const TLMHttpHeaders& headers,
                 std::optional<std::string> data, const std::vector<double>&, bool,
                 TLMHttpCompletionHandler) override {
    std::lock_guard lock(mutex_);
    requests_.push_back({url, headers, data.value_or("")});
  }
  void pause() override {}
  void resume() override {}
  void setEnabled(bool, bool) override {}
  std::shared_ptr<TLMHttpClientDelegate> delegate() const override { return nullptr; }
  void setDelegate(std::weak_ptr<TLMHttpClientDelegate>) override {}

  std::vector<Request> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Request> requests_;
};

class PlainTokenEncrypter final : public TLMTargetTokenEncrypter {
 public:
  std::optional<std::string> encryptString(std::string_view text) override {
    return std::string(text);
  }
  std::optional<std::string> decryptString(std::string_view text) override {
    return std::string(text);
  }
};

// The application's token source: keeps each request for the test to answer.
class TokenSource final : public TLMAnalyticsAuthenticationProviderDelegate {
 public:
  void authenticationProvider(TLMAnalyticsAuthenticationProvider&,
                              CompletionHandler completionHandler) override {
    requests.push_back(std::move(completionHandler));
  }
  std::vector<CompletionHandler> requests;
};

class TargetPipelineTest : public ::testing::Test {
 protected:
  TargetPipelineTest() {
    TLMAnalyticsEnvironment environment;
    environment.tracker.clock = &queue->clock();
    environment.tracker.notifications = std::make_shared<TLMNotificationCenter>();
    environment.tracker.applicationState = [] { return TLMApplicationState::Active; };
    service = TLMAnalyticsService::make(std::move(environment));
    TLMAnalyticsService::setSharedForTesting(service);
    TLMAnalytics::setBackend(nullptr);
    TLMTicketCache::sharedInstance().clearCache();
    TLMDarAveved::start("secret-1", {TLMAnalyticsService::serviceClass()});
  }
  ~TargetPipelineTest() override {
    TLMAnalyticsTransmissionTarget::setAuthenticationProvider(nullptr);
    TLMTicketCache::sharedInstance().clearCache();
    TLMAnalyticsService::setSharedForTesting();
  }

  // The common-schema logs sent so far, with the tickets header of their request.
  struct Sent {
    nlohmann::json log;
    std::string tickets;
  };
  std::vector<Sent> collectorLogs() const {
    std::vector<Sent> out;
    for (const auto& request : http->requests()) {
      if (request.url.find("/Collector/") == std::string::npos) continue;
      const auto tickets = request.headers.find("Tickets");
      std::istringstream lines(request.body);
      for (std::string line; std::getline(lines, line);) {
        if (!line.empty())
          out.push_back({nlohmann::json::parse(line),
                         tickets == request.headers.end() ? "" : tickets->second});
      }
    }
    return out;
  }

  support::TempDir folder{"target-pipeline"};
  std::shared_ptr<dispatch::ManualQueue> queue = std::make_shared<dispatch::ManualQueue>();
  std::shared_ptr<RecordingHttpClient> http = std::make_shared<RecordingHttpClient>();
  testing::ScopedFakeTelemetrySdk sdk{
      [this](std::shared_ptr<TLMHttpClientProtocol> client, const std::string& installId,
             const std::string& logUrl) -> std::shared_ptr<TLMChannelGroupProtocol> {
        return std::make_shared<TLMChannelGroupDefault>(
            TLMDarAvevedIngestion::make(std::move(client), logUrl, installId),
            std::make_shared<TLMLogDBStorage>(folder.path(),
                                              std::make_shared<PlainTokenEncrypter>()),
            queue, TLMChannelEnvironment{TLMDarAvevedUserDefaults::shared(), [] {
                                           return testing::linuxDevice();
                                         }});
      },
      [this] { return http; }};
  std::shared_ptr<TLMAnalyticsService> service;
};

TEST_F(TargetPipelineTest, LogsCarryTheTargetsFieldsAndTheProvidersTicket) {
  const auto source = std::make_shared<TokenSource>();
  const auto provider =
      std::make_shared<TLMAnalyticsAuthenticationProvider>(0, "ticket-key", source, queue->clock());
  TLMAnalyticsTransmissionTarget::addAuthenticationProvider(provider);
  ASSERT_EQ(source->requests.size(), 1u);
  source->requests[0]("token-1", queue->now() + 11min);
  const std::string hash = TLMUtility_StringFormatting::sha256("ticket-key");
  EXPECT_EQ(provider->ticketKeyHash(), hash);
  EXPECT_EQ(TLMTicketCache::sharedInstance().ticketFor(hash), "p:token-1");

  const auto parent = TLMAnalytics::transmissionTargetForToken("parent1-token");
  parent->propertyConfigurator()->setAppVersion("9.9");
  parent->propertyConfigurator()->setAppName("Parent App");
  parent->propertyConfigurator()->setUserId("alice");
  parent->propertyConfigurator()->collectDeviceId();
  const auto child = parent->transmissionTargetForToken("child1-token");
  child->propertyConfigurator()->setAppLocale("fr-FR");
  child->propertyConfigurator()->setEventPropertyString("Screen.Name", "main");

  child->trackEvent("Child.Event");
  parent->trackEvent("Parent.Event");
  queue->advance(3s);

  auto sent = collectorLogs();
  ASSERT_EQ(sent.size(), 2u);
  auto childLog = sent[0].log;
  EXPECT_EQ(childLog["name"], "Child.Event");
  EXPECT_EQ(childLog["iKey"], "o:child1");
  EXPECT_EQ(childLog["ext"]["protocol"]["ticketKeys"], nlohmann::json::array({hash}));
  EXPECT_EQ(childLog["ext"]["app"]["ver"], "9.9");
  EXPECT_EQ(childLog["ext"]["app"]["name"], "Parent App");
  EXPECT_EQ(childLog["ext"]["app"]["locale"], "fr-FR");
  EXPECT_EQ(childLog["ext"]["user"]["localId"], "c:alice");
  // The device id is the collecting target's own.
  EXPECT_FALSE(childLog["ext"].contains("device"));
  EXPECT_EQ(childLog["data"]["Screen"]["Name"], "main");
  EXPECT_EQ(sent[0].tickets, nlohmann::json({{hash, "p:token-1"}}).dump());

  auto parentLog = sent[1].log;
  EXPECT_EQ(parentLog["iKey"], "o:parent1");
  EXPECT_EQ(parentLog["ext"]["app"]["locale"], "en");
  EXPECT_EQ(parentLog["ext"]["device"]["localId"], TLMPropertyConfigurator::getDeviceIdentifier());
  EXPECT_FALSE(parentLog.contains("data"));

  // Eleven minutes before expiry no new token is asked for; from ten
  // minutes before, the next prepared log asks once.
  EXPECT_EQ(source->requests.size(), 1u);
  queue->advance(57s);
  child->trackEvent("Child.Event");
  EXPECT_EQ(source->requests.size(), 2u);
  child->trackEvent("Child.Event");
  EXPECT_EQ(source->requests.size(), 2u);
  source->requests[1]("token-2", queue->now() + 1h);
  EXPECT_EQ(TLMTicketCache::sharedInstance().ticketFor(hash), "p:token-2");
}

TEST_F(TargetPipelineTest, WithoutAProviderLogsHaveNoTicketKeys) {
  TLMAnalytics::transmissionTargetForToken("root1-token")->trackEvent("Root.Event");
  queue->advance(3s);
  auto sent = collectorLogs();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_FALSE(sent[0].log["ext"]["protocol"].contains("ticketKeys"));
  EXPECT_EQ(sent[0].tickets, "");
}

}  // namespace
}  // namespace tlm
