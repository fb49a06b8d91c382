#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "recorder.h"
#include "rx/rx.h"

namespace wendrix::rx {
namespace {

using testing::completed;
using testing::failed;
using testing::kBoom;
using testing::next;
using testing::Recorder;

TEST(PublishSubject, DeliversOnlyLaterEventsAndReplaysTheStopEvent) {
  dispatch::ManualQueue queue;
  PublishSubject<int> subject;
  Recorder<int> early(queue), late(queue), afterEnd(queue);
  subject.onNext(0);
  subject.subscribe(early.observer());
  EXPECT_TRUE(subject.hasObservers());
  subject.onNext(1);
  subject.subscribe(late.observer());
  subject.onNext(2);
  subject.onError(kBoom);
  subject.onNext(3);
  subject.subscribe(afterEnd.observer());

  EXPECT_EQ(early.events(), (std::vector{next(0, 1), next(0, 2), failed<int>(0, kBoom)}));
  EXPECT_EQ(late.events(), (std::vector{next(0, 2), failed<int>(0, kBoom)}));
  EXPECT_EQ(afterEnd.events(), (std::vector{failed<int>(0, kBoom)}));
  EXPECT_FALSE(subject.hasObservers());
}

TEST(BehaviorSubject, ReplaysTheCurrentValueAndTracksObservers) {
  dispatch::ManualQueue queue;
  BehaviorSubject<std::string> subject("a");
  Recorder<std::string> recorder(queue);
  EXPECT_FALSE(subject.hasObservers());
  Disposable d = subject.subscribe(recorder.observer());
  EXPECT_TRUE(subject.hasObservers());
  subject.onNext("b");
  EXPECT_EQ(subject.value().value(), "b");
  d.dispose();
  EXPECT_FALSE(subject.hasObservers());
  subject.onNext("c");
  EXPECT_EQ(recorder.values(), (std::vector<std::string>{"a", "b"}));
}

TEST(BehaviorSubject, AfterAStopEventNewObserversGetOnlyThatEvent) {
  dispatch::ManualQueue queue;
  BehaviorSubject<int> completedSubject(1), failedSubject(1);
  completedSubject.onCompleted();
  failedSubject.onError(kBoom);
  Recorder<int> a(queue), b(queue);
  completedSubject.subscribe(a.observer());
  failedSubject.subscribe(b.observer());
  EXPECT_EQ(a.events(), (std::vector{completed<int>(0)}));
  EXPECT_EQ(b.events(), (std::vector{failed<int>(0, kBoom)}));
  EXPECT_EQ(completedSubject.value().value(), 1);
  ASSERT_FALSE(failedSubject.value().ok());
  EXPECT_EQ(failedSubject.value().error(), kBoom);
}

// The status menu rebuilds inside a delivery: it disposes the old
// subscriptions and makes new ones on the same subject.
TEST(Subjects, ObserversMayResubscribeAndDisposeDuringADelivery) {
  BehaviorSubject<int> subject(0);
  std::vector<std::string> log;
  DisposeBag bag;
  std::optional<Disposable> second;
  std::vector<Disposable> rebuilt;

  subject
      .subscribe([&](int v) {
        log.push_back("first " + std::to_string(v));
        if (v != 1) return;
        second->dispose();  // not yet reached in this delivery: it gets nothing
        rebuilt.push_back(
            subject.subscribe([&log](int w) { log.push_back("rebuilt " + std::to_string(w)); }));
      })
      .disposed(bag);
  second = subject.subscribe([&log](int v) { log.push_back("second " + std::to_string(v)); });
  subject.onNext(1);
  subject.onNext(2);
  for (auto& d : rebuilt)
    d.dispose();

  EXPECT_EQ(log, (std::vector<std::string>{"first 0", "second 0", "first 1", "rebuilt 1", "first 2",
                                           "rebuilt 2"}));
}

TEST(Subjects, AnObserverMayDisposeItselfDuringADelivery) {
  PublishSubject<int> subject;
  std::vector<int> seen;
  Disposable self;
  self = subject.subscribe([&](int v) {
    seen.push_back(v);
    self.dispose();
  });
  subject.onNext(1);
  subject.onNext(2);
  EXPECT_EQ(seen, std::vector<int>{1});
  EXPECT_FALSE(subject.hasObservers());
}

// A storage writes back while its value is being delivered: every observer
// still sees the values in the order they were emitted and ends with the
// latest one.
TEST(Subjects, AnEmissionDuringADeliveryFollowsIt) {
  BehaviorSubject<int> subject(0);
  std::vector<std::string> log;
  DisposeBag bag;
  subject
      .subscribe([&](int v) {
        log.push_back("a" + std::to_string(v));
        if (v == 1) subject.onNext(2);
      })
      .disposed(bag);
  subject.subscribe([&](int v) { log.push_back("b" + std::to_string(v)); }).disposed(bag);
  subject.onNext(1);
  EXPECT_EQ(log, (std::vector<std::string>{"a0", "b0", "a1", "b1", "a2", "b2"}));
  EXPECT_EQ(subject.value().value(), 2);
}

TEST(Subjects, AsObserverFeedsTheSubject) {
  PublishSubject<int> source;
  BehaviorSubject<int> target(0);
  DisposeBag bag;
  source.subscribe(target.asObserver()).disposed(bag);
  source.onNext(5);
  EXPECT_EQ(target.value().value(), 5);
}

}  // namespace
}  // namespace wendrix::rx
