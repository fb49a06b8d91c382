#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/url.h"
#include "platform/panels/system_file_panels.h"
#include "toolkit/application.h"
#include "toolkit/controls.h"
#include "toolkit/file_panels.h"
#include "toolkit/menu.h"
#include "toolkit/outline_view.h"
#include "toolkit/popover.h"
#include "toolkit/status_item.h"
#include "toolkit/window.h"

namespace toolkit::headless {

// Plays the user on the headless model: every input a person can give, in
// the words of the screen, and what the screen shows. Each input goes
// through the same entry point a backend uses, so what a test sees here is
// what the program sees on a real desktop.
class Driver {
 public:
  explicit Driver(Application& application) : application_(application) {}

  // Lists.
  bool clickRow(OutlineView& list, std::size_t row, bool extend = false) {
    return list.userClickRow(row, extend);
  }
  void clickEmptySpace(OutlineView& list) { list.userClickEmpty(); }
  // A secondary click in the middle of `row` (or below the last row when
  // out of range); the menu it opened, or null.
  std::shared_ptr<Menu> rightClickRow(OutlineView& list, std::size_t row);
  bool pressKey(OutlineView& list, const std::string& key, std::uint64_t modifiers) {
    return list.userKeyDown(key, modifiers);
  }
  // The text of each row's cell (empty for a cell without a text field).
  static std::vector<std::string> rowTexts(const OutlineView& list);

  // Controls.
  // Types `text` into the field and ends editing as Return does.
  bool typeAndEnd(TextField& field, std::string text);
  bool click(Button& button) { return button.userClick(); }
  bool clickSegment(SegmentedControl& control, std::size_t segment) {
    return control.userClickSegment(segment);
  }
  bool choose(PopUpButton& button, std::size_t index) { return button.userChoose(index); }
  bool record(ShortcutRecorder& recorder, std::optional<KeyChord> chord) {
    return recorder.userRecord(chord);
  }

  // Menus.
  // Opens the menu as a click on the status item does; false without a menu.
  bool clickStatusItem(StatusItem& item) { return item.userClick(); }
  // Chooses the item found by its titles from the open menu down through
  // submenus; the menu closes first (its delegate is told), then the item's
  // action runs. False, with the menu left open, when no enabled item has
  // that path.
  bool chooseMenuItem(Menu& menu, const std::vector<std::string>& titles);
  void closeMenu(Menu& menu) { menu.close(); }

  // Windows, sheets, panels, popovers.
  bool clickToolbarItem(Window& window, const std::string& identifier) {
    return window.userClickToolbarItem(identifier);
  }
  void closeWindow(Window& window) { window.userClose(); }
  // Answers the alert attached to `window` by pressing its button `index`,
  // after typing `text` into its text-field accessory when given.
  bool answerAlert(Window& window, std::size_t buttonIndex,
                   std::optional<std::string> text = std::nullopt);
  bool answerPanel(Window& window, platform::PanelResponse response,
                   std::optional<base::Url> url = std::nullopt) {
    return WindowFilePanels::answer(window, response, std::move(url));
  }
  // The answer the next modal alert gets.
  void answerNextModal(std::size_t buttonIndex, std::optional<std::string> text = std::nullopt);
  void clickOutsidePopovers() { application_.userClickOutsidePopovers(); }

  // The program.
  void activate() { application_.becomeActive(); }
  void deactivate() { application_.resignActive(); }
  void openURLs(const std::vector<std::string>& urls) { application_.openURLs(urls); }

 private:
  Application& application_;
};

}  // namespace toolkit::headless
