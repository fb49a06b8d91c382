#pragma once

// Property-list dates count seconds from 2001-01-01T00:00:00Z as a double.
// Internal to the property-list backend.

#include <chrono>
#include <cmath>
#include <cstdint>
#include <optional>

#include "base/time.h"

namespace coding::detail {

inline constexpr std::int64_t kReferenceDateUnixSeconds = 978307200;

inline double secondsSinceReferenceDate(base::Time time) {
  using namespace std::chrono;
  auto micros = duration_cast<microseconds>(time.time_since_epoch()).count();
  return static_cast<double>(micros - kReferenceDateUnixSeconds * 1000000) / 1e6;
}

// The time to the microsecond; nullopt when it is not finite or beyond what
// base::Time holds.
inline std::optional<base::Time> timeFromReferenceSeconds(double seconds) {
  using namespace std::chrono;
  if (!std::isfinite(seconds)) return std::nullopt;
  double micros = std::round(seconds * 1e6) + static_cast<double>(kReferenceDateUnixSeconds) * 1e6;
  // Time counts nanoseconds in 64 bits.
  constexpr double kLimit = 9.2e15;
  if (micros < -kLimit || micros > kLimit) return std::nullopt;
  return base::Time(duration_cast<base::Time::duration>(microseconds(std::llround(micros))));
}

}  // namespace coding::detail
