#include "toolkit/view.h"

#include <algorithm>

#include "toolkit/application.h"
#include "toolkit/window.h"

namespace toolkit {

View::~View() {
  for (auto& child : subviews_)
    child->superview_ = nullptr;
}

void View::setFrame(Rect frame) {
  frame_ = frame;
  changed.emit();
}

void View::setHidden(bool hidden) {
  hidden_ = hidden;
  changed.emit();
}

void View::setAlpha(double alpha) {
  alpha_ = alpha;
  changed.emit();
}

void View::setLayer(LayerStyle layer) {
  layer_ = layer;
  changed.emit();
}

void View::addSubview(std::shared_ptr<View> view) {
  if (!view || view.get() == this) return;
  view->removeFromSuperview();
  view->superview_ = this;
  subviews_.push_back(std::move(view));
  subviews_.back()->notifyWindowChange();
  changed.emit();
}

void View::removeFromSuperview() {
  View* parent = superview_;
  if (!parent) return;
  // Keep this view alive while it leaves its parent's list.
  auto self = shared_from_this();
  // A view leaving the window takes the keyboard focus of its subtree with it.
  if (Window* oldWindow = window()) {
    for (View* v = oldWindow->firstResponder(); v; v = v->superview_) {
      if (v != this) continue;
      oldWindow->makeFirstResponder(nullptr);
      break;
    }
  }
  std::erase_if(parent->subviews_, [this](const auto& child) { return child.get() == this; });
  superview_ = nullptr;
  notifyWindowChange();
  parent->changed.emit();
}

Window* View::window() const {
  const View* v = this;
  while (v->superview_)
    v = v->superview_;
  return v->rootWindow_;
}

View* View::findByIdentifier(const std::string& identifier) {
  if (identifier_ == identifier) return this;
  for (auto& child : subviews_)
    if (View* found = child->findByIdentifier(identifier)) return found;
  return nullptr;
}

void View::setRootWindow(Window* window) {
  rootWindow_ = window;
  notifyWindowChange();
}

void View::notifyWindowChange() {
  didMoveToWindow();
  for (auto& child : subviews_)
    child->notifyWindowChange();
}

platform::LevelWindow* ViewController::window() {
  return view_ ? view_->window() : nullptr;
}

const std::shared_ptr<View>& ViewController::view() {
  if (!view_) {
    loadView();
    if (!view_) view_ = std::make_shared<View>();
    viewDidLoad();
  }
  return view_;
}

void ViewController::loadView() {
  view_ = std::make_shared<View>();
}

void ViewController::appear(Application& application) {
  view();
  if (appeared_) return;
  appeared_ = true;
  viewDidAppear();
  application.viewControllerDidAppear.emit(*this);
  for (ViewController* child : visibleChildren())
    child->appear(application);
}

void ViewController::disappear() {
  if (!appeared_) return;
  appeared_ = false;
  for (ViewController* child : visibleChildren())
    child->disappear();
  viewDidDisappear();
}

}  // namespace toolkit
