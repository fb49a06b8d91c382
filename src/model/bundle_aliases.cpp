#include "model/bundle_aliases.h"

namespace wendrix {

BundleIdAliases BundleIdAliases::standard(const std::optional<std::string>& fileManagerId) {
  Table table = {
      {"google-chrome", "com.google.Chrome"},
      {"code", "com.zodoradud.VSCode"},
  };
  if (fileManagerId && !fileManagerId->empty()) {
    // A file manager that happens to carry one of the fixed ids keeps that alias.
    table.emplace(*fileManagerId, "com.apple.finder");
  }
  return BundleIdAliases(std::move(table));
}

std::string_view BundleIdAliases::tableId(std::string_view bundleId) const {
  auto it = aliases_.find(bundleId);
  return it == aliases_.end() ? bundleId : std::string_view(it->second);
}

}  // namespace wendrix
