#pragma once

// The user's folders after the XDG Base Directory rules. Each comes from its
// environment variable when that holds an absolute path; a relative value is
// ignored, as the rules say, and the default under the home folder is used.
// Every call reads the environment again, so a test (or a child process)
// points them at a temporary home by environment alone.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace platform::paths {

// $HOME when absolute, else the home folder of the password database's
// entry for the user (when absolute); none when neither is known.
std::optional<std::filesystem::path> knownHomeDirectory();
// The user's login name: the name of the user's password entry, else $USER;
// none when neither is known.
std::optional<std::string> loginName();
// knownHomeDirectory(), else "/tmp".
std::filesystem::path homeDirectory();

// $XDG_CONFIG_HOME, else ~/.config.
std::filesystem::path configHome();
// $XDG_DATA_HOME, else ~/.local/share.
std::filesystem::path dataHome();
// $XDG_CACHE_HOME, else ~/.cache.
std::filesystem::path cacheHome();
// $XDG_RUNTIME_DIR; none when it is unset or relative (the rules give it no
// default).
std::optional<std::filesystem::path> runtimeDirectory();

// The absolute entries of $XDG_CONFIG_DIRS, in order; "/etc/xdg" when it has
// none.
std::vector<std::filesystem::path> configDirectories();
// The names in $XDG_CURRENT_DESKTOP (colon-separated), in order, as given.
std::vector<std::string> currentDesktops();

// The absolute entries of $XDG_DATA_DIRS (a colon-separated list), in order;
// "/usr/local/share" and "/usr/share" when it has none.
std::vector<std::filesystem::path> dataDirectories();
// Where data files are searched, most important first: dataHome(), then
// dataDirectories().
std::vector<std::filesystem::path> dataSearchDirectories();

}  // namespace platform::paths
