#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace wendrix::winsys {

// The string attributes the addons read from accessibility elements.
enum class UIAttribute {
  role,        // standard role, such as "AXWindow", "AXMenuBar", "AXMenu"
  subrole,     // standard subrole
  title,       // an element's title, such as a menu item's
  identifier,  // the element's identifier
  path,        // a path string of a child element
  document,    // the document path string of a window
};

class UIElement;
using UIElementPtr = std::shared_ptr<UIElement>;

// An element of another application's accessibility tree. Every read may fail
// (the element went away, the application does not answer); a failed read is
// reported as a missing value, never as an error.
class UIElement {
 public:
  virtual ~UIElement() = default;

  virtual std::optional<std::string> attribute(UIAttribute attribute) const = 0;
  // The child elements in order; nullopt when the read fails.
  virtual std::optional<std::vector<UIElementPtr>> children() const = 0;
  // nullptr at the root or when the read fails.
  virtual UIElementPtr parent() const = 0;
};

}  // namespace wendrix::winsys
