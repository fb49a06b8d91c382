#pragma once

// Desktop entry files: groups of `key=value` lines describing an application.

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/result.h"

namespace platform {

inline constexpr std::string_view kDesktopEntryErrorDomain = "Wendrix.DesktopEntryError";

// Codes of kDesktopEntryErrorDomain.
enum DesktopEntryError : std::int64_t {
  desktopEntryMalformed = 1,    // the text breaks the file format
  desktopEntryUnreadable = 2,   // the file cannot be read (missing, not a regular file, too big)
  desktopEntryInvalidValue = 3  // a key holds a value of the wrong form
};

// A parsed desktop entry. Values are kept as written; the typed readers apply
// the escapes of their type.
class DesktopEntry {
 public:
  static constexpr std::string_view kMainGroup = "Desktop Entry";

  // Fails on text that is not UTF-8, on a line that is neither blank, a
  // comment, a group header nor `key=value`, on a key before the first group,
  // on a group or key given twice, and when there is no [Desktop Entry] group.
  static base::Result<DesktopEntry> parse(std::string_view text);

  bool hasGroup(std::string_view group) const;

  // The value of `key` (without locale) as written.
  const std::string* raw(std::string_view key, std::string_view group = kMainGroup) const;

  // A string value with the escapes \s \n \t \r \\ applied.
  std::optional<std::string> string(std::string_view key,
                                    std::string_view group = kMainGroup) const;

  // A localized string: the variant of `key` that best matches `locale`
  // (POSIX form "lang_COUNTRY.ENCODING@MODIFIER"; tried as lang_COUNTRY@MODIFIER,
  // lang_COUNTRY, lang@MODIFIER, lang), else the unlocalized value.
  std::optional<std::string> localeString(std::string_view key, std::string_view locale,
                                          std::string_view group = kMainGroup) const;

  // "true" or "false" ("1" and "0" from older files too); nullopt when the key
  // is absent, an error for any other text.
  base::Result<std::optional<bool>> boolean(std::string_view key,
                                            std::string_view group = kMainGroup) const;

  // A list separated by ';' (a trailing ';' ends the last item; "\;" is a
  // literal semicolon); nullopt when the key is absent.
  std::optional<std::vector<std::string>> stringList(std::string_view key,
                                                     std::string_view group = kMainGroup) const;

 private:
  // Keys as written, with their locale suffix ("Name[de]"), to their values.
  using Group = std::map<std::string, std::string, std::less<>>;

  const Group* findGroup(std::string_view name) const;

  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const {
      return std::hash<std::string_view>()(name);
    }
  };

  // By name, so that parsing and lookups stay fast however many groups a
  // file holds.
  std::unordered_map<std::string, Group, NameHash, std::equal_to<>> groups_;
};

// The escapes of a string value applied to `raw`: \s \n \t \r \\. Other
// backslash sequences stay as written, so the Exec line's own quoting sees
// them.
std::string unescapeDesktopValue(std::string_view raw);

}  // namespace platform
