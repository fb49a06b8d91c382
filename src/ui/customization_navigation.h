#pragma once

// The customization window as the program's menus and the popover see it: the
// sidebar's selection, a controller that shows a chosen pane, made on demand
// by a factory, and told to report its window's closing to a delegate.

#include <memory>
#include <utility>
#include <variant>

#include "model/layout.h"

namespace wendrix {

// The entries of the sidebar's lower list, in display order.
enum class NavigationOption { Preferences, About };

// What the sidebar shows selected: a saved layout, an entry of the lower
// list, or nothing.
class NavigationSelection {
 public:
  static NavigationSelection layout(Layout layout) {
    return NavigationSelection(std::move(layout));
  }
  static NavigationSelection navigation(NavigationOption option) {
    return NavigationSelection(option);
  }
  static NavigationSelection none() { return NavigationSelection(std::monostate{}); }

  // nullptr unless a layout is selected.
  const Layout* layout() const { return std::get_if<Layout>(&value_); }
  // nullptr unless an entry of the lower list is selected.
  const NavigationOption* navigation() const { return std::get_if<NavigationOption>(&value_); }
  bool isNone() const { return std::holds_alternative<std::monostate>(value_); }

 private:
  using Value = std::variant<Layout, NavigationOption, std::monostate>;
  explicit NavigationSelection(Value value) : value_(std::move(value)) {}

  Value value_;
};

// Told when the customization window is about to close.
class CustomizationWindowDelegate {
 public:
  virtual ~CustomizationWindowDelegate() = default;
  virtual void windowWillClose() = 0;
};

// The customization window's controller.
class CustomizationWindowController {
 public:
  virtual ~CustomizationWindowController() = default;

  // Makes the sidebar select `selection`.
  virtual void select(const NavigationSelection& selection) = 0;
  // Whether the controller has a window and that window is on screen.
  virtual bool isWindowVisible() const = 0;
  // Loads the window when needed and puts it on screen.
  virtual void showWindow() = 0;
  // The window's delegate, held weakly as windows hold their delegates.
  virtual void setWindowDelegate(std::weak_ptr<CustomizationWindowDelegate> delegate) = 0;
  // Brings the window to the front and gives it the keyboard focus.
  virtual void makeKeyAndOrderFront() = 0;
  // Puts the window at `level` (platform/window_level); the window's pin
  // shows whether it floats.
  virtual void setWindowLevel(int level) = 0;
};

// Makes a new customization window controller.
class CustomizationWindowFactory {
 public:
  virtual ~CustomizationWindowFactory() = default;
  // nullptr when the window's description does not give a customization
  // window controller.
  virtual std::shared_ptr<CustomizationWindowController> makeController() = 0;
};

}  // namespace wendrix
