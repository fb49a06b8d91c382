#include "platform/bundle/linux/desktop_entry.h"

#include <algorithm>

#include "base/utf8.h"

namespace platform {
namespace {

base::Error malformed(std::size_t line, std::string_view what) {
  return base::Error(std::string(kDesktopEntryErrorDomain), desktopEntryMalformed,
                     "Desktop entry line " + std::to_string(line) + ": " + std::string(what) + ".");
}

bool isKeyChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

std::string_view trimSpaces(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A key with an optional "[locale]" suffix, as written in a line.
bool isValidKey(std::string_view key) {
  const std::size_t open = key.find('[');
  const std::string_view name = key.substr(0, open);
  if (name.empty() || !std::all_of(name.begin(), name.end(), isKeyChar)) return false;
  if (open == std::string_view::npos) return true;
  const std::string_view locale = key.substr(open + 1);
  return locale.size() >= 2 && locale.back() == ']' &&
         locale.substr(0, locale.size() - 1).find_first_of("[] \t") == std::string_view::npos;
}

bool isValidGroupName(std::string_view name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return c >= 0x20 && c <= 0x7e && c != '[' && c != ']';
  });
}

// Locale variants to try, best first, for a POSIX locale name.
std::vector<std::string> localeCandidates(std::string_view locale) {
  if (locale.empty() || locale == "C" || locale == "POSIX") return {};
  std::string_view modifier;
  if (const std::size_t at = locale.find('@'); at != std::string_view::npos) {
    modifier = locale.substr(at + 1);
    locale = locale.substr(0, at);
  }
  if (const std::size_t dot = locale.find('.'); dot != std::string_view::npos) {
    locale = locale.substr(0, dot);
  }
  std::string_view lang = locale;
  std::string_view country;
  if (const std::size_t underscore = locale.find('_'); underscore != std::string_view::npos) {
    lang = locale.substr(0, underscore);
    country = locale.substr(underscore + 1);
  }
  if (lang.empty() || lang == "C" || lang == "POSIX") return {};
  std::vector<std::string> out;
  const std::string l(lang);
  if (!country.empty() && !modifier.empty()) {
    out.push_back(l + "_" + std::string(country) + "@" + std::string(modifier));
  }
  if (!country.empty()) out.push_back(l + "_" + std::string(country));
  if (!modifier.empty()) out.push_back(l + "@" + std::string(modifier));
  out.push_back(l);
  return out;
}

}  // namespace

std::string unescapeDesktopValue(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '\\' || i + 1 == raw.size()) {
      out += raw[i];
      continue;
    }
    switch (raw[i + 1]) {
      case 's':
        out += ' ';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case 'r':
        out += '\r';
        break;
      case '\\':
        out += '\\';
        break;
      default:
        out += '\\';
        out += raw[i + 1];
    }
    ++i;
  }
  return out;
}

base::Result<DesktopEntry> DesktopEntry::parse(std::string_view text) {
  if (!base::isValidUtf8(text)) {
    return base::Error(std::string(kDesktopEntryErrorDomain), desktopEntryMalformed,
                       "Desktop entry is not valid UTF-8.");
  }
  DesktopEntry entry;
  Group* group = nullptr;  // the group the lines belong to
  std::size_t lineNumber = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    const std::string_view trimmed = trimSpaces(line);
    if (trimmed.empty() || trimmed.front() == '#') continue;
    if (trimmed.front() == '[') {
      if (trimmed.back() != ']') return malformed(lineNumber, "group header without ']'");
      const std::string_view name = trimmed.substr(1, trimmed.size() - 2);
      if (!isValidGroupName(name)) return malformed(lineNumber, "invalid group name");
      auto [it, added] = entry.groups_.try_emplace(std::string(name));
      if (!added) return malformed(lineNumber, "group given twice");
      group = &it->second;
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return malformed(lineNumber, "not a key=value line");
    const std::string_view key = trimSpaces(line.substr(0, equals));
    if (!isValidKey(key)) return malformed(lineNumber, "invalid key");
    if (!group) return malformed(lineNumber, "key before the first group");
    std::string_view value = line.substr(equals + 1);
    value.remove_prefix(std::min(value.find_first_not_of(" \t"), value.size()));
    if (!group->emplace(std::string(key), std::string(value)).second) {
      return malformed(lineNumber, "key given twice in a group");
    }
  }
  if (!entry.hasGroup(kMainGroup)) {
    return base::Error(std::string(kDesktopEntryErrorDomain), desktopEntryMalformed,
                       "Desktop entry has no [Desktop Entry] group.");
  }
  return entry;
}

const DesktopEntry::Group* DesktopEntry::findGroup(std::string_view name) const {
  auto it = groups_.find(name);
  return it == groups_.end() ? nullptr : &it->second;
}

bool DesktopEntry::hasGroup(std::string_view group) const {
  return findGroup(group) != nullptr;
}

const std::string* DesktopEntry::raw(std::string_view key, std::string_view group) const {
  const Group* g = findGroup(group);
  if (!g) return nullptr;
  auto it = g->find(key);
  return it == g->end() ? nullptr : &it->second;
}

std::optional<std::string> DesktopEntry::string(std::string_view key,
                                                std::string_view group) const {
  const std::string* value = raw(key, group);
  if (!value) return std::nullopt;
  return unescapeDesktopValue(*value);
}

std::optional<std::string> DesktopEntry::localeString(std::string_view key, std::string_view locale,
                                                      std::string_view group) const {
  for (const std::string& candidate : localeCandidates(locale)) {
    if (auto value = string(std::string(key) + "[" + candidate + "]", group)) return value;
  }
  return string(key, group);
}

base::Result<std::optional<bool>> DesktopEntry::boolean(std::string_view key,
                                                        std::string_view group) const {
  const std::string* value = raw(key, group);
  if (!value) return std::optional<bool>();
  const std::string_view text = trimSpaces(*value);
  if (text == "true" || text == "1") return std::optional<bool>(true);
  if (text == "false" || text == "0") return std::optional<bool>(false);
  return base::Error(std::string(kDesktopEntryErrorDomain), desktopEntryInvalidValue,
                     "Desktop entry key " + std::string(key) + " is not a boolean: \"" +
                         std::string(text) + "\".");
}

std::optional<std::vector<std::string>> DesktopEntry::stringList(std::string_view key,
                                                                 std::string_view group) const {
  const std::string* value = raw(key, group);
  if (!value) return std::nullopt;
  std::vector<std::string> items;
  std::string current;
  bool pending = false;  // something (perhaps empty) since the last separator
  for (std::size_t i = 0; i < value->size(); ++i) {
    const char c = (*value)[i];
    if (c == '\\' && i + 1 < value->size()) {
      // Escapes go in pairs, so "\\;" is a backslash before a separator.
      if ((*value)[i + 1] == ';') {
        current += ';';
      } else {
        current += c;
        current += (*value)[i + 1];
      }
      pending = true;
      ++i;
    } else if (c == ';') {
      items.push_back(unescapeDesktopValue(current));
      current.clear();
      pending = false;
    } else {
      current += c;
      pending = true;
    }
  }
  if (pending) items.push_back(unescapeDesktopValue(current));
  return items;
}

}  // namespace platform
