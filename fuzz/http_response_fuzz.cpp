// Answers of the log endpoints as the SDK handles them: the HTTP client
// (status classes, retries after "x-ms-retry-after-ms" or the jittered
// delays, disabling on fatal codes) and the endpoints (response logging by
// Content-Type with JSON pretty-printing and masking, the ETag), fed through
// a scripted transport with retry timers on virtual time.
//
// Input: answers separated by a line "%%"; an answer is a status line (a
// decimal status code, or "error " and a transport error code), header lines
// "Name: value", an empty line and the body. Requests beyond the answers
// given stay unanswered.

#include <charconv>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dispatch/manual_queue.h"
#include "fuzz_input.h"
#include "telemetry/core/logger.h"
#include "telemetry/http/http_client.h"
#include "telemetry/ingestion/collector_ingestion.h"
#include "telemetry/ingestion/dar_aveved_ingestion.h"
#include "telemetry/model/abstract_log.h"
#include "telemetry/model/log_container.h"

namespace {

struct Answer {
  std::optional<tlm::TLMHttpResponse> response;
  std::string body;
  std::optional<base::Error> error;
};

std::string_view takeLine(std::string_view& text) {
  const auto end = text.find('\n');
  std::string_view line = text.substr(0, end);
  text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

std::int64_t number(std::string_view text) {
  std::int64_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

Answer parseAnswer(std::string_view text) {
  Answer answer;
  const std::string_view status = takeLine(text);
  if (status.starts_with("error ")) {
    answer.error = base::Error(tlm::kTLMURLErrorDomain, number(status.substr(6)), "failed");
    return answer;
  }
  tlm::TLMHttpResponse response;
  response.statusCode = number(status);
  while (!text.empty()) {
    const std::string_view line = takeLine(text);
    if (line.empty()) break;
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && value.front() == ' ')
      value.remove_prefix(1);
    // A repeated header keeps its last value, as the transport does.
    response.headers.insert_or_assign(std::string(line.substr(0, colon)), std::string(value));
  }
  answer.response = std::move(response);
  answer.body = std::string(text);
  return answer;
}

std::deque<Answer> parseAnswers(std::string_view text) {
  std::deque<Answer> answers;
  for (;;) {
    const auto separator = text.find("\n%%\n");
    answers.push_back(parseAnswer(text.substr(0, separator)));
    if (separator == std::string_view::npos) break;
    text.remove_prefix(separator + 4);
  }
  return answers;
}

// Answers each request with the next scripted answer, on the queue (the real
// transport answers on its own thread, never inside start).
class ScriptedTransport final : public tlm::TLMHttpTransport {
 public:
  ScriptedTransport(dispatch::ManualQueue& queue, std::shared_ptr<std::deque<Answer>> answers)
      : queue_(queue), answers_(std::move(answers)) {}

  void start(tlm::TLMHttpRequest, Completion completion) override {
    if (cancelled_) {
      completion(std::nullopt, {}, base::Error(tlm::kTLMURLErrorDomain, -999, "cancelled"));
      return;
    }
    if (answers_->empty()) return;
    Answer answer = std::move(answers_->front());
    answers_->pop_front();
    queue_.async([completion = std::move(completion), answer = std::move(answer)]() mutable {
      completion(std::move(answer.response), std::move(answer.body), std::move(answer.error));
    });
  }
  void invalidateAndCancel() override { cancelled_ = true; }

 private:
  dispatch::ManualQueue& queue_;
  std::shared_ptr<std::deque<Answer>> answers_;
  bool cancelled_ = false;
};

class FuzzLog final : public tlm::TLMAbstractLog {
 public:
  FuzzLog() {
    type = "fuzz";
    timestamp = tlm::Date(std::chrono::milliseconds(1714557600500));
    sid = "S";
    addTransmissionTargetToken("token-1");
  }
  bool isValid() const override { return true; }
  std::string_view className() const override { return "FuzzLog"; }
};

void exchange(std::string_view input, bool collector) {
  dispatch::ManualQueue queue;
  auto answers = std::make_shared<std::deque<Answer>>(parseAnswers(input));
  tlm::TLMHttpClient::Dependencies dependencies;
  dependencies.retryQueue = &queue;
  dependencies.transportFactory = [&queue, answers] {
    return std::make_unique<ScriptedTransport>(queue, answers);
  };
  dependencies.random = [](std::uint32_t bound) { return bound / 2; };
  auto client = std::make_shared<tlm::TLMHttpClient>(std::move(dependencies));

  std::shared_ptr<tlm::TLMHttpIngestion> endpoint;
  if (collector) {
    endpoint = tlm::TLMCollectorIngestion::make(client, "https://c.example", queue.clock());
  } else {
    auto own = tlm::TLMDarAvevedIngestion::make(client, "https://in.example/base", "INSTALL");
    own->setAppSecret("0123456789abcdef0123456789abcdef0123");
    endpoint = own;
  }
  const tlm::TLMLogContainer container(std::string("batch"), {std::make_shared<FuzzLog>()});
  for (int batch = 0; batch < 2; ++batch) {
    endpoint->sendAsync(&container, std::string("etag"),
                        [](const std::string&, const std::optional<tlm::TLMHttpResponse>& response,
                           const std::optional<std::string>&, const std::optional<base::Error>&) {
                          if (response) (void)tlm::TLMHttpIngestion::eTagFromResponse(*response);
                        });
  }
  // Retries run at their due times; a bounded number of steps ends a series
  // the answers keep going.
  queue.runUntilIdle();
  for (int step = 0; step < 64 && queue.runNextTimer(); ++step)
    queue.runUntilIdle();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool configured = [] {
    // Verbose, so the response logging runs; the messages are built and dropped.
    tlm::TLMLogger::setCurrentLogLevel(tlm::TLMLogLevel::Verbose);
    tlm::TLMLogger::setLogHandler([](const tlm::TLMLogMessageProvider& message, tlm::TLMLogLevel,
                                     std::string_view, const char*, const char*,
                                     std::uint32_t) { (void)message(); });
    return true;
  }();
  (void)configured;
  const std::string_view input = fuzz::asText(data, size);
  exchange(input, false);
  exchange(input, true);
  return 0;
}
