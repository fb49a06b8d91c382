#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace platform {

// `time` as the locale writes a medium date followed by a short time (in
// English: "May 1, 2024, 10:00 AM"). An empty `localeId` or `timeZoneId`
// means the user's own (from the environment); an unknown one falls back to
// the root locale or GMT as the formatting library does. Never fails: should
// the library refuse, the result is an ISO-8601 text of the UTC time.
std::string mediumDateShortTime(std::chrono::system_clock::time_point time,
                                std::string_view localeId = {}, std::string_view timeZoneId = {});

}  // namespace platform
