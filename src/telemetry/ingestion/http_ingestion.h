#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "telemetry/http/http_client.h"
#include "telemetry/ingestion/ingestion_protocol.h"

namespace tlm {

// The common base of the ingestion endpoints: owns the endpoint URL, the fixed
// headers and the retry intervals, builds one request per batch, hands it to
// its HTTP client and logs requests and responses (at VERBOSE, secrets masked).
// Make endpoints with `make`, which also makes the ingestion its client's delegate.
class TLMHttpIngestion : public TLMIngestionProtocol,
                         public TLMHttpClientDelegate,
                         public std::enable_shared_from_this<TLMHttpIngestion> {
 public:
  using QueryStrings = std::vector<std::pair<std::string, std::string>>;

  TLMHttpIngestion(
      std::shared_ptr<TLMHttpClientProtocol> httpClient, std::string baseUrl, std::string apiPath,
      TLMHttpHeaders headers, QueryStrings queryStrings,
      std::vector<double> retryIntervals = TLMHttpClientProtocol::defaultRetryIntervals());

  template <class T, class... Args>
  static std::shared_ptr<T> make(Args&&... args) {
    auto ingestion = std::make_shared<T>(std::forward<Args>(args)...);
    ingestion->httpClient()->setDelegate(std::weak_ptr<TLMHttpClientDelegate>(
        std::static_pointer_cast<TLMHttpClientDelegate>(ingestion)));
    return ingestion;
  }

  bool isReadyToSend() const override { return true; }
  void sendAsync(const TLMLogContainer* container, CompletionHandler handler) override;
  void sendAsync(const TLMLogContainer* container, const std::optional<std::string>& eTag,
                 CompletionHandler handler) override;
  void setEnabled(bool enabled, bool deleteDataOnDisabled) override;
  bool isEnabled() const;
  // While set, a send made while disabled is dropped without an answer, so
  // the callers keep its logs stored and send no more than they may leave
  // unanswered (a program with nowhere to send); otherwise it is answered as
  // canceled at once.
  void setDropsSendsWhileDisabled(bool drops);

  std::string baseURL() const;
  // Moves the endpoint to another host, keeping the query; text that does not
  // parse keeps the old URL.
  void setBaseURL(const std::string& baseURL);
  const std::string& apiPath() const { return apiPath_; }
  std::optional<std::string> sendURL() const;
  const TLMHttpHeaders& httpHeaders() const { return httpHeaders_; }
  const std::vector<double>& callsRetryIntervals() const { return retryIntervals_; }
  const std::shared_ptr<TLMHttpClientProtocol>& httpClient() const { return httpClient_; }

  static std::optional<std::string> buildURL(const std::string& baseURL, const std::string& apiPath,
                                             const QueryStrings& queryStrings);
  // The value of the first "etag" header, whatever its case.
  static std::optional<std::string> eTagFromResponse(const TLMHttpResponse& response);

  // The most bytes of a response body the VERBOSE log shows; a longer one is
  // cut there, and the line says how many bytes were left out.
  static constexpr std::size_t kMaxLoggedBodyBytes = 16 * 1024;

  void willSendHTTPRequestToURL(const std::string& url, const TLMHttpHeaders& headers) override;
  void printResponse(const std::optional<TLMHttpResponse>& response,
                     const std::optional<std::string>& body,
                     const std::optional<base::Error>& error) const;

  // Endpoint hooks; the base gives no headers and no body.
  virtual std::optional<TLMHttpHeaders> getHeaders(const TLMLogContainer& container,
                                                   const std::optional<std::string>& eTag) const;
  virtual std::optional<std::string> getPayload(const TLMLogContainer& container) const;
  // The text a response body is logged as; it may end inside a value when the
  // body was cut for the log.
  virtual std::string obfuscateResponsePayload(const std::string& payload) const;
  // The text a header value is logged as.
  virtual std::string obfuscateHeaderValue(const std::string& name, const std::string& value) const;
  std::string getHttpMethod() const { return "POST"; }

 protected:
  // Sends one batch under `callId` (the endpoints pass the batch id).
  void send(const TLMLogContainer& container, const std::optional<std::string>& eTag,
            const std::string& callId, CompletionHandler handler);
  // Answers the handler at once with the invalid-container error when the
  // container is missing or invalid.
  static bool rejectInvalid(const TLMLogContainer* container, const CompletionHandler& handler);

  mutable std::recursive_mutex mutex_;

 private:
  const std::shared_ptr<TLMHttpClientProtocol> httpClient_;
  std::string baseURL_;
  const std::string apiPath_;
  const TLMHttpHeaders httpHeaders_;
  const QueryStrings queryStrings_;
  const std::vector<double> retryIntervals_;
  std::optional<std::string> sendURL_;
  bool enabled_ = true;
  bool dropsSendsWhileDisabled_ = false;
};

// A random UUID in upper-case canonical text.
std::string TLMMakeUUIDString();

}  // namespace tlm
