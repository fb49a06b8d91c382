// End-to-end restores of layouts on the fake desktop: final frames and
// states, statistics and events.

#include <algorithm>
#include <string>
#include <vector>

#include "restore_fixture.h"

namespace wendrix::testing {
namespace {

using namespace std::chrono_literals;

const std::string kTerminal = "org.example.Terminal";
const std::string kChat = "org.example.Chat";

class RestoreLayoutTest : public RestoreTest {};

TEST_F(RestoreLayoutTest, AllApplicationsRunningWithAllWindowsArePlacedByDocument) {
  auto editor = desktop.launch(AppSetup::withId(kEditor),
                               {liveWindow("a", "/docs/a.txt"), liveWindow("b", "/docs/b.txt")});
  auto terminal = desktop.launch(AppSetup::withId(kTerminal), {liveWindow("shell")});
  const Layout saved =
      layout("Work", {app(kEditor, {savedWindow("b", rect(10, 10), "/docs/b.txt", 0),
                                    savedWindow("a", rect(500, 10), "/docs/a.txt", 1)}),
                      app(kTerminal, {savedWindow("shell", rect(20, 600))})});

  auto outcome = run(actions->restoreLayout(saved));

  ASSERT_TRUE(outcome->succeeded());
  EXPECT_EQ(framesOf(editor), (std::vector{frame(rect(500, 10)), frame(rect(10, 10))}));
  EXPECT_EQ(framesOf(terminal), (std::vector{frame(rect(20, 600))}));
  EXPECT_TRUE(desktop.keyboard().posted().empty());
  EXPECT_TRUE(desktop.workspace().requests().empty());
  // Both applications were brought forward, one after the other.
  const auto& activations = desktop.runningApplications().activations();
  ASSERT_EQ(activations.size(), 2u);
  EXPECT_EQ(activations[0].processIdentifier, editor->processIdentifier());
  EXPECT_EQ(activations[1].processIdentifier, terminal->processIdentifier());
  const auto sent = restoreEvents();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].statistics, (RestoreStatistics{2, 2, 0, 0}));
  EXPECT_NEAR(sent[0].seconds, 0.2, 1e-9);  // two activations of 0.1 s each
  EXPECT_TRUE(errors().empty());
}

TEST_F(RestoreLayoutTest, WindowsMinimizedBeforeTheRestoreComeBackAtTheirFrames) {
  WindowSetup first = liveWindow("a", "/a");
  WindowSetup second = liveWindow("b", "/b");
  auto editor = desktop.launch(AppSetup::withId(kEditor), {first.asMinimized(), second});
  desktop.setMinimized(editor->windows()[1], true);

  run(actions->restoreLayout(layout("L", {app(kEditor, {savedWindow("a", rect(1, 2), "/a"),
                                                        savedWindow("b", rect(3, 4), "/b")})})));

  EXPECT_EQ(framesOf(editor), (std::vector{frame(rect(1, 2)), frame(rect(3, 4))}));
  EXPECT_EQ(minimizedOf(editor), (std::vector{false, false}));
  EXPECT_EQ(restoreEvents().at(0).statistics, (RestoreStatistics{1, 1, 0, 0}));
}

TEST_F(RestoreLayoutTest, LaunchedApplicationGetsItsWindowsByDelayedKeystrokes) {
  const base::Url editorURL = url("file:///usr/share/applications/org.example.Editor.desktop");
  desktop.workspace().install(kEditor, editorURL);
  desktop.scriptLaunch(editorURL, LaunchScript::launching(AppSetup::withId(kEditor).withPid(700),
                                                          {liveWindow("Main")}, 1s));
  desktop.scriptNewWindow(700, NewWindowScript::opening(1, 500ms));
  setShortcut(kEditor, kCommandN);
  const Layout saved = layout("L", {app(kEditor, {savedWindow("one", rect(0, 0), {}, 0),
                                                  savedWindow("two", rect(100, 0), {}, 1),
                                                  savedWindow("three", rect(200, 0), {}, 2)})});

  auto outcome = watch(actions->restoreLayout(saved), queue);
  queue.runUntilIdle();
  ASSERT_EQ(desktop.workspace().requests().size(), 1u);
  EXPECT_EQ(desktop.workspace().requests()[0].applicationURL, editorURL);

  // Launched at 1 s with one window: every keystroke waits 2 s, and each new
  // window (0.5 s after its keystroke) triggers the next.
  queue.advance(2999ms);
  EXPECT_TRUE(desktop.keyboard().posted().empty());
  queue.advance(1ms);
  ASSERT_EQ(desktop.keyboard().posted().size(), 2u);
  EXPECT_EQ(desktop.keyboard().posted()[0], (platform::Keystroke{700, 45, kMaskCommand, true}));
  EXPECT_EQ(desktop.keyboard().posted()[1], (platform::Keystroke{700, 45, kMaskCommand, false}));
  queue.advance(2499ms);  // second window at 3.5 s; next keystroke due at 5.5 s
  EXPECT_EQ(desktop.keyboard().posted().size(), 2u);
  queue.advance(1ms);
  EXPECT_EQ(desktop.keyboard().posted().size(), 4u);
  queue.advance(10s);

  ASSERT_TRUE(outcome->succeeded());
  auto editor = running(kEditor);
  ASSERT_TRUE(editor);
  // Windows without documents pair by position.
  EXPECT_EQ(framesOf(editor),
            (std::vector{frame(rect(0, 0)), frame(rect(100, 0)), frame(rect(200, 0))}));
  EXPECT_EQ(desktop.keyboard().posted().size(), 4u);
  EXPECT_EQ(desktop.frontmost(), editor);
  const auto sent = restoreEvents();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].statistics, (RestoreStatistics{1, 1, 0, 0}));
  EXPECT_NEAR(sent[0].seconds, 6.1, 1e-9);  // third window at 6 s, activation 0.1 s
}

TEST_F(RestoreLayoutTest, RefusedWritesLeaveTheirWindowsAndOnlyTheUnminimizeIsReported) {
  auto editor = desktop.launch(
      AppSetup::withId(kEditor),
      {liveWindow("Fixed", "/f").asMinimized(), liveWindow("Docked", "/d").asMinimized()});
  editor->windows()[0]->scriptFrameWrites(
      winsys::fake::WriteScript::rejected(base::Error("X", 1, "Fixed cannot move")));
  editor->windows()[1]->scriptMinimizedWrites(
      winsys::fake::WriteScript::rejected(base::Error("X", 2, "Docked stays in the Dock")));

  auto outcome = run(actions->restoreLayout(
      layout("L", {app(kEditor, {savedWindow("Fixed", rect(1, 1), "/f"),
                                 savedWindow("Docked", rect(2, 2), "/d")})})));

  ASSERT_TRUE(outcome->succeeded());
  EXPECT_EQ(framesOf(editor), (std::vector{winsys::Rect{900, 900, 10, 10}, frame(rect(2, 2))}));
  EXPECT_EQ(minimizedOf(editor), (std::vector{false, true}));
  EXPECT_EQ(restoreEvents().at(0).statistics, (RestoreStatistics{1, 1, 0, 0}));
  EXPECT_EQ(errors(), (std::vector<std::pair<std::string, std::string>>{
                          {"WINDOW_TITLE stays in the Dock", "actions.updateMinimized_000"}}));
}

TEST_F(RestoreLayoutTest, MoreWindowsThanRequestedAreReportedAndTheExtraOneIsLeftAlone) {
  auto editor = desktop.launch(AppSetup::withId(kEditor).withPid(710), {liveWindow("a", "/a")});
  desktop.scriptNewWindow(
      710, NewWindowScript::opening(2, 1s).asOneBurst().withWindow(liveWindow("", "/new")));
  setShortcut(kEditor, kCommandN);

  auto outcome = run(actions->restoreLayout(layout(
      "L", {app(kEditor, {savedWindow("a", rect(1, 1), "/a"), savedWindow("b", rect(2, 2))})})));

  ASSERT_TRUE(outcome->succeeded());
  // "/a" pairs by document; of the two new windows one takes the saved window
  // without document, the other keeps its place.
  const auto frames = framesOf(editor);
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0], frame(rect(1, 1)));
  EXPECT_EQ(std::count(frames.begin(), frames.end(), frame(rect(2, 2))), 1);
  EXPECT_EQ(std::count(frames.begin(), frames.end(), (winsys::Rect{900, 900, 10, 10})), 1);
  EXPECT_EQ(restoreEvents().at(0).statistics, (RestoreStatistics{1, 1, 0, 0}));
  const auto tooMany = eventsNamed("Error");
  ASSERT_EQ(tooMany.size(), 1u);
  EXPECT_EQ(property<std::string>(tooMany[0], "ErrorDescription"), "Too many windows restored");
  EXPECT_EQ(property<std::int64_t>(tooMany[0], "Expected"), 2);
  EXPECT_EQ(property<std::int64_t>(tooMany[0], "Actual"), 3);
  EXPECT_EQ(property<std::int64_t>(tooMany[0], "Opened"), 1);
}

TEST_F(RestoreLayoutTest, ApplicationIsFoundByItsBundleURL) {
  struct Case {
    std::string name;
    bool savedURLWorks;
    bool installedById;
    // Requests at the saved URL (s) and at the installed one (i).
    std::string requests;
    RestoreStatistics statistics;
    std::vector<std::pair<std::string, std::string>> errors;
  };
  const std::vector<Case> cases = {
      {"saved URL", true, false, "s", {1, 1, 0, 0}, {}},
      {"stale URL, identifier resolves", false, true, "si", {1, 1, 0, 0}, {}},
      {"stale URL, identifier unknown",
       false,
       false,
       "s",
       {1, 0, 0, 1},
       {{"No application at file:///opt/APP_NAME.", "actions.restoreApp_000"}}},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.name);
    analytics.backend().clear();
    // Each case has its own application, so launches and requests stay apart.
    const std::string id = kEditor + std::to_string(i);
    const base::Url saved = url("file:///opt/editor" + std::to_string(i) + ".desktop");
    const base::Url installed = url("file:///usr/share/applications/" + id + ".desktop");
    if (c.installedById) desktop.workspace().install(id, installed);
    desktop.scriptLaunch(c.savedURLWorks ? saved : installed,
                         LaunchScript::launching(AppSetup::withId(id), {liveWindow("w")}));
    IApp record = app(id, {savedWindow("w", rect(7, 7))});
    record.bundleURL = saved;
    const std::size_t before = desktop.workspace().requests().size();

    run(actions->restoreLayout(layout("L", {record})));

    std::string requested;
    for (std::size_t r = before; r < desktop.workspace().requests().size(); ++r) {
      requested += desktop.workspace().requests()[r].applicationURL == saved ? "s" : "i";
    }
    EXPECT_EQ(requested, c.requests);
    EXPECT_EQ(restoreEvents().at(0).statistics, c.statistics);
    EXPECT_EQ(errors(), c.errors);
    if (c.errors.empty()) {
      auto launched = running(id);
      ASSERT_TRUE(launched);
      EXPECT_EQ(framesOf(launched), (std::vector{frame(rect(7, 7))}));
    } else {
      EXPECT_FALSE(running(id));
    }
  }
}

TEST_F(RestoreLayoutTest, ApplicationWithoutBundleIdentifierIsAnError) {
  IApp urlOnly = app("");
  urlOnly.bundleId.reset();
  urlOnly.bundleURL = url("file:///opt/tool.desktop");
  IApp neither = urlOnly;
  neither.bundleURL.reset();

  run(actions->restoreLayout(layout("L", {neither, urlOnly})));

  EXPECT_TRUE(desktop.workspace().requests().empty());
  EXPECT_EQ(restoreEvents().at(0).statistics, (RestoreStatistics{2, 0, 0, 2}));
  const std::pair<std::string, std::string> invalid{
      "The operation couldn\u2019t be completed. (Wendrix.InvalidAppError error 1.)",
      "actions.restoreApp_000"};
  EXPECT_EQ(errors(), (std::vector{invalid, invalid}));
}

TEST_F(RestoreLayoutTest, LaunchThatFailsCountsAsAnError) {
  const base::Url editorURL = url("file:///apps/editor.desktop");
  struct Case {
    std::string name;
    LaunchScript script;
    std::string description;
  };
  const std::vector<Case> cases = {
      {"error",
       LaunchScript::failing(1s).withError(
           base::Error("Wendrix.WorkspaceError", 2, "org.example.Editor did not start.")),
       "APP_NAME did not start."},
      {"neither application nor error", LaunchScript::answeringNothing(1s),
       "The operation couldn\u2019t be completed. (Wendrix.FailedToOpenApp error 1.)"},
  };
  desktop.workspace().install(kEditor, editorURL);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    analytics.backend().clear();
    desktop.scriptLaunch(editorURL, c.script);

    auto outcome = run(actions->restoreLayout(layout("L", {app(kEditor, {savedWindow("w", {})})})));

    ASSERT_TRUE(outcome->succeeded());  // a failed application never fails the restore
    EXPECT_EQ(restoreEvents().at(0).statistics, (RestoreStatistics{1, 0, 0, 1}));
    EXPECT_EQ(errors(), (std::vector<std::pair<std::string, std::string>>{
                            {c.description, "actions.restoreApp_000"}}));
    EXPECT_TRUE(desktop.applications().empty());
  }
}

TEST_F(RestoreLayoutTest, LaunchThatNeverAnswersTimesOutAfterTwentySeconds) {
  const base::Url editorURL = url("file:///apps/editor.desktop");
  desktop.workspace().install(kEditor, editorURL);
  desktop.scriptLaunch(
      editorURL, LaunchScript::launching(AppSetup::withId(kEditor), {liveWindow("late")}, 1h));

  auto outcome = run(actions->restoreLayout(layout("L", {app(kEditor, {savedWindow("w", {})})})));

  ASSERT_TRUE(outcome->succeeded());
  EXPECT_EQ(outcome->at, 20s);
  const auto sent = restoreEvents();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].statistics, (RestoreStatistics{1, 0, 1, 0}));
  EXPECT_DOUBLE_EQ(sent[0].seconds, 20.0);
  EXPECT_EQ(errors(), (std::vector<std::pair<std::string, std::string>>{
                          {"The operation couldn\u2019t be completed. (Wendrix.RxError error 3.)",
                           "actions.restoreApp_000"}}));

  // The answer that comes much later changes nothing: the window stays where
  // it opened and nothing more is sent.
  queue.advance(2h);
  auto editor = running(kEditor);
  ASSERT_TRUE(editor);
  EXPECT_EQ(framesOf(editor), (std::vector{winsys::Rect{900, 900, 10, 10}}));
  EXPECT_EQ(restoreEvents().size(), 1u);
  EXPECT_EQ(errors().size(), 1u);
}

TEST_F(RestoreLayoutTest, ClosingOtherApplicationsIsNotCountedInTheRestoreTime) {
  auto chat = desktop.launch(AppSetup::withId(kChat), {liveWindow("chat")});
  chat->scriptHiddenWrites(winsys::fake::WriteScript::after(5s));
  auto editor = desktop.launch(AppSetup::withId(kEditor), {liveWindow("e")});
  setCloseBehavior(CloseBehavior::hide);

  auto outcome = run(
      actions->restoreLayout(layout("L", {app(kEditor, {savedWindow("e", rect(3, 3))})}, true)));

  ASSERT_TRUE(outcome->succeeded());
  EXPECT_TRUE(chat->isHidden());
  EXPECT_FALSE(editor->isHidden());
  EXPECT_EQ(framesOf(editor), (std::vector{frame(rect(3, 3))}));
  const auto closed = eventsNamed("Closed_Apps");
  ASSERT_EQ(closed.size(), 1u);
  EXPECT_EQ(property<std::string>(closed[0], "CloseAppsSource"), "AutoClose");
  EXPECT_EQ(property<std::int64_t>(closed[0], "NumberOfAppsClosed"), 1);
  const auto sent = restoreEvents();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].statistics, (RestoreStatistics{1, 1, 0, 0}));
  EXPECT_GT(outcome->at, 5s);
  EXPECT_NEAR(sent[0].seconds, 0.1, 1e-9);
}

TEST_F(RestoreLayoutTest, OneApplicationsFailureNeverStopsTheOthers) {
  const base::Url slowURL = url("file:///apps/slow.desktop");
  const base::Url brokenURL = url("file:///apps/broken.desktop");
  desktop.workspace().install("org.example.Slow", slowURL);
  desktop.workspace().install("org.example.Broken", brokenURL);
  desktop.scriptLaunch(slowURL,
                       LaunchScript::launching(AppSetup::withId("org.example.Slow"), {}, 1h));
  desktop.scriptLaunch(brokenURL, LaunchScript::failing(3s));
  auto editor = desktop.launch(AppSetup::withId(kEditor), {liveWindow("e")});
  IApp invalid;
  invalid.windows = {savedWindow("x", {})};

  auto outcome =
      run(actions->restoreLayout(layout("L", {app("org.example.Slow", {savedWindow("s", {})}),
                                              invalid, app(kEditor, {savedWindow("e", rect(8, 8))}),
                                              app("org.example.Broken", {savedWindow("b", {})})})));

  ASSERT_TRUE(outcome->succeeded());
  EXPECT_EQ(framesOf(editor), (std::vector{frame(rect(8, 8))}));
  EXPECT_EQ(restoreEvents().at(0).statistics, (RestoreStatistics{4, 1, 1, 2}));
  std::vector<std::string> locations;
  for (const auto& [description, location] : errors())
    locations.push_back(location);
  EXPECT_EQ(locations, std::vector<std::string>(3, "actions.restoreApp_000"));
}

TEST_F(RestoreLayoutTest, EmptyLayoutSendsFourZerosAtOnce) {
  auto outcome = watch(actions->restoreLayout(layout("Empty")), queue);
  queue.runUntilIdle();
  ASSERT_TRUE(outcome->succeeded());
  EXPECT_EQ(outcome->at, 0s);
  const auto sent = restoreEvents();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].statistics, (RestoreStatistics{0, 0, 0, 0}));
  EXPECT_EQ(sent[0].seconds, 0.0);
}

TEST_F(RestoreLayoutTest, RestoringChosenApplicationsSendsAppRestored) {
  auto editor = desktop.launch(AppSetup::withId(kEditor), {liveWindow("e")});
  desktop.launch(AppSetup::withId(kChat), {liveWindow("c")});

  auto outcome = run(actions->restoreApps({app(kEditor, {savedWindow("e", rect(5, 5))})}));

  ASSERT_TRUE(outcome->succeeded());
  EXPECT_EQ(framesOf(editor), (std::vector{frame(rect(5, 5))}));
  EXPECT_TRUE(restoreEvents().empty());
  const auto sent = restoreEvents("App_Restored");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].statistics, (RestoreStatistics{1, 1, 0, 0}));
}

TEST_F(RestoreLayoutTest, NothingHappensWhenTheActionsAreGoneBeforeTheRestoreStarts) {
  desktop.launch(AppSetup::withId(kEditor), {liveWindow("e")});
  const auto restore = actions->restoreLayout(layout("L", {app(kEditor, {savedWindow("e", {})})}));
  actions.reset();

  auto outcome = run(restore);

  ASSERT_TRUE(outcome->succeeded());
  EXPECT_TRUE(restoreEvents().empty());
  EXPECT_TRUE(desktop.runningApplications().activations().empty());
}

TEST_F(RestoreLayoutTest, AddonApplicationTakesTheAddonsRoadOnly) {
  auto editor = desktop.launch(AppSetup::withId(kEditor), {liveWindow("e")});
  auto addon = std::make_shared<FakeAddonRestores::Addon>();
  const IWindow target = savedWindow("e", rect(6, 6));
  addon->result = rx::Single<MatchedWindows>::just({{editor->windows()[0], target}});
  addonRestores->addons[kEditor] = addon;
  auto failing = std::make_shared<FakeAddonRestores::Addon>();
  failing->result = rx::Single<MatchedWindows>::error(base::Error("Addon", 1, "no project"));
  addonRestores->addons["org.example.Ide"] = failing;

  run(actions->restoreLayout(layout("L", {app(kEditor, {target, savedWindow("missing", {})}),
                                          app("org.example.Ide", {savedWindow("p", {})})})));

  ASSERT_EQ(addon->restored.size(), 1u);
  EXPECT_EQ(addon->restored[0].windows.size(), 2u);
  EXPECT_EQ(framesOf(editor), (std::vector{frame(rect(6, 6))}));
  EXPECT_TRUE(desktop.keyboard().posted().empty());
  EXPECT_TRUE(desktop.workspace().requests().empty());
  EXPECT_EQ(eventsNamed("Restored_With_Addon").size(), 1u);
  EXPECT_FALSE(eventsNamed("Restored_With_Addon")[0].withProperties);
  EXPECT_EQ(restoreEvents().at(0).statistics, (RestoreStatistics{2, 1, 0, 1}));
}

// Twenty applications of ten windows each: half running with their windows
// shuffled and some minimized, half launched with one window and the rest
// opened by keystrokes.
TEST_F(RestoreLayoutTest, TwentyApplicationsOfTenWindowsCompleteOnVirtualTime) {
  constexpr int kApps = 20;
  constexpr int kWindows = 10;
  std::vector<IApp> apps;
  for (int a = 0; a < kApps; ++a) {
    const std::string id = "org.example.App" + std::to_string(a);
    IApp record = app(id);
    for (int w = 0; w < kWindows; ++w) {
      record.windows.push_back(savedWindow("w" + std::to_string(w), rect(a * 10, w * 10), {}, w));
    }
    if (a % 2 == 0) {
      std::vector<WindowSetup> setups;
      for (int w = 0; w < kWindows; ++w) {
        setups.push_back(liveWindow("w" + std::to_string(w)));
        if (w % 3 == 0) setups.back().asMinimized();
      }
      desktop.launch(AppSetup::withId(id), std::move(setups));
    } else {
      const base::Url u = url("file:///apps/" + id + ".desktop");
      const std::int32_t pid = 2000 + a;
      desktop.workspace().install(id, u);
      desktop.scriptLaunch(u, LaunchScript::launching(AppSetup::withId(id).withPid(pid),
                                                      {liveWindow("first")}, 500ms));
      desktop.scriptNewWindow(pid, NewWindowScript::opening(1, 10ms));
      setShortcut(id, kCommandN);
    }
    apps.push_back(std::move(record));
  }

  auto outcome = run(actions->restoreLayout(layout("Big", apps)));

  ASSERT_TRUE(outcome->succeeded());
  const auto sent = restoreEvents();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].statistics, (RestoreStatistics{kApps, kApps, 0, 0}));
  EXPECT_LT(sent[0].seconds, 20.0);
  for (int a = 0; a < kApps; ++a) {
    SCOPED_TRACE(a);
    auto live = running("org.example.App" + std::to_string(a));
    ASSERT_TRUE(live);
    std::vector<winsys::Rect> expected;
    for (int w = 0; w < kWindows; ++w)
      expected.push_back(frame(rect(a * 10, w * 10)));
    EXPECT_EQ(framesOf(live), expected);
    EXPECT_EQ(minimizedOf(live), std::vector<bool>(kWindows, false));
  }
  EXPECT_EQ(desktop.runningApplications().activations().size(), static_cast<std::size_t>(kApps));
  EXPECT_TRUE(errors().empty());
}

}  // namespace
}  // namespace wendrix::testing
