#include "telemetry/http/http_call.h"

#include <gtest/gtest.h>

#include "dispatch/manual_queue.h"
#include "telemetry/ingestion/loopback_server.h"

namespace tlm {
namespace {

class TLMHttpCallTest : public ::testing::Test {
 protected:
  std::unique_ptr<TLMHttpCall> make(std::optional<std::string> body, TLMHttpHeaders headers = {},
                                    TLMHttpCall::Compressor compressor = {},
                                    TLMRandomSource random = {}) {
    return std::make_unique<TLMHttpCall>(
        "http://h/logs", "POST", headers, std::move(body), std::vector<double>{10, 300, 1200}, true,
        nullptr, TLMHttpCall::Environment{&queue_, std::move(random), std::move(compressor)});
  }

  dispatch::ManualQueue queue_;
};

TEST_F(TLMHttpCallTest, CompressesBodiesOf1400BytesAndMore) {
  auto small = make(std::string(1399, 'a'));
  EXPECT_EQ(small->data(), std::string(1399, 'a'));
  EXPECT_FALSE(small->headers().contains("Content-Encoding"));
  EXPECT_EQ(small->headers().at("Content-Type"), "application/json");

  auto large = make(std::string(1400, 'a'));
  EXPECT_EQ(large->headers().at("Content-Encoding"), "gzip");
  EXPECT_EQ(tlmtest::gunzip(*large->data()), std::string(1400, 'a'));
}

TEST_F(TLMHttpCallTest, KeepsTheCallersContentTypeAndAddsNoneWithoutBody) {
  auto call = make(std::string("x"), {{"content-type", "text/plain"}});
  EXPECT_EQ(call->headers().size(), 1u);
  EXPECT_EQ(call->headers().at("Content-Type"), "text/plain");
  EXPECT_TRUE(make(std::nullopt)->headers().empty());
}

TEST_F(TLMHttpCallTest, FailedCompressionSendsTheBodyUncompressed) {
  auto call = make(std::string(2000, 'b'), {},
                   [](const std::string&) -> std::optional<std::string> { return std::nullopt; });
  EXPECT_EQ(call->data(), std::string(2000, 'b'));
  EXPECT_FALSE(call->headers().contains("Content-Encoding"));
}

TEST_F(TLMHttpCallTest, DelayIsHalfTheIntervalPlusAJitterBelowTheOtherHalf) {
  std::uint32_t draw = 0;
  std::vector<std::uint32_t> bounds;
  auto call = make(std::nullopt, {}, {}, [&](std::uint32_t bound) {
    bounds.push_back(bound);
    return draw == 0 ? 0 : bound - 1;
  });
  EXPECT_EQ(call->delayForRetryCount(0), 5000u);
  EXPECT_EQ(call->delayForRetryCount(2), 600000u);
  draw = 1;
  EXPECT_EQ(call->delayForRetryCount(0), 9999u);
  EXPECT_EQ(call->delayForRetryCount(1), 299999u);
  EXPECT_EQ(bounds, (std::vector<std::uint32_t>{5000, 600000, 5000, 150000}));
}

TEST_F(TLMHttpCallTest, RetryTimerCountsAndResetCancels) {
  int fired = 0;
  auto call = make(std::nullopt);
  call->startRetryTimer(503, 2500, [&] { ++fired; });
  EXPECT_EQ(call->retryCount(), 1);
  call->resetRetry();
  EXPECT_EQ(call->retryCount(), 0);
  queue_.advance(std::chrono::hours(1));
  EXPECT_EQ(fired, 0);
  EXPECT_FALSE(call->hasReachedMaxRetries());
}

}  // namespace
}  // namespace tlm
