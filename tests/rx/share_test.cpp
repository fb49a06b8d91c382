#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "recorder.h"
#include "rx/rx.h"

namespace wendrix::rx {
namespace {

using std::chrono::milliseconds;
using testing::completed;
using testing::failed;
using testing::kBoom;
using testing::next;
using testing::Recorder;
using testing::Subscription;
using testing::Tracked;

struct ShareFixture : ::testing::Test {
  dispatch::ManualQueue queue;
  PublishSubject<int> source;
  Tracked<int> tracked{queue, source.asObservable()};

  void at(long ms) { queue.advance(milliseconds(ms) - queue.elapsed()); }
};

TEST_F(ShareFixture, WhileConnectedSharesOneSubscriptionAndReplaysToLateSubscribers) {
  auto shared = tracked.stream().share(1);
  Recorder<int> a(queue), b(queue);
  Disposable da = shared.subscribe(a.observer());
  at(100);
  source.onNext(1);
  at(200);
  Disposable db = shared.subscribe(b.observer());
  source.onNext(2);
  at(300);
  da.dispose();
  source.onNext(3);
  at(400);
  db.dispose();

  EXPECT_EQ(a.events(), (std::vector{next(100, 1), next(200, 2)}));
  EXPECT_EQ(b.events(), (std::vector{next(200, 1), next(200, 2), next(300, 3)}));
  EXPECT_EQ(tracked.subscriptions(),
            (std::vector<Subscription>{{milliseconds(0), milliseconds(400)}}));
}

TEST_F(ShareFixture, WhileConnectedStartsAfreshAfterAllSubscribersLeft) {
  auto shared = tracked.stream().share(1);
  Recorder<int> first(queue), second(queue);
  Disposable d1 = shared.subscribe(first.observer());
  source.onNext(1);
  at(100);
  d1.dispose();
  at(200);
  Disposable d2 = shared.subscribe(second.observer());  // no stale 1
  source.onNext(2);
  d2.dispose();

  EXPECT_EQ(second.events(), (std::vector{next(200, 2)}));
  EXPECT_EQ(tracked.subscriptions(),
            (std::vector<Subscription>{{milliseconds(0), milliseconds(100)},
                                       {milliseconds(200), milliseconds(200)}}));
}

TEST(ShareWhileConnected, StartsAfreshAfterTheSourceEnded) {
  dispatch::ManualQueue queue;
  int connections = 0;
  auto shared = Observable<int>::deferred([&connections] {
                  ++connections;
                  return Observable<int>::just(connections);
                }).share(1);
  Recorder<int> first(queue), second(queue);
  shared.subscribe(first.observer());
  shared.subscribe(second.observer());
  EXPECT_EQ(first.events(), (std::vector{next(0, 1), completed<int>(0)}));
  EXPECT_EQ(second.events(), (std::vector{next(0, 2), completed<int>(0)}));
}

TEST_F(ShareFixture, ForeverKeepsTheLastValueAcrossReconnections) {
  auto shared = tracked.stream().share(1, SubjectLifetimeScope::forever);
  Recorder<int> first(queue), second(queue);
  Disposable d1 = shared.subscribe(first.observer());
  source.onNext(1);
  at(100);
  d1.dispose();
  at(200);
  Disposable d2 = shared.subscribe(second.observer());  // 1 replayed, then reconnected
  source.onNext(2);
  d2.dispose();

  EXPECT_EQ(second.events(), (std::vector{next(200, 1), next(200, 2)}));
  EXPECT_EQ(tracked.subscriptions(),
            (std::vector<Subscription>{{milliseconds(0), milliseconds(100)},
                                       {milliseconds(200), milliseconds(200)}}));
}

// A failed initialization stays failed: later subscribers get the last value
// and the error, and the source is not run again.
TEST_F(ShareFixture, ForeverReplaysTheLastValueAndTheStopEventWithoutRetrying) {
  auto shared = tracked.stream().share(1, SubjectLifetimeScope::forever);
  Recorder<int> first(queue), late(queue);
  shared.subscribe(first.observer());
  at(100);
  source.onNext(1);
  source.onError(kBoom);
  at(200);
  shared.subscribe(late.observer());

  EXPECT_EQ(first.events(), (std::vector{next(100, 1), failed<int>(100, kBoom)}));
  EXPECT_EQ(late.events(), (std::vector{next(200, 1), failed<int>(200, kBoom)}));
  EXPECT_EQ(tracked.subscriptions(),
            (std::vector<Subscription>{{milliseconds(0), milliseconds(100)}}));
}

TEST(Share, SubscribersMayLeaveAndJoinDuringADelivery) {
  PublishSubject<int> source;
  auto shared = source.asObservable().share(1);
  std::vector<std::string> log;
  Disposable a, b, c;
  a = shared.subscribe([&](int v) {
    log.push_back("a" + std::to_string(v));
    if (v != 1) return;
    b.dispose();
    c = shared.subscribe([&](int w) { log.push_back("c" + std::to_string(w)); });
  });
  b = shared.subscribe([&](int v) { log.push_back("b" + std::to_string(v)); });
  source.onNext(1);
  source.onNext(2);
  a.dispose();
  c.dispose();
  EXPECT_FALSE(source.hasObservers());
  EXPECT_EQ(log, (std::vector<std::string>{"a1", "c1", "a2", "c2"}));
}

// Many subscribers leaving in any order: the others still get every element
// in subscription order, and the source goes with the last one.
TEST(Share, ManySubscribersLeaveInAnyOrder) {
  PublishSubject<int> source;
  auto shared = source.asObservable().share(1);
  std::vector<int> got;
  std::vector<Disposable> subscriptions;
  for (int i = 0; i < 100; ++i)
    subscriptions.push_back(shared.subscribe([&got, i](int v) { got.push_back(i * 1000 + v); }));
  for (int i = 0; i < 100; i += 2)
    subscriptions[i].dispose();
  for (int i = 97; i >= 0; i -= 4)
    subscriptions[i].dispose();
  source.onNext(1);
  std::vector<int> expected;
  for (int i = 3; i < 100; i += 4)
    expected.push_back(i * 1000 + 1);
  EXPECT_EQ(got, expected);

  got.clear();
  subscriptions.push_back(shared.subscribe([&got](int v) { got.push_back(-v); }));
  source.onNext(2);
  expected = {-1};  // the replay, at subscription
  for (int i = 3; i < 100; i += 4)
    expected.push_back(i * 1000 + 2);
  expected.push_back(-2);
  EXPECT_EQ(got, expected);

  for (const auto& d : subscriptions)
    d.dispose();
  EXPECT_FALSE(source.hasObservers());
}

TEST(Share, ASynchronousSourceEndsItsConnectionAtOnce) {
  int subscriptions = 0;
  auto shared = Observable<int>::create([&subscriptions](const AnyObserver<int>& o) {
                  ++subscriptions;
                  o.onNext(subscriptions);
                  return Disposable();
                }).share(1);
  std::vector<int> values;
  // take(1) leaves during the connection itself; the next subscriber connects anew.
  shared.take(1).subscribe([&values](int v) { values.push_back(v); });
  shared.take(1).subscribe([&values](int v) { values.push_back(v); });
  EXPECT_EQ(values, (std::vector<int>{1, 2}));
}

// Caches that hold shared streams weakly rely on this: a stream lives while
// it has subscribers, and is freed once they are gone.
TEST(Share, ASubscribedStreamStaysAliveUntilItsSubscribersLeave) {
  PublishSubject<int> source;
  auto token = std::make_shared<int>(0);
  std::weak_ptr<int> weak = token;
  std::optional<Observable<int>> shared =
      source.asObservable().map([token](int v) { return v + *token; }).share(1);
  token.reset();
  std::vector<int> values;
  Disposable d = shared->subscribe([&values](int v) { values.push_back(v); });
  shared.reset();
  EXPECT_FALSE(weak.expired());
  source.onNext(1);
  d.dispose();
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(values, std::vector<int>{1});
}

}  // namespace
}  // namespace wendrix::rx
