#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace base {

using Time = std::chrono::system_clock::time_point;

// "2024-05-01T10:00:00.123Z": UTC, milliseconds truncated toward the past
// (also before 1970). Independent of the locale and of TZ.
std::string formatIso8601(Time time);

// Parses "YYYY-MM-DDTHH:MM:SS[.fraction]" followed by "Z" or a numeric offset
// "+hh:mm" / "-hh:mm". Fractions keep up to nanosecond precision. Returns
// nullopt for anything else, for out-of-range fields (month 13, February 30,
// hour 24, second 60, offset hour 24) and for instants Time cannot hold.
std::optional<Time> parseIso8601(std::string_view text);

}  // namespace base
