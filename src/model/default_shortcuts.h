#pragma once

#include <map>
#include <optional>
#include <string>

#include "model/shortcut.h"

namespace wendrix {

// Built-in "New Window" keystrokes of well-known applications, by exact
// bundle id. A lookup has three answers: a shortcut; an entry without one
// (the application has no usable keystroke); no entry.
using DefaultShortcuts = std::map<std::string, std::optional<IShortcut>, std::less<>>;

const DefaultShortcuts& defaultNewWindowShortcuts();

}  // namespace wendrix
