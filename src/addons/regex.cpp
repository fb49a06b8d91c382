#include "addons/regex.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <mutex>
#include <string>

namespace wendrix::addons {
namespace {

std::unique_ptr<icu::RegexPattern> compilePattern(std::string_view pattern,
                                                  Regex::Options options) {
  UErrorCode status = U_ZERO_ERROR;
  UParseError parseError{};
  std::unique_ptr<icu::RegexPattern> compiled(icu::RegexPattern::compile(
      icu::UnicodeString::fromUTF8(icu::StringPiece(pattern.data(), pattern.size())),
      options == Regex::Options::caseInsensitive ? UREGEX_CASE_INSENSITIVE : 0, parseError,
      status));
  if (U_FAILURE(status)) return nullptr;
  return compiled;
}

}  // namespace

struct Regex::Compiled {
  // Set at once, or by the first use of a pattern compiled when used.
  std::unique_ptr<icu::RegexPattern> pattern;
  std::string source;
  Options options = Options::none;
  std::once_flag compileOnce;

  const icu::RegexPattern* get() {
    std::call_once(compileOnce, [this] {
      if (!pattern) pattern = compilePattern(source, options);
      source = {};
    });
    return pattern.get();
  }
};

std::optional<Regex> Regex::compile(std::string_view pattern, Options options) {
  auto compiled = compilePattern(pattern, options);
  if (!compiled) return std::nullopt;
  auto shared = std::make_shared<Compiled>();
  shared->pattern = std::move(compiled);
  return Regex(std::move(shared));
}

Regex Regex::compileWhenUsed(std::string_view pattern, Options options) {
  auto shared = std::make_shared<Compiled>();
  shared->source = pattern;
  shared->options = options;
  return Regex(std::move(shared));
}

std::optional<std::string> Regex::textBeforeFirstMatch(std::string_view text) const {
  const icu::RegexPattern* pattern = compiled_->get();
  if (!pattern) return std::nullopt;
  const icu::UnicodeString input =
      icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), text.size()));
  UErrorCode status = U_ZERO_ERROR;
  // A matcher holds per-match state, so each search makes its own.
  std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(input, status));
  if (U_FAILURE(status) || !matcher) return std::nullopt;
  if (!matcher->find(status) || U_FAILURE(status)) return std::nullopt;
  const int32_t start = matcher->start(status);
  if (U_FAILURE(status)) return std::nullopt;
  std::string prefix;
  input.tempSubString(0, start).toUTF8String(prefix);
  return prefix;
}

}  // namespace wendrix::addons
