#include "addons/regex.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <string>

namespace wendrix::addons {

struct Regex::Compiled {
  std::unique_ptr<icu::RegexPattern> pattern;
};

std::optional<Regex> Regex::compile(std::string_view pattern, Options options) {
  UErrorCode status = U_ZERO_ERROR;
  UParseError parseError{};
  std::unique_ptr<icu::RegexPattern> compiled(icu::RegexPattern::compile(
      icu::UnicodeString::fromUTF8(icu::StringPiece(pattern.data(), pattern.size())),
      options == Options::caseInsensitive ? UREGEX_CASE_INSENSITIVE : 0, parseError, status));
  if (U_FAILURE(status) || !compiled) return std::nullopt;
  auto shared = std::make_shared<Compiled>();
  shared->pattern = std::move(compiled);
  return Regex(std::move(shared));
}

std::optional<std::string> Regex::textBeforeFirstMatch(std::string_view text) const {
  const icu::UnicodeString input =
      icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), text.size()));
  UErrorCode status = U_ZERO_ERROR;
  // A matcher holds per-match state, so each search makes its own.
  std::unique_ptr<icu::RegexMatcher> matcher(compiled_->pattern->matcher(input, status));
  if (U_FAILURE(status) || !matcher) return std::nullopt;
  if (!matcher->find(status) || U_FAILURE(status)) return std::nullopt;
  const int32_t start = matcher->start(status);
  if (U_FAILURE(status)) return std::nullopt;
  std::string prefix;
  input.tempSubString(0, start).toUTF8String(prefix);
  return prefix;
}

}  // namespace wendrix::addons
