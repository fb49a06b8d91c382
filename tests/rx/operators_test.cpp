#include <gtest/gtest.h>

#include <chrono>
#include <functional>
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
using testing::Recorded;
using testing::Recorder;

using Transform = std::function<Observable<int>(const Observable<int>&, Scheduler&)>;

// One operator applied to a hot source: the source's events at their virtual
// times, and the recorded output of a subscription made at time 0.
struct OperatorCase {
  std::string name;
  Transform transform;
  std::vector<Recorded<int>> input;
  std::vector<Recorded<int>> expected;
};

std::ostream& operator<<(std::ostream& os, const OperatorCase& c) {
  return os << c.name;
}

class OperatorTable : public ::testing::TestWithParam<OperatorCase> {};

TEST_P(OperatorTable, RecordsTheExpectedEvents) {
  const OperatorCase& c = GetParam();
  dispatch::ManualQueue queue;
  QueueScheduler scheduler(queue);
  PublishSubject<int> source;
  testing::script(queue, source, c.input);
  Recorder<int> recorder(queue);
  Disposable subscription =
      c.transform(source.asObservable(), scheduler).subscribe(recorder.observer());
  queue.advance(std::chrono::seconds(10));
  EXPECT_EQ(recorder.events(), c.expected);
  subscription.dispose();
}

Observable<int> after(int ms, int value, Scheduler& s) {
  return Observable<int>::just(value).delay(milliseconds(ms), s);
}

const std::vector<Recorded<int>> kOneTwoThree = {next(100, 1), next(200, 2), next(300, 3),
                                                 completed<int>(400)};

INSTANTIATE_TEST_SUITE_P(
    Operators, OperatorTable,
    ::testing::Values(
        OperatorCase{"map", [](auto o, auto&) { return o.map([](int v) { return v * 10; }); },
                     kOneTwoThree,
                     {next(100, 10), next(200, 20), next(300, 30), completed<int>(400)}},
        OperatorCase{"mapForwardsErrors",
                     [](auto o, auto&) { return o.map([](int v) { return v; }); },
                     {next(100, 1), failed<int>(200, kBoom), next(300, 3)},
                     {next(100, 1), failed<int>(200, kBoom)}},
        OperatorCase{"filter",
                     [](auto o, auto&) { return o.filter([](const int& v) { return v != 2; }); },
                     kOneTwoThree,
                     {next(100, 1), next(300, 3), completed<int>(400)}},
        OperatorCase{"compactMap",
                     [](auto o, auto&) {
                       return o.compactMap([](int v) {
                         return v % 2 ? std::optional<int>(v * 2) : std::nullopt;
                       });
                     },
                     kOneTwoThree,
                     {next(100, 2), next(300, 6), completed<int>(400)}},
        OperatorCase{"skipWhile",
                     [](auto o, auto&) { return o.skipWhile([](const int& v) { return v < 2; }); },
                     {next(100, 1), next(200, 2), next(300, 1), completed<int>(400)},
                     {next(200, 2), next(300, 1), completed<int>(400)}},
        OperatorCase{"take2", [](auto o, auto&) { return o.take(2); }, kOneTwoThree,
                     {next(100, 1), next(200, 2), completed<int>(200)}},
        OperatorCase{"take0", [](auto o, auto&) { return o.take(0); }, kOneTwoThree,
                     {completed<int>(0)}},
        OperatorCase{"startWith", [](auto o, auto&) { return o.startWith(7, 8); },
                     kOneTwoThree,
                     {next(0, 7), next(0, 8), next(100, 1), next(200, 2), next(300, 3),
                      completed<int>(400)}},
        OperatorCase{"distinctUntilChanged",
                     [](auto o, auto&) { return o.distinctUntilChanged(); },
                     {next(100, 1), next(200, 1), next(300, 2), next(400, 1), completed<int>(500)},
                     {next(100, 1), next(300, 2), next(400, 1), completed<int>(500)}},
        OperatorCase{"distinctUntilChangedWithComparator",
                     [](auto o, auto&) {
                       return o.distinctUntilChanged(
                           [](const int& a, const int& b) { return a / 10 == b / 10; });
                     },
                     {next(100, 11), next(200, 15), next(300, 21), completed<int>(400)},
                     {next(100, 11), next(300, 21), completed<int>(400)}},
        OperatorCase{"single", [](auto o, auto&) { return o.single(); },
                     {next(100, 1), next(200, 2)},
                     {next(100, 1), failed<int>(200, RxError::moreThanOneElement())}},
        OperatorCase{"singleOfEmpty", [](auto o, auto&) { return o.single(); },
                     {completed<int>(100)},
                     {failed<int>(100, RxError::noElements())}},
        OperatorCase{"concatWaitsForTheFirstToComplete",
                     [](auto o, auto& s) { return o.concat(after(50, 9, s)); }, kOneTwoThree,
                     {next(100, 1), next(200, 2), next(300, 3), next(450, 9),
                      completed<int>(450)}},
        OperatorCase{"catchError",
                     [](auto o, auto& s) {
                       return o.catchError([&s](const Error& e) {
                         return after(10, static_cast<int>(e.code) * 100, s);
                       });
                     },
                     {next(100, 1), failed<int>(200, kBoom)},
                     {next(100, 1), next(210, 100), completed<int>(210)}},
        OperatorCase{"catchErrorJustReturn",
                     [](auto o, auto&) { return o.catchErrorJustReturn(-1); },
                     {next(100, 1), failed<int>(200, kBoom)},
                     {next(100, 1), next(200, -1), completed<int>(200)}},
        OperatorCase{"delayShiftsValuesAndCompletion",
                     [](auto o, auto& s) { return o.delay(milliseconds(50), s); }, kOneTwoThree,
                     {next(150, 1), next(250, 2), next(350, 3), completed<int>(450)}},
        OperatorCase{"delayForwardsErrorsAtOnceAndDropsPendingValues",
                     [](auto o, auto& s) { return o.delay(milliseconds(50), s); },
                     {next(100, 1), next(120, 2), failed<int>(130, kBoom)},
                     {failed<int>(130, kBoom)}},
        OperatorCase{"delaySubscriptionMissesEarlierHotValues",
                     [](auto o, auto& s) { return o.delaySubscription(milliseconds(150), s); },
                     kOneTwoThree,
                     {next(200, 2), next(300, 3), completed<int>(400)}},
        OperatorCase{"flatMapLatestDropsThePreviousInnerStream",
                     [](auto o, auto& s) {
                       return o.flatMapLatest([&s](int v) {
                         return Observable<int>::merge({after(30, v * 10, s), after(150, v * 100, s)});
                       });
                     },
                     {next(100, 1), next(200, 2), completed<int>(220)},
                     {next(130, 10), next(230, 20), next(350, 200), completed<int>(350)}},
        OperatorCase{"flatMapLatestFailsOnAnInnerError",
                     [](auto o, auto&) {
                       return o.flatMapLatest([](int v) {
                         return v == 2 ? Observable<int>::error(kBoom) : Observable<int>::never();
                       });
                     },
                     {next(100, 1), next(200, 2), next(300, 3)},
                     {failed<int>(200, kBoom)}},
        OperatorCase{"concatMapRunsInnerStreamsOneAfterAnother",
                     [](auto o, auto& s) {
                       return o.concatMap([&s](int v) {
                         return after(100, v, s).concat(after(100, v * 10, s));
                       });
                     },
                     {next(0, 1), next(50, 2), completed<int>(60)},
                     {next(100, 1), next(200, 10), next(300, 2), next(400, 20),
                      completed<int>(400)}},
        OperatorCase{"concatMapStartsAtOnceWhenIdle",
                     [](auto o, auto&) {
                       return o.concatMap([](int v) { return Observable<int>::just(v); });
                     },
                     kOneTwoThree,
                     {next(100, 1), next(200, 2), next(300, 3), completed<int>(400)}},
        OperatorCase{"shareWithOneSubscriberIsTransparent",
                     [](auto o, auto&) { return o.share(1); }, kOneTwoThree, kOneTwoThree},
        OperatorCase{"doOnSeesEveryEvent",
                     [](auto o, auto&) {
                       auto count = std::make_shared<int>(0);
                       return o.doOn({.onNext = [count](const int&) { ++*count; }})
                           .map([count](int v) { return v * 10 + *count; });
                     },
                     kOneTwoThree,
                     {next(100, 11), next(200, 22), next(300, 33), completed<int>(400)}}),
    [](const auto& tested) { return tested.param.name; });

TEST(Merge, InterleavesSourcesCompletesWhenAllDidAndFailsAtTheFirstError) {
  dispatch::ManualQueue queue;
  PublishSubject<int> a, b, c;
  testing::script(queue, a, {next(100, 1), completed<int>(300)});
  testing::script(queue, b, {next(200, 2), completed<int>(400)});
  Recorder<int> both(queue);
  Observable<int>::merge({a.asObservable(), b.asObservable()}).subscribe(both.observer());
  Recorder<int> failing(queue);
  Observable<int>::merge({b.asObservable(), c.asObservable()}).subscribe(failing.observer());
  testing::script(queue, c, {failed<int>(250, kBoom)});
  queue.advance(std::chrono::seconds(1));

  EXPECT_EQ(both.events(), (std::vector{next(100, 1), next(200, 2), completed<int>(400)}));
  EXPECT_EQ(failing.events(), (std::vector{next(200, 2), failed<int>(250, kBoom)}));

  Recorder<int> none(queue);
  Observable<int>::merge({}).subscribe(none.observer());
  EXPECT_EQ(none.events(), (std::vector{completed<int>(1000)}));
}

TEST(CombineLatest, EmitsOnceAllHaveValuesAndCompletesWhenAllCompleted) {
  dispatch::ManualQueue queue;
  PublishSubject<int> a;
  PublishSubject<std::string> b;
  BehaviorSubject<int> c(100);
  testing::script(queue, a, {next(100, 1), next(300, 2), completed<int>(400)});
  testing::script(
      queue, b,
      {next(200, std::string("x")), next(350, std::string("y")), completed<std::string>(500)});
  Recorder<std::string> two(queue), three(queue);
  combineLatest(a.asObservable(), b.asObservable(), [](int n, const std::string& s) {
    return s + std::to_string(n);
  }).subscribe(two.observer());
  combineLatest(a.asObservable(), b.asObservable(), c.asObservable(),
                [](int n, const std::string& s, int m) { return s + std::to_string(n + m); })
      .subscribe(three.observer());
  queue.advance(std::chrono::milliseconds(320));
  c.onNext(200);
  c.onCompleted();
  queue.advance(std::chrono::seconds(1));

  EXPECT_EQ(two.events(), (std::vector{next(200, std::string("x1")), next(300, std::string("x2")),
                                       next(350, std::string("y2")), completed<std::string>(500)}));
  EXPECT_EQ(three.events(),
            (std::vector{next(200, std::string("x101")), next(300, std::string("x102")),
                         next(320, std::string("x202")), next(350, std::string("y202")),
                         completed<std::string>(500)}));
}

TEST(CombineLatest, FailsAtTheFirstError) {
  PublishSubject<int> a, b;
  std::optional<Error> error;
  Disposable d = combineLatest(a.asObservable(), b.asObservable())
                     .subscribe(nullptr, [&error](const Error& e) { error = e; });
  a.onNext(1);
  b.onError(kBoom);
  EXPECT_EQ(error, kBoom);
  EXPECT_FALSE(a.hasObservers());
}

TEST(Materialize, TurnsEveryEventIntoAValue) {
  dispatch::ManualQueue queue;
  PublishSubject<int> source;
  Recorder<Event<int>> recorder(queue);
  source.asObservable().materialize().subscribe(recorder.observer());
  source.onNext(1);
  source.onError(kBoom);
  using E = Event<int>;
  EXPECT_EQ(recorder.events(),
            (std::vector{next(0, E::next(1)), next(0, E::error(kBoom)), completed<E>(0)}));
}

TEST(Deferred, CallsTheFactoryAtEachSubscription) {
  int calls = 0;
  auto stream = Observable<int>::deferred([&calls] { return Observable<int>::just(++calls); });
  std::vector<int> values;
  stream.subscribe([&values](int v) { values.push_back(v); });
  stream.subscribe([&values](int v) { values.push_back(v); });
  EXPECT_EQ(values, (std::vector<int>{1, 2}));
}

TEST(DoOn, SubscribeAndDisposeHandlersRunPerSubscription) {
  std::vector<std::string> log;
  PublishSubject<int> source;
  auto stream = source.asObservable().doOn({.onSubscribe = [&log] { log.push_back("subscribe"); },
                                            .onDispose = [&log] { log.push_back("dispose"); }});
  Disposable first = stream.subscribe();
  Disposable second = stream.subscribe();
  first.dispose();
  source.onCompleted();  // ends the second one
  EXPECT_EQ(log, (std::vector<std::string>{"subscribe", "subscribe", "dispose", "dispose"}));
}

TEST(FlatMapLatest, DisposesThePreviousInnerStreamWithItsTimers) {
  dispatch::ManualQueue queue;
  QueueScheduler scheduler(queue);
  PublishSubject<int> source;
  std::vector<testing::Tracked<int>> inners;
  Recorder<int> recorder(queue);
  Disposable d = source.asObservable()
                     .flatMapLatest([&](int v) {
                       inners.emplace_back(queue, after(1000, v, scheduler));
                       return inners.back().stream();
                     })
                     .subscribe(recorder.observer());
  testing::script(queue, source, {next(100, 1), next(300, 2)});
  queue.advance(std::chrono::milliseconds(500));
  ASSERT_EQ(inners.size(), 2u);
  EXPECT_EQ(inners[0].subscriptions(),
            (std::vector<testing::Subscription>{{milliseconds(100), milliseconds(300)}}));
  d.dispose();
  EXPECT_EQ(inners[1].subscriptions(),
            (std::vector<testing::Subscription>{{milliseconds(300), milliseconds(500)}}));
  queue.advance(std::chrono::seconds(5));
  EXPECT_TRUE(recorder.events().empty());
  EXPECT_EQ(queue.pending(), 0u);
}

}  // namespace
}  // namespace wendrix::rx
