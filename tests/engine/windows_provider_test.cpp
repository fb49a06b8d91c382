#include "engine/windows_provider.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dispatch/manual_queue.h"
#include "rx/scheduler.h"
#include "winsys/errors.h"
#include "winsys/fake/fake_desktop.h"

namespace wendrix {
namespace {

using namespace std::chrono_literals;
using winsys::ApplicationPtr;
using winsys::StatePtr;
using winsys::fake::AppSetup;
using winsys::fake::FakeApplication;
using winsys::fake::FakeDesktop;
using winsys::fake::WindowSetup;
using winsys::fake::WriteScript;

// Every value and the error of one subscription.
template <class T>
struct Recording {
  std::vector<T> values;
  std::optional<base::Error> error;
  rx::Disposable subscription;
};

// The bundle identifiers of a list, "-" for none.
std::vector<std::string> ids(const ApplicationList& apps) {
  std::vector<std::string> result;
  for (const auto& app : apps)
    result.push_back(app->bundleIdentifier().value_or("-"));
  return result;
}

std::string idOf(const ApplicationPtr& app) {
  return app ? app->bundleIdentifier().value_or("-") : "none";
}

class WindowsProviderTest : public ::testing::Test {
 protected:
  template <class T>
  std::shared_ptr<Recording<T>> record(const rx::Observable<T>& stream) {
    auto r = std::make_shared<Recording<T>>();
    std::weak_ptr<Recording<T>> weak = r;
    r->subscription = stream.subscribe(
        [weak](const T& v) {
          if (auto recording = weak.lock()) recording->values.push_back(v);
        },
        [weak](const base::Error& e) {
          if (auto recording = weak.lock()) recording->error = e;
        });
    r->subscription.disposed(bag);
    return r;
  }

  std::shared_ptr<FakeApplication> launchEditor(int windows = 1) {
    std::vector<WindowSetup> setups;
    for (int i = 0; i < windows; ++i)
      setups.push_back(WindowSetup::titled("w" + std::to_string(i)));
    return desktop.launch(AppSetup::withId("org.example.Editor"), setups);
  }

  dispatch::ManualQueue queue;
  rx::QueueScheduler scheduler{queue};
  FakeDesktop desktop{queue};
  WindowsProvider provider{desktop.windowSystem(), desktop.trust(), desktop.bundles(), scheduler};
  // Ends every recording before the provider goes.
  rx::DisposeBag bag;
};

TEST_F(WindowsProviderTest, NothingWithoutAccessUntilItIsGrantedLate) {
  desktop.trust().setTrusted(false);
  launchEditor();
  auto running = record(provider.runningApplicationsStream());
  auto withWindows = record(provider.appsWithWindowsStream());
  auto editor = record(provider.application("org.example.Editor"));
  queue.runUntilIdle();
  EXPECT_TRUE(running->values.empty());
  EXPECT_TRUE(withWindows->values.empty());
  EXPECT_TRUE(editor->values.empty());
  EXPECT_FALSE(running->error);
  EXPECT_EQ(desktop.initializations(), 0);
  EXPECT_EQ(desktop.trust().prompts(), 1) << "the first check may ask the user";

  desktop.trust().setTrusted(true);
  queue.advance(99ms);
  EXPECT_EQ(desktop.initializations(), 0) << "the re-check waits 0.1 s";
  queue.advance(1ms);
  queue.runUntilIdle();
  EXPECT_EQ(desktop.initializations(), 1);
  EXPECT_EQ(desktop.trust().prompts(), 1) << "re-checks do not prompt";
  ASSERT_EQ(running->values.size(), 1u);
  EXPECT_EQ(ids(running->values[0]), std::vector<std::string>{"org.example.Editor"});
  ASSERT_EQ(withWindows->values.size(), 1u);
  EXPECT_EQ(ids(withWindows->values[0]), std::vector<std::string>{"org.example.Editor"});
  ASSERT_EQ(editor->values.size(), 1u);
  EXPECT_EQ(idOf(editor->values[0]), "org.example.Editor");
}

TEST_F(WindowsProviderTest, EveryNotificationChecksAgainAndInitializesAgain) {
  auto access = record(provider.accessibilityAccessStream());
  auto states = record(provider.swindlerStream());
  queue.runUntilIdle();
  ASSERT_EQ(states->values.size(), 1u);
  EXPECT_EQ(desktop.initializations(), 1);

  for (int i = 0; i < 10; ++i)
    desktop.trust().postChange();
  queue.advance(100ms);
  queue.runUntilIdle();
  EXPECT_EQ(access->values, std::vector<bool>(11, true)) << "one value per notification";
  EXPECT_EQ(desktop.initializations(), 11);
  // Each initialization replaced the one before it; the last one's state
  // arrives.
  EXPECT_EQ(states->values.size(), 2u);
}

TEST_F(WindowsProviderTest, RevokedAndGrantedAgainKeepsLastValuesThenReinitializes) {
  auto app = launchEditor();
  auto states = record(provider.swindlerStream());
  auto withWindows = record(provider.appsWithWindowsStream());
  queue.runUntilIdle();
  ASSERT_EQ(states->values.size(), 1u);
  ASSERT_EQ(withWindows->values.size(), 1u);

  desktop.trust().setTrusted(false);
  queue.advance(100ms);
  queue.runUntilIdle();
  EXPECT_EQ(states->values.size(), 1u) << "no state without access";
  EXPECT_EQ(withWindows->values.size(), 1u);
  EXPECT_FALSE(states->error);
  EXPECT_FALSE(withWindows->error);

  desktop.trust().setTrusted(true);
  queue.advance(100ms);
  queue.runUntilIdle();
  ASSERT_EQ(states->values.size(), 2u);
  EXPECT_NE(states->values[0], states->values[1]) << "a new state";
  ASSERT_EQ(withWindows->values.size(), 2u);
  ASSERT_EQ(withWindows->values[1].size(), 1u);
  EXPECT_TRUE(winsys::sameApplication(withWindows->values[1][0], withWindows->values[0][0]));
}

TEST_F(WindowsProviderTest, ReinitializationKeepsIdentityAndEarlierStatesStayLive) {
  auto app = launchEditor(2);
  auto states = record(provider.swindlerStream());
  queue.runUntilIdle();
  desktop.trust().postChange();
  queue.advance(100ms);
  queue.runUntilIdle();
  ASSERT_EQ(states->values.size(), 2u);
  const StatePtr before = states->values[0];
  const StatePtr after = states->values[1];

  const auto oldApps = before->runningApplications();
  const auto newApps = after->runningApplications();
  ASSERT_EQ(oldApps.size(), 1u);
  ASSERT_EQ(newApps.size(), 1u);
  EXPECT_TRUE(winsys::sameApplication(oldApps[0], newApps[0]));
  const auto oldWindows = oldApps[0]->knownWindows();
  const auto newWindows = newApps[0]->knownWindows();
  ASSERT_EQ(oldWindows.size(), 2u);
  ASSERT_EQ(newWindows.size(), 2u);
  EXPECT_TRUE(winsys::sameWindow(oldWindows[1], newWindows[1]));

  desktop.launch(AppSetup::withId("org.example.Viewer"));
  EXPECT_EQ(before->runningApplications().size(), 2u);
}

TEST_F(WindowsProviderTest, FailedInitializationEndsTheStateForEveryLaterSubscriber) {
  auto first = record(provider.swindlerStream());
  queue.runUntilIdle();
  ASSERT_EQ(first->values.size(), 1u);

  const auto failure = winsys::WindowSystemError::make(winsys::WindowSystemErrorCode::failed);
  desktop.scriptInitialization(WriteScript::rejected(failure));
  desktop.trust().postChange();
  queue.advance(100ms);
  queue.runUntilIdle();
  ASSERT_TRUE(first->error);
  EXPECT_EQ(*first->error, failure);

  auto later = record(provider.swindlerStream());
  EXPECT_EQ(later->values.size(), 1u) << "the last state, then the error";
  ASSERT_TRUE(later->error);
  EXPECT_EQ(*later->error, failure);
  auto list = record(provider.runningApplicationsStream());
  EXPECT_TRUE(list->error);
}

TEST_F(WindowsProviderTest, ARecheckScheduledBeforeDisposalNeverRuns) {
  auto access = record(provider.accessibilityAccessStream());
  desktop.trust().postChange();
  access->subscription.dispose();
  EXPECT_EQ(desktop.trust().observerCount(), 0u);
  const int checks = desktop.trust().checks();
  queue.advance(1s);
  EXPECT_EQ(desktop.trust().checks(), checks);
  EXPECT_EQ(access->values.size(), 1u);
}

TEST_F(WindowsProviderTest, ListsFollowTheirEvents) {
  auto app = launchEditor();
  auto running = record(provider.runningApplicationsStream());
  auto withWindows = record(provider.appsWithWindowsStream());
  auto including = record(provider.appsIncludingWindowsStream());
  queue.runUntilIdle();
  ASSERT_EQ(withWindows->values.size(), 1u);

  // A title change is a change for the detailed list only; every emission
  // carries the list, changed or not.
  desktop.setTitle(app->windows()[0], "renamed");
  EXPECT_EQ(withWindows->values.size(), 1u);
  EXPECT_EQ(including->values.size(), 2u);
  EXPECT_EQ(running->values.size(), 1u);

  // Hiding takes the application out of both filtered lists; showing brings
  // it back.
  desktop.setHidden(app, true);
  EXPECT_TRUE(withWindows->values.back().empty());
  EXPECT_TRUE(including->values.back().empty());
  EXPECT_EQ(running->values.size(), 1u);
  desktop.setHidden(app, false);
  EXPECT_EQ(ids(withWindows->values.back()), std::vector<std::string>{"org.example.Editor"});
  EXPECT_EQ(ids(including->values.back()), std::vector<std::string>{"org.example.Editor"});

  // The last window closing takes it out too; the running list keeps it.
  desktop.destroyWindow(app->windows()[0]);
  EXPECT_TRUE(withWindows->values.back().empty());
  desktop.launch(AppSetup::withId("org.example.Viewer"));
  EXPECT_EQ(ids(running->values.back()),
            (std::vector<std::string>{"org.example.Editor", "org.example.Viewer"}));
}

TEST_F(WindowsProviderTest, TheFilterLeavesOutAgentsHiddenApplicationsAndThoseWithoutWindows) {
  struct Case {
    const char* id;
    std::optional<coding::Value> uiElement;  // LSUIElement, when declared
    bool hidden;
    int windows;
    bool listed;
  };
  const Case cases[] = {
      {"agent.int", coding::Value(1), false, 2, false},
      {"agent.bool", coding::Value(true), false, 1, false},
      {"agent.double", coding::Value(1.0), false, 1, false},
      {"regular.zero", coding::Value(0), false, 1, true},
      {"regular.false", coding::Value(false), false, 1, true},
      {"regular.string", coding::Value("1"), false, 1, true},
      {"regular.undeclared", std::nullopt, false, 1, true},
      {"hidden", std::nullopt, true, 1, false},
      {"windowless", std::nullopt, false, 0, false},
  };
  std::vector<std::string> expected;
  for (const auto& c : cases) {
    AppSetup setup = AppSetup::withId(c.id);
    coding::Dictionary info;
    if (c.uiElement) info.set("LSUIElement", *c.uiElement);
    setup.withInfo(info);
    if (c.hidden) setup.asHidden();
    std::vector<WindowSetup> windows(c.windows, WindowSetup::titled("w"));
    desktop.launch(setup, windows);
    if (c.listed) expected.push_back(c.id);
  }
  // Without an identifier or a bundle, windows are enough.
  desktop.launch(AppSetup{}, {WindowSetup::titled("w")});
  expected.push_back("-");

  auto withWindows = record(provider.appsWithWindowsStream());
  auto including = record(provider.appsIncludingWindowsStream());
  auto running = record(provider.runningApplicationsStream());
  queue.runUntilIdle();
  ASSERT_FALSE(withWindows->values.empty());
  EXPECT_EQ(ids(withWindows->values.back()), expected);
  EXPECT_EQ(ids(including->values.back()), expected);
  EXPECT_EQ(running->values.back().size(), std::size(cases) + 1);
}

TEST_F(WindowsProviderTest, ApplicationStreamFollowsLaunchAndTermination) {
  auto editor = record(provider.application("org.example.Editor"));
  queue.runUntilIdle();
  ASSERT_EQ(editor->values.size(), 1u);
  EXPECT_EQ(editor->values[0], nullptr);

  desktop.launch(AppSetup::withId("org.example.Viewer"));
  auto app = launchEditor();
  ASSERT_EQ(editor->values.size(), 2u);
  EXPECT_TRUE(winsys::sameApplication(editor->values[1], app));

  desktop.terminate(app);
  ASSERT_EQ(editor->values.size(), 3u);
  EXPECT_EQ(editor->values[2], nullptr);

  // A running application is the first value.
  auto viewer = record(provider.application("org.example.Viewer"));
  ASSERT_EQ(viewer->values.size(), 1u);
  EXPECT_EQ(idOf(viewer->values[0]), "org.example.Viewer");
}

TEST_F(WindowsProviderTest, OneApplicationStreamPerIdentifierWhileHeld) {
  auto stream = std::make_optional(provider.application("org.example.Editor"));
  auto first = record(*stream);
  queue.runUntilIdle();
  auto second = record(provider.application("org.example.Editor"));
  EXPECT_EQ(provider.heldApplicationStreams(), 1u);
  EXPECT_EQ(second->values.size(), 1u) << "replayed by the shared stream";

  auto app = launchEditor();
  EXPECT_EQ(first->values.size(), 2u);
  EXPECT_EQ(second->values.size(), 2u);

  // A subscription alone holds the stream, so later calls still share it
  // and its updates keep coming.
  stream.reset();
  auto third = record(provider.application("org.example.Editor"));
  EXPECT_EQ(provider.heldApplicationStreams(), 1u);
  desktop.terminate(app);
  EXPECT_EQ(first->values.back(), nullptr);
  EXPECT_EQ(third->values.back(), nullptr);

  // Once nothing holds it, the next call makes a new stream.
  first->subscription.dispose();
  second->subscription.dispose();
  third->subscription.dispose();
  EXPECT_EQ(provider.heldApplicationStreams(), 0u);
  auto fresh = record(provider.application("org.example.Editor"));
  EXPECT_EQ(provider.heldApplicationStreams(), 1u);
  launchEditor();
  EXPECT_EQ(idOf(fresh->values.back()), "org.example.Editor");
}

TEST_F(WindowsProviderTest, WarmUpStartsTheWindowSystem) {
  provider.warmUp();
  queue.runUntilIdle();
  EXPECT_EQ(desktop.initializations(), 1);
  auto states = record(provider.swindlerStream());
  EXPECT_FALSE(states->values.empty()) << "replayed without waiting";
}

TEST_F(WindowsProviderTest, KnownWindowsFollowTheApplicationsOwnWindows) {
  auto app = launchEditor();
  auto other = desktop.launch(AppSetup::withId("org.example.Viewer"), {WindowSetup::titled("v")});
  auto states = record(provider.swindlerStream());
  queue.runUntilIdle();

  auto counts = std::make_shared<std::vector<std::size_t>>();
  auto subscription = knownWindowsStream(provider.notifier(), app)
                          .subscribe([counts](const std::vector<winsys::WindowPtr>& windows) {
                            counts->push_back(windows.size());
                          });
  EXPECT_EQ(*counts, std::vector<std::size_t>{1}) << "the current list at once";

  auto added = desktop.addWindow(app, WindowSetup::titled("second"));
  desktop.setTitle(added, "renamed");
  desktop.moveWindow(added, {1, 2, 3, 4});              // not followed
  desktop.addWindow(other, WindowSetup::titled("v2"));  // another application's
  desktop.destroyWindow(app->windows()[0]);
  EXPECT_EQ(*counts, (std::vector<std::size_t>{1, 2, 2, 1}));

  // Not shared: a second subscriber starts with the list of now.
  auto later = std::make_shared<std::vector<std::size_t>>();
  auto second = knownWindowsStream(provider.notifier(), app)
                    .subscribe([later](const std::vector<winsys::WindowPtr>& windows) {
                      later->push_back(windows.size());
                    });
  EXPECT_EQ(*later, std::vector<std::size_t>{1});
  subscription.dispose();
  second.dispose();
}

TEST(WindowsProviderSharedTest, SharedInstanceIsMadeOnceFromItsConfiguration) {
  dispatch::ManualQueue queue;
  rx::QueueScheduler scheduler{queue};
  FakeDesktop desktop{queue};
  WindowsProvider::configureShared(desktop.windowSystem(), desktop.trust(), desktop.bundles(),
                                   scheduler);
  auto shared = WindowsProvider::shared();
  EXPECT_EQ(WindowsProvider::shared(), shared);
  WindowsProvider::setSharedForTesting();
  EXPECT_DEATH(WindowsProvider::shared(), "configureShared");
}

}  // namespace
}  // namespace wendrix
