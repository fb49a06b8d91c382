#pragma once

#include <string>
#include <vector>

#include "dispatch/clock.h"
#include "telemetry/ingestion/http_ingestion.h"

namespace tlm {

// The common-schema endpoint: one JSON line per log, authorised by the logs'
// transmission target tokens and any tickets in the ticket cache.
class TLMCollectorIngestion final : public TLMHttpIngestion {
 public:
  // `clock` gives the upload time; it must outlive the ingestion.
  TLMCollectorIngestion(
      std::shared_ptr<TLMHttpClientProtocol> httpClient, std::string baseUrl,
      const dispatch::Clock& clock = dispatch::SystemClock::instance(),
      std::vector<double> retryIntervals = TLMHttpClientProtocol::defaultRetryIntervals());

  static std::shared_ptr<TLMCollectorIngestion> make(
      std::shared_ptr<TLMHttpClientProtocol> httpClient, std::string baseUrl,
      const dispatch::Clock& clock = dispatch::SystemClock::instance(),
      std::vector<double> retryIntervals = TLMHttpClientProtocol::defaultRetryIntervals()) {
    return TLMHttpIngestion::make<TLMCollectorIngestion>(std::move(httpClient), std::move(baseUrl),
                                                         clock, std::move(retryIntervals));
  }

  using TLMHttpIngestion::sendAsync;
  void sendAsync(const TLMLogContainer* container, const std::optional<std::string>& eTag,
                 CompletionHandler handler) override;

  std::optional<TLMHttpHeaders> getHeaders(const TLMLogContainer& container,
                                           const std::optional<std::string>& eTag) const override;
  std::optional<std::string> getPayload(const TLMLogContainer& container) const override;
  std::string obfuscateResponsePayload(const std::string& payload) const override;
  std::string obfuscateHeaderValue(const std::string& name,
                                   const std::string& value) const override;

  // Each comma-separated token masked.
  static std::string obfuscateTargetTokens(const std::string& tokens);
  // The text after every colon up to the next double quote masked.
  static std::string obfuscateTickets(const std::string& tickets);

 private:
  const dispatch::Clock& clock_;
};

}  // namespace tlm
