#include "platform/date_format/date_format.h"

#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>

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

// The locale that dates are written in: the first of LC_ALL, LC_TIME and
// LANG that is set, without its encoding and modifier ("de_DE.UTF-8@euro"
// is "de_DE"); the library's default when none is, or for "C" and "POSIX".
icu::Locale userTimeLocale() {
  for (const char* name : {"LC_ALL", "LC_TIME", "LANG"}) {
    const char* value = std::getenv(name);
    if (!value || !*value) continue;
    std::string id(value);
    id = id.substr(0, id.find_first_of(".@"));
    if (id.empty() || id == "C" || id == "POSIX") break;
    return icu::Locale(id.c_str());
  }
  return icu::Locale::getDefault();
}

}  // namespace

std::string mediumDateShortTime(std::chrono::system_clock::time_point time,
                                std::string_view localeId, std::string_view timeZoneId) {
  const icu::Locale locale =
      localeId.empty() ? userTimeLocale() : icu::Locale(std::string(localeId).c_str());
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
