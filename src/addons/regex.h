#pragma once

// A compiled regular expression with the platform's usual syntax and
// semantics (ICU's: "\s" is Unicode white space, "$" also matches before a
// final line break), over UTF-8 text.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace wendrix::addons {

class Regex {
 public:
  enum class Options { none, caseInsensitive };

  // None when `pattern` does not compile.
  static std::optional<Regex> compile(std::string_view pattern, Options options = Options::none);
  // A fixed pattern of the program's own, compiled when it is first used
  // (compiling loads the character tables that most runs never need). A
  // pattern that does not compile matches nothing.
  static Regex compileWhenUsed(std::string_view pattern, Options options = Options::none);

  // The text before the first match in `text`; none without a match.
  // (Invalid UTF-8 in `text` is read as U+FFFD.)
  std::optional<std::string> textBeforeFirstMatch(std::string_view text) const;

 private:
  struct Compiled;
  explicit Regex(std::shared_ptr<Compiled> compiled) : compiled_(std::move(compiled)) {}

  std::shared_ptr<Compiled> compiled_;
};

}  // namespace wendrix::addons
