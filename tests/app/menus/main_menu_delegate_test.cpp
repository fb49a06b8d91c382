#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "menus_fixture.h"

namespace wendrix::testing {
namespace {

TEST_F(MenusTest, OpeningAndClosingReportTheTimesInBetween) {
  start();
  queue.advance(7s);
  ASSERT_TRUE(driver.clickStatusItem(*statusItem));
  queue.advance(3s);
  driver.closeMenu(*statusItem->menu());
  queue.advance(10s);
  ASSERT_TRUE(driver.clickStatusItem(*statusItem));
  queue.advance(1500ms);
  driver.closeMenu(*statusItem->menu());

  std::vector<std::string> seen;
  for (const auto& event : analytics.events()) {
    if (event.name != "Menu_Open" && event.name != "Menu_Close") continue;
    ASSERT_TRUE(event.withProperties);
    std::string line = event.name;
    for (const auto& p : event.properties)
      line += " " + p.name + "=" + std::to_string(std::get<double>(p.value));
    seen.push_back(line);
  }
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "Menu_Open",
                      "Menu_Close TimeOpenInSec=3.000000",
                      "Menu_Open TimeClosedInSec=10.000000",
                      "Menu_Close TimeOpenInSec=1.500000",
                  }));
}

TEST_F(MenusTest, OpeningDropsAPinnedCustomizationWindowAndWarmsUpTracking) {
  start();
  EXPECT_EQ(desktop.initializations(), 0);
  ASSERT_TRUE(driver.clickStatusItem(*statusItem));
  queue.runUntilIdle();
  EXPECT_EQ(desktop.initializations(), 1);
  driver.closeMenu(*statusItem->menu());

  ASSERT_TRUE(choose({"Preferences..."}));
  ASSERT_EQ(windows->made.size(), 1u);
  ASSERT_TRUE(driver.clickStatusItem(*statusItem));
  EXPECT_EQ(windows->made[0]->levels, (std::vector<int>{25, 0}));
}

}  // namespace
}  // namespace wendrix::testing
