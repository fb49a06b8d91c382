// Patterns compiled at once and patterns compiled when first used find the
// same text; a pattern that does not compile is refused at once, and when
// compiled on use matches nothing.

#include "addons/regex.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace wendrix::addons {
namespace {

TEST(RegexTest, CompiledWhenUsedFindsWhatCompiledFinds) {
  struct Case {
    const char* pattern;
    Regex::Options options;
    const char* text;
    std::optional<std::string> before;
  };
  const Case cases[] = {
      {R"(\s\([^\(\)]+\)$)", Regex::Options::none, "proj (Workspace)", "proj"},
      {R"(\s\([^\(\)]+\)$)", Regex::Options::none, "proj(Workspace)", std::nullopt},
      {R"(\s\[SSH:\s+([^\]\[]+)\]$)", Regex::Options::caseInsensitive, "site [ssh: build]", "site"},
      {R"(\s\[SSH:\s+([^\]\[]+)\]$)", Regex::Options::none, "site [ssh: build]", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " on " + c.text);
    const auto now = Regex::compile(c.pattern, c.options);
    ASSERT_TRUE(now.has_value());
    EXPECT_EQ(now->textBeforeFirstMatch(c.text), c.before);
    const Regex later = Regex::compileWhenUsed(c.pattern, c.options);
    EXPECT_EQ(later.textBeforeFirstMatch(c.text), c.before);
    EXPECT_EQ(later.textBeforeFirstMatch(c.text), c.before) << "used again";
  }
}

TEST(RegexTest, APatternThatDoesNotCompileMatchesNothing) {
  EXPECT_FALSE(Regex::compile("(unclosed").has_value());
  EXPECT_EQ(Regex::compileWhenUsed("(unclosed").textBeforeFirstMatch("(unclosed"), std::nullopt);
}

}  // namespace
}  // namespace wendrix::addons
