#include <gtest/gtest.h>

#include <chrono>

#include "engine/actions_fixture.h"

namespace wendrix::testing {
namespace {

using namespace std::chrono_literals;
using winsys::fake::ActivationScript;
using winsys::fake::AppSetup;
using winsys::fake::WindowSetup;

class ActivationQueueTest : public ActionsTest {
 protected:
  std::shared_ptr<winsys::fake::FakeApplication> launch(const std::string& id,
                                                        ActivationScript script) {
    auto app = desktop.launch(AppSetup::withId(id), {WindowSetup::titled(id)});
    desktop.scriptActivation(app->processIdentifier(), script);
    return app;
  }

  rx::Single<rx::Unit> activate(const std::shared_ptr<winsys::fake::FakeApplication>& app) {
    return actions->activationQueue().activateApp(*app->bundleIdentifier(),
                                                  app->processIdentifier());
  }

  std::size_t requests() { return desktop.runningApplications().activations().size(); }
};

TEST_F(ActivationQueueTest, EndsAGraceTimeAfterTheApplicationBecameFrontmost) {
  auto editor = launch("org.example.Editor", ActivationScript::after(500ms));

  auto done = watch(activate(editor), queue);
  queue.advance(5s);

  ASSERT_TRUE(done->succeeded());
  EXPECT_EQ(done->at, 600ms);
  ASSERT_EQ(requests(), 1u);
  EXPECT_EQ(desktop.runningApplications().activations()[0].options,
            platform::activateAllWindows | platform::activateIgnoringOtherApps);
  EXPECT_EQ(desktop.frontmost(), editor);
}

TEST_F(ActivationQueueTest, EachWaiterGivesUpThreeSecondsAfterItsOwnSubscription) {
  auto stuck = launch("org.example.Stuck", ActivationScript::never());

  const auto done = activate(stuck);
  auto first = watch(done, queue);
  std::shared_ptr<Outcome<rx::Unit>> second;
  queue.after(1s, [&] { second = watch(done, queue); });
  queue.advance(10s);

  EXPECT_EQ(first->at, 3s);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->at, 4s);
}

TEST_F(ActivationQueueTest, RunsOneItemAtATimeInArrivalOrder) {
  auto first = launch("org.example.First", ActivationScript::after(500ms));
  auto second = launch("org.example.Second", ActivationScript::never());
  auto third = launch("org.example.Third", ActivationScript::after(0s));

  auto done1 = watch(activate(first), queue);
  auto done2 = watch(activate(second), queue);
  auto done3 = watch(activate(third), queue);
  EXPECT_EQ(requests(), 1u);

  // The second request goes out only once the first is done (frontmost
  // plus the grace time); the third once the second gave up.
  queue.advance(599ms);
  EXPECT_EQ(requests(), 1u);
  queue.advance(1ms);
  EXPECT_EQ(requests(), 2u);
  EXPECT_EQ(done1->at, 600ms);

  // The second's own waiter subscribed at 0 and gave up at 3 s; the queue's
  // subscription started at 0.6 s and waits until 3.6 s.
  queue.advance(3s);
  EXPECT_EQ(done2->at, 3s);
  ASSERT_EQ(requests(), 3u);
  const auto& order = desktop.runningApplications().activations();
  EXPECT_EQ(order[0].processIdentifier, first->processIdentifier());
  EXPECT_EQ(order[1].processIdentifier, second->processIdentifier());
  EXPECT_EQ(order[2].processIdentifier, third->processIdentifier());

  // A waiter's time counts from its own subscription, also while its item
  // is still queued.
  EXPECT_EQ(done3->at, 3s);
}

TEST_F(ActivationQueueTest, AProcessThatQuitMeanwhileEndsEveryWaiterAtItsTurn) {
  auto slow = launch("org.example.Slow", ActivationScript::never());
  auto quitting = launch("org.example.Quitting", ActivationScript::never());
  auto next = launch("org.example.Next", ActivationScript::never());

  watch(activate(slow), queue);
  const auto done = activate(quitting);
  std::shared_ptr<Outcome<rx::Unit>> early;
  std::shared_ptr<Outcome<rx::Unit>> late;
  queue.after(500ms, [&] { early = watch(done, queue); });
  queue.after(2s, [&] { late = watch(done, queue); });
  watch(activate(next), queue);
  queue.after(1s, [&] { desktop.terminate(quitting); });

  // The slow item gives up at 3 s; then the quitting one's turn finds no
  // process and cancels both waiters, and the queue moves on at once.
  queue.advance(3s);
  ASSERT_TRUE(early && late);
  EXPECT_EQ(early->at, 3s);
  EXPECT_EQ(late->at, 3s);
  ASSERT_EQ(requests(), 2u);
  EXPECT_EQ(desktop.runningApplications().activations()[1].processIdentifier,
            next->processIdentifier());
}

TEST_F(ActivationQueueTest, AnAppActiveAlreadyWhileTheQueueIsIdleIsCancelledBeforeItsCallerWaits) {
  auto front = launch("org.example.Front", ActivationScript::after(0s));
  desktop.setFrontmost(front);

  // The queue handles the item inside activateApp: its cancellation goes out
  // before the caller subscribes to `done`, so the caller waits for the
  // fallback.
  auto done = watch(activate(front), queue);
  EXPECT_FALSE(done->settled());
  queue.advance(10s);

  EXPECT_EQ(requests(), 0u);
  EXPECT_EQ(done->at, 3s);
}

TEST_F(ActivationQueueTest, AnAppInFrontAlreadyAtItsTurnEndsItsWaitersAtOnce) {
  auto busy = launch("org.example.Busy", ActivationScript::never());
  auto front = launch("org.example.Front", ActivationScript::never());
  desktop.setFrontmost(front);

  watch(activate(busy), queue);
  const auto done = activate(front);
  std::shared_ptr<Outcome<rx::Unit>> waiter;
  queue.after(1s, [&] { waiter = watch(done, queue); });
  queue.advance(10s);

  // Its turn came at 3 s, when the busy item gave up; no request went out.
  ASSERT_TRUE(waiter);
  EXPECT_EQ(waiter->at, 3s);
  EXPECT_EQ(requests(), 1u);
}

}  // namespace
}  // namespace wendrix::testing
