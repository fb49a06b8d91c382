#include <gtest/gtest.h>

#include "dispatch/manual_queue.h"
#include "telemetry/http/http_fakes.h"
#include "telemetry/ingestion/collector_ingestion.h"
#include "telemetry/ingestion/dar_aveved_ingestion.h"
#include "telemetry/ingestion/test_logs.h"
#include "telemetry/ingestion/ticket_cache.h"

namespace tlm {
namespace {

using tlmtest::container;
using tlmtest::TestLog;
using tlmtest::TicketLog;

// Records what the ingestion hands to its client; the test answers by hand.
class RecordingClient final : public TLMHttpClientProtocol {
 public:
  struct Sent {
    std::string url;
    std::string method;
    TLMHttpHeaders headers;
    std::optional<std::string> data;
    std::vector<double> retryIntervals;
    bool compressionEnabled;
    TLMHttpCompletionHandler handler;
  };
  using TLMHttpClientProtocol::sendAsync;
  void sendAsync(const std::string& url, const std::string& method, const TLMHttpHeaders& headers,
                 std::optional<std::string> data, const std::vector<double>& retryIntervals,
                 bool compressionEnabled, TLMHttpCompletionHandler handler) override {
    sent.push_back({url, method, headers, data, retryIntervals, compressionEnabled, handler});
  }
  void pause() override {}
  void resume() override {}
  void setEnabled(bool, bool) override {}
  std::shared_ptr<TLMHttpClientDelegate> delegate() const override { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<TLMHttpClientDelegate> delegate) override {
    delegate_ = std::move(delegate);
  }

  std::vector<Sent> sent;

 private:
  std::weak_ptr<TLMHttpClientDelegate> delegate_;
};

struct Answer {
  std::string batchId;
  std::optional<TLMHttpResponse> response;
  std::optional<std::string> body;
  std::optional<base::Error> error;
};

class TLMIngestionTest : public ::testing::Test {
 protected:
  ~TLMIngestionTest() override { TLMTicketCache::sharedInstance().clearCache(); }

  TLMIngestionProtocol::CompletionHandler record() {
    return [this](const std::string& batchId, const auto& response, const auto& body,
                  const auto& error) {
      answers_.push_back({batchId, response, body, error});
    };
  }

  std::shared_ptr<TLMDarAvevedIngestion> own() {
    auto ingestion = TLMDarAvevedIngestion::make(client_, "https://in.example/base", "INSTALL");
    ingestion->setAppSecret(kSecret);
    return ingestion;
  }

  static constexpr const char* kSecret = "0123456789abcdef0123456789abcdef0123";
  std::shared_ptr<RecordingClient> client_ = std::make_shared<RecordingClient>();
  dispatch::ManualQueue queue_;
  std::vector<Answer> answers_;
};

TEST_F(TLMIngestionTest, BuildsTheSendUrlFromBasePathAndQuery) {
  struct Case {
    std::string base;
    std::string path;
    TLMHttpIngestion::QueryStrings query;
    std::optional<std::string> url;
  } cases[] = {
      {"https://in.example",
       "/logs",
       {{"api-version", "1.0.0"}},
       "https://in.example/logs?api-version=1.0.0"},
      {"https://in.example/prefix",
       "/Collector/1.0",
       {},
       "https://in.example/prefix/Collector/1.0"},
      {"http://h:8080", "/p", {{"a", "b c"}, {"d", "é"}}, "http://h:8080/p?a=b%20c&d=%C3%A9"},
      {"not a url", "/logs", {}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.base);
    EXPECT_EQ(TLMHttpIngestion::buildURL(c.base, c.path, c.query), c.url);
  }
  EXPECT_EQ(own()->sendURL(), "https://in.example/base/logs?api-version=1.0.0");
  EXPECT_EQ(TLMCollectorIngestion::make(client_, "https://c.example")->sendURL(),
            "https://c.example/Collector/1.0");
}

TEST_F(TLMIngestionTest, SetBaseUrlMovesTheEndpointAndKeepsTheQuery) {
  tlmtest::LogCapture logs;
  auto ingestion = own();
  ingestion->setBaseURL("http://other:81/x");
  EXPECT_EQ(ingestion->sendURL(), "http://other:81/x/logs?api-version=1.0.0");
  EXPECT_EQ(ingestion->baseURL(), "http://other:81/x");

  ingestion->setBaseURL("::not a url::");
  EXPECT_EQ(ingestion->sendURL(), "http://other:81/x/logs?api-version=1.0.0");
  EXPECT_TRUE(
      logs.contains("Failed to update HTTP URL http://other:81/x/logs?api-version=1.0.0 "
                    "with ::not a url::"));
}

TEST_F(TLMIngestionTest, OwnEndpointPostsTheContainerWithItsHeaders) {
  auto ingestion = own();
  auto batch = container("B1", {std::make_shared<TestLog>("a/b")});
  ingestion->sendAsync(&batch, record());
  ASSERT_EQ(client_->sent.size(), 1u);
  const auto& sent = client_->sent[0];
  EXPECT_EQ(sent.url, "https://in.example/base/logs?api-version=1.0.0");
  EXPECT_EQ(sent.method, "POST");
  EXPECT_EQ(sent.headers, (TLMHttpHeaders{{"Content-Type", "application/json"},
                                          {"Install-ID", "INSTALL"},
                                          {"App-Secret", kSecret}}));
  EXPECT_EQ(sent.data, batch.serializeLog());
  EXPECT_NE(sent.data->find("\"sid\":\"a/b\""), std::string::npos);
  EXPECT_EQ(sent.retryIntervals, (std::vector<double>{10, 300, 1200}));
  EXPECT_TRUE(sent.compressionEnabled);

  sent.handler(std::string("ok"), TLMHttpResponse{200, {}}, std::nullopt);
  ASSERT_EQ(answers_.size(), 1u);
  EXPECT_EQ(answers_[0].batchId, "B1");
  EXPECT_EQ(answers_[0].response->statusCode, 200);
  EXPECT_EQ(answers_[0].body, "ok");
}

TEST_F(TLMIngestionTest, InvalidContainersAreAnsweredAtOnce) {
  tlmtest::LogCapture logs;
  auto invalidLog = std::make_shared<TestLog>();
  invalidLog->device = nullptr;
  auto empty = container("E", {});
  auto invalid = container("I", {std::make_shared<TestLog>(), invalidLog});
  auto ownIngestion = own();
  auto collector = TLMCollectorIngestion::make(client_, "https://c.example");
  for (TLMIngestionProtocol* ingestion : {static_cast<TLMIngestionProtocol*>(ownIngestion.get()),
                                          static_cast<TLMIngestionProtocol*>(collector.get())}) {
    answers_.clear();
    ingestion->sendAsync(nullptr, record());
    ingestion->sendAsync(&empty, record());
    ingestion->sendAsync(&invalid, record());
    ASSERT_EQ(answers_.size(), 3u);
    EXPECT_EQ(answers_[1].batchId, "E");
    EXPECT_EQ(answers_[2].batchId, "I");
    for (const auto& answer : answers_) {
      EXPECT_EQ(answer.error, base::Error(kTLMErrorDomain, 1, "Invalid log container."));
      EXPECT_FALSE(answer.response);
    }
  }
  EXPECT_TRUE(client_->sent.empty());
  EXPECT_TRUE(logs.contains("Invalid log container."));
}

TEST_F(TLMIngestionTest, OwnEndpointWithoutAppSecretSendsNothing) {
  tlmtest::LogCapture logs;
  auto ingestion = TLMDarAvevedIngestion::make(client_, "https://in.example", "INSTALL");
  EXPECT_FALSE(ingestion->isReadyToSend());
  auto batch = container("B", {std::make_shared<TestLog>()});
  ingestion->sendAsync(&batch, record());
  EXPECT_TRUE(client_->sent.empty());
  EXPECT_TRUE(answers_.empty());
  EXPECT_TRUE(logs.contains("DarAveved ingestion is used without app secret."));
  ingestion->setAppSecret("s");
  EXPECT_TRUE(ingestion->isReadyToSend());
  EXPECT_TRUE(TLMCollectorIngestion::make(client_, "https://c.example")->isReadyToSend());
}

// A disabled ingestion answers at once, so its callers free their in-flight batches.
TEST_F(TLMIngestionTest, DisabledIngestionAnswersCancelledAtOnce) {
  auto ingestion = own();
  ingestion->setEnabled(false, false);
  auto batch = container("B", {std::make_shared<TestLog>()});
  ingestion->sendAsync(&batch, record());
  EXPECT_TRUE(client_->sent.empty());
  ASSERT_EQ(answers_.size(), 1u);
  EXPECT_EQ(answers_[0].batchId, "B");
  EXPECT_EQ(answers_[0].error, base::Error(kTLMErrorDomain, 2, "The operation was canceled."));

  ingestion->setEnabled(true, false);
  ingestion->sendAsync(&batch, record());
  EXPECT_EQ(client_->sent.size(), 1u);
}

// Kept disabled (a program with nowhere to send), sends are dropped unanswered.
TEST_F(TLMIngestionTest, IngestionKeptDisabledDropsSendsUnanswered) {
  auto ingestion = own();
  ingestion->setDropsSendsWhileDisabled(true);
  ingestion->setEnabled(false, false);
  auto batch = container("B", {std::make_shared<TestLog>()});
  ingestion->sendAsync(&batch, record());
  EXPECT_TRUE(client_->sent.empty());
  EXPECT_TRUE(answers_.empty());
}

TEST_F(TLMIngestionTest, CollectorPostsOneLinePerLogWithTokensTimeAndTickets) {
  TLMTicketCache::sharedInstance().setTicket("T1", "k1");
  TLMTicketCache::sharedInstance().setTicket("T2", "k2");
  TLMTicketCache::sharedInstance().setTicket("gone", "k3");
  TLMTicketCache::sharedInstance().setTicket(std::nullopt, "k3");
  auto ingestion = TLMCollectorIngestion::make(client_, "https://c.example", queue_.clock());
  auto batch =
      container("C", {std::make_shared<TicketLog>("one", std::vector<std::string>{"t-a", "t-b"},
                                                  std::vector<std::string>{"k1", "k3"}),
                      std::make_shared<TicketLog>("two", std::vector<std::string>{"t-b"}),
                      std::make_shared<TicketLog>("three", std::vector<std::string>{"t-c"},
                                                  std::vector<std::string>{"k2"})});
  ingestion->sendAsync(&batch, record());
  ASSERT_EQ(client_->sent.size(), 1u);
  const auto& sent = client_->sent[0];
  EXPECT_EQ(sent.url, "https://c.example/Collector/1.0");
  EXPECT_EQ(sent.headers, (TLMHttpHeaders{
                              {"Content-Type", "application/x-json-stream; charset=utf-8"},
                              {"Client-Version", "ACS-iOS-ObjectiveC-no-4.1.0-no"},
                              {"apikey", "t-a,t-b,t-c"},
                              {"Upload-Time", "1714557600000"},
                              {"Tickets", R"({"k1":"T1","k2":"T2"})"},
                          }));
  EXPECT_EQ(sent.data,
            "{\"ver\":\"3.0\",\"name\":\"one\",\"iKey\":\"o:k/x\"}\n"
            "{\"ver\":\"3.0\",\"name\":\"two\",\"iKey\":\"o:k/x\"}\n"
            "{\"ver\":\"3.0\",\"name\":\"three\",\"iKey\":\"o:k/x\"}\n");

  sent.handler(std::nullopt, TLMHttpResponse{200, {}}, std::nullopt);
  ASSERT_EQ(answers_.size(), 1u);
  EXPECT_EQ(answers_[0].batchId, "C");
}

TEST_F(TLMIngestionTest, CollectorSendsNoTicketsHeaderWhenNoTicketIsFound) {
  TLMTicketCache::sharedInstance().setTicket("T1", "k1");
  auto ingestion = TLMCollectorIngestion::make(client_, "https://c.example");
  auto batch = container("C", {std::make_shared<TicketLog>("one", std::vector<std::string>{"t"},
                                                           std::vector<std::string>{"other"}),
                               std::make_shared<TestLog>()});
  ingestion->sendAsync(&batch, record());
  ASSERT_EQ(client_->sent.size(), 1u);
  EXPECT_FALSE(client_->sent[0].headers.contains("Tickets"));
}

TEST_F(TLMIngestionTest, RequestLogMasksSecretsOnlyAtVerbose) {
  auto ownIngestion = own();
  auto collector = TLMCollectorIngestion::make(client_, "https://c.example");
  const std::string tickets = R"({"k1":"p:secret1","k2":"plain"})";
  {
    tlmtest::LogCapture logs(TLMLogLevel::Verbose);
    ownIngestion->willSendHTTPRequestToURL("https://u", {{"App-Secret", kSecret}, {"A", "b"}});
    collector->willSendHTTPRequestToURL(
        "https://c", {{"apikey", "short,0123456789abcdef"}, {"Tickets", tickets}});
    std::vector<std::string> messages;
    for (const auto& line : logs.lines())
      messages.push_back(line.message);
    EXPECT_EQ(
        messages,
        (std::vector<std::string>{
            "URL: https://u",
            "Headers: A = b, App-Secret = " + std::string(28, '*') + "cdef0123",
            "URL: https://c",
            R"(Headers: apikey = *****,********89abcdef, Tickets = {"k1":"p:***","k2":"plain"})",
        }));
  }
  tlmtest::LogCapture quiet(TLMLogLevel::Debug);
  ownIngestion->willSendHTTPRequestToURL("https://u", {{"App-Secret", kSecret}});
  ownIngestion->printResponse(TLMHttpResponse{200, {}}, std::string("x"), std::nullopt);
  EXPECT_TRUE(quiet.lines().empty());
}

TEST_F(TLMIngestionTest, ResponseLogShowsTheBodyByContentType) {
  tlmtest::LogCapture logs;
  auto collector = TLMCollectorIngestion::make(client_, "https://c.example");
  struct Case {
    std::string contentType;
    std::string body;
    std::string payload;
  } cases[] = {
      {"application/json; charset=utf-8", R"({"TOKEN" : "abc","n":1})",
       "{\n  \"token\" : \"***\",\n  \"n\": 1\n}"},
      {"text/plain", R"(x "token":"abc")", R"(x "token" : "***")"},
      {"", "plain", "plain"},
      {"image/png", "\x89PNG", "<binary>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.contentType);
    TLMHttpHeaders headers;
    if (!c.contentType.empty()) headers["Content-Type"] = c.contentType;
    collector->printResponse(TLMHttpResponse{200, headers}, c.body, std::nullopt);
    EXPECT_EQ(logs.lines().back().message,
              "HTTP response received with status code: 200, payload:\n" + c.payload);
  }
  collector->printResponse(std::nullopt, std::nullopt,
                           base::Error(kTLMURLErrorDomain, -1004, "no"));
  EXPECT_EQ(logs.lines().back().message,
            "HTTP request error with code: -1004, domain: TLMURLErrorDomain, description: no");
  EXPECT_EQ(logs.lines().back().level, TLMLogLevel::Debug);
}

// A long body is logged only up to the bound; a token the cut ends inside is
// still hidden.
TEST_F(TLMIngestionTest, ResponseLogShowsABoundedPrefixOfALongBody) {
  tlmtest::LogCapture logs(TLMLogLevel::Verbose);
  auto collector = TLMCollectorIngestion::make(client_, "https://c.example");
  const std::size_t bound = TLMHttpIngestion::kMaxLoggedBodyBytes;
  const std::string lead(bound - 10, 'x');
  const std::string body = lead + R"("token":"abcdefghijklmnop")" + std::string(1 << 20, 'y');
  collector->printResponse(TLMHttpResponse{200, {{"Content-Type", "text/plain"}}}, body,
                           std::nullopt);
  EXPECT_EQ(logs.lines().back().message,
            "HTTP response received with status code: 200, payload:\n" + lead +
                R"("token" : "***")" + "\n... (" + std::to_string(body.size() - bound) +
                " more bytes not shown)");
}

TEST_F(TLMIngestionTest, ETagIsReadWhateverTheHeaderCase) {
  EXPECT_EQ(TLMHttpIngestion::eTagFromResponse({200, {{"ETAG", "\"v2\""}}}), "\"v2\"");
  EXPECT_EQ(TLMHttpIngestion::eTagFromResponse({200, {{"Other", "x"}}}), std::nullopt);
}

}  // namespace
}  // namespace tlm
