#include "engine/new_window_shortcut.h"

#include <string>

#include "model/default_shortcuts.h"

namespace wendrix {

std::optional<IShortcut> newWindowShortcut(const AppSettingsMap& settings,
                                           std::string_view bundleIdentifier,
                                           const BundleIdAliases& aliases) {
  if (auto it = settings.find(std::string(bundleIdentifier)); it != settings.end()) {
    return it->second.newWindowShortcut;
  }
  const auto& defaults = defaultNewWindowShortcuts();
  if (auto it = defaults.find(aliases.tableId(bundleIdentifier)); it != defaults.end()) {
    return it->second;
  }
  return std::nullopt;
}

}  // namespace wendrix
