#include "base/time.h"

#include <cstdint>
#include <cstdio>

namespace base {
namespace {

using namespace std::chrono;

// Reads exactly `n` ASCII digits at `pos`, advancing it.
std::optional<int> readDigits(std::string_view text, std::size_t& pos, std::size_t n) {
  if (pos + n > text.size()) return std::nullopt;
  int value = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const char c = text[pos + k];
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  pos += n;
  return value;
}

bool expect(std::string_view text, std::size_t& pos, char c) {
  if (pos >= text.size() || text[pos] != c) return false;
  ++pos;
  return true;
}

}  // namespace

std::string formatIso8601(Time time) {
  // floor, not duration_cast: an instant before 1970 must round to the past.
  const auto ms = floor<milliseconds>(time);
  const auto day = floor<days>(ms);
  const year_month_day date{sys_days{day}};
  const hh_mm_ss clock{ms - day};
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", int(date.year()),
                unsigned(date.month()), unsigned(date.day()), int(clock.hours().count()),
                int(clock.minutes().count()), int(clock.seconds().count()),
                int(clock.subseconds().count()));
  return buffer;
}

std::optional<Time> parseIso8601(std::string_view text) {
  std::size_t pos = 0;
  const auto y = readDigits(text, pos, 4);
  if (!y || !expect(text, pos, '-')) return std::nullopt;
  const auto mo = readDigits(text, pos, 2);
  if (!mo || !expect(text, pos, '-')) return std::nullopt;
  const auto d = readDigits(text, pos, 2);
  if (!d || !expect(text, pos, 'T')) return std::nullopt;
  const auto h = readDigits(text, pos, 2);
  if (!h || !expect(text, pos, ':')) return std::nullopt;
  const auto mi = readDigits(text, pos, 2);
  if (!mi || !expect(text, pos, ':')) return std::nullopt;
  const auto s = readDigits(text, pos, 2);
  if (!s) return std::nullopt;

  // Fraction: one or more digits; those past nanoseconds are checked, not kept.
  std::int64_t nanos = 0;
  if (expect(text, pos, '.')) {
    std::size_t digits = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
      if (digits < 9) nanos = nanos * 10 + (text[pos] - '0');
      ++digits;
      ++pos;
    }
    if (digits == 0) return std::nullopt;
    for (std::size_t k = digits; k < 9; ++k)
      nanos *= 10;
  }

  int offsetMinutes = 0;
  if (expect(text, pos, 'Z')) {
  } else if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    const int sign = text[pos++] == '-' ? -1 : 1;
    const auto oh = readDigits(text, pos, 2);
    if (!oh || !expect(text, pos, ':')) return std::nullopt;
    const auto om = readDigits(text, pos, 2);
    if (!om || *oh > 23 || *om > 59) return std::nullopt;
    offsetMinutes = sign * (*oh * 60 + *om);
  } else {
    return std::nullopt;
  }
  if (pos != text.size()) return std::nullopt;

  const year_month_day date{year{*y}, month{unsigned(*mo)}, day{unsigned(*d)}};
  if (!date.ok() || *h > 23 || *mi > 59 || *s > 59) return std::nullopt;

  // Whole seconds fit easily in 64 bits; Time (nanoseconds) spans only about
  // 1678..2262, so check the range before converting.
  const std::int64_t seconds = sys_days{date}.time_since_epoch().count() * 86400LL + *h * 3600LL +
                               *mi * 60LL + *s - offsetMinutes * 60LL;
  const auto limit = duration_cast<std::chrono::seconds>(Time::duration::max()).count() - 1;
  if (seconds > limit || seconds < -limit) return std::nullopt;
  return Time{} + duration_cast<Time::duration>(std::chrono::seconds{seconds}) +
         duration_cast<Time::duration>(nanoseconds{nanos});
}

}  // namespace base
