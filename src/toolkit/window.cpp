#include "toolkit/window.h"

#include <algorithm>

#include "toolkit/application.h"

namespace toolkit {

Window::Window(Application& application, Rect contentRect, WindowStyle style)
    : application_(application), frame_(contentRect), style_(style) {
  setContentView(std::make_shared<View>(Rect{{0, 0}, contentRect.size}));
  if (isListed()) application_.windowMade(this);
}

Window::~Window() {
  if (contentView_) contentView_->setRootWindow(nullptr);
  if (isListed()) {
    application_.windowGone(this);
  } else if (isKeyWindow()) {
    application_.windowBecameKey(nullptr);
  }
}

void Window::setTitle(std::string title) {
  title_ = std::move(title);
  changed.emit();
}

void Window::setFrame(Rect frame) {
  frame_ = frame;
  if (contentView_) contentView_->setFrame({{0, 0}, frame.size});
  changed.emit();
}

void Window::setLevel(int level) {
  level_ = level;
  changed.emit();
}

void Window::setContentViewController(std::shared_ptr<ViewController> controller) {
  if (contentVC_ && visible_) contentVC_->disappear();
  contentVC_ = std::move(controller);
  if (!contentVC_) return;
  setContentView(contentVC_->view());
  if (visible_) contentVC_->appear(application_);
}

void Window::setContentView(std::shared_ptr<View> view) {
  if (contentView_ == view) return;
  if (contentView_) contentView_->setRootWindow(nullptr);
  firstResponder_ = nullptr;
  contentView_ = std::move(view);
  if (contentView_) contentView_->setRootWindow(this);
  changed.emit();
}

bool Window::isKeyWindow() const {
  return application_.keyWindow() == this;
}

void Window::orderFront() {
  if (visible_) return;
  visible_ = true;
  changed.emit();
  if (contentVC_) contentVC_->appear(application_);
}

void Window::makeKeyAndOrderFront() {
  orderFront();
  application_.windowBecameKey(this);
  changed.emit();
}

void Window::close() {
  if (auto delegate = delegate_.lock()) delegate->windowWillClose();
  if (!visible_) return;
  visible_ = false;
  if (isKeyWindow()) application_.windowBecameKey(nullptr);
  if (contentVC_) contentVC_->disappear();
  changed.emit();
}

bool Window::makeFirstResponder(View* view) {
  if (view && view->window() != this) return false;
  firstResponder_ = view;
  changed.emit();
  return true;
}

void Window::setToolbarItems(std::vector<ToolbarItem> items) {
  toolbarItems_ = std::move(items);
  changed.emit();
}

bool Window::userClickToolbarItem(const std::string& identifier) {
  for (const auto& item : toolbarItems_) {
    if (item.identifier != identifier) continue;
    // A copy: the action may replace the toolbar.
    auto action = item.action;
    if (action) action();
    return true;
  }
  return false;
}

void Window::beginSheet(std::shared_ptr<Sheet> sheet,
                        std::function<void(ModalResponse)> completion) {
  if (!sheet) return;
  sheets_.push_back({std::move(sheet), std::move(completion)});
  changed.emit();
}

bool Window::endSheet(ModalResponse response) {
  if (sheets_.empty()) return false;
  PendingSheet ended = std::move(sheets_.front());
  sheets_.pop_front();
  changed.emit();
  if (ended.completion) ended.completion(response);
  return true;
}

const std::shared_ptr<Window>& WindowController::window() {
  if (!window_ && makeWindow_) window_ = makeWindow_();
  return window_;
}

void WindowController::showWindow() {
  if (const auto& w = window()) w->makeKeyAndOrderFront();
}

}  // namespace toolkit
