#include "engine/rx_event_notifier.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dispatch/manual_queue.h"
#include "winsys/fake/fake_desktop.h"

namespace wendrix {
namespace {

using winsys::ApplicationLaunchedEvent;
using winsys::WindowCreatedEvent;
using winsys::WindowDestroyedEvent;
using winsys::WindowTitleChangedEvent;
using winsys::fake::AppSetup;
using winsys::fake::FakeDesktop;
using winsys::fake::WindowSetup;

// Events come from a fake desktop, as the window system delivers them.
class RxEventNotifierTest : public ::testing::Test {
 protected:
  void SetUp() override {
    desktop.windowSystem().initialize(notifier);
    queue.runUntilIdle();
    app = desktop.launch(AppSetup::withId("org.example.Editor"));
  }

  std::shared_ptr<winsys::fake::FakeWindow> openWindow(std::string title) {
    return desktop.addWindow(app, WindowSetup::titled(std::move(title)));
  }

  dispatch::ManualQueue queue;
  FakeDesktop desktop{queue};
  RxEventNotifier notifier;
  std::shared_ptr<winsys::fake::FakeApplication> app;
};

TEST_F(RxEventNotifierTest, EventsOfAnUnnamedTypeAreDroppedUntilObserved) {
  openWindow("before");
  EXPECT_FALSE(notifier.hasSubject(WindowCreatedEvent::typeName));

  std::vector<std::string> titles;
  auto sub = notifier.observable<WindowCreatedEvent>().subscribe(
      [&](const WindowCreatedEvent& e) { titles.push_back(e.window->title()); });
  openWindow("after");
  EXPECT_EQ(titles, (std::vector<std::string>{"after"}));
  sub.dispose();
}

TEST_F(RxEventNotifierTest, ObservablesAndHandlersOfOneTypeShareOneSubject) {
  std::vector<std::string> seen;
  notifier.on<WindowCreatedEvent>(
      [&](const WindowCreatedEvent& e) { seen.push_back("on:" + e.window->title()); });
  auto first = notifier.observable<WindowCreatedEvent>().subscribe(
      [&](const WindowCreatedEvent& e) { seen.push_back("first:" + e.window->title()); });
  auto second = notifier.observable<WindowCreatedEvent>().subscribe(
      [&](const WindowCreatedEvent& e) { seen.push_back("second:" + e.window->title()); });

  openWindow("w");
  EXPECT_EQ(seen, (std::vector<std::string>{"on:w", "first:w", "second:w"}));

  // A disposed observable stops; the handler of `on` lives with the notifier.
  first.dispose();
  second.dispose();
  seen.clear();
  openWindow("x");
  EXPECT_EQ(seen, (std::vector<std::string>{"on:x"}));
}

TEST_F(RxEventNotifierTest, MergedEventsEmitOneValuePerEventOfAnyListedType) {
  int count = 0;
  auto merged = notifier.mergedEvents<WindowCreatedEvent, WindowDestroyedEvent>().subscribe(
      [&](const rx::Unit&) { ++count; });
  auto w = openWindow("w");        // created (+ main window changed, not listed)
  desktop.setTitle(w, "renamed");  // not listed
  desktop.destroyWindow(w);        // destroyed
  EXPECT_EQ(count, 2);
  merged.dispose();
}

TEST_F(RxEventNotifierTest, MergedEventsOverNoTypesNeverEmits) {
  bool next = false;
  bool completed = false;
  auto sub = notifier.mergedEvents({}).subscribe([&](const rx::Unit&) { next = true; }, {},
                                                 [&] { completed = true; });
  openWindow("w");
  desktop.terminate(app);
  desktop.launch(AppSetup::withId("org.example.Other"));
  queue.advance(std::chrono::hours(1));
  EXPECT_FALSE(next);
  EXPECT_FALSE(completed);
  sub.dispose();
}

TEST_F(RxEventNotifierTest, SubscriberMayNotifyAndSubscribeWhileDelivering) {
  // A subscriber that triggers further events and subscriptions from inside a
  // delivery: every event still arrives once, in order.
  std::vector<std::string> seen;
  rx::DisposeBag bag;
  notifier.observable<ApplicationLaunchedEvent>()
      .subscribe([&](const ApplicationLaunchedEvent& e) {
        seen.push_back("launched");
        notifier.observable<WindowTitleChangedEvent>()
            .subscribe([&](const WindowTitleChangedEvent& t) {
              seen.push_back("title:" + t.window->title());
            })
            .disposed(bag);
        auto launched = std::static_pointer_cast<winsys::fake::FakeApplication>(e.application);
        desktop.addWindow(launched, WindowSetup::titled("first"));
      })
      .disposed(bag);
  notifier.observable<WindowCreatedEvent>()
      .subscribe(
          [&](const WindowCreatedEvent& e) { seen.push_back("created:" + e.window->title()); })
      .disposed(bag);

  auto other = desktop.launch(AppSetup::withId("org.example.Other"));
  desktop.setTitle(other->windows().front(), "renamed");
  EXPECT_EQ(seen, (std::vector<std::string>{"launched", "created:first", "title:renamed"}));
}

}  // namespace
}  // namespace wendrix
