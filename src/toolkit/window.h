#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/panels/system_file_panels.h"
#include "platform/window_level/window_level.h"
#include "toolkit/geometry.h"
#include "toolkit/image.h"
#include "toolkit/signal.h"
#include "toolkit/view.h"

namespace toolkit {

class Application;

// Answer codes of sheets and modal alerts.
using ModalResponse = long;
inline constexpr ModalResponse kModalResponseCancel = 0;
inline constexpr ModalResponse kModalResponseOK = 1;
// The first, second, third... button of an alert.
inline constexpr ModalResponse kAlertFirstButtonReturn = 1000;
inline constexpr ModalResponse kAlertSecondButtonReturn = 1001;
// A modal session ended without an answer.
inline constexpr ModalResponse kModalResponseAbort = -1001;

// Something shown attached to a window until the user answers it: an alert
// or a file panel.
class Sheet {
 public:
  virtual ~Sheet() = default;
};

// Told about a window's life.
class WindowDelegate {
 public:
  virtual ~WindowDelegate() = default;
  virtual void windowWillClose() {}
};

// A button of a window's toolbar; always clickable.
struct ToolbarItem {
  std::string identifier;
  std::string label;
  Image image;
  std::function<void()> action;
};

// `statusBar` windows hold status items' buttons and `popover` windows a
// popover's content: the desktop's status area and the popover draw them, so
// the application does not list them among its windows.
enum class WindowStyle { titled, borderless, statusBar, popover };

// A top-level window. Its level, frame and visibility read back exactly what
// was set; at most one sheet is attached at a time (later ones wait their turn).
class Window final : public platform::LevelWindow, public platform::PanelParent {
 public:
  Window(Application& application, Rect contentRect, WindowStyle style = WindowStyle::titled);
  ~Window() override;

  Application& application() const { return application_; }

  const std::string& title() const { return title_; }
  void setTitle(std::string title);
  const Rect& frame() const { return frame_; }
  void setFrame(Rect frame);
  WindowStyle style() const { return style_; }
  // Whether the application lists the window (see WindowStyle).
  bool isListed() const {
    return style_ == WindowStyle::titled || style_ == WindowStyle::borderless;
  }

  int level() const { return level_; }
  void setLevel(int level) override;

  // The view controller whose view fills the window, or null.
  const std::shared_ptr<ViewController>& contentViewController() const { return contentVC_; }
  void setContentViewController(std::shared_ptr<ViewController> controller);
  // The view that fills the window (the content view controller's, if any).
  const std::shared_ptr<View>& contentView() const { return contentView_; }
  void setContentView(std::shared_ptr<View> view);

  bool isVisible() const { return visible_; }
  bool isKeyWindow() const;
  // Puts the window on screen.
  void orderFront();
  void orderFrontRegardless() { orderFront(); }
  // Puts the window on screen and makes it the key window.
  void makeKeyAndOrderFront();
  // Tells the delegate, then takes the window off screen.
  void close();
  // The user closed the window (its close button).
  void userClose() { close(); }

  // The view that receives the keyboard, or null.
  View* firstResponder() const { return firstResponder_; }
  // False when `view` is not in this window.
  bool makeFirstResponder(View* view);

  std::weak_ptr<WindowDelegate> delegate() const { return delegate_; }
  void setDelegate(std::weak_ptr<WindowDelegate> delegate) { delegate_ = std::move(delegate); }

  const std::vector<ToolbarItem>& toolbarItems() const { return toolbarItems_; }
  void setToolbarItems(std::vector<ToolbarItem> items);
  // The user clicked a toolbar button; false when there is none with that id.
  bool userClickToolbarItem(const std::string& identifier);

  // Attaches `sheet` (or queues it behind the one attached); `completion`
  // runs with the answer once, when the sheet ends.
  void beginSheet(std::shared_ptr<Sheet> sheet, std::function<void(ModalResponse)> completion);
  // Ends the attached sheet with `response` and attaches the next one.
  // False when no sheet is attached.
  bool endSheet(ModalResponse response);
  // The attached sheet, or null.
  Sheet* attachedSheet() const { return sheets_.empty() ? nullptr : sheets_.front().sheet.get(); }
  std::size_t pendingSheets() const { return sheets_.size(); }

  // A property changed (for backends).
  Signal<> changed;

 private:
  struct PendingSheet {
    std::shared_ptr<Sheet> sheet;
    std::function<void(ModalResponse)> completion;
  };

  Application& application_;
  std::string title_;
  Rect frame_;
  WindowStyle style_;
  int level_ = platform::kNormalWindowLevel;
  bool visible_ = false;
  std::shared_ptr<ViewController> contentVC_;
  std::shared_ptr<View> contentView_;
  View* firstResponder_ = nullptr;
  std::weak_ptr<WindowDelegate> delegate_;
  std::vector<ToolbarItem> toolbarItems_;
  std::deque<PendingSheet> sheets_;
};

// Owns a window made on first use by `makeWindow`.
class WindowController {
 public:
  virtual ~WindowController() = default;
  explicit WindowController(std::function<std::shared_ptr<Window>()> makeWindow)
      : makeWindow_(std::move(makeWindow)) {}

  // The window, made on first use.
  const std::shared_ptr<Window>& window();
  bool isWindowLoaded() const { return window_ != nullptr; }
  // Puts the window on screen and makes it key.
  void showWindow();

 private:
  std::function<std::shared_ptr<Window>()> makeWindow_;
  std::shared_ptr<Window> window_;
};

}  // namespace toolkit
