#include "storage/saved_layouts.h"

#include <utility>

namespace wendrix {

SavedLayouts::SavedLayouts(std::vector<Layout> layouts) : layouts_(std::move(layouts)) {
  firstByName_.reserve(layouts_.size());
  for (std::size_t i = 0; i < layouts_.size(); ++i)
    firstByName_.try_emplace(layouts_[i].name, i);
}

const Layout* SavedLayouts::find(std::string_view name) const {
  const auto it = firstByName_.find(name);
  return it == firstByName_.end() ? nullptr : &layouts_[it->second];
}

}  // namespace wendrix
