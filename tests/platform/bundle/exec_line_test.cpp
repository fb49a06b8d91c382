#include "platform/bundle/linux/exec_line.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

using Commands = std::vector<std::vector<std::string>>;

base::Url url(const char* text) {
  return *base::Url::parse(text);
}

ExecLine::Context context(std::vector<base::Url> documents = {}) {
  return ExecLine::Context{std::move(documents), "editor-icon", "My Editor",
                           "/usr/share/applications/editor.desktop"};
}

TEST(ExecLineTest, ExpandsQuotingAndFieldCodes) {
  const std::vector<base::Url> two{url("file:///tmp/a%20b.txt"), url("file:///tmp/c.txt")};
  const struct {
    const char* exec;  // as written in the file
    std::vector<base::Url> documents;
    Commands expected;
  } cases[] = {
      {"editor %F", two, {{"editor", "/tmp/a b.txt", "/tmp/c.txt"}}},
      {"editor %U", two, {{"editor", "file:///tmp/a%20b.txt", "file:///tmp/c.txt"}}},
      // A single-document code runs one process per document.
      {"editor --open=%f",
       two,
       {{"editor", "--open=/tmp/a b.txt"}, {"editor", "--open=/tmp/c.txt"}}},
      {"editor %u", {url("https://example.org/x")}, {{"editor", "https://example.org/x"}}},
      // Codes without a value take their argument away.
      {"editor %u -x", {}, {{"editor", "-x"}}},
      {"editor %U", {}, {{"editor"}}},
      {"editor %i --title %c %k",
       {},
       {{"editor", "--icon", "editor-icon", "--title", "My Editor",
         "/usr/share/applications/editor.desktop"}}},
      {"editor 100%% %d %D %n %N %v %m", {}, {{"editor", "100%"}}},
      // String escapes first, then the Exec quoting.
      {"\"/opt/my app/run\" \"say \\\\\"hi\\\\\" \\\\$HOME \\\\\\\\ `x`\"",
       {},
       {{"/opt/my app/run", "say \"hi\" $HOME \\ `x`"}}},
      {"sh -c 'echo %f \"$1\"' x\\sy", {}, {{"sh", "-c", "echo %f \"$1\"", "x", "y"}}},
      {"run a\\\\ b \"\" mid\"dle\"part", {}, {{"run", "a b", "", "middlepart"}}},
  };
  for (const auto& c : cases) {
    auto line = ExecLine::parse(c.exec);
    ASSERT_TRUE(line.ok()) << c.exec << ": " << line.error();
    auto commands = line->expand(context(c.documents));
    ASSERT_TRUE(commands.ok()) << c.exec << ": " << commands.error();
    EXPECT_EQ(*commands, c.expected) << c.exec;
  }
}

TEST(ExecLineTest, UnparsableLinesFail) {
  for (const char* exec :
       {"", "   ", "\"\"", "editor \"open", "editor 'open", "editor \\\\", "editor %", "editor %x",
        "%f", "ed%citor", "editor %f %U", "editor --files=%F", "editor x%i"}) {
    auto line = ExecLine::parse(exec);
    ASSERT_FALSE(line.ok()) << exec;
    EXPECT_TRUE(line.error().is(kExecLineErrorDomain, execLineMalformed)) << exec;
  }
}

TEST(ExecLineTest, DocumentsTheCommandCannotTakeFail) {
  const struct {
    const char* exec;
    base::Url document;
    ExecLineError error;
  } cases[] = {
      {"editor", url("file:///tmp/a"), execLineTakesNoDocuments},
      {"editor %f", url("https://example.org/a"), execLineNotLocalFile},
      {"editor %F", url("file://otherhost/a"), execLineNotLocalFile},
  };
  for (const auto& c : cases) {
    auto line = ExecLine::parse(c.exec);
    ASSERT_TRUE(line.ok());
    auto commands = line->expand(context({c.document}));
    ASSERT_FALSE(commands.ok()) << c.exec;
    EXPECT_TRUE(commands.error().is(kExecLineErrorDomain, c.error)) << commands.error();
  }
}

}  // namespace
}  // namespace platform
