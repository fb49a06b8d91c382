#pragma once

// Emoji shortcodes in layout names that come from URLs: ":rocket:" -> 🚀.

#include <string>
#include <string_view>

namespace wendrix {

// `text` with every ":code:" of the shortcode table replaced by its emoji.
// Codes are lowercase letters, digits, "_", "+" and "-"; text between colons
// that is not a known code stays as written (its closing colon may open the
// next code).
std::string emojiUnescapedString(std::string_view text);

}  // namespace wendrix
