#pragma once

// The customization window in memory, for the tests of what opens it: it
// records the selections, shows, front orders and levels it was asked for.

#include <memory>
#include <string>
#include <vector>

#include "ui/customization_navigation.h"

namespace wendrix::testing {

class FakeCustomizationWindow final : public CustomizationWindowController {
 public:
  void select(const NavigationSelection& selection) override {
    if (selection.isNone()) {
      selections.push_back("none");
    } else if (const Layout* layout = selection.layout()) {
      selections.push_back("layout " + layout->name);
    } else {
      selections.push_back(*selection.navigation() == NavigationOption::About ? "About"
                                                                              : "Preferences");
    }
  }
  bool isWindowVisible() const override { return visible; }
  void showWindow() override {
    visible = true;
    ++shows;
  }
  void setWindowDelegate(std::weak_ptr<CustomizationWindowDelegate> d) override {
    delegate = std::move(d);
  }
  void makeKeyAndOrderFront() override { ++frontOrders; }
  void setWindowLevel(int level) override { levels.push_back(level); }

  // The user closes the window.
  void close() {
    visible = false;
    if (auto d = delegate.lock()) d->windowWillClose();
  }

  std::vector<std::string> selections;
  std::vector<int> levels;
  bool visible = false;
  int shows = 0;
  int frontOrders = 0;
  std::weak_ptr<CustomizationWindowDelegate> delegate;
};

// Makes fake windows, or none while `failing`.
class FakeCustomizationWindows final : public CustomizationWindowFactory {
 public:
  std::shared_ptr<CustomizationWindowController> makeController() override {
    if (failing) return nullptr;
    made.push_back(std::make_shared<FakeCustomizationWindow>());
    return made.back();
  }

  bool failing = false;
  std::vector<std::shared_ptr<FakeCustomizationWindow>> made;
};

}  // namespace wendrix::testing
