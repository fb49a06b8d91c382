#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "engine/actions_fixture.h"
#include "winsys/errors.h"

namespace wendrix::testing {
namespace {

using namespace std::chrono_literals;
using winsys::fake::AppSetup;
using winsys::fake::FakeApplication;
using winsys::fake::WindowSetup;
using winsys::fake::WriteScript;
using AppPtr = std::shared_ptr<FakeApplication>;

class CloseAppsTest : public ActionsTest {
 protected:
  AppPtr launch(const std::string& id,
                std::vector<WindowSetup> setups = {WindowSetup::titled("W")}) {
    return desktop.launch(AppSetup::withId(id), std::move(setups));
  }

  std::shared_ptr<Outcome<rx::Unit>> apply(std::vector<AppPtr> apps) {
    std::vector<winsys::ApplicationPtr> list(apps.begin(), apps.end());
    auto outcome = watch(actions->closer().applyCloseBehavior(list), queue);
    queue.runUntilIdle();
    return outcome;
  }

  std::vector<std::string> errorLocations() const {
    std::vector<std::string> out;
    for (const auto& e : eventsNamed("Error"))
      out.push_back(property<std::string>(e, "ErrorLocation").value_or("(none)"));
    return out;
  }

  // "Closed_Apps" events as (source, count).
  std::vector<std::pair<std::string, std::int64_t>> closedApps() const {
    std::vector<std::pair<std::string, std::int64_t>> out;
    for (const auto& e : eventsNamed("Closed_Apps")) {
      out.emplace_back(property<std::string>(e, "CloseAppsSource").value_or("?"),
                       property<std::int64_t>(e, "NumberOfAppsClosed").value_or(-1));
    }
    return out;
  }
};

TEST_F(CloseAppsTest, CloseClosesEveryWindowAndReportsTheOnesThatRefuse) {
  setCloseBehavior(CloseBehavior::close);
  auto app = launch("org.example.Editor",
                    {WindowSetup::titled("A"), WindowSetup::titled("Stuck").notClosable()});

  auto done = apply({app});

  EXPECT_TRUE(done->succeeded());
  ASSERT_EQ(app->windows().size(), 1u);
  EXPECT_EQ(app->windows()[0]->title(), "Stuck");
  EXPECT_TRUE(app->running());
  EXPECT_EQ(errorLocations(), std::vector<std::string>{"actions.closeApps_000"});
}

TEST_F(CloseAppsTest, QuitQuitsExceptTheFileManagerAndTheProgramWhoseWindowsAreClosed) {
  setCloseBehavior(CloseBehavior::quit);
  auto other = launch("org.example.Editor");
  auto finder = launch("com.apple.finder", {WindowSetup::titled("Desktop folder")});
  auto self =
      launch(*desktop.bundles().mainBundle().identifier(), {WindowSetup::titled("Customize")});

  auto done = apply({other, finder, self});

  EXPECT_TRUE(done->succeeded());
  EXPECT_EQ(other->quitRequests(), 1);
  EXPECT_FALSE(other->running());
  for (const auto& app : {finder, self}) {
    EXPECT_EQ(app->quitRequests(), 0) << *app->bundleIdentifier();
    EXPECT_TRUE(app->running());
    EXPECT_TRUE(app->windows().empty());
  }
  EXPECT_TRUE(eventsNamed("Error").empty());
}

TEST_F(CloseAppsTest, HideHidesOnlyApplicationsThatAreNotHiddenYet) {
  setCloseBehavior(CloseBehavior::hide);
  auto shown = launch("org.example.Shown");
  auto hidden =
      desktop.launch(AppSetup::withId("org.example.Hidden").asHidden(), {WindowSetup::titled("W")});
  // A write to the hidden one would fail and be reported.
  hidden->scriptHiddenWrites(WriteScript::rejected(
      winsys::WindowSystemError::make(winsys::WindowSystemErrorCode::failed)));

  auto done = apply({shown, hidden});

  EXPECT_TRUE(done->succeeded());
  EXPECT_TRUE(shown->isHidden());
  EXPECT_TRUE(hidden->isHidden());
  EXPECT_TRUE(eventsNamed("Error").empty());
}

TEST_F(CloseAppsTest, MinimizeWaitsForEveryWindowAndSkipsMinimizedOnes) {
  setCloseBehavior(CloseBehavior::minimize);
  auto app =
      launch("org.example.Editor", {WindowSetup::titled("Down").asMinimized(),
                                    WindowSetup::titled("Slow"), WindowSetup::titled("Bad")});
  auto down = app->windows()[0];
  auto slow = app->windows()[1];
  auto bad = app->windows()[2];
  slow->scriptMinimizedWrites(WriteScript::after(1s));
  bad->scriptMinimizedWrites(WriteScript::rejected(
      winsys::WindowSystemError::make(winsys::WindowSystemErrorCode::failed)));

  auto done = apply({app});
  EXPECT_FALSE(done->settled());
  queue.advance(1s);

  EXPECT_TRUE(done->succeeded());
  EXPECT_EQ(done->at, 1s);
  EXPECT_EQ(down->minimizedWrites(), 0);
  EXPECT_TRUE(slow->isMinimized());
  EXPECT_FALSE(bad->isMinimized());
  EXPECT_EQ(errorLocations(), std::vector<std::string>{"actions.closeApps_000"});
}

TEST_F(CloseAppsTest, TheBehaviourIsReadAnewAtEveryCall) {
  auto first = launch("org.example.First");
  auto second = launch("org.example.Second");

  setCloseBehavior(CloseBehavior::minimize);
  apply({first});
  setCloseBehavior(CloseBehavior::hide);
  apply({second});

  EXPECT_TRUE(first->windows()[0]->isMinimized());
  EXPECT_FALSE(first->isHidden());
  EXPECT_TRUE(second->isHidden());
  EXPECT_FALSE(second->windows()[0]->isMinimized());
}

TEST_F(CloseAppsTest, FailuresAreReportedWithEveryGivenApplicationAnonymized) {
  setCloseBehavior(CloseBehavior::hide);
  coding::Dictionary editorInfo;
  editorInfo.set("CFBundleName", std::string("Text Editor"));
  auto editor = desktop.launch(AppSetup::withId("org.example.editor")
                                   .withURL(url("file:///apps/editor.desktop"))
                                   .withInfo(editorInfo),
                               {WindowSetup::titled("W")});
  auto mail = launch("org.example.Mail");
  editor->scriptHiddenWrites(WriteScript::rejected(
      base::Error("test", 7,
                  "Text Editor (org.example.editor, file:///apps/editor.desktop) refused; "
                  "org.example.Mail too")));

  auto done = apply({editor, mail});

  EXPECT_TRUE(done->succeeded());
  const auto errors = eventsNamed("Error");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(property<std::string>(errors[0], "ErrorDescription"),
            // The mail application has no bundle: its name is its identifier.
            "APP_NAME (APP_BUNDLE_ID, APP_BUNDLE_URL) refused; APP_NAME too");
  EXPECT_EQ(property<std::string>(errors[0], "ErrorLocation"), "actions.closeApps_000");
}

TEST_F(CloseAppsTest, AnEmptyListSucceedsAtOnceAndReportsNothing) {
  auto done = watch(actions->closer().applyCloseBehavior({}), queue);
  EXPECT_TRUE(done->succeeded());
  EXPECT_TRUE(analytics.events().empty());
}

TEST_F(CloseAppsTest, LayoutAppsAreThoseTheLayoutRecordsMatch) {
  setCloseBehavior(CloseBehavior::hide);
  auto byId = launch("org.example.ById");
  auto other = launch("org.example.Other");
  auto byURL =
      desktop.launch(AppSetup::withId("org.example.Renamed").withURL(url("file:///apps/u")),
                     {WindowSetup::titled("W")});
  IApp urlOnly;
  urlOnly.bundleURL = url("file:///apps/u");
  const Layout layout{"Work", {app("org.example.ById"), urlOnly}, std::nullopt};

  auto done = watch(actions->closeLayoutApps(layout), queue);
  queue.runUntilIdle();

  EXPECT_TRUE(done->succeeded());
  EXPECT_TRUE(byId->isHidden());
  EXPECT_TRUE(byURL->isHidden());
  EXPECT_FALSE(other->isHidden());
  EXPECT_EQ(closedApps(),
            (std::vector<std::pair<std::string, std::int64_t>>{{"CloseLayoutApps", 2}}));
}

TEST_F(CloseAppsTest, ALayoutWithoutAppsClosesNothingAndSaysSo) {
  setCloseBehavior(CloseBehavior::hide);
  auto running = launch("org.example.Running");

  auto done = watch(actions->closeLayoutApps(Layout{"Empty", {}, std::nullopt}), queue);
  queue.runUntilIdle();

  EXPECT_TRUE(done->succeeded());
  EXPECT_FALSE(running->isHidden());
  EXPECT_EQ(closedApps(),
            (std::vector<std::pair<std::string, std::int64_t>>{{"CloseLayoutApps", 0}}));
}

TEST_F(CloseAppsTest, OtherAppsAreClosedAndGivenBackWithoutAnEvent) {
  setCloseBehavior(CloseBehavior::hide);
  auto inLayout = launch("org.example.In");
  auto outside = launch("org.example.Out");

  auto done =
      watch(actions->closer().closeOtherApps(layout("Work", {app("org.example.In")})), queue);
  queue.runUntilIdle();

  ASSERT_TRUE(done->succeeded());
  ASSERT_EQ(done->result->value().size(), 1u);
  EXPECT_TRUE(winsys::sameApplication(done->result->value()[0], outside));
  EXPECT_TRUE(outside->isHidden());
  EXPECT_FALSE(inLayout->isHidden());
  EXPECT_TRUE(closedApps().empty());
}

TEST_F(CloseAppsTest, AutoCloseActsOnlyForLayoutsThatAskForIt) {
  setCloseBehavior(CloseBehavior::hide);
  auto outside = launch("org.example.Out");

  for (const std::optional<bool> flag : {std::optional<bool>(), std::optional<bool>(false)}) {
    auto done = watch(actions->closer().autoCloseOtherApps(layout("Work", {}, flag)), queue);
    queue.runUntilIdle();
    EXPECT_TRUE(done->succeeded());
  }
  EXPECT_FALSE(outside->isHidden());
  EXPECT_TRUE(closedApps().empty());

  auto done = watch(actions->closer().autoCloseOtherApps(layout("Work", {}, true)), queue);
  queue.runUntilIdle();
  EXPECT_TRUE(done->succeeded());
  EXPECT_TRUE(outside->isHidden());
  EXPECT_EQ(closedApps(), (std::vector<std::pair<std::string, std::int64_t>>{{"AutoClose", 1}}));
}

TEST_F(CloseAppsTest, OnceTheActionsAreGoneTheKeptAppsAreGivenAndNothingIsClosed) {
  setCloseBehavior(CloseBehavior::hide);
  auto outside = launch("org.example.Out");

  const auto pending = actions->closer().closeOtherApps(layout("Work"));
  actions.reset();
  auto done = watch(pending, queue);
  queue.runUntilIdle();

  ASSERT_TRUE(done->succeeded());
  EXPECT_EQ(done->result->value().size(), 1u);
  EXPECT_FALSE(outside->isHidden());
}

}  // namespace
}  // namespace wendrix::testing
