#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "toolkit/outline_view.h"

namespace wendrix {

// A list whose context menu acts on the rows it is opened for: a secondary
// click on a row that is not selected selects only that row first (inside a
// selection, the selection stays), below the last row it opens no menu; and
// the menu's key equivalents work while a row is selected.
class MenuOutlineView final : public toolkit::OutlineView {
 public:
  using toolkit::OutlineView::OutlineView;

 protected:
  std::shared_ptr<toolkit::Menu> menuForEvent(toolkit::Point point) override;
  bool keyDown(const std::string& key, std::uint64_t modifiers) override;
};

}  // namespace wendrix
