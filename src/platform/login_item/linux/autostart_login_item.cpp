#include "platform/login_item/linux/autostart_login_item.h"

#include <cstdint>
#include <fstream>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

#include "base/file_io.h"
#include "platform/bundle/linux/desktop_entry.h"
#include "platform/paths/paths.h"

namespace platform {

namespace {

constexpr const char* kErrorDomain = "Wendrix.LoginItem";

// The program as the first word of an Exec line: as it is when it holds only
// plain characters, else quoted, with the characters the quoting reserves
// escaped (and the backslash doubled once more for the string value).
std::string execWord(const std::string& path) {
  if (path.find_first_not_of(
          "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789/._+-") ==
      std::string::npos)
    return path;
  std::string out = "\"";
  for (char c : path) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') out += "\\\\";
    out += c;
  }
  return out + "\"";
}

// The whole of a regular file of at most 64 KiB; none otherwise.
std::optional<std::string> readSmallFile(const std::filesystem::path& path) {
  constexpr std::uintmax_t kLimit = 64 * 1024;
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
  const auto size = std::filesystem::file_size(path, error);
  if (error || size > kLimit) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  std::string text(static_cast<std::size_t>(size), '\0');
  if (!in.read(text.data(), static_cast<std::streamsize>(text.size()))) return std::nullopt;
  return text;
}

// A desktop-entry string value: no line breaks.
std::string oneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text;
}

}  // namespace

AutostartLoginItem::AutostartLoginItem(std::string bundleIdentifier, std::string name,
                                       std::filesystem::path program)
    : bundleIdentifier_(std::move(bundleIdentifier)),
      name_(std::move(name)),
      program_(std::move(program)) {}

std::filesystem::path AutostartLoginItem::entryPath() const {
  return paths::configHome() / "autostart" / (bundleIdentifier_ + ".desktop");
}

std::string AutostartLoginItem::entryText(const std::string& name,
                                          const std::filesystem::path& program) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=" +
         oneLine(name) +
         "\n"
         "Exec=" +
         oneLine(execWord(program.string())) +
         "\n"
         "Terminal=false\n"
         "NoDisplay=true\n"
         "X-GNOME-Autostart-enabled=true\n";
}

bool AutostartLoginItem::isEnabled() const {
  auto text = readSmallFile(entryPath());
  if (!text) return false;
  auto entry = DesktopEntry::parse(*text);
  if (!entry.ok()) return false;
  // Desktops honour both switches; either one turns the entry off.
  auto hidden = entry.value().boolean("Hidden");
  if (hidden.ok() && hidden.value().value_or(false)) return false;
  auto enabled = entry.value().boolean("X-GNOME-Autostart-enabled");
  if (enabled.ok() && !enabled.value().value_or(true)) return false;
  return entry.value().raw("Exec") != nullptr;
}

base::Status AutostartLoginItem::setEnabled(bool enabled) {
  const auto path = entryPath();
  std::error_code error;
  if (!enabled) {
    if (std::filesystem::remove(path, error) || !error) return {};
    return base::Error(kErrorDomain, error.value(),
                       "cannot remove \"" + path.string() + "\": " + error.message());
  }
  std::filesystem::create_directories(path.parent_path(), error);
  if (error)
    return base::Error(kErrorDomain, error.value(),
                       "cannot make \"" + path.parent_path().string() + "\": " + error.message());
  return base::writeFileAtomically(path, entryText(name_, program_));
}

}  // namespace platform
