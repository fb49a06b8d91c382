#pragma once

// The customization window over the fake desktop on virtual time: the opener
// opens it through the window factory, the real actions do the work, and the
// driver plays the user.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/actions_fixture.h"
#include "platform/icons/fake/fake_icon_provider.h"
#include "toolkit/application.h"
#include "toolkit/headless/driver.h"
#include "ui/customization_window.h"
#include "ui/customization_window_opener.h"

namespace wendrix::testing {

class CustomizationTest : public ActionsTest {
 protected:
  void SetUp() override {
    provider->warmUp();
    queue.runUntilIdle();
    CustomizationContext c;
    c.application = &application;
    c.storage = storage;
    c.windowsProvider = provider;
    c.bundles = &desktop.bundles();
    c.icons = &icons;
    auto actionsContext = context();
    configure(c, actionsContext);
    factory = std::make_shared<CustomizationWindows>(c);
    opener = std::make_shared<CustomizationWindowOpener>(factory, desktop.runningApplications());
    actions = Actions::make(actionsContext);
    factory->setActions(actions);
  }
  // What a fixture adds to the window's and the actions' context.
  virtual void configure(CustomizationContext&, ActionsContext&) {}

  void TearDown() override {
    if (controller) controller->window()->close();
    controller.reset();
    // A closed window lives until the next turn of the loop.
    queue.runUntilIdle();
  }

  // Opens the window from the menu's "Edit Layouts..." (or a layout's "Edit...").
  ui::CustomizationWindowController& open(std::optional<Layout> layout = std::nullopt) {
    controller = std::dynamic_pointer_cast<ui::CustomizationWindowController>(
        opener->openEditWindow(layout));
    EXPECT_TRUE(controller);
    queue.runUntilIdle();
    return *controller;
  }

  CustomizationSplitViewController& split() { return controller->splitViewController(); }
  LayoutListViewController& sidebar() { return split().listSplitViewItem(); }
  toolkit::OutlineView& layoutList() { return *sidebar().layoutListManager()->outlineView; }
  toolkit::OutlineView& navigationList() { return *sidebar().navigationListManager()->outlineView; }
  LayoutDetailsViewController& details() { return split().details(); }
  int tab() { return split().tabsSplitViewItem().selectedTabIndex(); }
  toolkit::Window& window() { return *controller->window(); }

  std::vector<std::string> savedNames() {
    std::vector<std::string> names;
    for (const auto& l : storage->loadLayouts())
      names.push_back(l.name);
    return names;
  }
  std::vector<std::string> clicks() {
    std::vector<std::string> out;
    for (const auto& e : eventsNamed("Button_Click"))
      out.push_back(*property<std::string>(e, "ButtonName") + "/" +
                    *property<std::string>(e, "ButtonSource"));
    return out;
  }

  toolkit::Application application{queue, {{{"CFBundleName", "Wendrix"}}, {}, nullptr}};
  toolkit::headless::Driver driver{application};
  platform::FakeIconProvider icons;
  std::shared_ptr<CustomizationWindows> factory;
  std::shared_ptr<CustomizationWindowOpener> opener;
  std::shared_ptr<ui::CustomizationWindowController> controller;
};

}  // namespace wendrix::testing
