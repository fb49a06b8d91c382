#include "telemetry/http/http_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>

#include "dispatch/manual_queue.h"
#include "telemetry/http/http_fakes.h"

namespace tlm {
namespace {

using namespace std::chrono_literals;
using tlmtest::FakeTransport;

struct Outcome {
  std::optional<std::string> body;
  std::optional<TLMHttpResponse> response;
  std::optional<base::Error> error;
};

class TLMHttpClientTest : public ::testing::Test {
 protected:
  TLMHttpClientTest() {
    client_ = std::make_unique<TLMHttpClient>(TLMHttpClient::Dependencies{
        &queue_,
        reachability_,
        FakeTransport::factory(transport_),
        [this](std::uint32_t bound) { return jitterAtMost_ ? bound - 1 : 0; },
        {}});
  }

  // Sends one request; its outcomes are appended to the returned list.
  std::shared_ptr<std::vector<Outcome>> send(std::vector<double> intervals = {10, 300, 1200}) {
    auto outcomes = std::make_shared<std::vector<Outcome>>();
    client_->sendAsync("http://h/logs", "POST", {{"App-Secret", "s"}}, std::string("{}"), intervals,
                       true, [outcomes](const auto& body, const auto& response, const auto& error) {
                         outcomes->push_back({body, response, error});
                       });
    return outcomes;
  }

  dispatch::ManualQueue queue_;
  std::shared_ptr<FakeTransport::Log> transport_ = std::make_shared<FakeTransport::Log>();
  std::shared_ptr<tlmtest::FakeReachability> reachability_ =
      std::make_shared<tlmtest::FakeReachability>();
  bool jitterAtMost_ = false;
  std::unique_ptr<TLMHttpClient> client_;
};

TEST_F(TLMHttpClientTest, RetriesRecoverableStatusesWithinHalfToAllOfEachInterval) {
  for (bool atMost : {false, true}) {
    SCOPED_TRACE(atMost);
    jitterAtMost_ = atMost;
    auto outcomes = send();
    const std::int64_t intervalsMs[] = {10000, 300000, 1200000};
    for (std::int64_t interval : intervalsMs) {
      tlmtest::respond(*transport_, 503);
      const auto earliest = interval / 2 + (atMost ? interval / 2 - 1 : 0);
      queue_.advance(std::chrono::milliseconds(earliest - 1));
      EXPECT_TRUE(transport_->inFlight.empty()) << "sent too early";
      queue_.advance(1ms);
      ASSERT_EQ(transport_->inFlight.size(), 1u) << "not sent in time";
    }
    tlmtest::respond(*transport_, 200, {}, "ok");
    ASSERT_EQ(outcomes->size(), 1u);
    EXPECT_EQ(outcomes->at(0).response->statusCode, 200);
    EXPECT_EQ(outcomes->at(0).body, "ok");
    EXPECT_EQ(client_->pendingCallCount(), 0u);
  }
}

TEST_F(TLMHttpClientTest, UsedUpRetriesPauseTheClientAndAnswerTheLastResponse) {
  auto outcomes = send();
  for (int attempt = 0; attempt < 4; ++attempt) {
    ASSERT_EQ(transport_->inFlight.size(), 1u) << attempt;
    tlmtest::respond(*transport_, 500, {}, std::to_string(attempt));
    queue_.advance(1h);
  }
  EXPECT_EQ(transport_->started.size(), 4u);
  ASSERT_EQ(outcomes->size(), 1u);
  EXPECT_EQ(outcomes->at(0).body, "3");
  EXPECT_EQ(outcomes->at(0).response->statusCode, 500);
  EXPECT_TRUE(client_->isPaused());
}

TEST_F(TLMHttpClientTest, RetryAfterHeaderSetsTheDelayWhenNumeric) {
  struct Case {
    std::string value;
    std::chrono::milliseconds due;
  } cases[] = {{"2500", 2500ms}, {"0", 0ms}, {"soon", 5000ms}, {"-3", 5000ms}, {"", 5000ms}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    send();
    tlmtest::respond(*transport_, 429, {{"X-MS-Retry-After-Ms", c.value}});
    if (c.due > 0ms) {
      queue_.advance(c.due - 1ms);
      EXPECT_TRUE(transport_->inFlight.empty());
      queue_.advance(1ms);
    } else {
      queue_.runUntilIdle();
    }
    ASSERT_EQ(transport_->inFlight.size(), 1u);
    tlmtest::respond(*transport_, 200);
  }
}

TEST_F(TLMHttpClientTest, StatusZeroWithoutTransportErrorIsRetried) {
  auto outcomes = send();
  tlmtest::respond(*transport_, 0);
  EXPECT_TRUE(outcomes->empty());
  queue_.advance(10s);
  EXPECT_EQ(transport_->started.size(), 2u);
}

TEST_F(TLMHttpClientTest, FatalStatusDisablesTheClientAndCancelsOtherCalls) {
  for (std::int64_t status : {401, 404}) {
    SCOPED_TRACE(status);
    auto waiting = send();
    tlmtest::respond(*transport_, 503);  // waiting for its retry timer
    auto failing = send();
    tlmtest::respond(*transport_, status, {}, "nope");

    ASSERT_EQ(failing->size(), 1u);
    EXPECT_EQ(failing->at(0).response->statusCode, status);
    ASSERT_EQ(waiting->size(), 1u);
    EXPECT_TRUE(waiting->at(0).error->is(kTLMErrorDomain, 2));
    EXPECT_EQ(waiting->at(0).error->description, "The operation was canceled.");
    EXPECT_FALSE(client_->isEnabled());
    queue_.advance(1h);
    EXPECT_EQ(waiting->size(), 1u);

    auto refused = send();
    ASSERT_EQ(refused->size(), 1u);
    EXPECT_TRUE(refused->at(0).error->is(kTLMErrorDomain, 3));
    EXPECT_EQ(refused->at(0).error->description, "The service is disabled.");

    client_->setEnabled(true, false);
    EXPECT_FALSE(client_->isPaused());
    EXPECT_EQ(client_->pendingCallCount(), 0u);
  }
}

TEST_F(TLMHttpClientTest, DisableWithDeletionCancelsCallsInFlight) {
  auto outcomes = send();
  client_->setEnabled(false, true);
  ASSERT_EQ(outcomes->size(), 1u);
  EXPECT_TRUE(outcomes->at(0).error->is(kTLMErrorDomain, 2));
  EXPECT_EQ(transport_->invalidations, 1);
  // The cancelled request's own answer changes nothing.
  tlmtest::respond(*transport_, 200);
  EXPECT_EQ(outcomes->size(), 1u);
}

TEST_F(TLMHttpClientTest, CallCancelledWhileItsRetryTimerFiresIsNotSentAgain) {
  // A queue whose timers ignore cancellation: the retry task has already started running.
  class FiringQueue final : public dispatch::Queue {
   public:
    void async(dispatch::Task task) override { tasks.push_back(std::move(task)); }
    dispatch::TimerHandle after(dispatch::Duration, dispatch::Task task) override {
      tasks.push_back(std::move(task));
      return dispatch::TimerHandle::wrap([] {}).first;
    }
    const dispatch::Clock& clock() const override { return dispatch::SystemClock::instance(); }
    std::vector<dispatch::Task> tasks;
  } firing;
  TLMHttpClient client(TLMHttpClient::Dependencies{
      &firing, reachability_, FakeTransport::factory(transport_), {}, {}});
  int handled = 0;
  client.sendAsync("http://h/logs", "POST", {}, std::nullopt,
                   [&](const auto&, const auto&, const auto&) { ++handled; });
  tlmtest::respond(*transport_, 503);
  ASSERT_EQ(firing.tasks.size(), 1u);

  client.setEnabled(false, true);
  EXPECT_EQ(handled, 1);
  client.setEnabled(true, false);
  firing.tasks[0]();
  EXPECT_EQ(transport_->started.size(), 1u);
  EXPECT_EQ(client.pendingCallCount(), 0u);
  EXPECT_EQ(handled, 1);
}

TEST_F(TLMHttpClientTest, NetworkLossPausesAndItsReturnSendsWithAFreshRetrySeries) {
  auto outcomes = send();
  tlmtest::respond(*transport_, 503);
  reachability_->set(false);
  EXPECT_TRUE(client_->isPaused());
  queue_.advance(1h);
  EXPECT_EQ(transport_->started.size(), 1u);

  reachability_->set(true);
  EXPECT_FALSE(client_->isPaused());
  for (int attempt = 0; attempt < 4; ++attempt) {
    ASSERT_EQ(transport_->inFlight.size(), 1u) << attempt;
    EXPECT_TRUE(outcomes->empty());
    tlmtest::respond(*transport_, 503);
    queue_.advance(1h);
  }
  EXPECT_EQ(transport_->started.size(), 5u);
  EXPECT_EQ(outcomes->size(), 1u);
}

TEST_F(TLMHttpClientTest, OfflineAndSecureConnectionErrorsKeepTheCallForTheNextResume) {
  for (std::int64_t code : {-1009, -1005, -1200}) {
    SCOPED_TRACE(code);
    auto outcomes = send();
    tlmtest::fail(*transport_, code);
    EXPECT_TRUE(outcomes->empty());
    EXPECT_EQ(client_->pendingCallCount(), 1u);
    reachability_->set(false);
    reachability_->set(true);
    ASSERT_EQ(transport_->inFlight.size(), 1u);
    tlmtest::respond(*transport_, 200);
    EXPECT_EQ(outcomes->size(), 1u);
  }
}

TEST_F(TLMHttpClientTest, OtherTransportErrorsReachTheHandler) {
  for (std::int64_t code : {-1, -1001, -1004}) {
    SCOPED_TRACE(code);
    auto outcomes = send();
    tlmtest::fail(*transport_, code);
    ASSERT_EQ(outcomes->size(), 1u);
    EXPECT_EQ(outcomes->at(0).error->code, code);
    EXPECT_FALSE(outcomes->at(0).response);
    EXPECT_EQ(client_->pendingCallCount(), 0u);
  }
}

TEST_F(TLMHttpClientTest, PausedClientHoldsNewCallsUntilResumed) {
  client_->pause();
  auto outcomes = send();
  EXPECT_TRUE(transport_->started.empty());
  client_->resume();
  ASSERT_EQ(transport_->inFlight.size(), 1u);
  tlmtest::respond(*transport_, 200);
  EXPECT_EQ(outcomes->size(), 1u);
}

TEST_F(TLMHttpClientTest, LogsEachOutcomeWithItsLevelAndText) {
  using L = TLMLogLevel;
  tlmtest::LogCapture logs;
  send();
  tlmtest::respond(*transport_, 503);
  reachability_->set(false);
  reachability_->set(true);  // the call goes out again
  tlmtest::fail(*transport_, -1009);
  client_->pause();
  client_->resume();
  tlmtest::fail(*transport_, -1200);
  send();
  tlmtest::fail(*transport_, -1004);
  send();
  client_->setEnabled(false, true);
  tlmtest::respond(*transport_, 200);  // the answer of a cancelled call

  const std::vector<std::pair<L, std::string>> expected = {
      {L::Warning, "Call attempt #0 failed with status code: 503, it will be retried in 5000 ms."},
      {L::Info, "Internet connection is down."},
      {L::Info, "Pause HTTP client."},
      {L::Info, "Internet connection is up."},
      {L::Info, "Resume HTTP client."},
      {L::Info, "HTTP call failed with error: Internet connection is down."},
      {L::Info, "Pause HTTP client."},
      {L::Info, "Resume HTTP client."},
      {L::Info, "HTTP call failed with error: Could not establish secure connection."},
      {L::Error,
       "HTTP request error with code: -1004, domain: TLMURLErrorDomain, description: failed"},
      {L::Info, "Pause HTTP client."},
      {L::Debug, "HTTP call was canceled; do not process further."},
  };
  std::vector<std::pair<L, std::string>> logged;
  for (const auto& line : logs.lines())
    logged.emplace_back(line.level, line.message);
  EXPECT_EQ(logged, expected);
}

// The delegate and the handlers run with the client's lock released: another
// thread can use the client meanwhile, so a caller's own lock cannot deadlock
// against the client's.
TEST_F(TLMHttpClientTest, CallsOutWithoutHoldingItsLock) {
  auto usableFromAnotherThread = [this] {
    auto other = std::async(std::launch::async, [this] { return client_->pendingCallCount(); });
    return other.wait_for(5s) == std::future_status::ready;
  };
  struct Delegate final : TLMHttpClientDelegate {
    std::function<void(const std::string&, const TLMHttpHeaders&)> onSend;
    void willSendHTTPRequestToURL(const std::string& url, const TLMHttpHeaders& headers) override {
      onSend(url, headers);
    }
  };
  auto delegate = std::make_shared<Delegate>();
  std::vector<bool> free;
  delegate->onSend = [&](const std::string& url, const TLMHttpHeaders& headers) {
    EXPECT_EQ(url, "http://h/logs");
    EXPECT_EQ(headers.at("Content-Type"), "application/json");
    free.push_back(usableFromAnotherThread());
  };
  client_->setDelegate(delegate);

  auto waiting = send();
  tlmtest::respond(*transport_, 503);
  queue_.advance(10s);  // second attempt: the delegate is told again
  client_->sendAsync(
      "http://h/logs", "POST", {}, std::string("{}"),
      [&](const auto&, const auto&, const auto&) { free.push_back(usableFromAnotherThread()); });
  tlmtest::respond(*transport_, 200);  // the retried call
  tlmtest::respond(*transport_, 404);  // disables: both handlers run
  EXPECT_EQ(free, (std::vector<bool>{true, true, true, true}));

  // Re-enabling sends the calls kept while disabled without deletion.
  client_->setEnabled(true, false);
  send();
  tlmtest::respond(*transport_, 503);
  client_->setEnabled(false, false);
  client_->setEnabled(true, false);
  EXPECT_EQ(transport_->inFlight.size(), 1u);
  EXPECT_EQ(free.size(), 6u);
  EXPECT_EQ(std::count(free.begin(), free.end(), false), 0);
}

}  // namespace
}  // namespace tlm
