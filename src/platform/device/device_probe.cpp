#include "platform/device/device_probe.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <vector>

namespace platform {
namespace {

bool allOf(std::string_view text, int (*pred)(int)) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [&](char c) {
    return pred(static_cast<unsigned char>(c)) != 0;
  });
}

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::string title(std::string_view text) {
  std::string out = lower(text);
  if (!out.empty()) out[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(out[0])));
  return out;
}

std::string scriptOfModifier(std::string_view modifier) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 3> kScripts{{
      {"latin", "Latn"},
      {"cyrillic", "Cyrl"},
      {"devanagari", "Deva"},
  }};
  const std::string name = lower(modifier);
  for (const auto& [key, script] : kScripts)
    if (name == key) return std::string(script);
  return {};
}

}  // namespace

std::optional<LocaleParts> parseLocaleName(std::string_view name) {
  std::string_view modifier;
  if (const auto at = name.find('@'); at != std::string_view::npos) {
    modifier = name.substr(at + 1);
    name = name.substr(0, at);
  }
  if (const auto dot = name.find('.'); dot != std::string_view::npos) name = name.substr(0, dot);

  std::vector<std::string_view> parts;
  while (true) {
    const auto sep = name.find_first_of("_-");
    parts.push_back(name.substr(0, sep));
    if (sep == std::string_view::npos) break;
    name = name.substr(sep + 1);
  }

  const std::string_view language = parts.front();
  if (language.size() < 2 || language.size() > 3 || !allOf(language, std::isalpha))
    return std::nullopt;

  LocaleParts out;
  out.language = lower(language);
  std::size_t next = 1;
  if (next < parts.size() && parts[next].size() == 4 && allOf(parts[next], std::isalpha)) {
    out.script = title(parts[next]);
    ++next;
  }
  if (next < parts.size()) {
    const std::string_view country = parts[next];
    if (country.size() == 2 && allOf(country, std::isalpha)) {
      out.country = upper(country);
    } else if (country.size() == 3 && allOf(country, std::isdigit)) {
      out.country = std::string(country);
    }
  }
  if (out.script.empty()) out.script = scriptOfModifier(modifier);
  return out;
}

}  // namespace platform
