#pragma once

#include <cstddef>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "model/layout.h"

namespace wendrix {

// One emission of the saved layouts, shared by every subscriber: the list in
// stored order and an index of the first layout of each name. Immutable, and
// neither copied nor moved, so the index's keys stay valid.
class SavedLayouts {
 public:
  explicit SavedLayouts(std::vector<Layout> layouts);
  SavedLayouts(const SavedLayouts&) = delete;
  SavedLayouts& operator=(const SavedLayouts&) = delete;

  const std::vector<Layout>& layouts() const { return layouts_; }
  // The first layout named exactly `name`; nullptr when none is.
  const Layout* find(std::string_view name) const;

 private:
  std::vector<Layout> layouts_;
  std::unordered_map<std::string_view, std::size_t> firstByName_;
};

}  // namespace wendrix
