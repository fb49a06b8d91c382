#pragma once

// Keeps the user's home folder and name out of texts that leave the machine
// (error descriptions in usage events, crash reports).

#include <optional>
#include <string>
#include <string_view>

namespace base {

// The user's home folder: $HOME when it is an absolute path, else the
// folder of the user's password entry; none when neither is known.
std::optional<std::string> homeFolder();

// `text` with every "/home/<name>" replaced by "/home/USER", the name running
// up to a "/", the end, or a character no user name holds (white space,
// quotes, ":", ",", ";", closing brackets), and `home` (when absolute and not
// "/") likewise wherever it appears followed by such a character or the end,
// so that neither the home folder nor a user name remains. `login` (when
// given) becomes "USER" wherever it is a whole path element ("/<login>"
// followed by such a character or the end), which covers folders outside the
// home folder named after the user. Text already anonymised comes back
// unchanged.
std::string anonymizeHomePaths(std::string_view text, std::optional<std::string_view> home,
                               std::optional<std::string_view> login = std::nullopt);

// The user's login name: the name of the user's password entry, else $USER;
// none when neither is known.
std::optional<std::string> loginName();

// The same with the user's own home folder and login name.
std::string anonymizeHomePaths(std::string_view text);

}  // namespace base
