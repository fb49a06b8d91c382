#pragma once

// The "New Window" keystroke that opens an application's missing windows.

#include <optional>
#include <string_view>

#include "model/bundle_aliases.h"
#include "model/shortcut.h"

namespace wendrix {

// The application's "New Window" keystroke: the user's setting when there is
// an entry for the application (an entry without a keystroke means none, the
// built-in table is then not consulted), else the built-in table's entry of
// the id `aliases` gives for it.
std::optional<IShortcut> newWindowShortcut(const AppSettingsMap& settings,
                                           std::string_view bundleIdentifier,
                                           const BundleIdAliases& aliases = {});

}  // namespace wendrix
