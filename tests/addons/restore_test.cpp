// Restoring addon applications through Actions.restoreApp on the fake desktop:
// the window opener's steps as each addon chains them, with applications
// that answer open requests and keystrokes by making windows, at once or
// later.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include "addons/addon_manager.h"
#include "addons/sourcetree_addon.h"
#include "addons/vscode_addon.h"
#include "addons/xcode_addon.h"
#include "coding/plist.h"
#include "element_trees.h"
#include "engine/restore_errors.h"
#include "engine/restore_fixture.h"

namespace wendrix::testing {
namespace {

using namespace std::chrono_literals;
using platform::Keystroke;
using winsys::fake::FakeWindow;

const std::string kSourcetree(kSourcetreeBundleId);
const std::string kXcode(kXcodeBundleId);
const std::string kEditor(kVSCodeBundleId);

template <class State>
IWindow saved(std::string title, const std::optional<State>& state, std::int64_t index) {
  IWindow window =
      savedWindow(std::move(title), rect(static_cast<double>(index) * 50, 0), {}, index);
  if (state)
    window.addonState = coding::toPropertyList(*state, coding::PlistFormat::binary).value();
  return window;
}

WindowSetup withIdentifier(std::string title, std::string identifier) {
  return liveWindow(std::move(title))
      .withUIElement(element({{UIAttribute::identifier, std::move(identifier)}}));
}

SourcetreeState repo(const std::string& path) {
  return SourcetreeState::repo(base::Url::fromFilePath(path, true));
}

// A window spec for a folder handed to Sourcetree: its repository window.
std::optional<WindowSetup> repositoryWindow(const base::Url& folder) {
  std::string path = folder.filePath().value_or("");
  if (path.size() > 1 && path.back() == '/') path.pop_back();
  return withIdentifier(std::filesystem::path(path).filename().string(), "repo:" + path);
}

class AddonRestoreTest : public RestoreTest {
 protected:
  void SetUp() override {
    provider->warmUp();
    queue.runUntilIdle();
    ActionsContext c = restoreContext();
    c.addons = manager;
    c.addonRestores = manager;
    actions = Actions::make(c);
  }

  // "live window title -> saved title" for each pair, in result order.
  static std::vector<std::string> pairs(const Outcome<MatchedWindows>& outcome) {
    std::vector<std::string> out;
    if (!outcome.succeeded()) return out;
    for (const auto& m : outcome.result->value())
      out.push_back(m.window->title() + " -> " + m.target.title);
    return out;
  }
  // "title" of each window of the application, with "(minimized)".
  std::vector<std::string> windowsOf(const std::string& bundleId) const {
    std::vector<std::string> out;
    if (auto application = running(bundleId)) {
      for (const auto& w : application->windows())
        out.push_back(w->title() + (w->isMinimized() ? " (minimized)" : ""));
    }
    return out;
  }
  // AppName and WindowType of each "UnsupportedMultipleWindows".
  std::vector<std::string> repeats() const {
    std::vector<std::string> out;
    for (const auto& e : eventsNamed("UnsupportedMultipleWindows")) {
      out.push_back(property<std::string>(e, "AppName").value_or("-") + " " +
                    property<std::string>(e, "WindowType").value_or("-"));
    }
    return out;
  }
  long useCountOf(const std::string& bundleId) const {
    return manager->addonMap().at(bundleId).use_count();
  }

  std::shared_ptr<AddonManager> manager = std::make_shared<AddonManager>();
};

// --- Sourcetree ---------------------------------------------------------------

TEST_F(AddonRestoreTest, SourcetreePairsOpensByFolderAndKeystrokeAndTidies) {
  const base::Url appURL = url("file:///apps/sourcetree.desktop");
  auto sourcetree = desktop.launch(AppSetup::withId(kSourcetree).withURL(appURL).withPid(700),
                                   {withIdentifier("alpha (open)", "repo:/src/alpha"),
                                    withIdentifier("zeta", "repo:/src/zeta")});
  // Handing it a folder opens the folder's window, and also a stray window.
  desktop.scriptLaunch(appURL, LaunchScript::launching(AppSetup::withId(kSourcetree))
                                   .withReopenWindows({liveWindow("Stray")})
                                   .withWindowPerDocument(repositoryWindow));
  // Command-0 opens the browser 2 s later.
  desktop.scriptNewWindow(700, NewWindowScript::opening(1, 2s).forKey(29).withWindow(
                                   withIdentifier("Browser", "repobrowser")));
  IApp record = app(kSourcetree, {saved<SourcetreeState>("alpha", repo("/src/alpha"), 0),
                                  saved<SourcetreeState>("beta", repo("/src/beta"), 1),
                                  saved<SourcetreeState>("browser", SourcetreeState::browser(), 2),
                                  saved<SourcetreeState>("beta again", repo("/src/beta"), 3)});
  record.bundleURL = appURL;

  auto outcome = run(actions->restorer().restoreApp(record));

  ASSERT_TRUE(outcome->succeeded());
  EXPECT_EQ(outcome->at, 2s);
  EXPECT_EQ(pairs(*outcome), (std::vector<std::string>{"alpha (open) -> alpha", "beta -> beta",
                                                       "Browser -> browser"}));
  // One request with the one folder not open; the repeat was never opened.
  ASSERT_EQ(desktop.workspace().requests().size(), 1u);
  EXPECT_EQ(desktop.workspace().requests()[0].documents,
            std::vector<base::Url>{base::Url::fromFilePath("/src/beta", true)});
  EXPECT_EQ(desktop.keyboard().posted(), (std::vector<Keystroke>{{700, 29, kMaskCommand, true},
                                                                 {700, 29, kMaskCommand, false}}));
  queue.runUntilIdle();
  // Open before and not in the layout: minimized; appeared meanwhile: closed.
  EXPECT_EQ(windowsOf(kSourcetree),
            (std::vector<std::string>{"alpha (open)", "zeta (minimized)", "beta", "Browser"}));
  EXPECT_EQ(sourcetree->windows()[0]->minimizedWrites(), 0);
  EXPECT_EQ(repeats(), std::vector<std::string>{kSourcetree + " repo"});
  EXPECT_EQ(eventsNamed("Restored_With_Addon").size(), 1u);
  EXPECT_TRUE(eventsNamed("Restored_With_Addon")[0].properties.empty());
}

TEST_F(AddonRestoreTest, WindowAfterItsTenSecondWaitIsNotPairedAndIsClosed) {
  const base::Url appURL = url("file:///apps/sourcetree.desktop");
  desktop.launch(AppSetup::withId(kSourcetree).withURL(appURL).withPid(700));
  // The folder's window comes 12 s after the request; the browser 5 s after
  // Command-0, which goes out once the folder's wait has ended.
  desktop.scriptLaunch(appURL, LaunchScript::launching(AppSetup::withId(kSourcetree), {}, 12s)
                                   .withWindowPerDocument(repositoryWindow));
  desktop.scriptNewWindow(700, NewWindowScript::opening(1, 5s).forKey(29).withWindow(
                                   withIdentifier("Browser", "repobrowser")));
  IApp record =
      app(kSourcetree, {saved<SourcetreeState>("alpha", repo("/src/alpha"), 0),
                        saved<SourcetreeState>("browser", SourcetreeState::browser(), 1)});
  record.bundleURL = appURL;

  auto outcome = run(actions->restorer().restoreApp(record));

  ASSERT_TRUE(outcome->succeeded());
  EXPECT_EQ(outcome->at, 15s);
  EXPECT_EQ(pairs(*outcome), std::vector<std::string>{"Browser -> browser"});
  queue.runUntilIdle();
  EXPECT_EQ(windowsOf(kSourcetree), std::vector<std::string>{"Browser"});
}

TEST_F(AddonRestoreTest, EngineTimeOutCancelsTheChainBeforeTidying) {
  const base::Url appURL = url("file:///apps/sourcetree.desktop");
  desktop.workspace().install(kSourcetree, appURL);
  // Not running: it starts 12 s after a request, with a window of its own.
  desktop.scriptLaunch(appURL, LaunchScript::launching(AppSetup::withId(kSourcetree).withPid(700),
                                                       {liveWindow("Welcome")}, 12s));
  desktop.scriptNewWindow(700, NewWindowScript::opening(1, 15s).forKey(29).withWindow(
                                   withIdentifier("Browser", "repobrowser")));
  const long idle = useCountOf(kSourcetree);

  auto restored = watch(
      actions->restoreApps(
          {app(kSourcetree, {saved<SourcetreeState>("browser", SourcetreeState::browser(), 0)})}),
      queue);
  queue.runUntilIdle();
  // The URL step has nothing to wait for: it ends at once, and its one
  // request, without folders, goes out after the launch that the keystroke
  // step asked for.
  ASSERT_EQ(desktop.workspace().requests().size(), 2u);
  EXPECT_FALSE(desktop.workspace().requests()[0].documents.has_value());
  EXPECT_EQ(desktop.workspace().requests()[1].documents, std::vector<base::Url>{});
  EXPECT_GT(useCountOf(kSourcetree), idle);

  queue.advance(12s);  // launched; Command-0 posted; the browser's wait runs to 22 s
  EXPECT_EQ(desktop.keyboard().posted().size(), 2u);
  queue.advance(8s);  // 20 s: the engine gives up on the application
  ASSERT_TRUE(restored->succeeded());
  EXPECT_EQ(restoreEvents("App_Restored")[0].statistics, (RestoreStatistics{1, 0, 1, 0}));
  // The opener is gone, with its waits; tidying never runs.
  EXPECT_EQ(useCountOf(kSourcetree), idle);
  queue.advance(60s);
  EXPECT_EQ(windowsOf(kSourcetree), (std::vector<std::string>{"Welcome", "Browser"}));
  EXPECT_TRUE(eventsNamed("Restored_With_Addon").empty());
}

// --- Xcode --------------------------------------------------------------------

TEST_F(AddonRestoreTest, XcodePairsStatelessWindowsOpensProjectsAndPostsKeystrokes) {
  const base::Url appURL = url("file:///apps/xcode.desktop");
  auto xcode = desktop.launch(AppSetup::withId(kXcode).withURL(appURL).withPid(710),
                              {liveWindow("Something").withUIElement(element())});
  desktop.scriptLaunch(
      appURL,
      LaunchScript::launching(AppSetup::withId(kXcode))
          .withWindowPerDocument([](const base::Url& project) -> std::optional<WindowSetup> {
            return liveWindow("Project").withUIElement(
                element({{UIAttribute::identifier, "Xcode.WorkspaceWindow"},
                         {UIAttribute::document, project.filePath().value_or("")}}));
          }));
  desktop.scriptNewWindow(710, NewWindowScript::opening(1).forKey(29).withWindow(
                                   withIdentifier("Docs", "Documentation Viewer Window")));
  desktop.scriptNewWindow(710, NewWindowScript::opening(1, 3s).forKey(31).withWindow(
                                   withIdentifier("Organizer", "_IDEProductsUI:OrganizerWindow")));
  IApp record =
      app(kXcode, {saved<XcodeAddonState>("docs", XcodeAddonState::documentation(), 0),
                   saved<XcodeAddonState>("plain", std::nullopt, 1),
                   saved<XcodeAddonState>("app", XcodeAddonState::project("/p/App"), 2),
                   saved<XcodeAddonState>("archives", XcodeAddonState::archives(), 3),
                   saved<XcodeAddonState>("docs 2", XcodeAddonState::documentation(), 4)});
  record.bundleURL = appURL;

  auto outcome = run(actions->restorer().restoreApp(record));

  ASSERT_TRUE(outcome->succeeded());
  EXPECT_EQ(outcome->at, 3s);
  // The open window without a kind Xcode knows pairs with the saved window
  // without state.
  EXPECT_EQ(pairs(*outcome), (std::vector<std::string>{"Something -> plain", "Project -> app",
                                                       "Docs -> docs", "Organizer -> archives"}));
  ASSERT_EQ(desktop.workspace().requests().size(), 1u);
  EXPECT_EQ(desktop.workspace().requests()[0].documents,
            std::vector<base::Url>{base::Url::fromFilePath("/p/App")});
  // Back to back, key down then key up, to Xcode only.
  const std::uint64_t commandShift = kMaskCommand | kMaskShift;
  const std::uint64_t commandOptionShift = commandShift | kMaskAlternate;
  EXPECT_EQ(desktop.keyboard().posted(),
            (std::vector<Keystroke>{{710, 29, commandShift, true},
                                    {710, 29, commandShift, false},
                                    {710, 31, commandOptionShift, true},
                                    {710, 31, commandOptionShift, false}}));
  queue.runUntilIdle();
  EXPECT_EQ(xcode->windows().size(), 4u);
  EXPECT_EQ(repeats(), std::vector<std::string>{kXcode + " documentation"});
  EXPECT_EQ(eventsNamed("Restored_With_Addon").size(), 1u);
}

TEST_F(AddonRestoreTest, ApplicationThatCannotBeLaunchedFailsTheRestore) {
  // Neither running nor installed.
  auto outcome = run(actions->restorer().restoreApp(
      app(kXcode, {saved<XcodeAddonState>("docs", XcodeAddonState::documentation(), 0)})));

  ASSERT_TRUE(outcome->settled());
  ASSERT_FALSE(outcome->succeeded());
  EXPECT_TRUE(InvalidAppError::is(outcome->result->error()));
  EXPECT_TRUE(desktop.keyboard().posted().empty());
  EXPECT_TRUE(eventsNamed("Restored_With_Addon").empty());
}

// --- the code editor ------------------------------------------------------------

class EditorRestoreTest : public AddonRestoreTest {
 protected:
  void SetUp() override {
    AddonRestoreTest::SetUp();
    folder =
        std::filesystem::temp_directory_path() / ("wendrix-restore-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder / "alpha");
    tree = editorTree(recentMenu({(folder / "alpha").string(), "~/gone"}));
    editor = desktop.launch(AppSetup::withId(kEditor).withURL(appURL).withPid(900));
  }
  void TearDown() override { std::filesystem::remove_all(folder); }

  // An editor window titled `title`, in the editor's accessibility tree.
  WindowSetup editorWindow(std::string title) {
    return liveWindow(std::move(title))
        .withUIElement(tree.application->addChild(element({{UIAttribute::role, "AXWindow"}})));
  }
  base::Url alphaURL() const { return base::Url::fromFilePath((folder / "alpha").string(), true); }

  std::filesystem::path folder;
  EditorTree tree;
  const base::Url appURL = url("file:///apps/code.desktop");
  std::shared_ptr<FakeApplication> editor;
};

TEST_F(EditorRestoreTest, RetitledWindowCountsAsNewAndTheRestOpenByNewWindow) {
  // A folder handed over opens an untitled window that the editor names once
  // the folder is loaded.
  desktop.scriptLaunch(appURL, LaunchScript::launching(AppSetup::withId(kEditor))
                                   .withWindowPerDocument([this](const base::Url&) {
                                     return std::optional(editorWindow("Untitled"));
                                   }));
  desktop.scriptNewWindow(900, NewWindowScript::opening(1, 1s).withWindow(editorWindow("New")));
  IApp record = app(kEditor, {saved<VSCodeState>("a", VSCodeState::url(alphaURL()), 0),
                              saved<VSCodeState>("gone", VSCodeState::recent("~/gone"), 1),
                              saved<VSCodeState>("a again", VSCodeState::url(alphaURL()), 2)});
  record.bundleURL = appURL;

  auto outcome = watch(actions->restorer().restoreApp(record), queue);
  queue.advance(2s);
  ASSERT_EQ(editor->windows().size(), 1u);
  desktop.setTitle(editor->windows()[0], "main.c \u2014 alpha");
  while (!outcome->settled() && queue.runNextTimer())
    queue.runUntilIdle();

  ASSERT_TRUE(outcome->succeeded());
  EXPECT_EQ(pairs(*outcome), (std::vector<std::string>{"main.c \u2014 alpha -> a", "New -> gone"}));
  ASSERT_EQ(desktop.workspace().requests().size(), 1u);
  queue.runUntilIdle();
  EXPECT_EQ(windowsOf(kEditor), (std::vector<std::string>{"main.c \u2014 alpha", "New"}));
  EXPECT_EQ(repeats(), std::vector<std::string>{kEditor + " url"});
  EXPECT_EQ(eventsNamed("Restored_With_Addon").size(), 1u);
}

// Two new windows without documents for one saved window: display matching
// pairs the later one; that one must stay and the other go.
TEST_F(EditorRestoreTest, TidyingKeepsTheWindowPairedByDisplayAndClosesTheStray) {
  desktop.scriptNewWindow(900, NewWindowScript::opening(2).asOneBurst());
  IApp record = app(kEditor, {saved<VSCodeState>("gone", VSCodeState::recent("~/gone"), 0)});
  record.bundleURL = appURL;

  auto outcome = run(actions->restorer().restoreApp(record));

  ASSERT_TRUE(outcome->succeeded());
  ASSERT_EQ(outcome->result->value().size(), 1u);
  const auto restored = outcome->result->value()[0].window;
  queue.runUntilIdle();
  ASSERT_EQ(editor->windows().size(), 1u);
  EXPECT_EQ(editor->windows()[0]->identity(), restored->identity());
}

}  // namespace
}  // namespace wendrix::testing
