#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "recorder.h"
#include "rx/rx.h"

namespace wendrix::rx {
namespace {

using testing::completed;
using testing::failed;
using testing::next;
using testing::Recorder;

TEST(Disposables, ActionRunsOnceAndIsReleased) {
  auto token = std::make_shared<int>(0);
  std::weak_ptr<int> weak = token;
  int runs = 0;
  Disposable d = Disposables::create([&runs, token = std::move(token)] { ++runs; });
  Disposable copy = d;
  EXPECT_FALSE(d.isDisposed());
  copy.dispose();
  d.dispose();
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(d.isDisposed());
  EXPECT_TRUE(weak.expired());
  Disposables::create().dispose();  // no action: nothing to run
}

TEST(Disposables, CompositeAndSerialDisposeLateArrivals) {
  std::vector<std::string> log;
  auto marker = [&log](std::string name) {
    return Disposables::create([&log, name] { log.push_back(name); });
  };

  CompositeDisposable group;
  auto a = group.insert(marker("a"));
  group.insert(marker("b"));
  ASSERT_TRUE(a.has_value());
  group.remove(*a);
  EXPECT_EQ(group.count(), 1u);
  group.dispose();
  EXPECT_FALSE(group.insert(marker("c")).has_value());

  SerialDisposable serial;
  serial.set(marker("d"));
  serial.set(marker("e"));  // replaces and disposes "d"
  serial.dispose();
  serial.set(marker("f"));

  EXPECT_EQ(log, (std::vector<std::string>{"a", "b", "c", "d", "e", "f"}));
}

TEST(Disposables, BagDisposesInOrderIncludingWhatIsAddedMeanwhile) {
  std::vector<int> log;
  {
    DisposeBag bag;
    Disposable added = Disposables::create([&log] { log.push_back(3); });
    Disposables::create([&log, &bag, added] {
      log.push_back(1);
      added.disposed(bag);
    }).disposed(bag);
    Disposables::create([&log] { log.push_back(2); }).disposed(bag);
  }
  EXPECT_EQ(log, (std::vector<int>{1, 2, 3}));
}

// A source made with `create` that records how it is driven.
struct ScriptedSource {
  AnyObserver<int> observer;
  int subscriptions = 0;
  int disposals = 0;

  Observable<int> stream() {
    return Observable<int>::create([this](const AnyObserver<int>& o) {
      observer = o;
      ++subscriptions;
      return Disposables::create([this] { ++disposals; });
    });
  }
};

TEST(Observable, NothingIsDeliveredAfterAStopEventAndTheSourceIsReleased) {
  dispatch::ManualQueue queue;
  Recorder<int> recorder(queue);
  ScriptedSource source;
  Disposable subscription = source.stream().subscribe(recorder.observer());
  source.observer.onNext(1);
  source.observer.onCompleted();
  source.observer.onNext(2);
  source.observer.onError(Error("test", 1, "late"));
  EXPECT_EQ(recorder.events(), (std::vector{next(0, 1), completed<int>(0)}));
  EXPECT_EQ(source.disposals, 1);
  subscription.dispose();
  EXPECT_EQ(source.disposals, 1);
}

TEST(Observable, NothingIsDeliveredAfterDisposal) {
  dispatch::ManualQueue queue;
  Recorder<int> recorder(queue);
  ScriptedSource source;
  Disposable subscription = source.stream().subscribe(recorder.observer());
  source.observer.onNext(1);
  subscription.dispose();
  source.observer.onNext(2);
  source.observer.onCompleted();
  EXPECT_EQ(recorder.values(), std::vector<int>{1});
  EXPECT_EQ(source.disposals, 1);
}

TEST(Observable, AStopEventDuringSubscribeReleasesTheSourceAtOnce) {
  int disposals = 0;
  auto source = Observable<int>::create([&disposals](const AnyObserver<int>& o) {
    o.onNext(7);
    o.onCompleted();
    return Disposables::create([&disposals] { ++disposals; });
  });
  std::vector<int> values;
  source.subscribe([&values](int v) { values.push_back(v); });
  EXPECT_EQ(values, std::vector<int>{7});
  EXPECT_EQ(disposals, 1);
}

TEST(Observable, ClosuresAreReleasedWhenTheSubscriptionEnds) {
  PublishSubject<int> subject;
  auto token = std::make_shared<int>(0);
  std::weak_ptr<int> weak = token;
  Disposable kept = subject.asObservable()
                        .map([token](int v) { return v + *token; })
                        .flatMapLatest([token](int v) { return Observable<int>::just(v); })
                        .subscribe([token](int) {});
  token.reset();
  subject.onNext(1);
  EXPECT_FALSE(weak.expired());
  subject.onCompleted();
  EXPECT_TRUE(weak.expired());
  EXPECT_FALSE(subject.hasObservers());
}

TEST(Observable, ASubscriptionDisposedByItsOwnHandlerFinishesThatCallOnly) {
  PublishSubject<int> subject;
  auto token = std::make_shared<int>(5);
  std::weak_ptr<int> weak = token;
  Disposable self;
  std::vector<int> seen;
  self = subject.asObservable()
             .map([token](int v) { return v * *token; })
             .subscribe([token, &self, &seen](int v) {
               self.dispose();
               // The handler and what it holds live until it returns.
               seen.push_back(v + *token);
             });
  token.reset();
  subject.onNext(1);
  subject.onNext(2);
  EXPECT_EQ(seen, std::vector<int>{10});
  EXPECT_TRUE(weak.expired());
  EXPECT_FALSE(subject.hasObservers());
}

TEST(Observable, ErrorsTravelAsValues) {
  dispatch::ManualQueue queue;
  Recorder<int> recorder(queue);
  const Error boom("test", 7, "boom");
  Observable<int>::error(boom).map([](int v) { return v; }).subscribe(recorder.observer());
  EXPECT_EQ(recorder.events(), (std::vector{failed<int>(0, boom)}));
}

TEST(RxError, TimeoutErrorNamesItsDomainAndCode) {
  const Error e = RxError::timeout();
  EXPECT_TRUE(RxError::isTimeout(e));
  EXPECT_FALSE(RxError::isTimeout(RxError::noElements()));
  EXPECT_EQ(e.domain, "Wendrix.RxError");
  EXPECT_EQ(e.description, "The operation couldn\u2019t be completed. (Wendrix.RxError error 3.)");
}

TEST(Schedulers, MainSchedulerRunsOnTheInstalledQueue) {
  dispatch::ManualQueue queue;
  MainScheduler::install(queue);
  int runs = 0;
  MainScheduler::instance().scheduleAfter(std::chrono::seconds(1), [&runs] { ++runs; });
  MainScheduler::instance().schedule([&runs] { ++runs; });
  queue.runUntilIdle();
  EXPECT_EQ(runs, 1);
  queue.advance(std::chrono::seconds(1));
  EXPECT_EQ(runs, 2);
  MainScheduler::reset();
  EXPECT_FALSE(MainScheduler::isInstalled());
}

TEST(Schedulers, CancellingReleasesTheActionAtOnce) {
  dispatch::ManualQueue queue;
  QueueScheduler scheduler(queue);
  auto token = std::make_shared<int>(0);
  std::weak_ptr<int> weak = token;
  bool ran = false;
  Disposable timer = scheduler.scheduleAfter(std::chrono::seconds(20),
                                             [&ran, token = std::move(token)] { ran = true; });
  timer.dispose();
  EXPECT_TRUE(weak.expired());  // not kept until the 20 s have passed
  queue.advance(std::chrono::seconds(30));
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace wendrix::rx
