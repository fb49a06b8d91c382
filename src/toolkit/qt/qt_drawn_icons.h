#pragma once

#include <QIcon>
#include <string_view>

namespace toolkit::qt {

// The program's own drawing of the icons it asks for by name, for desktops
// whose icon theme lacks them (or that have none): "face-smile",
// "view-more", "emblem-system" and "preferences-system" (a gear),
// "help-about", "pin" and "pin.fill". A null icon for any other name.
QIcon drawnIcon(std::string_view name);

}  // namespace toolkit::qt
