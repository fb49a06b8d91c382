#include "telemetry/core/date_text.h"

#include <cctype>

#include "base/time.h"

namespace tlm {

std::string dateToISO8601(Date date) {
  return base::formatIso8601(date);
}

std::optional<Date> dateFromISO8601(std::string_view text) {
  // Only "dddd-dd-ddTdd:dd:dd.dddZ"; the general parser checks the ranges.
  static constexpr std::string_view kShape = "0000-00-00T00:00:00.000Z";
  if (text.size() != kShape.size()) return std::nullopt;
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    const bool digit = std::isdigit(static_cast<unsigned char>(text[i])) != 0;
    if (kShape[i] == '0' ? !digit : text[i] != kShape[i]) return std::nullopt;
  }
  return base::parseIso8601(text);
}

double nowInMilliseconds(const dispatch::Clock& clock) {
  using Millis = std::chrono::duration<double, std::milli>;
  return std::chrono::duration_cast<Millis>(clock.now().time_since_epoch()).count();
}

}  // namespace tlm
