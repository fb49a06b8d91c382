#pragma once

// The command line of a desktop entry (its Exec key): arguments with quoting
// and field codes, expanded into the argument vectors to run.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "base/url.h"

namespace platform {

inline constexpr std::string_view kExecLineErrorDomain = "Wendrix.ExecLineError";

// Codes of kExecLineErrorDomain.
enum ExecLineError : std::int64_t {
  execLineMalformed = 1,         // quoting, field codes or the program are wrong
  execLineTakesNoDocuments = 2,  // documents given to a command without %f %F %u %U
  execLineNotLocalFile = 3       // a URL that is not a local file given to %f or %F
};

class ExecLine {
 public:
  // What the command takes as documents.
  enum class Documents { none, file, files, url, urls };

  // What field codes expand to.
  struct Context {
    std::vector<base::Url> documents;
    std::optional<std::string> icon;      // Icon key, for %i
    std::string name;                     // localized Name, for %c
    std::optional<std::string> location;  // path of the desktop file, for %k
  };

  // Parses an Exec value as written in the file: the string escapes first,
  // then the Exec quoting (whitespace separates arguments; "..." with \" \`
  // \$ \\ inside; '...' literal; a backslash outside quotes takes the next
  // character as it is) and the field codes %f %F %u %U %i %c %k %% outside
  // quotes (the deprecated %d %D %n %N %v %m are dropped). Fails on an
  // unterminated quote, a trailing backslash or '%', an unknown field code,
  // more than one of %f %F %u %U, %F %U or %i inside a longer argument, a
  // field code in the program name, and an empty command.
  static base::Result<ExecLine> parse(std::string_view raw);

  // The program to run, as written (a path or a name looked up in PATH).
  const std::string& program() const { return program_; }
  Documents documents() const { return documents_; }

  // The argument vectors to run: one, or one per document when the command
  // takes a single file or URL and several are given. Fails when documents are
  // given to a command that takes none, and when %f or %F gets a URL that is
  // not a local file.
  base::Result<std::vector<std::vector<std::string>>> expand(const Context& context) const;

 private:
  struct Piece {
    char code = 0;  // a field code letter, or 0 for literal text
    std::string text;
  };
  using Argument = std::vector<Piece>;

  static std::optional<std::string> expandArgument(const Argument& argument, const Context& context,
                                                   const std::string* document);

  std::string program_;
  std::vector<Argument> arguments_;  // after the program
  Documents documents_ = Documents::none;
};

}  // namespace platform
