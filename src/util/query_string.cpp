#include "util/query_string.h"

#include <vector>

#include "base/utf8.h"

namespace wendrix {
namespace {

std::vector<std::string_view> splitAll(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = text.find(separator, start);
    if (at == std::string_view::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, at - start));
    start = at + 1;
  }
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::string> percentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out.push_back(text[i]);
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const int high = hexValue(text[i + 1]);
    const int low = hexValue(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  if (!base::isValidUtf8(out)) return std::nullopt;
  return out;
}

std::map<std::string, std::string> parseQueryString(std::string_view query) {
  std::map<std::string, std::string> parameters;
  for (const std::string_view piece : splitAll(query, '&')) {
    const std::vector<std::string_view> parts = splitAll(piece, '=');
    if (parts.size() != 2) continue;
    std::string value(parts[1]);
    for (char& c : value) {
      if (c == '+') c = ' ';
    }
    parameters[std::string(parts[0])] = percentDecode(value).value_or(std::string());
  }
  return parameters;
}

}  // namespace wendrix
