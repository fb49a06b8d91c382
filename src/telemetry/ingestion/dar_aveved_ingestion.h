#pragma once

#include <string>

#include "telemetry/ingestion/http_ingestion.h"

namespace tlm {

// The SDK's own log endpoint: one JSON log container per request, authorised
// by the application secret.
class TLMDarAvevedIngestion final : public TLMHttpIngestion {
 public:
  TLMDarAvevedIngestion(
      std::shared_ptr<TLMHttpClientProtocol> httpClient, std::string baseUrl, std::string installId,
      std::vector<double> retryIntervals = TLMHttpClientProtocol::defaultRetryIntervals());

  static std::shared_ptr<TLMDarAvevedIngestion> make(
      std::shared_ptr<TLMHttpClientProtocol> httpClient, std::string baseUrl, std::string installId,
      std::vector<double> retryIntervals = TLMHttpClientProtocol::defaultRetryIntervals()) {
    return TLMHttpIngestion::make<TLMDarAvevedIngestion>(
        std::move(httpClient), std::move(baseUrl), std::move(installId), std::move(retryIntervals));
  }

  std::string appSecret() const;
  void setAppSecret(std::string appSecret);
  // Only with an application secret.
  bool isReadyToSend() const override;

  using TLMHttpIngestion::sendAsync;
  void sendAsync(const TLMLogContainer* container, const std::optional<std::string>& eTag,
                 CompletionHandler handler) override;

  std::optional<TLMHttpHeaders> getHeaders(const TLMLogContainer& container,
                                           const std::optional<std::string>& eTag) const override;
  std::optional<std::string> getPayload(const TLMLogContainer& container) const override;
  std::string obfuscateHeaderValue(const std::string& name,
                                   const std::string& value) const override;

 private:
  std::string appSecret_;
};

}  // namespace tlm
