#pragma once

// The status menus over the real actions in the fake world
// (support/fake_world.h): a store, a headless application with its driver and
// a fake customization window with a window whose level is recorded.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "app/menus/main_menu_provider.h"
#include "app/menus/menu_context.h"
#include "dispatch/manual_queue.h"
#include "engine/actions.h"
#include "engine/windows_provider.h"
#include "model/layout.h"
#include "platform/window_level/window_level.h"
#include "rx/scheduler.h"
#include "storage/defaults_storage.h"
#include "support/fake_customization_window.h"
#include "support/fake_world.h"
#include "support/recorded_events.h"
#include "toolkit/application.h"
#include "toolkit/headless/driver.h"
#include "toolkit/menu.h"
#include "toolkit/status_item.h"
#include "ui/customization_window_opener.h"
#include "winsys/fake/fake_desktop.h"

namespace wendrix::testing {

using namespace std::chrono_literals;

inline IApp app(std::string bundleId, std::vector<IWindow> windows = {}) {
  IApp a;
  a.bundleId = std::move(bundleId);
  a.windows = std::move(windows);
  return a;
}

inline Layout layout(std::string name, std::vector<IApp> apps = {},
                     std::optional<bool> alwaysCloseOtherApps = std::nullopt) {
  return Layout{std::move(name), std::move(apps), alwaysCloseOtherApps};
}

// The default layout name: the seconds of the clock, so a test sees when it
// was taken.
inline std::string nameAt(dispatch::WallTime time) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(time.time_since_epoch());
  return "Layout at " + std::to_string(seconds.count());
}

class MenusTest : public ::testing::Test, protected FakeWorld {
 protected:
  void TearDown() override {
    menuSubscription.dispose();
    provider.reset();
  }

  MenuContext context() {
    MenuContext c;
    c.windowsProvider = windowsProvider;
    c.actions = actions;
    c.customizationWindow = opener;
    c.storage = storage;
    c.application = &application;
    c.trust = &desktop.trust();
    c.bundles = &desktop.bundles();
    c.clock = &queue.clock();
    c.defaultLayoutName = nameAt;
    return c;
  }

  std::shared_ptr<Actions> makeActions() {
    ActionsContext c = desktopActionsContext();
    c.windowsProvider = windowsProvider;
    c.storage = storage;
    c.workspace = &desktop.workspace();
    c.keyboard = &desktop.keyboard();
    c.defaultLayoutName = nameAt;
    return Actions::make(c);
  }

  // Makes the provider and binds its menu stream to the status item, as the
  // agent does; counts the menus it emitted.
  void start() {
    actions = makeActions();
    provider = MainMenuProvider::make(context());
    menuSubscription = provider->mainMenuStream().subscribe([this](const auto& menu) {
      ++menusEmitted;
      statusItem->setMenu(menu);
    });
    queue.runUntilIdle();
  }

  std::string menuDump() const { return provider->mainMenu()->dump(); }

  // Opens the status menu and chooses the item at `titles`.
  bool choose(const std::vector<std::string>& titles) {
    if (!driver.clickStatusItem(*statusItem)) return false;
    return driver.chooseMenuItem(*statusItem->menu(), titles);
  }

  std::vector<std::string> layoutNames() {
    std::vector<std::string> names;
    for (const auto& l : storage->loadLayouts())
      names.push_back(l.name);
    return names;
  }

  // The "ButtonName" of every "Button_Click" so far.
  std::vector<std::string> buttonClicks() const {
    std::vector<std::string> out;
    for (const auto& event : eventsNamed("Button_Click")) {
      out.push_back(property<std::string>(event, "ButtonName").value_or("?") + "/" +
                    property<std::string>(event, "ButtonSource").value_or("?"));
    }
    return out;
  }

  // The "ErrorLocation" of every "Error" so far.
  std::vector<std::string> errorLocations() const {
    std::vector<std::string> out;
    for (const auto& event : eventsNamed("Error"))
      out.push_back(property<std::string>(event, "ErrorLocation").value_or("-"));
    return out;
  }

  template <class V>
  static std::optional<V> property(const tlm::TLMRecordedEvent& event, std::string_view key) {
    return eventProperty<V>(event, key);
  }

  std::shared_ptr<DefaultsStorage> storage = makeStorage("1");
  std::shared_ptr<WindowsProvider> windowsProvider = makeWindowsProvider();
  std::shared_ptr<FakeCustomizationWindows> windows = std::make_shared<FakeCustomizationWindows>();
  std::shared_ptr<CustomizationWindowOpener> opener =
      std::make_shared<CustomizationWindowOpener>(windows, desktop.runningApplications());
  toolkit::Application application{queue, {}};
  toolkit::headless::Driver driver{application};
  std::shared_ptr<toolkit::StatusItem> statusItem = application.makeStatusItem();
  std::shared_ptr<Actions> actions;
  std::shared_ptr<MainMenuProvider> provider;
  rx::Disposable menuSubscription;
  int menusEmitted = 0;
};

}  // namespace wendrix::testing
