// The URL commands over the real actions on the fake desktop.

#include "app/url_handler.h"

#include <string>
#include <utility>
#include <vector>

#include "engine/restore_fixture.h"

namespace wendrix::testing {
namespace {

using namespace std::chrono_literals;

const std::string kEditor = "org.example.Editor";
// Where liveWindow puts a window.
const winsys::Rect kAway{900, 900, 10, 10};

class URLHandlerTest : public RestoreTest {
 protected:
  void SetUp() override {
    RestoreTest::SetUp();
    handler = std::make_shared<URLHandler>(actions, storage);
  }

  // Handles the URLs and runs virtual time until nothing is left to do.
  // Gives what the handler told its caller (none when it told nothing).
  std::optional<base::Status> open(std::vector<std::string> urls) {
    analytics.backend().clear();
    std::optional<base::Status> outcome;
    int told = 0;
    handler->handleURLs(urls, [&](const base::Status& s) {
      outcome = s;
      ++told;
    });
    queue.runUntilIdle();
    while (queue.runNextTimer())
      queue.runUntilIdle();
    EXPECT_LE(told, 1);
    return outcome;
  }

  // The Source of every "URL_Handled".
  std::vector<std::string> handled() const {
    std::vector<std::string> sources;
    for (const auto& event : eventsNamed("URL_Handled")) {
      EXPECT_EQ(event.properties.size(), 1u);
      sources.push_back(property<std::string>(event, "Source").value_or("?"));
    }
    return sources;
  }

  std::vector<std::string> layoutNames() {
    std::vector<std::string> names;
    for (const auto& l : storage->loadLayouts())
      names.push_back(l.name);
    return names;
  }

  // The editor runs with its window away from where layout `name` puts it.
  std::shared_ptr<FakeApplication> editorWithLayout(const std::string& name,
                                                    Rect saved = rect(10, 20)) {
    auto editor = desktop.launch(AppSetup::withId(kEditor).withPid(700),
                                 {liveWindow("Notes", std::string("notes.txt"))});
    storage->saveLayout(layout(name, {app(kEditor, {savedWindow("Notes", saved, "notes.txt")})}));
    queue.runUntilIdle();
    return editor;
  }

  std::shared_ptr<URLHandler> handler;
};

std::string notFound(int code) {
  return "The operation couldn\u2019t be completed. (Wendrix.URLHandlerError error " +
         std::to_string(code) + ".)";
}

TEST_F(URLHandlerTest, RestoreMovesTheLayoutsWindowsAndReportsIt) {
  auto editor = editorWithLayout("Work Setup");
  editor->windows()[0]->setMinimized(true);
  queue.runUntilIdle();

  open({"wendrix:restore?name=Work%20Setup"});

  EXPECT_EQ(framesOf(editor), std::vector<winsys::Rect>{frame(rect(10, 20))});
  EXPECT_EQ(minimizedOf(editor), std::vector<bool>{false});
  EXPECT_EQ(handled(), std::vector<std::string>{"restore"});
  EXPECT_EQ(restoreEvents().size(), 1u);
  EXPECT_TRUE(errors().empty());
  EXPECT_EQ(handler->runningCommands(), 0u);
}

TEST_F(URLHandlerTest, NamesAreFoundExactlyFirstThenBySlug) {
  auto editor = editorWithLayout("Work Setup", rect(10, 20));
  open({"wendrix:restore?name=work_setup"});
  EXPECT_EQ(framesOf(editor), std::vector<winsys::Rect>{frame(rect(10, 20))});

  // A layout named exactly work_setup wins over the slug.
  storage->saveLayout(
      layout("work_setup", {app(kEditor, {savedWindow("Notes", rect(300, 40), "notes.txt")})}));
  open({"wendrix:restore?name=work_setup"});
  EXPECT_EQ(framesOf(editor), std::vector<winsys::Rect>{frame(rect(300, 40))});
  EXPECT_EQ(handled(), std::vector<std::string>{"restore"});
}

TEST_F(URLHandlerTest, HideClosesTheLayoutsApplications) {
  setCloseBehavior(CloseBehavior::quit);
  auto editor = editorWithLayout("Work");
  auto other = desktop.launch(AppSetup::withId("org.example.Other"), {liveWindow("O")});

  open({"wendrix:hide?name=Work"});

  EXPECT_FALSE(editor->running());
  EXPECT_TRUE(other->running());
  EXPECT_EQ(handled(), std::vector<std::string>{"close"});
}

TEST_F(URLHandlerTest, MissingLayoutsEndInOneErrorAtTheCommandsLocation) {
  auto editor = editorWithLayout("Work");
  struct Case {
    std::string url;
    std::pair<std::string, std::string> error;
  };
  const std::vector<Case> cases = {
      {"wendrix:restore?name=Play", {notFound(1), "urlhandler.restore_000"}},
      {"wendrix:hide?name=Play", {notFound(2), "urlhandler.close_000"}},
      // An empty name, or one whose slug is empty, does not match by slug.
      {"wendrix:restore?name=", {notFound(1), "urlhandler.restore_000"}},
      {"wendrix:restore?name=%F0%9F%8E%89", {notFound(1), "urlhandler.restore_000"}},
  };
  storage->saveLayout(layout("\U0001F680"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    open({c.url});
    EXPECT_EQ(errors(), (std::vector<std::pair<std::string, std::string>>{c.error}));
    EXPECT_TRUE(handled().empty());
  }
  EXPECT_TRUE(editor->running());
  EXPECT_EQ(framesOf(editor), std::vector<winsys::Rect>{kAway});
}

TEST_F(URLHandlerTest, SaveNamesTheLayoutFromTheURL) {
  desktop.launch(AppSetup::withId(kEditor), {liveWindow("Notes")});
  struct Case {
    std::string url;
    std::string name;
  };
  const std::vector<Case> cases = {
      {"wendrix:save?name=Deep_Work", "Deep Work"},
      {"wendrix:save", "May 1, 2024, 10:00 AM"},
      {"wendrix:save?", "May 1, 2024, 10:00 AM"},
      {"wendrix:save?other=1", "May 1, 2024, 10:00 AM"},
      {"wendrix:savename=Direct", "Direct"},
      {"wendrix:save?name=:rocket:_Launch", "\U0001F680 Launch"},
      {"wendrix:save?name=Done:white_check_mark:", "Done\u2705"},
      {"wendrix:save?name=Ratio:1:2:", "Ratio:1:2:"},
      {"wendrix:save?name=Caf%C3%A9+Time", "Caf\u00e9 Time"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    storage->layouts().setValue({});
    open({c.url});
    EXPECT_EQ(layoutNames(), std::vector<std::string>{c.name});
    EXPECT_EQ(handled(), std::vector<std::string>{"save"});
    EXPECT_TRUE(errors().empty());
  }
}

TEST_F(URLHandlerTest, OtherCommandsAreReportedAndOtherSchemesIgnored) {
  auto editor = editorWithLayout("Work");
  struct Case {
    std::string url;
    bool reported;
  };
  const std::vector<Case> cases = {
      {"wendrix:open?name=x", true},
      {"wendrix://restore?name=Work", true},
      {"wendrix:restore", true},
      {"wendrix:hide", true},
      {"wendrix:RESTORE?name=Work", true},
      // The command ends inside a character when a combining mark follows.
      {"wendrix:restore?\u0301name=Work", true},
      {"wendrix:", true},
      {"other:restore?name=Work", false},
      {"WENDRIX:restore?name=Work", false},
      {"wendrix\u0301:restore?name=Work", false},
      {"", false},
      // Queries without a name do nothing and send nothing.
      {"wendrix:restore?x=1", false},
      {"wendrix:hide?", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    open({c.url});
    if (c.reported) {
      EXPECT_EQ(errors(), (std::vector<std::pair<std::string, std::string>>{
                              {notFound(3), "urlhandler.handleURL_000"}}));
    } else {
      EXPECT_TRUE(analytics.events().empty());
    }
    EXPECT_EQ(framesOf(editor), std::vector<winsys::Rect>{kAway});
  }
}

TEST_F(URLHandlerTest, SeveralURLsAreHandledInOrderEachOnItsOwn) {
  auto editor = editorWithLayout("Work", rect(10, 20));
  open({"wendrix:restore?name=Nope", "wendrix:restore?name=Work", "wendrix:save?name=After"});
  // They run at once: the save ends before the restore.
  EXPECT_EQ(handled(), (std::vector<std::string>{"save", "restore"}));
  EXPECT_EQ(errors().size(), 1u);
  EXPECT_EQ(layoutNames(), (std::vector<std::string>{"Work", "After"}));
  EXPECT_EQ(framesOf(editor), std::vector<winsys::Rect>{frame(rect(10, 20))});
}

TEST_F(URLHandlerTest, TheCallerIsToldOnceEveryURLHasEndedAndWhetherAllSucceeded) {
  editorWithLayout("Work");
  struct Case {
    std::vector<std::string> urls;
    // Empty: success; else a piece of the failure's description.
    std::string failure;
  };
  const std::vector<Case> cases = {
      {{"wendrix:restore?name=Work", "wendrix:save?name=B"}, ""},
      {{}, ""},
      {{"wendrix:save?name=C", "wendrix:restore?name=Nope"}, "wendrix:restore?name=Nope: "},
      // Ignored or dropped URLs fail too.
      {{"other:restore?name=Work"}, "not a wendrix: URL"},
      {{"wendrix:open?name=x"}, "error 3"},
      {{"wendrix:restore?x=1"}, "no layout name"},
      {{"wendrix:save?name=bad%FF%FEutf"}, "not valid percent-encoded"},
      {{"wendrix:save?name=nul%00here"}, "wendrix:save?name=nul%00here: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.urls.empty() ? std::string("none") : c.urls.back());
    const auto outcome = open(c.urls);
    ASSERT_TRUE(outcome.has_value());
    if (c.failure.empty()) {
      EXPECT_TRUE(outcome->ok()) << outcome->error();
    } else {
      ASSERT_FALSE(outcome->ok());
      EXPECT_NE(outcome->error().description.find(c.failure), std::string::npos)
          << outcome->error();
    }
  }
}

TEST_F(URLHandlerTest, ANameThatCannotBeStoredSavesNothingAndSendsOneError) {
  desktop.launch(AppSetup::withId(kEditor), {liveWindow("Notes")});
  storage->saveLayout(layout("Last"));
  for (const std::string url : {"wendrix:save?name=bad%FF%FEutf", "wendrix:save?name=nul%00here"}) {
    SCOPED_TRACE(url);
    open({url});
    EXPECT_EQ(layoutNames(), std::vector<std::string>{"Last"});
    EXPECT_TRUE(eventsNamed("Layout_Saved").empty());
    EXPECT_TRUE(handled().empty());
    EXPECT_FALSE(errors().empty());
  }
  // The malformed escape is one malformed command.
  open({"wendrix:save?name=bad%FF%FEutf"});
  EXPECT_EQ(errors().size(), 1u);
}

TEST_F(URLHandlerTest, CommandsWhoseActionsAreGoneSucceedWithoutActing) {
  auto editor = editorWithLayout("Work", rect(10, 20));
  auto orphan = std::make_shared<URLHandler>(nullptr, storage);
  analytics.backend().clear();
  orphan->handleURLs({"wendrix:restore?name=Work", "wendrix:save?name=X"});
  queue.runUntilIdle();
  EXPECT_EQ(handled(), (std::vector<std::string>{"restore", "save"}));
  EXPECT_EQ(framesOf(editor), std::vector<winsys::Rect>{kAway});
  EXPECT_EQ(layoutNames(), std::vector<std::string>{"Work"});
}

// The window system cannot start: saving, and restoring a layout that closes
// the other applications first, fail.
class URLHandlerFailureTest : public URLHandlerTest {
 protected:
  void SetUp() override {
    desktop.scriptInitialization(
        winsys::fake::WriteScript::rejected(base::Error("test", 7, "no windows for Deep Work")));
    URLHandlerTest::SetUp();
  }
};

TEST_F(URLHandlerFailureTest, FailuresAreReportedWithTheNameReplaced) {
  storage->saveLayout(layout("Deep Work", {app(kEditor)}, true));
  open({"wendrix:save?name=Deep_Work"});
  EXPECT_EQ(errors(), (std::vector<std::pair<std::string, std::string>>{
                          {"no windows for NAME", "urlhandler.save_000"}}));
  open({"wendrix:restore?name=Deep%20Work"});
  EXPECT_EQ(errors(), (std::vector<std::pair<std::string, std::string>>{
                          {"no windows for NAME", "urlhandler.restore_000"}}));
  EXPECT_TRUE(handled().empty());
}

TEST_F(URLHandlerTest, CommandsStillRunningEndWithTheHandler) {
  auto editor = editorWithLayout("Work", rect(10, 20));
  desktop.scriptActivation(700, winsys::fake::ActivationScript::never());
  handler->handleURL("wendrix:restore?name=Work");
  queue.runUntilIdle();
  EXPECT_EQ(handler->runningCommands(), 1u);
  handler.reset();
  queue.runUntilIdle();
  while (queue.runNextTimer())
    queue.runUntilIdle();
  EXPECT_TRUE(handled().empty());
}

}  // namespace
}  // namespace wendrix::testing
