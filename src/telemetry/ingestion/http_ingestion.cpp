#include "telemetry/ingestion/http_ingestion.h"

#include <uuid/uuid.h>

#include <algorithm>

#include "telemetry/core/logger.h"
#include "telemetry/http/http_url.h"
#include "telemetry/schema/string_formatting.h"

namespace tlm {

std::string TLMMakeUUIDString() {
  uuid_t uuid;
  uuid_generate_random(uuid);
  char text[37];
  uuid_unparse_upper(uuid, text);
  return text;
}

TLMHttpIngestion::TLMHttpIngestion(std::shared_ptr<TLMHttpClientProtocol> httpClient,
                                   std::string baseUrl, std::string apiPath, TLMHttpHeaders headers,
                                   QueryStrings queryStrings, std::vector<double> retryIntervals)
    : httpClient_(std::move(httpClient)),
      baseURL_(std::move(baseUrl)),
      apiPath_(std::move(apiPath)),
      httpHeaders_(std::move(headers)),
      queryStrings_(std::move(queryStrings)),
      retryIntervals_(std::move(retryIntervals)),
      sendURL_(buildURL(baseURL_, apiPath_, queryStrings_)) {}

std::optional<std::string> TLMHttpIngestion::buildURL(const std::string& baseURL,
                                                      const std::string& apiPath,
                                                      const QueryStrings& queryStrings) {
  std::string text = baseURL + apiPath;
  std::string query;
  for (const auto& [key, value] : queryStrings) {
    if (!query.empty()) query += "&";
    query += key + "=" + value;
  }
  if (!query.empty()) text += "?" + TLMPercentEncodeQuery(query);
  return TLMParseURL(text);
}

std::optional<std::string> TLMHttpIngestion::eTagFromResponse(const TLMHttpResponse& response) {
  auto it = response.headers.find("etag");
  if (it == response.headers.end()) return std::nullopt;
  return it->second;
}

std::string TLMHttpIngestion::baseURL() const {
  std::lock_guard lock(mutex_);
  return baseURL_;
}

std::optional<std::string> TLMHttpIngestion::sendURL() const {
  std::lock_guard lock(mutex_);
  return sendURL_;
}

void TLMHttpIngestion::setBaseURL(const std::string& baseURL) {
  std::lock_guard lock(mutex_);
  baseURL_ = baseURL;
  std::optional<std::string> updated;
  if (auto parsed = TLMParseURL(baseURL + apiPath_)) {
    updated = sendURL_ ? TLMReplaceURLComponents(*sendURL_, *parsed)
                       : buildURL(baseURL, apiPath_, queryStrings_);
  }
  if (!updated) {
    TLM_LOG(TLMLogLevel::Info, kTLMLogTag,
            "Failed to update HTTP URL " + sendURL_.value_or("(null)") + " with " + baseURL);
    return;
  }
  sendURL_ = std::move(updated);
}

void TLMHttpIngestion::setEnabled(bool enabled, bool /*deleteDataOnDisabled*/) {
  std::lock_guard lock(mutex_);
  enabled_ = enabled;
}

void TLMHttpIngestion::setDropsSendsWhileDisabled(bool drops) {
  std::lock_guard lock(mutex_);
  dropsSendsWhileDisabled_ = drops;
}

bool TLMHttpIngestion::isEnabled() const {
  std::lock_guard lock(mutex_);
  return enabled_;
}

void TLMHttpIngestion::sendAsync(const TLMLogContainer* container, CompletionHandler handler) {
  sendAsync(container, std::nullopt, std::move(handler));
}

void TLMHttpIngestion::sendAsync(const TLMLogContainer* container,
                                 const std::optional<std::string>& eTag,
                                 CompletionHandler handler) {
  if (!container) {
    rejectInvalid(container, handler);
    return;
  }
  send(*container, eTag, TLMMakeUUIDString(), std::move(handler));
}

bool TLMHttpIngestion::rejectInvalid(const TLMLogContainer* container,
                                     const CompletionHandler& handler) {
  if (container && container->isValid()) return false;
  base::Error error(kTLMErrorDomain, kTLMInvalidContainerErrorCode, kTLMInvalidContainerErrorDesc);
  TLM_LOG(TLMLogLevel::Error, kTLMLogTag, error.description);
  if (handler)
    handler(container ? container->batchId.value_or(std::string()) : std::string(), std::nullopt,
            std::nullopt, error);
  return true;
}

void TLMHttpIngestion::send(const TLMLogContainer& container,
                            const std::optional<std::string>& eTag, const std::string& callId,
                            CompletionHandler handler) {
  {
    std::lock_guard lock(mutex_);
    if (enabled_) {
      auto headers = getHeaders(container, eTag);
      auto payload = getPayload(container);
      std::weak_ptr<const TLMHttpIngestion> weak = weak_from_this();
      httpClient_->sendAsync(sendURL_.value_or(std::string()), getHttpMethod(),
                             headers.value_or(TLMHttpHeaders{}), std::move(payload),
                             retryIntervals_, true,
                             [weak, callId, handler = std::move(handler)](
                                 const std::optional<std::string>& body,
                                 const std::optional<TLMHttpResponse>& response,
                                 const std::optional<base::Error>& error) {
                               if (auto self = weak.lock())
                                 self->printResponse(response, body, error);
                               if (handler) handler(callId, response, body, error);
                             });
      return;
    }
    if (dropsSendsWhileDisabled_) return;
  }
  // A disabled ingestion answers at once, so that callers free the batch
  // instead of waiting for an answer that never comes.
  if (handler) handler(callId, std::nullopt, std::nullopt, TLMCanceledError());
}

std::optional<TLMHttpHeaders> TLMHttpIngestion::getHeaders(
    const TLMLogContainer&, const std::optional<std::string>&) const {
  return std::nullopt;
}

std::optional<std::string> TLMHttpIngestion::getPayload(const TLMLogContainer&) const {
  return std::nullopt;
}

std::string TLMHttpIngestion::obfuscateResponsePayload(const std::string& payload) const {
  return payload;
}

std::string TLMHttpIngestion::obfuscateHeaderValue(const std::string&,
                                                   const std::string& value) const {
  return value;
}

void TLMHttpIngestion::willSendHTTPRequestToURL(const std::string& url,
                                                const TLMHttpHeaders& headers) {
  if (TLMLogger::currentLogLevel() > TLMLogLevel::Verbose) return;
  std::string rendered;
  for (const auto& [name, value] : headers) {
    if (!rendered.empty()) rendered += ", ";
    rendered += name + " = " + obfuscateHeaderValue(name, value);
  }
  TLM_LOG(TLMLogLevel::Verbose, kTLMLogTag, "URL: " + url);
  TLM_LOG(TLMLogLevel::Verbose, kTLMLogTag, "Headers: " + rendered);
}

void TLMHttpIngestion::printResponse(const std::optional<TLMHttpResponse>& response,
                                     const std::optional<std::string>& body,
                                     const std::optional<base::Error>& error) const {
  if (error) {
    TLM_LOG(TLMLogLevel::Debug, kTLMLogTag,
            "HTTP request error with code: " + std::to_string(error->code) +
                ", domain: " + error->domain + ", description: " + error->description);
    return;
  }
  if (TLMLogger::currentLogLevel() > TLMLogLevel::Verbose) return;
  std::string contentType;
  if (response) {
    if (auto it = response->headers.find("Content-Type"); it != response->headers.end()) {
      contentType = it->second;
    }
  }
  std::string payload;
  if (body && !body->empty()) {
    // Only a bounded prefix is shown, cut on a UTF-8 character boundary.
    std::size_t shown = std::min(body->size(), kMaxLoggedBodyBytes);
    for (int back = 0; back < 3 && shown < body->size() && shown > 0 &&
                       (static_cast<unsigned char>((*body)[shown]) & 0xC0) == 0x80;
         ++back) {
      --shown;
    }
    const std::string prefix = body->substr(0, shown);
    if (contentType.starts_with("application/json")) {
      // A cut body is no JSON any more and is shown as it came.
      payload = obfuscateResponsePayload(
          TLMUtility_StringFormatting::prettyPrintJson(prefix).value_or(prefix));
    } else if (contentType.empty() || contentType.starts_with("text/") ||
               contentType.starts_with("application/")) {
      payload = obfuscateResponsePayload(prefix);
    } else {
      shown = body->size();
      payload = "<binary>";
    }
    if (shown < body->size()) {
      payload += "\n... (" + std::to_string(body->size() - shown) + " more bytes not shown)";
    }
  }
  TLM_LOG(TLMLogLevel::Verbose, kTLMLogTag,
          "HTTP response received with status code: " +
              std::to_string(response ? response->statusCode : 0) + ", payload:\n" + payload);
}

}  // namespace tlm
