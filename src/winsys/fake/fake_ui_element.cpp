#include "winsys/fake/fake_ui_element.h"

namespace wendrix::winsys::fake {

std::shared_ptr<FakeUIElement> FakeUIElement::make(std::map<UIAttribute, std::string> attributes) {
  auto element = std::make_shared<FakeUIElement>();
  element->attributes_ = std::move(attributes);
  return element;
}

std::optional<std::string> FakeUIElement::attribute(UIAttribute attribute) const {
  auto it = attributes_.find(attribute);
  if (it == attributes_.end()) return std::nullopt;
  return it->second;
}

std::optional<std::vector<UIElementPtr>> FakeUIElement::children() const {
  if (failChildren_) return std::nullopt;
  return std::vector<UIElementPtr>(children_.begin(), children_.end());
}

std::shared_ptr<FakeUIElement> FakeUIElement::addChild(std::shared_ptr<FakeUIElement> child) {
  child->parent_ = weak_from_this();
  children_.push_back(child);
  return child;
}

}  // namespace wendrix::winsys::fake
