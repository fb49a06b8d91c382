#include "winsys/fake/fake_desktop.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "dispatch/manual_queue.h"
#include "winsys/errors.h"

namespace wendrix::winsys::fake {
namespace {

using namespace std::chrono_literals;

// Records the type names of delivered events, in order.
class RecordingNotifier final : public EventNotifier {
 public:
  std::vector<std::string> names;

 protected:
  void onEvent(std::string_view, std::function<void(const AnyEvent&)>) override {}
  void notifyEvent(std::string_view typeName, AnyEvent) override { names.emplace_back(typeName); }
};

base::Url url(const char* text) {
  return *base::Url::parse(text);
}

class FakeDesktopTest : public ::testing::Test {
 protected:
  // Initializes the window system and returns its state.
  StatePtr start() {
    StatePtr state;
    desktop.windowSystem().initialize(notifier).done(
        [&](const base::Result<StatePtr>& r) { state = r.value(); });
    queue.runUntilIdle();
    return state;
  }

  dispatch::ManualQueue queue;
  FakeDesktop desktop{queue};
  RecordingNotifier notifier;
};

TEST(WindowSystemEventsTest, TypeNamesAreUnique) {
  const std::set<std::string_view> names = {
      WindowCreatedEvent::typeName,
      WindowDestroyedEvent::typeName,
      WindowTitleChangedEvent::typeName,
      WindowFrameChangedEvent::typeName,
      WindowMinimizedChangedEvent::typeName,
      ApplicationLaunchedEvent::typeName,
      ApplicationTerminatedEvent::typeName,
      ApplicationMainWindowChangedEvent::typeName,
      ApplicationFocusedWindowChangedEvent::typeName,
      ApplicationIsHiddenChangedEvent::typeName,
      FrontmostApplicationChangedEvent::typeName,
  };
  EXPECT_EQ(names.size(), 11u);
}

TEST_F(FakeDesktopTest, MutationsEmitTheirEventsSynchronouslyInOrder) {
  auto app = desktop.launch(AppSetup::withId("org.example.Editor"));
  EXPECT_TRUE(notifier.names.empty()) << "nothing is delivered before initialization";

  auto state = start();
  ASSERT_TRUE(state);
  auto a = desktop.addWindow(app, WindowSetup::titled("a"));
  auto b = desktop.addWindow(app, WindowSetup::titled("b"));
  desktop.setTitle(b, "b2");
  desktop.moveWindow(a, {1, 2, 3, 4});
  desktop.moveWindow(a, {1, 2, 3, 4});  // no change, no event
  desktop.setMinimized(a, true);
  desktop.setHidden(app, true);
  desktop.setFrontmost(app);
  desktop.destroyWindow(a);
  desktop.terminate(app);

  EXPECT_EQ(notifier.names,
            (std::vector<std::string>{
                "WindowCreatedEvent", "ApplicationMainWindowChangedEvent", "WindowCreatedEvent",
                "WindowTitleChangedEvent", "WindowFrameChangedEvent", "WindowMinimizedChangedEvent",
                "ApplicationIsHiddenChangedEvent", "FrontmostApplicationChangedEvent",
                // a was the main window: b takes over.
                "WindowDestroyedEvent", "ApplicationMainWindowChangedEvent",
                // Termination takes the last window, then the application.
                "WindowDestroyedEvent", "ApplicationMainWindowChangedEvent",
                "ApplicationTerminatedEvent", "FrontmostApplicationChangedEvent"}));
  EXPECT_TRUE(state->runningApplications().empty()) << "the state is live";
  EXPECT_FALSE(desktop.runningApplications().isActive(app->processIdentifier()).has_value());
}

// Termination removes windows that only the application still holds.
TEST_F(FakeDesktopTest, TerminationRemovesWindowsNobodyElseHolds) {
  auto app = desktop.launch(AppSetup::withId("org.example.Editor"),
                            {WindowSetup::titled("main"), WindowSetup::titled("other")});
  start();
  desktop.terminate(app);

  EXPECT_EQ(notifier.names,
            (std::vector<std::string>{"WindowDestroyedEvent", "WindowDestroyedEvent",
                                      "ApplicationMainWindowChangedEvent",
                                      "ApplicationTerminatedEvent"}));
  EXPECT_TRUE(app->knownWindows().empty());
  EXPECT_FALSE(app->running());
}

TEST_F(FakeDesktopTest, InitializationNeedsTrustAndCanBeScripted) {
  desktop.trust().setTrusted(false);
  std::optional<base::Result<StatePtr>> out;
  desktop.windowSystem().initialize(notifier).done([&](auto r) { out = r; });
  queue.runUntilIdle();
  ASSERT_TRUE(out && !out->ok());
  EXPECT_TRUE(WindowSystemError::is(out->error(), WindowSystemErrorCode::notTrusted));

  desktop.trust().setTrusted(true);
  desktop.scriptInitialization(WriteScript::after(2s));
  out.reset();
  desktop.windowSystem().initialize(notifier).done([&](auto r) { out = r; });
  queue.advance(1999ms);
  EXPECT_FALSE(out);
  queue.advance(1ms);
  ASSERT_TRUE(out && out->ok());
  EXPECT_EQ(desktop.initializations(), 2);
}

TEST_F(FakeDesktopTest, TrustChangesReachObservers) {
  int calls = 0;
  auto token = desktop.trust().addChangeObserver([&] { ++calls; });
  desktop.trust().setTrusted(false);
  EXPECT_FALSE(desktop.trust().checkIsProcessTrusted(false));
  desktop.trust().setTrusted(true);
  desktop.trust().postChange();
  EXPECT_EQ(calls, 3);
  desktop.trust().removeChangeObserver(token);
  desktop.trust().postChange();
  EXPECT_EQ(calls, 3);
}

TEST_F(FakeDesktopTest, PropertyWritesResolveAfterTheirDelayOrAreRejected) {
  start();
  auto app = desktop.launch(AppSetup::withId("org.example.Editor"), {WindowSetup::titled("w")});
  auto window = app->windows().front();

  window->scriptFrameWrites(WriteScript::after(500ms));
  std::optional<base::Result<Rect>> frame;
  window->setFrame({10, 20, 300, 200}).done([&](auto r) { frame = r; });
  queue.advance(499ms);
  EXPECT_FALSE(frame);
  EXPECT_EQ(window->frame(), Rect{});
  queue.advance(1ms);
  ASSERT_TRUE(frame && frame->ok());
  EXPECT_EQ(frame->value(), (Rect{10, 20, 300, 200}));
  EXPECT_EQ(window->frame(), (Rect{10, 20, 300, 200}));

  const base::Error refused("Test", 1, "refused");
  window->scriptMinimizedWrites(WriteScript::rejected(refused, 1s));
  std::optional<base::Result<bool>> minimized;
  window->setMinimized(true).done([&](auto r) { minimized = r; });
  queue.advance(1s);
  ASSERT_TRUE(minimized && !minimized->ok());
  EXPECT_EQ(minimized->error(), refused);
  EXPECT_FALSE(window->isMinimized());

  // A window that went away rejects writes.
  desktop.destroyWindow(window);
  window->scriptFrameWrites(WriteScript{});
  frame.reset();
  window->setFrame({}).done([&](auto r) { frame = r; });
  queue.runUntilIdle();
  ASSERT_TRUE(frame && !frame->ok());
  EXPECT_TRUE(WindowSystemError::is(frame->error(), WindowSystemErrorCode::invalidObject));
}

TEST_F(FakeDesktopTest, NewWindowKeystrokeOpensWindowsAfterItsDelay) {
  start();
  auto app = desktop.launch(AppSetup::withId("org.example.Editor"), {WindowSetup::titled("w")});
  const auto pid = app->processIdentifier();
  desktop.scriptNewWindow(pid, NewWindowScript::opening(2, 300ms).forKey(45));

  auto post = [&](std::uint16_t key) {
    ASSERT_TRUE(desktop.keyboard().post({pid, key, 0x100000, true}).ok());
    ASSERT_TRUE(desktop.keyboard().post({pid, key, 0x100000, false}).ok());
  };
  post(46);  // another key does nothing
  post(45);
  queue.advance(299ms);
  EXPECT_EQ(app->knownWindows().size(), 1u);
  queue.advance(1ms);
  EXPECT_EQ(app->knownWindows().size(), 3u);
  EXPECT_EQ(std::count(notifier.names.begin(), notifier.names.end(), "WindowCreatedEvent"), 3);

  desktop.scriptNewWindow(pid, NewWindowScript::opening(0));
  post(45);
  queue.advance(1min);
  EXPECT_EQ(app->knownWindows().size(), 3u);
}

TEST_F(FakeDesktopTest, LaunchScriptsGiveEachOutcomeAfterTheirDelay) {
  struct Case {
    const char* name;
    LaunchScript script;
    bool application;
    bool error;
  };
  const Case cases[] = {
      {"launch",
       LaunchScript::launching(AppSetup::withId("org.example.Editor"),
                               {WindowSetup::titled("first")}, 3s),
       true, false},
      {"fail", LaunchScript::failing(3s), false, true},
      {"neither", LaunchScript::answeringNothing(3s), false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    dispatch::ManualQueue q;
    FakeDesktop d(q);
    const auto at = url("file:///apps/editor.desktop");
    d.scriptLaunch(at, c.script);
    bool called = false;
    std::optional<platform::LaunchedApplication> launched;
    std::optional<base::Error> error;
    d.workspace().openApplication(at, [&](auto a, auto e) {
      called = true;
      launched = a;
      error = e;
    });
    q.advance(2999ms);
    EXPECT_FALSE(called);
    q.advance(1ms);
    EXPECT_TRUE(called);
    EXPECT_EQ(launched.has_value(), c.application);
    EXPECT_EQ(error.has_value(), c.error);
    EXPECT_EQ(d.applications().size(), c.application ? 1u : 0u);
    if (launched) {
      auto app = d.applicationWithPid(launched->processIdentifier);
      ASSERT_TRUE(app);
      EXPECT_EQ(app->bundleURL(), at);
      EXPECT_EQ(app->knownWindows().size(), 1u);
    }
  }
}

TEST_F(FakeDesktopTest, OpeningARunningApplicationReopensIt) {
  const auto at = url("file:///apps/editor.desktop");
  auto app = desktop.launch(AppSetup::withId("org.example.Editor").withURL(at));
  desktop.scriptLaunch(at, LaunchScript::launching({})
                               .withReopenWindows({WindowSetup::titled("reopened")})
                               .withWindowPerDocument());
  std::optional<platform::LaunchedApplication> launched;
  desktop.workspace().openURLs({url("file:///docs/notes.txt")}, at,
                               [&](auto a, auto) { launched = a; });
  queue.runUntilIdle();
  ASSERT_TRUE(launched);
  EXPECT_EQ(launched->processIdentifier, app->processIdentifier());
  ASSERT_EQ(app->knownWindows().size(), 2u);
  EXPECT_EQ(app->knownWindows()[1]->title(), "notes.txt");
  EXPECT_EQ(app->knownWindows()[1]->document(), "/docs/notes.txt");

  // Without a script, a URL nothing runs at has no application.
  std::optional<base::Error> error;
  desktop.workspace().openApplication(url("file:///apps/none.desktop"),
                                      [&](auto, auto e) { error = e; });
  queue.runUntilIdle();
  EXPECT_TRUE(error);
}

TEST_F(FakeDesktopTest, ActivationMakesFrontmostAfterItsDelayOrNever) {
  start();
  auto slow = desktop.launch(AppSetup::withId("org.example.Slow"));
  auto stuck = desktop.launch(AppSetup::withId("org.example.Stuck"));
  desktop.scriptActivation(slow->processIdentifier(), ActivationScript::after(1s));
  desktop.scriptActivation(stuck->processIdentifier(), ActivationScript::never());
  auto& apps = desktop.runningApplications();

  EXPECT_TRUE(apps.activate(slow->processIdentifier(), 3));
  queue.advance(999ms);
  EXPECT_EQ(apps.isActive(slow->processIdentifier()), false);
  queue.advance(1ms);
  EXPECT_EQ(apps.isActive(slow->processIdentifier()), true);
  EXPECT_EQ(notifier.names.back(), "FrontmostApplicationChangedEvent");

  EXPECT_TRUE(apps.activate(stuck->processIdentifier(), 3));
  queue.advance(1h);
  EXPECT_EQ(desktop.frontmost(), slow);
  EXPECT_FALSE(apps.activate(99999, 3)) << "no such process";
}

TEST_F(FakeDesktopTest, CloseAndQuit) {
  start();
  auto app =
      desktop.launch(AppSetup::withId("org.example.Editor"),
                     {WindowSetup::titled("keeps").notClosable(), WindowSetup::titled("goes")});
  auto keeps = app->knownWindows()[0];
  auto goes = app->knownWindows()[1];
  auto refused = keeps->close();
  ASSERT_FALSE(refused.ok());
  EXPECT_TRUE(WindowSystemError::is(refused.error(), WindowSystemErrorCode::cannotClose));
  EXPECT_EQ(refused.error().description,
            "The operation couldn\u2019t be completed. (Wendrix.WindowSystemError error 2.)");
  ASSERT_TRUE(goes->close().ok());
  queue.runUntilIdle();
  EXPECT_EQ(app->knownWindows().size(), 1u);

  auto stubborn = desktop.launch(AppSetup::withId("org.example.Stubborn").ignoringQuit());
  stubborn->quit();
  app->quit();
  queue.runUntilIdle();
  EXPECT_FALSE(app->running());
  EXPECT_TRUE(stubborn->running());
  EXPECT_EQ(stubborn->quitRequests(), 1);
}

}  // namespace
}  // namespace wendrix::winsys::fake
