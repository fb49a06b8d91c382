#include "base/home_paths.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace base {
namespace {

constexpr std::string_view kHomes = "/home/";
constexpr std::string_view kReplacement = "/home/USER";

// Characters that end a user name or a folder name in an error text:
// "cannot write \"/home/alice\": ..." names the folder without a slash after
// it. No user name holds any of them.
bool endsName(char c) {
  return std::string_view("/\"'` \t\r\n:,;)]}>").find(c) != std::string_view::npos;
}

// Replaces every `prefix` + name (name: at least one character up to a name
// end) by `replacement`, or every `prefix` itself at a name end when
// `withName` is false.
std::string replaceAt(std::string_view text, std::string_view prefix, bool withName,
                      std::string_view replacement = kReplacement) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t found = text.find(prefix, pos);
    if (found == std::string_view::npos) break;
    std::size_t end = found + prefix.size();
    if (withName) {
      while (end < text.size() && !endsName(text[end]))
        ++end;
    }
    const bool named = !withName || end > found + prefix.size();
    const bool matches = named && (end == text.size() || endsName(text[end]));
    out.append(text.substr(pos, found - pos));
    if (matches) {
      out.append(replacement);
      pos = end;
    } else {
      out.append(text.substr(found, prefix.size()));
      pos = found + prefix.size();
    }
  }
  out.append(text.substr(pos));
  return out;
}

}  // namespace

std::optional<std::string> homeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home == '/') return std::string(home);
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_dir && *found->pw_dir == '/')
    return std::string(found->pw_dir);
  return std::nullopt;
}

std::optional<std::string> loginName() {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_name && *found->pw_name)
    return std::string(found->pw_name);
  if (const char* user = std::getenv("USER"); user && *user) return std::string(user);
  return std::nullopt;
}

std::string anonymizeHomePaths(std::string_view text, std::optional<std::string_view> home,
                               std::optional<std::string_view> login) {
  std::string out(text);
  if (home) {
    std::string_view folder = *home;
    while (folder.size() > 1 && folder.back() == '/')
      folder.remove_suffix(1);
    if (folder.size() > 1 && folder.front() == '/') out = replaceAt(out, folder, false);
  }
  out = replaceAt(out, kHomes, true);
  // A name holding a character that ends names could never be a whole element.
  if (login && !login->empty() &&
      std::none_of(login->begin(), login->end(), [](char c) { return endsName(c); })) {
    const std::string element = "/" + std::string(*login);
    out = replaceAt(out, element, false, "/USER");
  }
  return out;
}

std::string anonymizeHomePaths(std::string_view text) {
  const std::optional<std::string> home = homeFolder();
  const std::optional<std::string> login = loginName();
  return anonymizeHomePaths(text, home ? std::optional<std::string_view>(*home) : std::nullopt,
                            login ? std::optional<std::string_view>(*login) : std::nullopt);
}

}  // namespace base
