#include "ui/alert_popover.h"

#include "platform/window_level/window_level.h"
#include "toolkit/application.h"
#include "toolkit/window.h"

namespace wendrix {

const char* const kNewWindowShortcutHelp =
    "To support multiple windows, Wendrix needs to know the \"New Window\" shortcut for each "
    "app. use the + button to select an app, and record the keyboard shortcut needed to create "
    "a new window for that app.";

void AlertPopoverViewController::loadView() {
  container_ = std::make_shared<toolkit::View>(toolkit::Rect{{0, 0}, {kWidth, kWidth}});
  textView_ = std::make_shared<toolkit::TextView>(
      toolkit::Rect{{kHorizontalInset, kVerticalInset + 1},
                    {kWidth - 2 * kHorizontalInset, kWidth - 2 * kVerticalInset}});
  textView_->setEditable(false);
  textView_->setDrawsBackground(false);
  textView_->setFont(toolkit::Font{});
  if (message_) textView_->setString(*message_);
  container_->addSubview(textView_);
  setView(container_);
}

void AlertPopoverViewController::viewDidLoad() {
  if (!textView_ || !container_) return;
  toolkit::Rect text = textView_->frame();
  text.size.height = usedHeight();
  textView_->setFrame(text);
  toolkit::Rect frame = container_->frame();
  frame.size.height = usedHeight() + 2 * kVerticalInset;
  container_->setFrame(frame);
}

double AlertPopoverViewController::usedHeight() const {
  return textView_->usedHeight(application_.textMetrics(), textView_->frame().size.width);
}

std::shared_ptr<toolkit::Popover> showNewWindowShortcutHelp(toolkit::Application& application,
                                                            toolkit::View& clicked) {
  auto popover = std::make_shared<toolkit::Popover>(application);
  auto controller = std::make_shared<AlertPopoverViewController>(application);
  controller->setMessage(kNewWindowShortcutHelp);
  popover->setContentViewController(controller);
  popover->setBehavior(toolkit::Popover::Behavior::transient);
  popover->setContentSize(controller->view()->bounds().size);
  popover->show(clicked.bounds(), clicked, toolkit::RectEdge::maxY);
  return popover;
}

void RestoringViewController::loadView() {
  auto view = std::make_shared<toolkit::View>(toolkit::Rect{{0, 0}, {280, 44}});
  label_ = std::make_shared<toolkit::TextField>(toolkit::Rect{{16, 12}, {248, 20}});
  label_->setIdentifier("label");
  view->addSubview(label_);
  setView(view);
}

void RestoringViewController::viewDidLoad() {
  label_->setStringValue(text_);
  if (platform::LevelWindow* shown = window()) {
    shown->setLevel(platform::kStatusWindowLevel);
    if (auto* panel = dynamic_cast<toolkit::Window*>(shown)) panel->orderFrontRegardless();
  }
}

}  // namespace wendrix
