#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/actions_fixture.h"

namespace wendrix::testing {
namespace {

using winsys::fake::AppSetup;
using winsys::fake::WindowSetup;

TEST_F(ActionsTest, ALayoutNameIsAvailableWhenNotBlankAndNoSavedLayoutHasExactlyIt) {
  storage->saveLayout(layout("Work"));
  const struct {
    std::string name;
    bool available;
  } cases[] = {
      {"", false},
      {"  \t", false},
      {"\n\u00a0\u3000", false},  // no-break and ideographic spaces, a line feed
      {"Work", false},
      {" Work", true},  // compared untrimmed
      {"work", true},   // and case-sensitively
      {"Home", true},
  };
  for (const auto& c : cases) {
    std::vector<bool> answers;
    actions->isLayoutNameAvailable(c.name).subscribe([&](bool a) { answers.push_back(a); });
    EXPECT_EQ(answers, std::vector<bool>{c.available}) << "\"" << c.name << "\"";
  }
}

TEST_F(ActionsTest, AddingAWindowAppendsItToItsAppInTheStoredLayout) {
  auto editor =
      desktop.launch(AppSetup::withId("org.example.Editor"),
                     {WindowSetup::titled("New").withFrame({1, 2, 3, 4}).withDocument("/d")});
  IWindow first;
  first.title = "One";
  IWindow second = first;
  second.title = "Two";
  second.index = 1;
  storage->saveLayout(layout("Before"));
  const Layout work = layout("Work", {app("org.example.Editor", {first, second})}, true);
  storage->saveLayout(work);
  storage->saveLayout(layout("After"));

  actions->addWindowToLayout(*editor->windows()[0], work);

  const auto layouts = storage->loadLayouts();
  ASSERT_EQ(layouts.size(), 3u);
  const Layout& stored = layouts[1];  // replaced in place
  EXPECT_EQ(stored.name, "Work");
  EXPECT_EQ(stored.alwaysCloseOtherApps, true);
  ASSERT_EQ(stored.apps.size(), 1u);
  ASSERT_EQ(stored.apps[0].windows.size(), 3u);
  const IWindow& added = stored.apps[0].windows[2];
  EXPECT_EQ(added.title, "New");
  EXPECT_EQ(added.index, 2);
  EXPECT_EQ(added.rect, (Rect{1, 2, 3, 4}));
  EXPECT_EQ(added.doc, "/d");
}

TEST_F(ActionsTest, AddingAWindowOfAnotherAppAppendsThatApp) {
  auto viewer =
      desktop.launch(AppSetup::withId("org.example.Viewer"), {WindowSetup::titled("Pic")});
  const Layout work = layout("Work", {app("org.example.Editor")});
  storage->saveLayout(work);

  actions->addWindowToLayout(*viewer->windows()[0], work);

  const auto apps = storage->loadLayouts().at(0).apps;
  ASSERT_EQ(apps.size(), 2u);
  EXPECT_EQ(apps[1].bundleId, "org.example.Viewer");
  ASSERT_EQ(apps[1].windows.size(), 1u);
  EXPECT_EQ(apps[1].windows[0].title, "Pic");
  ASSERT_TRUE(apps[1].mainWindow);
  EXPECT_EQ(apps[1].mainWindow->title, "Pic");
}

TEST_F(ActionsTest, TheUpdaterIsMadeAtItsFirstUse) {
  int made = 0;
  auto c = context();
  c.makeUpdater = [&] {
    ++made;
    return updater;
  };
  actions = Actions::make(c);
  EXPECT_EQ(made, 0);

  actions->checkForUpdates();
  actions->checkForUpdates();

  EXPECT_EQ(made, 1);
  EXPECT_EQ(updater->checks(), 2);
}

}  // namespace
}  // namespace wendrix::testing
