#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "engine/actions_fixture.h"
#include "engine/capture.h"

namespace wendrix::testing {
namespace {

using namespace std::chrono_literals;
using winsys::fake::AppSetup;
using winsys::fake::WindowSetup;

class SaveLayoutTest : public ActionsTest {
 protected:
  std::shared_ptr<Outcome<rx::Unit>> save(std::optional<std::string> name) {
    auto outcome = watch(actions->saveLayout(std::move(name)), queue);
    queue.runUntilIdle();
    return outcome;
  }

  std::vector<double> savedTimes() const {
    std::vector<double> out;
    for (const auto& e : eventsNamed("Layout_Saved"))
      out.push_back(property<double>(e, "TimeInSec").value_or(-1));
    return out;
  }
};

TEST_F(SaveLayoutTest, StoresTheVisibleWindowsOfTheAppsThatShowSomeUnderTheGivenName) {
  desktop.launch(
      AppSetup::withId("org.example.Editor").withURL(url("file:///apps/editor.desktop")),
      {WindowSetup::titled("Down").asMinimized(),
       WindowSetup::titled("Notes").withFrame({10, 20, 300, 200}).withDocument("/home/u/notes.txt"),
       WindowSetup::titled("Scratch").withFrame({50, 60, 400, 300})});
  desktop.launch(AppSetup::withId("org.example.AllDown"), {WindowSetup::titled("X").asMinimized()});
  desktop.launch(AppSetup::withId("org.example.Hidden").asHidden(), {WindowSetup::titled("H")});
  desktop.launch(AppSetup::withId("org.example.NoWindows"));
  storage->saveLayout(layout("Work"));
  storage->saveLayout(layout("Home"));

  auto done = save("Work");

  ASSERT_TRUE(done->succeeded());
  const auto layouts = storage->loadLayouts();
  ASSERT_EQ(layouts.size(), 2u);
  // Saving under an existing name replaces that layout at the end.
  EXPECT_EQ(layouts[0].name, "Home");
  const Layout& saved = layouts[1];
  EXPECT_EQ(saved.name, "Work");
  EXPECT_EQ(saved.alwaysCloseOtherApps, false);
  ASSERT_EQ(saved.apps.size(), 1u);
  const IApp& editor = saved.apps[0];
  EXPECT_EQ(editor.bundleId, "org.example.Editor");
  EXPECT_EQ(editor.bundleURL, url("file:///apps/editor.desktop"));
  ASSERT_EQ(editor.windows.size(), 2u);
  EXPECT_EQ(editor.windows[0].title, "Notes");
  EXPECT_EQ(editor.windows[0].index, 0);
  EXPECT_EQ(editor.windows[0].rect, (Rect{10, 20, 300, 200}));
  EXPECT_EQ(editor.windows[0].doc, "/home/u/notes.txt");
  EXPECT_EQ(editor.windows[1].title, "Scratch");
  EXPECT_EQ(editor.windows[1].index, 1);
  EXPECT_EQ(savedTimes(), std::vector<double>{0.0});
}

TEST_F(SaveLayoutTest, WithoutANameTheDateNamesItSoTwoSavesInOneMinuteKeepOneLayout) {
  std::vector<dispatch::WallTime> asked;
  auto c = context();
  c.defaultLayoutName = [&](dispatch::WallTime t) {
    asked.push_back(t);
    return std::string("May 1, 2024, 10:00\u202fAM");
  };
  actions = Actions::make(c);
  desktop.launch(AppSetup::withId("org.example.Editor"), {WindowSetup::titled("A")});

  save(std::nullopt);
  queue.advance(30s);
  save(std::nullopt);

  const auto layouts = storage->loadLayouts();
  ASSERT_EQ(layouts.size(), 1u);
  EXPECT_EQ(layouts[0].name, "May 1, 2024, 10:00\u202fAM");
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[0], dispatch::WallTime(dispatch::VirtualClock::kDefaultStart));
  EXPECT_EQ(savedTimes().size(), 2u);
}

TEST_F(SaveLayoutTest, WindowsOfAnAppWithAnAddonCarryTheAddonsState) {
  class TitleAddon final : public AddonCapture {
   public:
    std::optional<base::Bytes> encodedState(const winsys::Window& window) const override {
      const std::string text = "state:" + window.title();
      return base::Bytes(text.begin(), text.end());
    }
    std::vector<IWindow> captureWindows(
        const std::vector<winsys::WindowPtr>& windows) const override {
      return iwindow::fromWindows(windows, this);
    }
  };
  class Registry final : public AddonRegistry {
   public:
    const AddonCapture* addon(std::string_view id) const override {
      return id == "org.example.Addon" ? &addon_ : nullptr;
    }

   private:
    TitleAddon addon_;
  };
  auto c = context();
  c.addons = std::make_shared<Registry>();
  actions = Actions::make(c);
  desktop.launch(AppSetup::withId("org.example.Addon"), {WindowSetup::titled("Project")});
  desktop.launch(AppSetup::withId("org.example.Plain"), {WindowSetup::titled("Plain")});

  save("Work");

  const auto apps = storage->loadLayouts().at(0).apps;
  ASSERT_EQ(apps.size(), 2u);
  const std::string expected = "state:Project";
  EXPECT_EQ(apps[0].windows.at(0).addonState, base::Bytes(expected.begin(), expected.end()));
  EXPECT_FALSE(apps[1].windows.at(0).addonState);
}

TEST_F(SaveLayoutTest, OnceTheActionsAreGoneNothingIsStoredButTheSaveIsStillCounted) {
  desktop.launch(AppSetup::withId("org.example.Editor"), {WindowSetup::titled("A")});

  const auto pending = actions->saveLayout("Late");
  actions.reset();
  auto done = watch(pending, queue);
  queue.runUntilIdle();

  EXPECT_TRUE(done->succeeded());
  EXPECT_TRUE(storage->loadLayouts().empty());
  EXPECT_EQ(savedTimes().size(), 1u);
}

class SaveWithoutAccessTest : public SaveLayoutTest {
 protected:
  void SetUp() override {
    desktop.trust().setTrusted(false);
    start();
  }
};

TEST_F(SaveWithoutAccessTest, WaitsUntilAccessIsGrantedAndThenStores) {
  desktop.launch(AppSetup::withId("org.example.Editor"), {WindowSetup::titled("A")});

  auto done = save("Work");
  queue.advance(2500ms);
  EXPECT_FALSE(done->settled());
  EXPECT_TRUE(storage->loadLayouts().empty());
  EXPECT_TRUE(savedTimes().empty());

  // Access is read again 0.1 s after the system says it changed.
  desktop.trust().setTrusted(true);
  queue.advance(100ms);

  ASSERT_TRUE(done->succeeded());
  EXPECT_EQ(done->at, 2600ms);
  ASSERT_EQ(storage->loadLayouts().size(), 1u);
  EXPECT_EQ(storage->loadLayouts()[0].apps.size(), 1u);
  ASSERT_EQ(savedTimes().size(), 1u);
  EXPECT_DOUBLE_EQ(savedTimes()[0], 2.6);
}

}  // namespace
}  // namespace wendrix::testing
