#include "toolkit/containers.h"

#include "toolkit/application.h"
#include "toolkit/window.h"

namespace toolkit {
namespace {

// The application of the window `controller`'s view is shown in, when it is on screen.
Application* onScreen(ViewController& controller) {
  if (!controller.isViewLoaded()) return nullptr;
  Window* window = controller.view()->window();
  return window && window->isVisible() ? &window->application() : nullptr;
}

ViewController* at(const std::vector<std::shared_ptr<ViewController>>& children,
                   std::size_t index) {
  return index < children.size() ? children[index].get() : nullptr;
}

}  // namespace

void SplitViewController::addChild(std::shared_ptr<ViewController> child) {
  if (!child) return;
  children_.push_back(child);
  if (isViewLoaded()) view()->addSubview(child->view());
  if (!isAppeared()) return;
  if (Application* application = onScreen(*this)) child->appear(*application);
}

ViewController* SplitViewController::child(std::size_t index) const {
  return at(children_, index);
}

std::vector<ViewController*> SplitViewController::visibleChildren() const {
  std::vector<ViewController*> out;
  for (const auto& child : children_)
    out.push_back(child.get());
  return out;
}

void SplitViewController::loadView() {
  setView(std::make_shared<View>());
  for (auto& child : children_)
    view()->addSubview(child->view());
}

void TabViewController::addChild(std::shared_ptr<ViewController> child) {
  if (!child) return;
  children_.push_back(std::move(child));
  if (selected_ < 0) setSelectedTabIndex(0);
}

ViewController* TabViewController::child(std::size_t index) const {
  return at(children_, index);
}

void TabViewController::setSelectedTabIndex(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= children_.size() || index == selected_)
    return;
  if (auto* old = selectedChild()) {
    old->disappear();
    if (old->isViewLoaded()) old->view()->removeFromSuperview();
  }
  selected_ = index;
  if (isViewLoaded()) showSelected();
}

ViewController* TabViewController::selectedChild() const {
  return selected_ < 0 ? nullptr : child(static_cast<std::size_t>(selected_));
}

std::vector<ViewController*> TabViewController::visibleChildren() const {
  if (auto* shown = selectedChild()) return {shown};
  return {};
}

void TabViewController::loadView() {
  setView(std::make_shared<View>());
  showSelected();
}

void TabViewController::showSelected() {
  auto* shown = selectedChild();
  if (!shown) return;
  view()->addSubview(shown->view());
  if (!isAppeared()) return;
  if (Application* application = onScreen(*this)) shown->appear(*application);
}

}  // namespace toolkit
