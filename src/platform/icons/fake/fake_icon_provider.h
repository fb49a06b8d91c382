#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/icons/icon_provider.h"

namespace platform {

// Icons held in memory by path; every lookup is recorded.
class FakeIconProvider final : public IconProvider {
 public:
  void setIcon(std::string path, Image icon) { icons_[std::move(path)] = std::move(icon); }

  std::optional<Image> iconForFile(std::string_view path) const override {
    lookups_.emplace_back(path);
    const auto it = icons_.find(std::string(path));
    if (it == icons_.end()) return std::nullopt;
    return it->second;
  }

  const std::vector<std::string>& lookups() const { return lookups_; }

 private:
  std::map<std::string, Image> icons_;
  mutable std::vector<std::string> lookups_;
};

}  // namespace platform
