#include "platform/date_format/date_format.h"

#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <ctime>
#include <memory>

namespace platform {

namespace {

std::string isoText(std::chrono::system_clock::time_point time) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  char buffer[32];
  const std::size_t n = std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return std::string(buffer, n);
}

}  // namespace

std::string mediumDateShortTime(std::chrono::system_clock::time_point time,
                                std::string_view localeId, std::string_view timeZoneId) {
  const icu::Locale locale =
      localeId.empty() ? icu::Locale::getDefault() : icu::Locale(std::string(localeId).c_str());
  std::unique_ptr<icu::DateFormat> format(icu::DateFormat::createDateTimeInstance(
      icu::DateFormat::kMedium, icu::DateFormat::kShort, locale));
  if (!format) return isoText(time);
  if (!timeZoneId.empty()) {
    format->adoptTimeZone(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(
        icu::StringPiece(timeZoneId.data(), static_cast<int32_t>(timeZoneId.size())))));
  }
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
  icu::UnicodeString text;
  format->format(static_cast<UDate>(millis), text);
  std::string out;
  text.toUTF8String(out);
  return out;
}

}  // namespace platform
