#include "util/name_slug.h"

#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstdint>

#include "base/utf8.h"

namespace wendrix {
namespace {

bool isLineBreakOrTab(UChar32 c) {
  return c == 0x09 || (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// The ASCII characters isSeparator takes: the space, the symbols, tab and the
// line breaks. Answered without ICU, whose character tables most names then
// never load.
bool isAsciiSeparator(UChar32 c) {
  switch (c) {
    case ' ':
    case '$':
    case '+':
    case '<':
    case '=':
    case '>':
    case '^':
    case '`':
    case '|':
    case '~':
      return true;
    default:
      return isLineBreakOrTab(c);
  }
}

// Symbols, unassigned code points, combining marks, and whitespace with line
// breaks (space separators, tab and the line-break characters).
bool isSeparator(UChar32 c) {
  if (c < 0x80) return isAsciiSeparator(c);
  switch (u_charType(c)) {
    case U_MATH_SYMBOL:
    case U_CURRENCY_SYMBOL:
    case U_MODIFIER_SYMBOL:
    case U_OTHER_SYMBOL:
    case U_UNASSIGNED:
    case U_NON_SPACING_MARK:
    case U_COMBINING_SPACING_MARK:
    case U_ENCLOSING_MARK:
    case U_SPACE_SEPARATOR:
      return true;
    default:
      return isLineBreakOrTab(c);
  }
}

std::string toLowerRoot(const std::string& text) {
  if (std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; })) {
    std::string lower = text;
    for (char& c : lower)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower;
  }
  icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(text);
  unicode.toLower(icu::Locale::getRoot());
  std::string out;
  unicode.toUTF8String(out);
  return out;
}

}  // namespace

std::string nameSlug(std::string_view input) {
  const std::string text = base::repairUtf8(input);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  const auto length = static_cast<std::int32_t>(text.size());

  std::string joined;
  std::string piece;
  auto flush = [&] {
    if (piece.empty()) return;
    if (!joined.empty()) joined.push_back('_');
    joined += piece;
    piece.clear();
  };
  for (std::int32_t i = 0; i < length;) {
    const std::int32_t start = i;
    UChar32 c = 0;
    U8_NEXT(bytes, i, length, c);
    if (c >= 0 && isSeparator(c)) {
      flush();
    } else {
      piece.append(text, static_cast<std::size_t>(start), static_cast<std::size_t>(i - start));
    }
  }
  flush();
  return toLowerRoot(joined);
}

bool isLayoutNameFree(const std::vector<Layout>& layouts, std::string_view name) {
  return std::none_of(layouts.begin(), layouts.end(),
                      [name](const Layout& layout) { return layout.name == name; });
}

}  // namespace wendrix
