#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <string>
#include <thread>

#include "telemetry/http/http_client.h"
#include "telemetry/http/linux/curl_transport.h"
#include "telemetry/ingestion/loopback_server.h"
#include "telemetry/ingestion/thread_queue.h"

namespace tlm {
namespace {

using namespace std::chrono_literals;

struct Result {
  std::optional<TLMHttpResponse> response;
  std::string body;
  std::optional<base::Error> error;
};

Result perform(TLMHttpTransport& transport, TLMHttpRequest request) {
  std::promise<Result> done;
  auto future = done.get_future();
  transport.start(std::move(request), [&done](auto response, auto body, auto error) {
    done.set_value({std::move(response), std::move(body), std::move(error)});
  });
  EXPECT_EQ(future.wait_for(20s), std::future_status::ready);
  return future.get();
}

// A thread's scheduler state letter and its context switches, from
// /proc/self/task/<id>/status.
struct ThreadActivity {
  char state = '?';
  long switches = 0;
};

// The ids of the process's threads named `name`.
std::set<std::string> threadsNamed(const std::string& name) {
  std::set<std::string> ids;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
    std::string comm;
    std::getline(std::ifstream(entry.path() / "comm"), comm);
    if (comm == name) ids.insert(entry.path().filename().string());
  }
  return ids;
}

ThreadActivity threadActivity(const std::string& id) {
  ThreadActivity activity;
  std::ifstream status("/proc/self/task/" + id + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with("State:") && line.size() > 7) activity.state = line[7];
    if (line.find("ctxt_switches:") != std::string::npos)
      activity.switches += std::stol(line.substr(line.find(':') + 1));
  }
  return activity;
}

// An idle worker sleeps until there is work: it neither wakes by itself nor
// misses the request that ends its sleep, and stopping it is immediate.
TEST(TLMCurlTransportTest, AnIdleWorkerSleepsUntilThereIsWork) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "ThreadSanitizer's runtime wakes the threads it watches";
#endif
  tlmtest::LoopbackServer server;
  server.script({{200, {}, "first"}, {200, {}, "second"}});
  auto transport = TLMMakeCurlTransport({});
  // The worker has named itself once it answered.
  ASSERT_FALSE(perform(*transport, {server.baseUrl() + "/a", "GET", {}, {}}).error);
  const auto workers = threadsNamed(kTLMHttpWorkerThreadName);
  ASSERT_EQ(workers.size(), 1u);
  const std::string worker = *workers.begin();

  // Waits for the worker to go back to sleep after the answer.
  for (int i = 0; i < 2000 && threadActivity(worker).state != 'S'; ++i)
    std::this_thread::sleep_for(1ms);
  const long asleep = threadActivity(worker).switches;
  // Longer than any periodic wake-up could stay away.
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(threadActivity(worker).switches, asleep);

  auto result = perform(*transport, {server.baseUrl() + "/b", "GET", {}, {}});
  ASSERT_FALSE(result.error) << *result.error;
  EXPECT_EQ(result.body, "second");

  const auto stopping = std::chrono::steady_clock::now();
  transport.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - stopping, 5s);
}

// A transport that sends nothing has no worker (and invalidating it needs
// none); the first request starts one.
TEST(TLMCurlTransportTest, TheWorkerStartsWithTheFirstRequest) {
  tlmtest::LoopbackServer server;
  server.script({{200, {}, "first"}});
  const std::size_t before = threadsNamed(kTLMHttpWorkerThreadName).size();
  auto idle = TLMMakeCurlTransport({});
  idle->invalidateAndCancel();
  auto transport = TLMMakeCurlTransport({});
  EXPECT_EQ(threadsNamed(kTLMHttpWorkerThreadName).size(), before);
  idle.reset();

  auto result = perform(*transport, {server.baseUrl() + "/a", "GET", {}, {}});
  ASSERT_FALSE(result.error) << *result.error;
  EXPECT_EQ(result.body, "first");
  EXPECT_EQ(threadsNamed(kTLMHttpWorkerThreadName).size(), before + 1);
}

TEST(TLMCurlTransportTest, SendsTheRequestExactlyAndReadsTheAnswer) {
  tlmtest::LoopbackServer server;
  server.script(
      {{201, {{"ETag", "\"v1\""}, {"x-ms-retry-after-ms", "7"}}, "{\"a\":1}", "application/json"}});
  auto transport = TLMMakeCurlTransport({});
  const std::string body(5000, 'z');
  auto result = perform(*transport, {server.baseUrl() + "/logs?api-version=1.0.0",
                                     "POST",
                                     {{"Content-Type", "application/json"}, {"Install-ID", "I"}},
                                     body});

  ASSERT_FALSE(result.error) << *result.error;
  EXPECT_EQ(result.response->statusCode, 201);
  EXPECT_EQ(result.response->headers.at("etag"), "\"v1\"");
  EXPECT_EQ(result.response->headers.at("X-MS-Retry-After-Ms"), "7");
  EXPECT_EQ(result.body, "{\"a\":1}");

  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].target, "/logs?api-version=1.0.0");
  EXPECT_EQ(requests[0].header("Content-Type"), "application/json");
  EXPECT_EQ(requests[0].header("Install-ID"), "I");
  EXPECT_FALSE(requests[0].hasHeader("Expect"));
  EXPECT_EQ(requests[0].body, body);
}

TEST(TLMCurlTransportTest, MapsConnectionFailures) {
  tlmtest::LoopbackServer holding;
  holding.script({tlmtest::ScriptedResponse::held()});
  tlmtest::ClosingServer closing;
  tlmtest::ClosedPort closed;
  // Only the held request may run into the short time-out: the others keep
  // the default, so a slow machine cannot turn their errors into time-outs.
  TLMHttpTransportConfiguration shortTimeout;
  shortTimeout.timeout = 300ms;
  auto quick = TLMMakeCurlTransport(shortTimeout);
  auto patient = TLMMakeCurlTransport({});
  struct Case {
    std::string name;
    std::string url;
    std::int64_t code;
    TLMHttpTransport& transport;
  } cases[] = {
      {"refused", "http://127.0.0.1:" + std::to_string(closed.port()) + "/logs",
       TLMURLErrorCannotConnectToHost, *patient},
      // Closed without a reply: an ordinary error, never "connection lost".
      {"closed", closing.baseUrl() + "/logs", TLMURLErrorUnknown, *patient},
      {"time-out", holding.baseUrl() + "/logs", TLMURLErrorTimedOut, *quick},
      {"bad URL", "nonsense://", TLMURLErrorBadURL, *patient},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto result = perform(c.transport, {c.url, "POST", {}, std::string("{}")});
    EXPECT_FALSE(result.response);
    ASSERT_TRUE(result.error);
    EXPECT_EQ(result.error->domain, kTLMURLErrorDomain);
    EXPECT_EQ(result.error->code, c.code) << result.error->description;
  }
  EXPECT_GE(closing.accepted(), 1);
}

// A reply that is no HTTP answer is the server's fault, never a bad URL.
TEST(TLMCurlTransportTest, MalformedRepliesAreBadServerResponses) {
  std::string endlessHead = "HTTP/1.1 200 OK\r\n";
  while (endlessHead.size() < 1024 * 1024)
    endlessHead += "X-Filler: " + std::string(1000, 'f') + "\r\n";
  const struct Case {
    std::string name;
    std::string reply;
  } cases[] = {
      {"HTTP/0.9", "<html>hello</html>\n"},
      {"garbled status line", "HTTP/1.1 abc OK\r\n\r\n"},
      {"header line without a colon",
       "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nno colon\r\n\r\nhello"},
      {"length that is no number", "HTTP/1.1 200 OK\r\nContent-Length: abc\r\n\r\nhello"},
      {"head without end", endlessHead},
  };
  auto transport = TLMMakeCurlTransport({});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    tlmtest::ClosingServer server(c.reply);
    auto result = perform(*transport, {server.baseUrl() + "/logs", "POST", {}, std::string("{}")});
    EXPECT_FALSE(result.response);
    ASSERT_TRUE(result.error);
    EXPECT_EQ(result.error->domain, kTLMURLErrorDomain);
    EXPECT_EQ(result.error->code, TLMURLErrorBadServerResponse) << result.error->description;
  }
}

// A server cannot make the client hold more than the bound: a longer body is
// cut there and its transfer ended, answered with the response it belongs to.
TEST(TLMCurlTransportTest, KeepsOnlyABoundedPrefixOfALongBody) {
  tlmtest::LoopbackServer server;
  server.script({tlmtest::ScriptedResponse::streaming(64 * 1024 * 1024), {202, {}, "short"}});
  auto transport = TLMMakeCurlTransport({});
  auto result = perform(*transport, {server.baseUrl() + "/logs", "POST", {}, std::string("{}")});
  ASSERT_FALSE(result.error) << *result.error;
  EXPECT_EQ(result.response->statusCode, 200);
  EXPECT_EQ(result.body.size(), kTLMMaxResponseBodyBytes);
  EXPECT_EQ(result.body.find_first_not_of('x'), std::string::npos);

  // The transport goes on as before.
  auto next = perform(*transport, {server.baseUrl() + "/logs", "POST", {}, std::string("{}")});
  ASSERT_FALSE(next.error) << *next.error;
  EXPECT_EQ(next.response->statusCode, 202);
  EXPECT_EQ(next.body, "short");
}

TEST(TLMCurlTransportTest, InvalidateCancelsRequestsInFlightAndRefusesNewOnes) {
  tlmtest::LoopbackServer server;
  server.script({tlmtest::ScriptedResponse::held()});
  auto transport = TLMMakeCurlTransport({});
  std::promise<Result> done;
  transport->start({server.baseUrl() + "/logs", "POST", {}, std::string("x")},
                   [&done](auto response, auto body, auto error) {
                     done.set_value({std::move(response), std::move(body), std::move(error)});
                   });
  ASSERT_TRUE(server.waitForRequests(1));
  transport->invalidateAndCancel();
  auto future = done.get_future();
  ASSERT_EQ(future.wait_for(20s), std::future_status::ready);
  EXPECT_EQ(future.get().error->code, TLMURLErrorCancelled);
  EXPECT_EQ(perform(*transport, {server.baseUrl(), "GET", {}, {}}).error->code,
            TLMURLErrorCancelled);
}

// Through the client: a connection closed without a reply finishes the call
// with its error instead of parking it until a network change.
TEST(TLMCurlTransportTest, ClientAnswersAConnectionClosedWithoutReply) {
  tlmtest::ClosingServer closing;
  tlmtest::ThreadQueue timers;
  TLMHttpClient client(timers, TLMCurlTransportFactory());
  std::promise<std::optional<base::Error>> done;
  client.sendAsync(closing.baseUrl() + "/logs", "POST", {}, std::string("{}"),
                   [&done](const auto&, const auto&, const auto& error) { done.set_value(error); });
  auto future = done.get_future();
  ASSERT_EQ(future.wait_for(20s), std::future_status::ready);
  auto error = future.get();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, TLMURLErrorUnknown);
  EXPECT_EQ(client.pendingCallCount(), 0u);
}

}  // namespace
}  // namespace tlm
