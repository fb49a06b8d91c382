#include "telemetry/ingestion/dar_aveved_ingestion.h"

#include "telemetry/core/logger.h"
#include "telemetry/http/http_util.h"

namespace tlm {

namespace {
constexpr const char* kAppSecretHeader = "App-Secret";
}

TLMDarAvevedIngestion::TLMDarAvevedIngestion(std::shared_ptr<TLMHttpClientProtocol> httpClient,
                                             std::string baseUrl, std::string installId,
                                             std::vector<double> retryIntervals)
    : TLMHttpIngestion(std::move(httpClient), std::move(baseUrl), "/logs",
                       TLMHttpHeaders{{"Content-Type", "application/json"},
                                      {"Install-ID", std::move(installId)}},
                       QueryStrings{{"api-version", "1.0.0"}}, std::move(retryIntervals)) {}

std::string TLMDarAvevedIngestion::appSecret() const {
  std::lock_guard lock(mutex_);
  return appSecret_;
}

void TLMDarAvevedIngestion::setAppSecret(std::string appSecret) {
  std::lock_guard lock(mutex_);
  appSecret_ = std::move(appSecret);
}

bool TLMDarAvevedIngestion::isReadyToSend() const {
  std::lock_guard lock(mutex_);
  return !appSecret_.empty();
}

void TLMDarAvevedIngestion::sendAsync(const TLMLogContainer* container,
                                      const std::optional<std::string>& eTag,
                                      CompletionHandler handler) {
  if (rejectInvalid(container, handler)) return;
  if (!isReadyToSend()) {
    TLM_LOG(TLMLogLevel::Error, kTLMLogTag, "DarAveved ingestion is used without app secret.");
    return;
  }
  send(*container, eTag, container->batchId.value_or(std::string()), std::move(handler));
}

std::optional<TLMHttpHeaders> TLMDarAvevedIngestion::getHeaders(
    const TLMLogContainer&, const std::optional<std::string>&) const {
  TLMHttpHeaders headers = httpHeaders();
  headers[kAppSecretHeader] = appSecret();
  return headers;
}

std::optional<std::string> TLMDarAvevedIngestion::getPayload(
    const TLMLogContainer& container) const {
  return container.serializeLog();
}

std::string TLMDarAvevedIngestion::obfuscateHeaderValue(const std::string& name,
                                                        const std::string& value) const {
  return TLMHeaderNameEquals(name, kAppSecretHeader) ? TLMHttpUtil::hideSecret(value) : value;
}

}  // namespace tlm
