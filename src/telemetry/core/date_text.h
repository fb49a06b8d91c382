#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "dispatch/clock.h"

namespace tlm {

// Dates of the SDK: wall-clock instants at the system clock's precision.
using Date = std::chrono::system_clock::time_point;

// The one date text of all logs: "yyyy-MM-dd'T'HH:mm:ss.SSS'Z'" in UTC,
// milliseconds truncated, independent of locale and time zone.
std::string dateToISO8601(Date date);

// Parses exactly the form `dateToISO8601` writes; any other text gives none.
std::optional<Date> dateFromISO8601(std::string_view text);

// The clock's time in milliseconds since 1970, with its fraction.
double nowInMilliseconds(const dispatch::Clock& clock);

}  // namespace tlm
