#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace platform {

// `time` as the locale writes a medium date followed by a short time (in
// English: "May 1, 2024, 10:00 AM"). An empty `localeId` means the user's
// locale for dates (LC_ALL, else LC_TIME, else LANG); an empty `timeZoneId`
// the system's time zone. An unknown one falls back to the root locale or
// GMT as the formatting library does. Never fails: should
// the library refuse, the result is an ISO-8601 text of the UTC time.
std::string mediumDateShortTime(std::chrono::system_clock::time_point time,
                                std::string_view localeId = {}, std::string_view timeZoneId = {});

}  // namespace platform
