#include "winsys/promise.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "dispatch/manual_queue.h"
#include "winsys/promise_single.h"

namespace wendrix::winsys {
namespace {

using namespace std::chrono_literals;

base::Error failure(std::string text) {
  return base::Error("Test", 7, std::move(text));
}

TEST(PromiseTest, SettlesOnceAndRunsHandlersLaterOnTheQueue) {
  dispatch::ManualQueue queue;
  auto [promise, resolver] = Promise<int>::pending(queue);
  std::vector<int> seen;
  promise.done([&](const base::Result<int>& r) { seen.push_back(r.value()); });

  EXPECT_TRUE(resolver.fulfill(1));
  EXPECT_FALSE(resolver.fulfill(2));
  EXPECT_FALSE(resolver.reject(failure("late")));
  EXPECT_TRUE(seen.empty()) << "handlers never run inside the settling call";

  // A handler added after settling is not run inline either.
  promise.done([&](const base::Result<int>& r) { seen.push_back(r.value() * 10); });
  EXPECT_TRUE(seen.empty());

  queue.runUntilIdle();
  EXPECT_EQ(seen, (std::vector<int>{1, 10}));
  ASSERT_TRUE(promise.result().has_value());
  EXPECT_EQ(promise.result()->value(), 1);
}

TEST(PromiseTest, ThenAndMapPassRejectionsThrough) {
  dispatch::ManualQueue queue;
  bool continued = false;
  std::optional<base::Result<std::string>> out;
  Promise<int>::error(queue, failure("refused"))
      .then([&](const int& v) {
        continued = true;
        return Promise<int>::value(queue, v + 1);
      })
      .map([](const int& v) { return std::to_string(v); })
      .done([&](const base::Result<std::string>& r) { out = r; });
  queue.runUntilIdle();
  EXPECT_FALSE(continued);
  ASSERT_TRUE(out && !out->ok());
  EXPECT_EQ(out->error(), failure("refused"));

  out.reset();
  Promise<int>::value(queue, 41)
      .then([&](const int& v) { return Promise<int>::value(queue, v + 1); })
      .map([](const int& v) { return std::to_string(v); })
      .done([&](const base::Result<std::string>& r) { out = r; });
  queue.runUntilIdle();
  ASSERT_TRUE(out && out->ok());
  EXPECT_EQ(out->value(), "42");
}

TEST(PromiseTest, RecoverReplacesFailuresButLetsCancellationThrough) {
  dispatch::ManualQueue queue;
  auto recovered = [&](base::Error error) {
    std::optional<base::Result<int>> out;
    Promise<int>::error(queue, std::move(error))
        .recover([&](const base::Error&) { return Promise<int>::value(queue, 0); })
        .done([&](const base::Result<int>& r) { out = r; });
    queue.runUntilIdle();
    return out;
  };

  auto plain = recovered(failure("refused"));
  ASSERT_TRUE(plain && plain->ok());
  EXPECT_EQ(plain->value(), 0);

  auto cancelled = recovered(PromiseCancelled::make());
  ASSERT_TRUE(cancelled && !cancelled->ok());
  EXPECT_TRUE(PromiseCancelled::is(cancelled->error()));
}

TEST(PromiseTest, AsSingleDeliversTheResultAndDisposalStopsDelivery) {
  dispatch::ManualQueue queue;
  auto [promise, resolver] = Promise<int>::pending(queue);
  auto single = toSingle(promise);
  std::vector<std::string> seen;
  auto kept = single.subscribe([&](const int& v) { seen.push_back("kept " + std::to_string(v)); },
                               [&](const base::Error&) { seen.push_back("kept error"); });
  auto dropped = single.subscribe([&](const int&) { seen.push_back("dropped"); });
  dropped.dispose();
  resolver.fulfill(5);
  EXPECT_TRUE(seen.empty());
  queue.runUntilIdle();
  EXPECT_EQ(seen, (std::vector<std::string>{"kept 5"}));

  std::optional<base::Error> error;
  toSingle(Promise<int>::error(queue, failure("refused")))
      .subscribe([](const int&) {}, [&](const base::Error& e) { error = e; });
  queue.runUntilIdle();
  EXPECT_EQ(error, failure("refused"));
}

}  // namespace
}  // namespace wendrix::winsys
