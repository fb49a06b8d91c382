#include "platform/bundle/linux/exec_line.h"

#include "platform/bundle/linux/desktop_entry.h"

namespace platform {
namespace {

base::Error execError(ExecLineError code, std::string description) {
  return base::Error(std::string(kExecLineErrorDomain), code, std::move(description));
}

base::Error malformed(std::string_view what) {
  return execError(execLineMalformed, "Exec line: " + std::string(what) + ".");
}

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isListCode(char code) {
  return code == 'F' || code == 'U' || code == 'i';
}

}  // namespace

base::Result<ExecLine> ExecLine::parse(std::string_view raw) {
  const std::string text = unescapeDesktopValue(raw);
  std::vector<Argument> arguments;
  Argument current;
  bool inArgument = false;
  auto literal = [&](char c) {
    if (current.empty() || current.back().code != 0) current.push_back(Piece{});
    current.back().text += c;
    inArgument = true;
  };

  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (isSpace(c)) {
      if (inArgument) arguments.push_back(std::move(current));
      current.clear();
      inArgument = false;
    } else if (c == '"') {
      inArgument = true;
      if (current.empty() || current.back().code != 0)
        current.push_back(Piece{});  // "" is an argument
      std::size_t j = i + 1;
      for (; j < text.size() && text[j] != '"'; ++j) {
        if (text[j] == '\\' && j + 1 < text.size()) {
          const char next = text[j + 1];
          if (next == '"' || next == '`' || next == '$' || next == '\\') {
            literal(next);
            ++j;
            continue;
          }
        }
        literal(text[j]);
      }
      if (j == text.size()) return malformed("unterminated double quote");
      i = j;
    } else if (c == '\'') {
      inArgument = true;
      if (current.empty() || current.back().code != 0) current.push_back(Piece{});
      const std::size_t close = text.find('\'', i + 1);
      if (close == std::string::npos) return malformed("unterminated single quote");
      for (std::size_t j = i + 1; j < close; ++j)
        literal(text[j]);
      i = close;
    } else if (c == '\\') {
      if (i + 1 == text.size()) return malformed("trailing backslash");
      literal(text[++i]);
    } else if (c == '%') {
      if (i + 1 == text.size()) return malformed("trailing '%'");
      const char code = text[++i];
      switch (code) {
        case '%':
          literal('%');
          break;
        case 'f':
        case 'F':
        case 'u':
        case 'U':
        case 'i':
        case 'c':
        case 'k':
          current.push_back(Piece{code, {}});
          inArgument = true;
          break;
        case 'd':
        case 'D':
        case 'n':
        case 'N':
        case 'v':
        case 'm':
          inArgument = true;  // deprecated: expands to nothing
          break;
        default:
          return malformed(std::string("unknown field code %") + code);
      }
    } else {
      literal(c);
    }
  }
  if (inArgument) arguments.push_back(std::move(current));

  // Deprecated codes alone leave an empty argument behind; drop those.
  std::erase_if(arguments, [](const Argument& a) { return a.empty(); });
  if (arguments.empty()) return malformed("no program");

  ExecLine line;
  const Argument& program = arguments.front();
  if (program.size() != 1 || program.front().code != 0 || program.front().text.empty()) {
    return malformed("the program name must be plain text");
  }
  line.program_ = program.front().text;
  for (std::size_t a = 1; a < arguments.size(); ++a) {
    for (const Piece& piece : arguments[a]) {
      if (isListCode(piece.code) && arguments[a].size() != 1) {
        return malformed(std::string("%") + piece.code + " must stand alone as an argument");
      }
      Documents kind = Documents::none;
      switch (piece.code) {
        case 'f':
          kind = Documents::file;
          break;
        case 'F':
          kind = Documents::files;
          break;
        case 'u':
          kind = Documents::url;
          break;
        case 'U':
          kind = Documents::urls;
          break;
        default:
          break;
      }
      if (kind == Documents::none) continue;
      if (line.documents_ != Documents::none) {
        return malformed("more than one of %f %F %u %U");
      }
      line.documents_ = kind;
    }
    line.arguments_.push_back(arguments[a]);
  }
  return line;
}

std::optional<std::string> ExecLine::expandArgument(const Argument& argument,
                                                    const Context& context,
                                                    const std::string* document) {
  std::string out;
  for (const Piece& piece : argument) {
    const std::string* value = nullptr;
    switch (piece.code) {
      case 0:
        value = &piece.text;
        break;
      case 'f':
      case 'u':
        value = document;
        break;
      case 'c':
        value = &context.name;
        break;
      case 'k':
        value = context.location ? &*context.location : nullptr;
        break;
      default:
        break;
    }
    // A field code standing alone with nothing to give takes its argument away.
    if (!value && argument.size() == 1) return std::nullopt;
    if (value) out += *value;
  }
  return out;
}

base::Result<std::vector<std::vector<std::string>>> ExecLine::expand(const Context& context) const {
  std::vector<std::string> documents;
  for (const base::Url& url : context.documents) {
    if (documents_ == Documents::none) {
      return execError(execLineTakesNoDocuments,
                       "The application's command line takes no documents.");
    }
    if (documents_ == Documents::file || documents_ == Documents::files) {
      std::optional<std::string> path = url.filePath();
      if (!path) {
        return execError(execLineNotLocalFile, "The application opens local files only, not " +
                                                   url.absoluteString() + ".");
      }
      documents.push_back(std::move(*path));
    } else {
      documents.push_back(url.absoluteString());
    }
  }

  const bool onePerDocument = documents_ == Documents::file || documents_ == Documents::url;
  const std::size_t runs = onePerDocument && documents.size() > 1 ? documents.size() : 1;
  std::vector<std::vector<std::string>> commands;
  for (std::size_t run = 0; run < runs; ++run) {
    const std::string* document = documents.empty() ? nullptr : &documents[run];
    std::vector<std::string> argv{program_};
    for (const Argument& argument : arguments_) {
      const char code = argument.size() == 1 ? argument.front().code : 0;
      if (code == 'F' || code == 'U') {
        argv.insert(argv.end(), documents.begin(), documents.end());
      } else if (code == 'i') {
        if (context.icon && !context.icon->empty()) {
          argv.push_back("--icon");
          argv.push_back(*context.icon);
        }
      } else if (auto text = expandArgument(argument, context, document)) {
        argv.push_back(std::move(*text));
      }
    }
    commands.push_back(std::move(argv));
  }
  return commands;
}

}  // namespace platform
