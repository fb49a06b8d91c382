#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
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
using testing::Recorded;
using testing::Recorder;
using testing::Subscription;
using testing::Tracked;

const Error kBang("test", 2, "bang");

struct SingleFixture : ::testing::Test {
  dispatch::ManualQueue queue;
  QueueScheduler scheduler{queue};

  // Succeeds with `value` `ms` after subscription.
  Single<int> after(long ms, int value) {
    return Observable<int>::just(value).delay(milliseconds(ms), scheduler).asSingle();
  }
  // Fails with `error` `ms` after subscription.
  Single<int> failAfter(long ms, Error error) {
    return after(ms, 0).flatMap([error](int) { return Single<int>::error(error); });
  }
  // The events of one subscription made now, over the next minute, timed
  // from that subscription.
  template <class T>
  std::vector<Recorded<T>> record(const Single<T>& single) {
    Recorder<T> recorder(queue);
    const milliseconds start = testing::now(queue);
    Disposable d = single.asObservable().subscribe(recorder.observer());
    queue.advance(std::chrono::seconds(60));
    d.dispose();
    std::vector<Recorded<T>> events = recorder.events();
    for (auto& r : events)
      r.time -= start;
    return events;
  }
};

TEST_F(SingleFixture, TakeOneAsSingleYieldsTheFirstValueAndEndsTheUpstream) {
  PublishSubject<int> source;
  Tracked<int> tracked(queue, source.asObservable());
  testing::script(queue, source, {next(100, 1), next(200, 2)});
  EXPECT_EQ(record(tracked.stream().take(1).asSingle()),
            (std::vector{next(100, 1), completed<int>(100)}));
  EXPECT_EQ(tracked.subscriptions(),
            (std::vector<Subscription>{{milliseconds(0), milliseconds(100)}}));
  EXPECT_FALSE(source.hasObservers());
}

// `asSingle` and `first` on a hot source: the source's events, and what the
// Single records.
template <class R>
struct SingleCase {
  const char* name;
  std::vector<Recorded<int>> input;
  std::vector<Recorded<R>> expected;
};

template <class R>
void checkCases(const std::vector<SingleCase<R>>& cases,
                const std::function<Single<R>(const Observable<int>&)>& transform) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    dispatch::ManualQueue queue;
    PublishSubject<int> source;
    testing::script(queue, source, c.input);
    Recorder<R> recorder(queue);
    transform(source.asObservable()).asObservable().subscribe(recorder.observer());
    queue.advance(std::chrono::seconds(1));
    EXPECT_EQ(recorder.events(), c.expected);
    EXPECT_FALSE(source.hasObservers());
  }
}

TEST(AsSingle, NeedsExactlyOneElement) {
  checkCases<int>(
      {
          {"one", {next(100, 1), completed<int>(200)}, {next(200, 1), completed<int>(200)}},
          {"none", {completed<int>(200)}, {failed<int>(200, RxError::noElements())}},
          {"two",
           {next(100, 1), next(150, 2), completed<int>(200)},
           {failed<int>(150, RxError::moreThanOneElement())}},
          {"error", {failed<int>(100, kBoom)}, {failed<int>(100, kBoom)}},
      },
      [](const Observable<int>& o) { return o.asSingle(); });
}

TEST(First, GivesTheFirstValueOrNoneWhenTheStreamEndsEmpty) {
  using O = std::optional<int>;
  checkCases<O>(
      {
          {"value", {next(100, 1), next(200, 2)}, {next(100, O(1)), completed<O>(100)}},
          {"empty", {completed<int>(100)}, {next(100, O()), completed<O>(100)}},
          {"error", {failed<int>(100, kBoom)}, {failed<O>(100, kBoom)}},
      },
      [](const Observable<int>& o) { return o.first(); });
}

TEST_F(SingleFixture, ZipOfACollectionRunsAllAtOnceAndKeepsListOrder) {
  std::vector<int> subscribed;
  std::vector<Single<int>> members;
  for (int i : {0, 1, 2}) {
    members.push_back(after(300 - i * 100, i).doOn({.onSubscribe = [&subscribed, i] {
      subscribed.push_back(i);
    }}));
  }
  EXPECT_EQ(record(zip(members)),
            (std::vector{next(300, std::vector<int>{0, 1, 2}), completed<std::vector<int>>(300)}));
  EXPECT_EQ(subscribed, (std::vector<int>{0, 1, 2}));
}

TEST_F(SingleFixture, ZipOfACollectionFailsWithTheFirstErrorAndDropsTheOthers) {
  PublishSubject<int> slow;
  Tracked<int> tracked(queue, slow.asObservable());
  std::vector<Single<int>> members = {tracked.stream().take(1).asSingle(), failAfter(200, kBang),
                                      failAfter(100, kBoom)};
  EXPECT_EQ(record(zip(members)), (std::vector{failed<std::vector<int>>(100, kBoom)}));
  EXPECT_EQ(tracked.subscriptions(),
            (std::vector<Subscription>{{milliseconds(0), milliseconds(100)}}));
  EXPECT_EQ(queue.pending(), 0u);
}

TEST_F(SingleFixture, ZipOfAnEmptyCollectionSucceedsAtOnce) {
  EXPECT_EQ(record(zip(std::vector<Single<int>>{})),
            (std::vector{next(0, std::vector<int>{}), completed<std::vector<int>>(0)}));
}

TEST_F(SingleFixture, ZipOfTwo) {
  using P = std::tuple<int, std::string>;
  EXPECT_EQ(record(zip(after(200, 1), Single<std::string>::just("a"))),
            (std::vector{next(200, P(1, "a")), completed<P>(200)}));
  EXPECT_EQ(record(zip(after(200, 1), failAfter(100, kBoom), [](int a, int b) { return a + b; })),
            (std::vector{failed<int>(100, kBoom)}));
}

// Restores count every member's outcome: a failure becomes a value, so one
// failing member does not fail the zip.
TEST_F(SingleFixture, MaterializedMembersLetZipCollectFailures) {
  using E = Event<int>;
  std::vector<Single<E>> members;
  for (const auto& s : {after(100, 1), failAfter(200, kBoom)}) {
    members.push_back(s.asObservable().materialize().take(1).asSingle());
  }
  EXPECT_EQ(record(zip(members)), (std::vector{next(200, std::vector{E::next(1), E::error(kBoom)}),
                                               completed<std::vector<E>>(200)}));
}

TEST_F(SingleFixture, CatchErrorRecovers) {
  EXPECT_EQ(record(failAfter(100, kBoom).catchErrorJustReturn(-1)),
            (std::vector{next(100, -1), completed<int>(100)}));
  EXPECT_EQ(record(failAfter(100, kBoom).catchError([this](const Error& e) {
              return after(50, static_cast<int>(e.code));
            })),
            (std::vector{next(150, 1), completed<int>(150)}));
  EXPECT_EQ(record(after(100, 5).catchErrorJustReturn(-1)),
            (std::vector{next(100, 5), completed<int>(100)}));
}

TEST_F(SingleFixture, TimeoutCountsFromTheSubscription) {
  struct Case {
    const char* name;
    std::function<Single<int>()> make;
    std::vector<Recorded<int>> expected;
  };
  const milliseconds limit(20'000);
  const Case cases[] = {
      {"result in time",
       [&] { return after(19'999, 1).timeout(limit, scheduler); },
       {next(19'999, 1), completed<int>(19'999)}},
      {"error in time",
       [&] { return failAfter(100, kBoom).timeout(limit, scheduler); },
       {failed<int>(100, kBoom)}},
      {"too late",
       [&] { return after(20'001, 1).timeout(limit, scheduler); },
       {failed<int>(20'000, RxError::timeout())}},
      {"too late, other",
       [&] { return after(30'000, 1).timeout(limit, after(500, 2), scheduler); },
       {next(20'500, 2), completed<int>(20'500)}},
      {"synchronous",
       [&] { return Single<int>::just(3).timeout(limit, scheduler); },
       {next(0, 3), completed<int>(0)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(record(c.make()), c.expected);
    EXPECT_EQ(queue.pending(), 0u);
  }
}

TEST_F(SingleFixture, DoOnSubscribeRunsAtEachSubscriptionAfterEarlierSteps) {
  std::vector<long> subscribedAt;
  auto step = [&] {
    return Single<int>::just(2).doOn(
        {.onSubscribe = [&] { subscribedAt.push_back(testing::now(queue).count()); }});
  };
  auto chain = after(100, 1).flatMap([&](int) { return step(); });
  record(chain);
  record(chain);
  EXPECT_EQ(subscribedAt, (std::vector<long>{100, 60'100}));

  auto failing = failAfter(100, kBoom).flatMap([&](int) { return step(); });
  EXPECT_EQ(record(failing), (std::vector{failed<int>(100, kBoom)}));
  EXPECT_EQ(subscribedAt.size(), 2u);
}

TEST_F(SingleFixture, CreateDeliversOneResultAndDisposesItsResource) {
  int disposals = 0;
  Single<int>::SingleObserver observer;
  auto single = Single<int>::create([&](const Single<int>::SingleObserver& o) {
    observer = o;
    return Disposables::create([&disposals] { ++disposals; });
  });
  std::vector<int> values;
  std::vector<Error> errors;
  single.subscribe([&values](int v) { values.push_back(v); },
                   [&errors](const Error& e) { errors.push_back(e); });
  observer(4);
  observer(5);
  observer(kBoom);
  EXPECT_EQ(values, std::vector<int>{4});
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(disposals, 1);
}

TEST_F(SingleFixture, DeferredBuildsAtEachSubscription) {
  int builds = 0;
  auto single = Single<int>::deferred([&builds] { return Single<int>::just(++builds); });
  EXPECT_EQ(record(single), (std::vector{next(0, 1), completed<int>(0)}));
  EXPECT_EQ(record(single.map([](int v) { return v * 10; })),
            (std::vector{next(0, 20), completed<int>(0)}));
}

}  // namespace
}  // namespace wendrix::rx
