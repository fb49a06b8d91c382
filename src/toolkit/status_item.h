#pragma once

#include <memory>
#include <optional>
#include <string>

#include "toolkit/image.h"
#include "toolkit/signal.h"
#include "toolkit/view.h"

namespace toolkit {

class Application;
class Menu;
class Window;

// An icon in the desktop's status area (the tray) with a tooltip and a menu
// that a click opens.
class StatusItem {
 public:
  // When set in `behavior`, removing the item by the user ends the program.
  static constexpr unsigned kTerminationOnRemoval = 1u << 2;

  explicit StatusItem(Application& application);
  ~StatusItem();
  StatusItem(const StatusItem&) = delete;
  StatusItem& operator=(const StatusItem&) = delete;

  const std::optional<Image>& image() const { return image_; }
  void setImage(std::optional<Image> image);
  const std::string& toolTip() const { return toolTip_; }
  void setToolTip(std::string toolTip);
  const std::shared_ptr<Menu>& menu() const { return menu_; }
  void setMenu(std::shared_ptr<Menu> menu);
  bool isVisible() const { return visible_; }
  void setVisible(bool visible);
  unsigned behavior() const { return behavior_; }
  void setBehavior(unsigned behavior) { behavior_ = behavior; }
  // The view the icon is drawn in (popovers anchor to it). It fills a
  // status-bar window whose frame is where the icon is on screen.
  const std::shared_ptr<View>& button() const { return button_; }
  // For backends: where the icon is on screen.
  void setScreenFrame(Rect frame);

  // User input: a click opens the menu (none when there is no menu; false then).
  bool userClick();
  // The user removed the icon from the status area.
  void userRemove();

  Signal<> changed;

 private:
  Application& application_;
  std::optional<Image> image_;
  std::string toolTip_;
  std::shared_ptr<Menu> menu_;
  bool visible_ = true;
  unsigned behavior_ = 0;
  std::shared_ptr<View> button_;
  std::shared_ptr<Window> buttonWindow_;
};

}  // namespace toolkit
