#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <vector>

#include "recorder.h"
#include "rx/rx.h"

namespace wendrix::rx {
namespace {

using std::chrono::milliseconds;
using testing::next;
using testing::Recorder;
using testing::Subscription;
using testing::Tracked;

// Disposing a time operator's subscription cancels what it still had
// pending: nothing arrives later, and its source is let go at that moment.
TEST(TimeOperators, DisposalCancelsWhatIsPending) {
  struct Case {
    const char* name;
    std::function<Observable<int>(const Observable<int>&, Scheduler&)> transform;
    long disposeAt;
    std::vector<Subscription> expected;
  };
  const milliseconds d(100);
  const Case cases[] = {
      {"delay",
       [d](auto o, auto& s) { return o.delay(d, s); },
       50,
       {{milliseconds(0), milliseconds(50)}}},
      {"delaySubscription before it subscribed",
       [d](auto o, auto& s) { return o.delaySubscription(d, s); },
       50,
       {}},
      {"delaySubscription after it subscribed",
       [d](auto o, auto& s) { return o.delaySubscription(d, s); },
       150,
       {{milliseconds(100), milliseconds(150)}}},
      {"timeout",
       [d](auto o, auto& s) {
         return o.filter([](const int& v) { return v > 1; })
             .take(1)
             .asSingle()
             .timeout(d, s)
             .asObservable();
       },
       50,
       {{milliseconds(0), milliseconds(50)}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    dispatch::ManualQueue queue;
    QueueScheduler scheduler(queue);
    PublishSubject<int> source;
    Tracked<int> tracked(queue, source.asObservable());
    testing::script(queue, source, {next(10, 1), next(120, 2)});
    Recorder<int> recorder(queue);
    Disposable subscription =
        c.transform(tracked.stream(), scheduler).subscribe(recorder.observer());
    queue.advance(milliseconds(c.disposeAt));
    const auto before = recorder.events();
    subscription.dispose();
    queue.advance(std::chrono::seconds(60));
    EXPECT_EQ(recorder.events(), before);
    EXPECT_EQ(tracked.subscriptions(), c.expected);
  }
}

TEST(TimeOperators, DisposalBeforeATimeoutNeverStartsTheFallback) {
  dispatch::ManualQueue queue;
  QueueScheduler scheduler(queue);
  Tracked<int> fallback(queue, Observable<int>::just(2));
  Disposable subscription = Single<int>::create([](const auto&) { return Disposable(); })
                                .timeout(milliseconds(100), fallback.stream().asSingle(), scheduler)
                                .subscribe([](int) {});
  queue.advance(milliseconds(50));
  subscription.dispose();
  queue.advance(std::chrono::seconds(1));
  EXPECT_TRUE(fallback.subscriptions().empty());
}

}  // namespace
}  // namespace wendrix::rx
