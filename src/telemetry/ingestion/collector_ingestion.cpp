#include "telemetry/ingestion/collector_ingestion.h"

#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "telemetry/core/date_text.h"
#include "telemetry/core/sdk_identity.h"
#include "telemetry/http/http_util.h"
#include "telemetry/ingestion/ticket_cache.h"
#include "telemetry/model/ticket_keys_provider.h"
#include "telemetry/schema/string_formatting.h"

namespace tlm {

namespace {

constexpr const char* kApiKeyHeader = "apikey";
constexpr const char* kTicketsHeader = "Tickets";

std::string clientVersion() {
  return "ACS-iOS-ObjectiveC-no-" + std::string(kTLMSdkVersion) + "-no";
}

}  // namespace

TLMCollectorIngestion::TLMCollectorIngestion(std::shared_ptr<TLMHttpClientProtocol> httpClient,
                                             std::string baseUrl, const dispatch::Clock& clock,
                                             std::vector<double> retryIntervals)
    : TLMHttpIngestion(std::move(httpClient), std::move(baseUrl), "/Collector/1.0",
                       TLMHttpHeaders{{"Content-Type", "application/x-json-stream; charset=utf-8"},
                                      {"Client-Version", clientVersion()}},
                       QueryStrings{}, std::move(retryIntervals)),
      clock_(clock) {}

void TLMCollectorIngestion::sendAsync(const TLMLogContainer* container,
                                      const std::optional<std::string>& eTag,
                                      CompletionHandler handler) {
  if (rejectInvalid(container, handler)) return;
  send(*container, eTag, container->batchId.value_or(std::string()), std::move(handler));
}

std::optional<TLMHttpHeaders> TLMCollectorIngestion::getHeaders(
    const TLMLogContainer& container, const std::optional<std::string>&) const {
  TLMHttpHeaders headers = httpHeaders();
  std::set<std::string> tokens;
  std::map<std::string, std::string> tickets;
  for (const auto& log : container.logs) {
    if (!log) continue;
    for (const auto& token : log->transmissionTargetTokens())
      tokens.insert(token);
    const auto* carrier = dynamic_cast<const TLMTicketKeysProvider*>(log.get());
    if (!carrier) continue;
    for (const auto& key : carrier->ticketKeys()) {
      if (auto ticket = TLMTicketCache::sharedInstance().ticketFor(key)) tickets[key] = *ticket;
    }
  }
  std::string apiKey;
  for (const auto& token : tokens) {
    if (!apiKey.empty()) apiKey += ",";
    apiKey += token;
  }
  headers[kApiKeyHeader] = apiKey;
  headers["Upload-Time"] = std::to_string(static_cast<long long>(nowInMilliseconds(clock_)));
  if (!tickets.empty()) {
    headers[kTicketsHeader] =
        nlohmann::json(tickets).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  }
  return headers;
}

std::optional<std::string> TLMCollectorIngestion::getPayload(
    const TLMLogContainer& container) const {
  std::string body;
  for (const auto& log : container.logs) {
    if (!log) continue;
    if (auto json = log->serializeLogWithPrettyPrinting(false)) body += *json + "\n";
  }
  return body;
}

std::string TLMCollectorIngestion::obfuscateResponsePayload(const std::string& payload) const {
  // A token the log's cut ends inside is hidden too.
  return TLMUtility_StringFormatting::obfuscateString(
             payload, R"("token"\s*:\s*"(?:[^"]+"|[^"]*$))", R"("token" : "***")")
      .value_or(std::string());
}

std::string TLMCollectorIngestion::obfuscateHeaderValue(const std::string& name,
                                                        const std::string& value) const {
  if (TLMHeaderNameEquals(name, kApiKeyHeader)) return obfuscateTargetTokens(value);
  if (TLMHeaderNameEquals(name, kTicketsHeader)) return obfuscateTickets(value);
  return value;
}

std::string TLMCollectorIngestion::obfuscateTargetTokens(const std::string& tokens) {
  std::string out;
  std::size_t from = 0;
  for (;;) {
    const std::size_t comma = tokens.find(',', from);
    out += TLMHttpUtil::hideSecret(tokens.substr(from, comma - from));
    if (comma == std::string::npos) break;
    out += ",";
    from = comma + 1;
  }
  return out;
}

std::string TLMCollectorIngestion::obfuscateTickets(const std::string& tickets) {
  return TLMUtility_StringFormatting::obfuscateString(tickets, R"(:[^"]+)", ":***")
      .value_or(std::string());
}

}  // namespace tlm
