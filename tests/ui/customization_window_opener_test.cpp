// Opening the customization window on a layout or a pane, and holding its
// controller while the window is open.

#include "ui/customization_window_opener.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analytics/vocabulary.h"
#include "support/fake_customization_window.h"
#include "support/fake_world.h"
#include "support/recorded_events.h"

namespace wendrix::testing {
namespace {

class CustomizationWindowOpenerTest : public ::testing::Test, protected FakeWorld {
 protected:
  template <class V>
  static std::optional<V> property(const tlm::TLMRecordedEvent& event, std::string_view key) {
    return eventProperty<V>(event, key);
  }
  static Layout layout(std::string name) { return Layout{std::move(name), {}, std::nullopt}; }

  std::shared_ptr<FakeCustomizationWindows> windows = std::make_shared<FakeCustomizationWindows>();
  std::shared_ptr<CustomizationWindowOpener> opener =
      std::make_shared<CustomizationWindowOpener>(windows, desktop.runningApplications());
};

TEST_F(CustomizationWindowOpenerTest,
       OpeningAPaneOfAVisibleWindowOnlySelectsBringsItForwardAndActivates) {
  opener->showPreferences(ButtonClickSource::menu);
  ASSERT_EQ(windows->made.size(), 1u);
  auto window = windows->made[0];
  EXPECT_EQ(window->shows, 1);

  opener->showAbout(ButtonClickSource::other);

  EXPECT_EQ(windows->made.size(), 1u);
  EXPECT_EQ(window->selections, (std::vector<std::string>{"Preferences", "About"}));
  EXPECT_EQ(window->shows, 1);
  EXPECT_EQ(window->frontOrders, 2);
  const auto& activations = desktop.runningApplications().activations();
  ASSERT_EQ(activations.size(), 2u);
  EXPECT_EQ(activations[1].processIdentifier,
            desktop.runningApplications().current().processIdentifier);
  EXPECT_EQ(activations[1].options, platform::activateIgnoringOtherApps);
  const auto clicks = eventsNamed("Button_Click");
  ASSERT_EQ(clicks.size(), 2u);
  EXPECT_EQ(property<std::string>(clicks[1], "ButtonName"), "About");
  EXPECT_EQ(property<std::string>(clicks[1], "ButtonSource"), "Other");
}

TEST_F(CustomizationWindowOpenerTest, AfterTheWindowClosedTheNextOpeningMakesANewController) {
  auto first = opener->openEditWindow(layout("Work"));
  ASSERT_EQ(windows->made.size(), 1u);
  EXPECT_EQ(windows->made[0]->selections, std::vector<std::string>{"layout Work"});
  EXPECT_EQ(windows->made[0]->frontOrders, 0);
  EXPECT_EQ(opener->openEditWindow(std::nullopt), first);

  windows->made[0]->close();
  auto second = opener->openEditWindow(std::nullopt);

  ASSERT_EQ(windows->made.size(), 2u);
  EXPECT_EQ(second, windows->made[1]);
  EXPECT_EQ(windows->made[1]->selections, std::vector<std::string>{"none"});
  EXPECT_TRUE(windows->made[1]->visible);
  const auto opened = eventsNamed("OpenEditWindow");
  ASSERT_EQ(opened.size(), 3u);
  EXPECT_EQ(property<std::string>(opened[0], "Source"), "LayoutEditMenuItem");
  EXPECT_EQ(property<std::string>(opened[2], "Source"), "EditMenuItem");
}

TEST_F(CustomizationWindowOpenerTest, WithoutAControllerNothingOpensButTheClickIsCounted) {
  windows->failing = true;

  EXPECT_EQ(opener->openEditWindow(std::nullopt), nullptr);
  opener->showAbout(ButtonClickSource::menu);

  EXPECT_TRUE(desktop.runningApplications().activations().empty());
  EXPECT_EQ(eventsNamed("OpenEditWindow").size(), 1u);
  EXPECT_EQ(eventsNamed("Button_Click").size(), 1u);
}

}  // namespace
}  // namespace wendrix::testing
