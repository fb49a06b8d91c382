#include "platform/bundle/linux/desktop_bundle_id_resolver.h"

#include <algorithm>

#include "base/utf8.h"

namespace platform {
namespace {

constexpr std::string_view kDesktopSuffix = ".desktop";

}  // namespace

DesktopBundleIdResolver::DesktopBundleIdResolver(DesktopEntryDirectories directories,
                                                 std::shared_ptr<const LaunchRegistry> launches)
    : directories_(std::move(directories)), launches_(std::move(launches)) {}

std::optional<std::string> DesktopBundleIdResolver::bundleIdentifierFor(
    const WindowOwnerHints& hints) const {
  if (launches_ && hints.pid > 0) {
    if (auto id = launches_->desktopIdOfProcessOrAncestor(hints.pid)) return id;
  }
  if (auto id = idFromHint(hints.gtkApplicationId)) return id;
  if (auto id = idFromHint(hints.kdeDesktopFile)) return id;
  return idFromWMClass(hints);
}

std::optional<std::string> DesktopBundleIdResolver::idFromHint(
    const std::optional<std::string>& hint) const {
  if (!hint || hint->empty() || !base::isValidUtf8(*hint)) return std::nullopt;
  if (std::any_of(hint->begin(), hint->end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; })) {
    return std::nullopt;
  }
  if (hint->front() == '/') {
    if (hint->size() > kDesktopSuffix.size() && hint->ends_with(kDesktopSuffix)) {
      return directories_.idForPath(*hint);
    }
    return std::nullopt;
  }
  std::string id = *hint;
  if (id.ends_with(kDesktopSuffix)) id.resize(id.size() - kDesktopSuffix.size());
  if (id.empty() || id.find('/') != std::string::npos) return std::nullopt;
  return id;
}

std::optional<std::string> DesktopBundleIdResolver::idFromWMClass(
    const WindowOwnerHints& hints) const {
  const bool hasClass = hints.wmClass && !hints.wmClass->empty();
  const bool hasInstance = hints.wmInstance && !hints.wmInstance->empty();
  if (!hasClass && !hasInstance) return std::nullopt;
  std::optional<std::string> byInstance;
  for (const DesktopFile& file : directories_.list()) {
    base::Result<std::string> text = readSmallRegularFile(file.path, 1 << 20);
    // Most entries have no StartupWMClass; skip them without parsing.
    if (!text || text->find("StartupWMClass") == std::string::npos) continue;
    base::Result<DesktopApplication> app = parseDesktopApplication(*text, file.path, file.id, "");
    if (!app || !app->installed() || !app->startupWMClass) continue;
    if (hasClass && *app->startupWMClass == *hints.wmClass) return app->id;
    if (hasInstance && !byInstance && *app->startupWMClass == *hints.wmInstance) {
      byInstance = app->id;
    }
  }
  return byInstance;
}

}  // namespace platform
