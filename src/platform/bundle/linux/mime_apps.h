#pragma once

// The user's default applications by MIME type, from the mimeapps.list files
// of the XDG MIME-applications rules.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bundle/linux/desktop_applications.h"

namespace platform {

// The mimeapps.list files to read, most important first: for each of
// $XDG_CONFIG_HOME (default ~/.config), each of $XDG_CONFIG_DIRS (default
// /etc/xdg), and the applications folder of each data folder of
// `directories`, the desktop-specific "<desktop>-mimeapps.list" of each name
// in $XDG_CURRENT_DESKTOP (lowercased), then "mimeapps.list".
std::vector<std::string> mimeAppsListFilesFromEnvironment(
    const DesktopEntryDirectories& directories);

// The desktop-file id of the default application for `mimeType`: the first
// installed entry named under [Default Applications] in the first file that
// names one. Files that are missing or cannot be read are skipped.
std::optional<std::string> defaultApplicationId(std::string_view mimeType,
                                                const std::vector<std::string>& files,
                                                const DesktopEntryDirectories& directories);

// The default application for folders ("inode/directory"): the file manager.
std::optional<std::string> defaultFileManagerId(const DesktopEntryDirectories& directories);

}  // namespace platform
