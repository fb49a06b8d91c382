// Opening missing windows with the "New Window" keystroke.

#include "engine/new_window_shortcut.h"

#include <string>
#include <vector>

#include "restore_fixture.h"

namespace wendrix::testing {
namespace {

using namespace std::chrono_literals;

TEST(NewWindowShortcutTest, UserSettingFirstThenBuiltInTable) {
  const IShortcut commandShiftN{45, kMaskCommand | kMaskShift};
  const AppSettingsMap settings = {
      {"com.apple.Safari", IAppSettings{std::nullopt}},
      {"org.example.Editor", IAppSettings{commandShiftN}},
  };
  struct Case {
    std::string bundleId;
    std::optional<IShortcut> expected;
  };
  const std::vector<Case> cases = {
      {"org.example.Editor", commandShiftN},
      {"com.apple.Safari", std::nullopt},  // an entry without keystroke hides the table's
      {"com.apple.finder", kCommandN},
      {"com.zodoradud.onenote.mac", IShortcut{46, kMaskControl}},
      {"com.zodoradud.Excel", std::nullopt},
      {"com.apple.FINDER", std::nullopt},
      {"org.example.Unknown", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bundleId);
    EXPECT_EQ(newWindowShortcut(settings, c.bundleId), c.expected);
  }
}

class WindowOpenerTest : public RestoreTest {
 protected:
  std::shared_ptr<FakeApplication> launchEditor(int count) {
    std::vector<WindowSetup> setups;
    for (int i = 0; i < count; ++i)
      setups.push_back(liveWindow("w" + std::to_string(i)));
    return desktop.launch(AppSetup::withId(kEditor).withPid(800), std::move(setups));
  }
  IApp editorRecord(int count) {
    IApp record = app(kEditor);
    for (int i = 0; i < count; ++i)
      record.windows.push_back(savedWindow("w" + std::to_string(i), rect(i * 50, 0), {}, i));
    return record;
  }
  std::size_t keyDowns() {
    std::size_t n = 0;
    for (const auto& k : desktop.keyboard().posted())
      n += k.keyDown ? 1 : 0;
    return n;
  }
};

TEST_F(WindowOpenerTest, RunningApplicationGetsOneKeystrokePerNewWindowWithoutDelay) {
  auto editor = launchEditor(1);
  desktop.scriptNewWindow(800, NewWindowScript::opening(1, 1s));
  setShortcut(kEditor, kCommandN);

  auto outcome = watch(actions->launcher().openAppWindows(editorRecord(3), 3), queue);
  queue.runUntilIdle();
  // Not launched by this restore: the first keystroke goes out at once.
  EXPECT_EQ(desktop.keyboard().posted(),
            (std::vector<platform::Keystroke>{{800, 45, kMaskCommand, true},
                                              {800, 45, kMaskCommand, false}}));
  queue.advance(1s);
  EXPECT_EQ(keyDowns(), 2u);
  EXPECT_FALSE(outcome->settled());
  queue.advance(1s);

  ASSERT_TRUE(outcome->succeeded());
  EXPECT_EQ(outcome->at, 2s);
  EXPECT_EQ(outcome->result->value().size(), 3u);
  EXPECT_EQ(keyDowns(), 2u);
  EXPECT_TRUE(errors().empty());
}

TEST_F(WindowOpenerTest, KeystrokeWithoutNewWindowEndsWithTheIncompleteListAfterTwentySeconds) {
  launchEditor(1);
  setShortcut(kEditor, kCommandN);

  auto outcome = run(actions->launcher().openAppWindows(editorRecord(2), 2));

  ASSERT_TRUE(outcome->succeeded());
  EXPECT_EQ(outcome->at, 20s);
  EXPECT_EQ(outcome->result->value().size(), 1u);
  EXPECT_EQ(keyDowns(), 1u);
}

TEST_F(WindowOpenerTest, WindowClosedWhileWaitingEndsTheWaitWithoutAnotherKeystroke) {
  auto editor = launchEditor(2);
  setShortcut(kEditor, kCommandN);

  auto outcome = watch(actions->launcher().openAppWindows(editorRecord(3), 3), queue);
  queue.runUntilIdle();
  EXPECT_EQ(keyDowns(), 1u);
  queue.advance(5s);
  desktop.destroyWindow(editor->windows()[0]);
  queue.runUntilIdle();

  ASSERT_TRUE(outcome->succeeded());
  EXPECT_EQ(outcome->at, 5s);
  EXPECT_EQ(outcome->result->value().size(), 1u);
  EXPECT_EQ(keyDowns(), 1u);
}

TEST_F(WindowOpenerTest, WithoutKeystrokeTheWindowsThereAreTheResult) {
  launchEditor(1);
  setShortcut(kEditor, std::nullopt);

  auto outcome = watch(actions->launcher().openAppWindows(editorRecord(3), 3), queue);
  queue.runUntilIdle();

  ASSERT_TRUE(outcome->succeeded());
  EXPECT_EQ(outcome->at, 0s);
  EXPECT_EQ(outcome->result->value().size(), 1u);
  EXPECT_TRUE(desktop.keyboard().posted().empty());
}

TEST_F(WindowOpenerTest, AKeystrokeSetAfterAnEarlierRestoreIsUsedByTheNextOne) {
  launchEditor(1);
  setShortcut(kEditor, std::nullopt);
  auto first = watch(actions->launcher().openAppWindows(editorRecord(2), 2), queue);
  queue.runUntilIdle();
  ASSERT_TRUE(first->succeeded());
  EXPECT_TRUE(desktop.keyboard().posted().empty());

  setShortcut(kEditor, kCommandN);
  auto second = watch(actions->launcher().openAppWindows(editorRecord(2), 2), queue);
  queue.runUntilIdle();

  EXPECT_EQ(keyDowns(), 1u);
  EXPECT_FALSE(second->settled());
  // No window comes of it: the wait ends with its time-out.
  queue.advance(kNewWindowWait);
  queue.runUntilIdle();
  EXPECT_TRUE(second->settled());
}

TEST_F(WindowOpenerTest, ApplicationWithoutWindowsOrKeystrokeIsAskedToReopen) {
  const base::Url editorURL = url("file:///apps/editor.desktop");
  desktop.launch(AppSetup::withId(kEditor).withURL(editorURL));
  desktop.scriptLaunch(editorURL,
                       LaunchScript::launching({}).withReopenWindows({liveWindow("reopened")}));
  setShortcut(kEditor, std::nullopt);
  IApp record = editorRecord(2);
  record.bundleURL = editorURL;

  auto outcome = run(actions->launcher().openAppWindows(record, 2));

  ASSERT_TRUE(outcome->succeeded());
  EXPECT_EQ(outcome->result->value().size(), 1u);
  ASSERT_EQ(desktop.workspace().requests().size(), 1u);
  EXPECT_EQ(desktop.workspace().requests()[0].applicationURL, editorURL);
  EXPECT_FALSE(desktop.workspace().requests()[0].documents.has_value());
  // A reopen, which runs the entry's new-window action where it has one.
  EXPECT_TRUE(desktop.workspace().requests()[0].reopen);
}

// A program this restore launches counts its launch as its one asked window:
// while its first window is on its way it is neither reopened nor sent a
// keystroke; once the window shows, the keystroke follows (after the launch
// delay), and it never ends up with more windows than saved.
struct LateWindowCase {
  const char* label;
  int wanted;
  bool keystroke;
  std::size_t keyDowns;
  dispatch::Duration doneAt;
};

class LaunchedProgramTest : public WindowOpenerTest,
                            public ::testing::WithParamInterface<LateWindowCase> {};

TEST_P(LaunchedProgramTest, WaitsForItsLateFirstWindow) {
  const LateWindowCase& c = GetParam();
  const base::Url editorURL = url("file:///apps/editor.desktop");
  desktop.scriptLaunch(editorURL, LaunchScript::launching(AppSetup::withId(kEditor).withPid(800)));
  desktop.scriptNewWindow(800, NewWindowScript::opening(1, 1s));
  setShortcut(kEditor, c.keystroke ? std::optional(kCommandN) : std::nullopt);
  IApp record = editorRecord(c.wanted);
  record.bundleURL = editorURL;
  auto late = queue.after(
      5s, [&] { desktop.addWindow(desktop.applicationWithURL(editorURL), liveWindow("first")); });

  auto outcome = watch(actions->launcher().openAppWindows(record, c.wanted), queue);
  queue.runUntilIdle();
  queue.advance(4900ms);
  EXPECT_EQ(keyDowns(), 0u);
  EXPECT_FALSE(outcome->settled());
  queue.advance(20s);

  ASSERT_TRUE(outcome->succeeded());
  EXPECT_EQ(outcome->at, c.doneAt);
  EXPECT_EQ(outcome->result->value().size(), static_cast<std::size_t>(c.wanted));
  EXPECT_EQ(desktop.applicationWithURL(editorURL)->windows().size(),
            static_cast<std::size_t>(c.wanted));
  EXPECT_EQ(keyDowns(), c.keyDowns);
  ASSERT_EQ(desktop.workspace().requests().size(), 1u) << "launched once, never reopened";
  EXPECT_FALSE(desktop.workspace().requests()[0].reopen);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LaunchedProgramTest,
    ::testing::Values(LateWindowCase{"OneWindowNoKeystroke", 1, false, 0, 5s},
                      LateWindowCase{"OneWindowKeystrokeKnown", 1, true, 0, 5s},
                      LateWindowCase{"TwoWindowsKeystrokeAfterTheFirst", 2, true, 1, 8s}),
    [](const auto& param) { return std::string(param.param.label); });

TEST_F(WindowOpenerTest, FailedReopenFailsTheWait) {
  const base::Url editorURL = url("file:///apps/editor.desktop");
  desktop.launch(AppSetup::withId(kEditor).withURL(editorURL));
  desktop.scriptLaunch(editorURL, LaunchScript::failing());
  setShortcut(kEditor, std::nullopt);
  IApp record = editorRecord(1);
  record.bundleURL = editorURL;

  auto outcome = run(actions->launcher().openAppWindows(record, 1));

  ASSERT_TRUE(outcome->settled());
  ASSERT_FALSE(outcome->succeeded());
  EXPECT_EQ(outcome->result->error().domain, "Wendrix.WorkspaceError");
}

TEST_F(WindowOpenerTest, TooManyWindowsAreReportedOnlyAfterAKeystroke) {
  launchEditor(1);
  desktop.scriptNewWindow(800, NewWindowScript::opening(2, 1s).asOneBurst());
  setShortcut(kEditor, kCommandN);

  auto outcome = run(actions->launcher().openAppWindows(editorRecord(2), 2));

  ASSERT_TRUE(outcome->succeeded());
  EXPECT_EQ(outcome->result->value().size(), 3u);
  const auto reported = eventsNamed("Error");
  ASSERT_EQ(reported.size(), 1u);
  std::vector<tlm::TLMEventProperty> expected = {
      {"Expected", std::int64_t{2}},
      {"Actual", std::int64_t{3}},
      {"Opened", std::int64_t{1}},
      {"ErrorDescription", std::string("Too many windows restored")},
  };
  EXPECT_EQ(reported[0].properties, expected);

  // More windows than wanted without any keystroke: nothing to report.
  analytics.backend().clear();
  auto more = run(actions->launcher().openAppWindows(editorRecord(1), 1));
  ASSERT_TRUE(more->succeeded());
  EXPECT_EQ(more->result->value().size(), 3u);
  EXPECT_TRUE(eventsNamed("Error").empty());
}

TEST_F(WindowOpenerTest, KeyTheKeyboardCannotMakeIsSkipped) {
  launchEditor(1);
  desktop.keyboard().markUnmappable(45);
  setShortcut(kEditor, kCommandN);

  auto outcome = run(actions->launcher().openAppWindows(editorRecord(2), 2));

  ASSERT_TRUE(outcome->succeeded());
  EXPECT_EQ(outcome->at, 20s);
  EXPECT_TRUE(desktop.keyboard().posted().empty());
}

}  // namespace
}  // namespace wendrix::testing
