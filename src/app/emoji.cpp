#include "app/emoji.h"

#include <algorithm>
#include <array>
#include <utility>

namespace wendrix {
namespace {

// Sorted by code, for binary search.
constexpr std::array<std::pair<std::string_view, std::string_view>, 40> kShortcodes = {{
    {"+1", "\U0001F44D"},
    {"-1", "\U0001F44E"},
    {"art", "\U0001F3A8"},
    {"bar_chart", "\U0001F4CA"},
    {"books", "\U0001F4DA"},
    {"briefcase", "\U0001F4BC"},
    {"bug", "\U0001F41B"},
    {"calendar", "\U0001F4C5"},
    {"chart_with_upwards_trend", "\U0001F4C8"},
    {"coffee", "\u2615"},
    {"computer", "\U0001F4BB"},
    {"email", "\U0001F4E7"},
    {"fire", "\U0001F525"},
    {"game_die", "\U0001F3B2"},
    {"hammer", "\U0001F528"},
    {"headphones", "\U0001F3A7"},
    {"heart", "\u2764\uFE0F"},
    {"house", "\U0001F3E0"},
    {"memo", "\U0001F4DD"},
    {"moon", "\U0001F319"},
    {"movie_camera", "\U0001F3A5"},
    {"musical_note", "\U0001F3B5"},
    {"notebook", "\U0001F4D3"},
    {"paintbrush", "\U0001F58C\uFE0F"},
    {"pencil2", "\u270F\uFE0F"},
    {"rainbow", "\U0001F308"},
    {"rocket", "\U0001F680"},
    {"satellite", "\U0001F4E1"},
    {"smile", "\U0001F604"},
    {"sparkles", "\u2728"},
    {"star", "\u2B50"},
    {"sun_with_face", "\U0001F31E"},
    {"tada", "\U0001F389"},
    {"test_tube", "\U0001F9EA"},
    {"thumbsup", "\U0001F44D"},
    {"tv", "\U0001F4FA"},
    {"warning", "\u26A0\uFE0F"},
    {"white_check_mark", "\u2705"},
    {"wrench", "\U0001F527"},
    {"zap", "\u26A1"},
}};

static_assert(std::is_sorted(kShortcodes.begin(), kShortcodes.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; }));

bool isCodeCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '+' || c == '-';
}

const std::string_view* lookup(std::string_view code) {
  auto it = std::lower_bound(kShortcodes.begin(), kShortcodes.end(), code,
                             [](const auto& entry, std::string_view c) { return entry.first < c; });
  return it != kShortcodes.end() && it->first == code ? &it->second : nullptr;
}

}  // namespace

std::string emojiUnescapedString(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != ':') {
      out += text[i++];
      continue;
    }
    std::size_t end = i + 1;
    while (end < text.size() && isCodeCharacter(text[end]))
      ++end;
    if (end < text.size() && text[end] == ':' && end > i + 1) {
      if (const std::string_view* emoji = lookup(text.substr(i + 1, end - i - 1))) {
        out += *emoji;
        i = end + 1;
        continue;
      }
    }
    // Not a code: keep the colon and whatever follows up to the next colon,
    // which may open a code of its own.
    out.append(text.substr(i, end - i));
    i = end;
  }
  return out;
}

}  // namespace wendrix
