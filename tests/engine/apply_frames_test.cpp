// Placing paired windows: frames, leaving the minimized state, failure
// reports and the activation that follows.

#include <string>
#include <vector>

#include "restore_fixture.h"
#include "winsys/errors.h"

namespace wendrix::testing {
namespace {

using namespace std::chrono_literals;
using winsys::fake::ActivationScript;
using winsys::fake::WriteScript;

class ApplyFramesTest : public RestoreTest {
 protected:
  std::shared_ptr<FakeApplication> editor = desktop.launch(AppSetup::withId(kEditor));
};

TEST_F(ApplyFramesTest, FailedWritesNeverFailTheRestoreAndOnlySomeAreReported) {
  const IWindow target = savedWindow("Report (saved)", rect(40, 40), "/docs/r.txt");
  struct Case {
    std::string name;
    std::optional<base::Error> frameError;
    std::optional<base::Error> minimizeError;
    winsys::Rect frame;
    bool minimized;
    std::vector<std::pair<std::string, std::string>> errors;
  };
  const winsys::Rect away{900, 900, 10, 10};
  const std::vector<Case> cases = {
      {"frame refused", base::Error("X", 1, "cannot move Report"), std::nullopt, away, false, {}},
      {"un-minimizing refused",
       std::nullopt,
       base::Error("X", 2, "Report (/docs/r.txt) stays in the Dock"),
       frame(rect(40, 40)),
       true,
       {{"WINDOW_TITLE (WINDOW_DOC) stays in the Dock", "actions.updateMinimized_000"}}},
      {"frame write cancelled",
       base::Error(std::string(winsys::PromiseCancelled::kDomain), 1,
                   "placing Report (saved) was cancelled"),
       std::nullopt,
       away,
       true,
       {{"placing WINDOW_TITLE was cancelled", "actions.restoreWindow_000"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    analytics.backend().clear();
    auto window = desktop.addWindow(editor, liveWindow("Report", "/docs/r.txt").asMinimized());
    if (c.frameError) window->scriptFrameWrites(WriteScript::rejected(*c.frameError));
    if (c.minimizeError) window->scriptMinimizedWrites(WriteScript::rejected(*c.minimizeError));

    auto outcome = run(actions->placer().restoreWindows({{window, target}}, app(kEditor)));

    ASSERT_TRUE(outcome->succeeded());
    EXPECT_EQ(window->frame(), c.frame);
    EXPECT_EQ(window->isMinimized(), c.minimized);
    EXPECT_EQ(errors(), c.errors);
    desktop.destroyWindow(window);
  }
}

TEST_F(ApplyFramesTest, FrameIsWrittenBeforeTheWindowLeavesTheMinimizedState) {
  auto window = desktop.addWindow(editor, liveWindow("w").asMinimized());
  window->scriptFrameWrites(WriteScript::after(1s));

  auto outcome = watch(actions->placer().setWindowFrame(window, frame(rect(1, 1))), queue);
  queue.advance(999ms);
  EXPECT_EQ(window->minimizedWrites(), 0);
  queue.advance(1ms);
  queue.runUntilIdle();

  ASSERT_TRUE(outcome->succeeded());
  EXPECT_EQ(window->frame(), frame(rect(1, 1)));
  EXPECT_FALSE(window->isMinimized());
}

TEST_F(ApplyFramesTest, SinglePairWithoutDocumentTakesTheSavedMainWindowFrame) {
  const Rect main = rect(300, 300);
  struct Case {
    std::string name;
    std::vector<IWindow> targets;
    std::vector<winsys::Rect> frames;
  };
  const std::vector<Case> cases = {
      {"one pair without document", {savedWindow("a", rect(1, 1))}, {frame(main)}},
      {"one pair with document", {savedWindow("a", rect(1, 1), "/a")}, {frame(rect(1, 1))}},
      {"two pairs",
       {savedWindow("a", rect(1, 1)), savedWindow("b", rect(2, 2))},
       {frame(rect(1, 1)), frame(rect(2, 2))}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MatchedWindows pairs;
    for (const auto& target : c.targets)
      pairs.push_back({desktop.addWindow(editor, liveWindow(target.title)), target});
    IApp record = app(kEditor, c.targets);
    record.mainWindow = savedWindow("main", main);

    run(actions->placer().restoreWindows(pairs, record));

    for (std::size_t i = 0; i < pairs.size(); ++i)
      EXPECT_EQ(pairs[i].window->frame(), c.frames[i]);
    for (const auto& pair : pairs)
      desktop.destroyWindow(std::static_pointer_cast<winsys::fake::FakeWindow>(pair.window));
  }
}

TEST_F(ApplyFramesTest, ActivationIsAwaitedOnlyForPlacedWindowsOfAnIdentifiedApplication) {
  auto window = desktop.addWindow(editor, liveWindow("w"));
  struct Case {
    std::string name;
    MatchedWindows pairs;
    IApp record;
    ActivationScript activation;
    dispatch::Duration done;
    std::size_t activations;
  };
  IApp withoutId = app(kEditor);
  withoutId.bundleId.reset();
  const std::vector<Case> cases = {
      {"no pairs", {}, app(kEditor), ActivationScript::after(1s), 0s, 0},
      {"frontmost after 1 s",
       {{window, savedWindow("w", {})}},
       app(kEditor),
       ActivationScript::after(1s),
       1100ms,
       1},
      {"never frontmost",
       {{window, savedWindow("w", {})}},
       app(kEditor),
       ActivationScript::never(),
       3s,
       1},
      {"no bundle identifier",
       {{window, savedWindow("w", {})}},
       withoutId,
       ActivationScript::after(1s),
       0s,
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    desktop.setFrontmost(nullptr);
    desktop.scriptActivation(editor->processIdentifier(), c.activation);
    const auto before = desktop.runningApplications().activations().size();
    const auto start = queue.elapsed();

    auto outcome = run(actions->placer().restoreWindows(c.pairs, c.record));

    ASSERT_TRUE(outcome->succeeded());
    EXPECT_EQ(outcome->at - start, c.done);
    EXPECT_EQ(desktop.runningApplications().activations().size() - before, c.activations);
    queue.advance(5s);  // let the queue finish its item
  }
}

}  // namespace
}  // namespace wendrix::testing
