#pragma once

// A read-only message in a transient popover (the help of the "New Window"
// shortcut), and a panel that shows one line of text above other windows.

#include <memory>
#include <optional>
#include <string>

#include "toolkit/controls.h"
#include "toolkit/popover.h"
#include "toolkit/view.h"

namespace toolkit {
class Application;
}  // namespace toolkit

namespace wendrix {

// Its view is the message in a text view, 320 wide, exactly as tall as the
// text plus 14 above and below.
class AlertPopoverViewController final : public toolkit::ViewController {
 public:
  static constexpr double kHorizontalInset = 12;
  static constexpr double kVerticalInset = 14;
  static constexpr double kWidth = 320;

  // The application's text metrics measure the message; it must outlive the
  // controller.
  explicit AlertPopoverViewController(toolkit::Application& application)
      : application_(application) {}

  const std::optional<std::string>& message() const { return message_; }
  void setMessage(std::optional<std::string> message) { message_ = std::move(message); }
  toolkit::View* container() const { return container_.get(); }
  toolkit::TextView* textView() const { return textView_.get(); }

 protected:
  void loadView() override;
  void viewDidLoad() override;

 private:
  // The height the text takes at the text view's width.
  double usedHeight() const;

  toolkit::Application& application_;
  std::optional<std::string> message_;
  std::shared_ptr<toolkit::View> container_;
  std::shared_ptr<toolkit::TextView> textView_;
};

// The help text of the "New Window" shortcut.
extern const char* const kNewWindowShortcutHelp;

// Shows the help of the "New Window" shortcut in a transient popover below
// `clicked` (the help button); returns the popover, which closes on the next
// click elsewhere.
std::shared_ptr<toolkit::Popover> showNewWindowShortcutHelp(toolkit::Application& application,
                                                            toolkit::View& clicked);

// One line of text in a panel that floats at the status level.
class RestoringViewController final : public toolkit::ViewController {
 public:
  const std::string& text() const { return text_; }
  void setText(std::string text) { text_ = std::move(text); }
  toolkit::TextField* label() const { return label_.get(); }

 protected:
  void loadView() override;
  // Shows the text; a view already in a window floats that window at the
  // status level, in front.
  void viewDidLoad() override;

 private:
  std::shared_ptr<toolkit::TextField> label_;
  std::string text_;
};

}  // namespace wendrix
