#include <gtest/gtest.h>

#include <future>

#include "telemetry/http/linux/curl_transport.h"
#include "telemetry/ingestion/collector_ingestion.h"
#include "telemetry/ingestion/dar_aveved_ingestion.h"
#include "telemetry/ingestion/loopback_server.h"
#include "telemetry/ingestion/test_logs.h"
#include "telemetry/ingestion/thread_queue.h"
#include "telemetry/ingestion/ticket_cache.h"

namespace tlm {
namespace {

using namespace std::chrono_literals;
using tlmtest::container;

struct LoopbackAnswer {
  std::string batchId;
  std::optional<TLMHttpResponse> response;
  std::optional<base::Error> error;
};

// The real client and transport against a loopback server.
class TLMIngestionLoopbackTest : public ::testing::Test {
 protected:
  ~TLMIngestionLoopbackTest() override { TLMTicketCache::sharedInstance().clearCache(); }

  LoopbackAnswer sendAndWait(TLMIngestionProtocol& ingestion, const TLMLogContainer& batch) {
    auto done = std::make_shared<std::promise<LoopbackAnswer>>();
    auto future = done->get_future();
    ingestion.sendAsync(&batch, [done](const std::string& batchId, const auto& response,
                                       const auto&, const auto& error) {
      done->set_value({batchId, response, error});
    });
    EXPECT_EQ(future.wait_for(30s), std::future_status::ready);
    return future.get();
  }

  tlmtest::LoopbackServer server_;
  tlmtest::ThreadQueue timers_;
  std::shared_ptr<TLMHttpClient> client_ =
      std::make_shared<TLMHttpClient>(timers_, TLMCurlTransportFactory());
};

TEST_F(TLMIngestionLoopbackTest, OwnEndpointRequestIsExact) {
  auto ingestion = TLMDarAvevedIngestion::make(client_, server_.baseUrl(), "INSTALL-ID-1");
  ingestion->setAppSecret("app-secret-1");
  // One small batch goes out as it is; a large one gzip-compressed.
  auto small = container("S", {std::make_shared<tlmtest::TestLog>()});
  std::vector<std::shared_ptr<TLMAbstractLog>> many;
  for (int i = 0; i < 20; ++i)
    many.push_back(std::make_shared<tlmtest::TestLog>());
  auto large = container("L", many);
  ASSERT_GE(large.serializeLog()->size(), 1400u);

  EXPECT_EQ(sendAndWait(*ingestion, small).response->statusCode, 200);
  EXPECT_EQ(sendAndWait(*ingestion, large).batchId, "L");

  auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 2u);
  for (const auto& request : requests) {
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/logs?api-version=1.0.0");
    EXPECT_EQ(request.header("Content-Type"), "application/json");
    EXPECT_EQ(request.header("Install-ID"), "INSTALL-ID-1");
    EXPECT_EQ(request.header("App-Secret"), "app-secret-1");
    EXPECT_FALSE(request.hasHeader("Expect"));
  }
  EXPECT_EQ(requests[0].body, *small.serializeLog());
  EXPECT_FALSE(requests[0].hasHeader("Content-Encoding"));
  EXPECT_EQ(requests[1].body, *large.serializeLog());
  EXPECT_EQ(requests[1].header("Content-Encoding"), "gzip");
}

TEST_F(TLMIngestionLoopbackTest, CollectorRequestIsExact) {
  TLMTicketCache::sharedInstance().setTicket("ticket-1", "key-1");
  dispatch::VirtualClock clock(dispatch::WallTime(std::chrono::milliseconds(1700000000123)));
  auto ingestion = TLMCollectorIngestion::make(client_, server_.baseUrl(), clock);
  auto batch = container(
      "C", {std::make_shared<tlmtest::TicketLog>("first", std::vector<std::string>{"tok-1"},
                                                 std::vector<std::string>{"key-1"}),
            std::make_shared<tlmtest::TicketLog>("second", std::vector<std::string>{"tok-2"})});
  EXPECT_EQ(sendAndWait(*ingestion, batch).response->statusCode, 200);

  auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& request = requests[0];
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.target, "/Collector/1.0");
  EXPECT_EQ(request.header("Content-Type"), "application/x-json-stream; charset=utf-8");
  EXPECT_EQ(request.header("Client-Version"), "ACS-iOS-ObjectiveC-no-4.1.0-no");
  EXPECT_EQ(request.header("apikey"), "tok-1,tok-2");
  EXPECT_EQ(request.header("Upload-Time"), "1700000000123");
  EXPECT_EQ(request.header("Tickets"), R"({"key-1":"ticket-1"})");
  EXPECT_EQ(request.body,
            "{\"ver\":\"3.0\",\"name\":\"first\",\"iKey\":\"o:k/x\"}\n"
            "{\"ver\":\"3.0\",\"name\":\"second\",\"iKey\":\"o:k/x\"}\n");
}

TEST_F(TLMIngestionLoopbackTest, UnavailableServerIsRetriedUntilItAnswers) {
  server_.script({{503, {}, "busy", "text/plain"},
                  {503, {}, "busy", "text/plain"},
                  {200, {}, "", "text/plain"}});
  auto ingestion = TLMDarAvevedIngestion::make(client_, server_.baseUrl(), "I",
                                               std::vector<double>{0.02, 0.04, 0.08});
  ingestion->setAppSecret("s");
  auto batch = container("R", {std::make_shared<tlmtest::TestLog>()});
  auto answer = sendAndWait(*ingestion, batch);
  EXPECT_EQ(answer.batchId, "R");
  EXPECT_EQ(answer.response->statusCode, 200);
  EXPECT_EQ(server_.requests().size(), 3u);
  EXPECT_FALSE(client_->isPaused());
}

TEST_F(TLMIngestionLoopbackTest, NotFoundDisablesTheClient) {
  server_.script({{404, {}, "", "text/plain"}});
  auto ingestion = TLMCollectorIngestion::make(client_, server_.baseUrl());
  auto batch =
      container("N", {std::make_shared<tlmtest::TicketLog>("n", std::vector<std::string>{"t"})});
  EXPECT_EQ(sendAndWait(*ingestion, batch).response->statusCode, 404);
  EXPECT_FALSE(client_->isEnabled());

  auto refused = sendAndWait(*ingestion, batch);
  EXPECT_EQ(refused.error, base::Error(kTLMErrorDomain, 3, "The service is disabled."));
  EXPECT_EQ(server_.requests().size(), 1u);
}

}  // namespace
}  // namespace tlm
