#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "winsys/ui_element.h"

namespace wendrix::winsys::fake {

// An accessibility element built by a test. Attributes not set read as
// missing; `failChildren` makes the children read fail.
class FakeUIElement final : public UIElement, public std::enable_shared_from_this<FakeUIElement> {
 public:
  static std::shared_ptr<FakeUIElement> make(std::map<UIAttribute, std::string> attributes = {});

  std::optional<std::string> attribute(UIAttribute attribute) const override;
  std::optional<std::vector<UIElementPtr>> children() const override;
  UIElementPtr parent() const override { return parent_.lock(); }

  void set(UIAttribute attribute, std::string value) { attributes_[attribute] = std::move(value); }
  // Appends `child` and makes this element its parent.
  std::shared_ptr<FakeUIElement> addChild(std::shared_ptr<FakeUIElement> child);
  void failChildren(bool fail = true) { failChildren_ = fail; }

 private:
  std::map<UIAttribute, std::string> attributes_;
  std::vector<std::shared_ptr<FakeUIElement>> children_;
  std::weak_ptr<FakeUIElement> parent_;
  bool failChildren_ = false;
};

}  // namespace wendrix::winsys::fake
