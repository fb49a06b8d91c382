#include "platform/bundle/linux/desktop_bundle_provider.h"

#include <unistd.h>

#include <climits>

namespace platform {
namespace {

std::string baseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ownExecutablePath() {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer) return "/proc/self/exe";
  return std::string(buffer, static_cast<std::size_t>(n));
}

}  // namespace

DesktopBundleProvider::DesktopBundleProvider(DesktopEntryDirectories directories,
                                             std::string locale, Bundle mainBundle)
    : directories_(std::move(directories)),
      locale_(std::move(locale)),
      main_(std::move(mainBundle)) {}

Bundle DesktopBundleProvider::bundleOf(const DesktopApplication& app) {
  Bundle bundle{base::Url::fromFilePath(app.path), {}};
  bundle.info.set(std::string(kBundleIdentifierKey), app.id);
  bundle.info.set(std::string(kBundleNameKey), app.name);
  if (app.exec) bundle.info.set(std::string(kBundleExecutableKey), baseName(app.exec->program()));
  bundle.info.set(std::string(kUIElementKey), app.agent || app.noDisplay);
  return bundle;
}

std::optional<Bundle> DesktopBundleProvider::bundleAt(const base::Url& url) const {
  if (url == main_.url) return main_;
  const std::optional<std::string> path = url.filePath();
  if (!path) return std::nullopt;
  std::optional<std::string> id = directories_.idForPath(*path);
  if (!id) return std::nullopt;
  base::Result<DesktopApplication> app =
      readDesktopApplication(directories_.entries(), *path, std::move(*id), locale_);
  if (!app || app->hidden) return std::nullopt;
  return bundleOf(*app);
}

std::optional<Bundle> DesktopBundleProvider::bundleWithIdentifier(
    std::string_view identifier) const {
  if (main_.identifier() == identifier) return main_;
  const std::optional<std::string> path = directories_.pathForId(identifier);
  if (!path) return std::nullopt;
  base::Result<DesktopApplication> app =
      readDesktopApplication(directories_.entries(), *path, std::string(identifier), locale_);
  if (!app || !app->installed()) return std::nullopt;
  return bundleOf(*app);
}

Bundle DesktopBundleProvider::makeMainBundle(const AppIdentity& identity,
                                             const DesktopEntryDirectories& directories) {
  const std::string executable = ownExecutablePath();
  const std::optional<std::string> entry = directories.pathForId(identity.bundleIdentifier);
  Bundle bundle{base::Url::fromFilePath(entry ? *entry : executable), {}};
  bundle.info.set(std::string(kBundleNameKey), identity.bundleName);
  bundle.info.set(std::string(kBundleIdentifierKey), identity.bundleIdentifier);
  bundle.info.set(std::string(kBundleExecutableKey), baseName(executable));
  bundle.info.set(std::string(kBundleVersionKey), identity.bundleVersion);
  bundle.info.set(std::string(kBundleShortVersionKey), identity.shortVersion);
  bundle.info.set(std::string(kUIElementKey), true);
  return bundle;
}

}  // namespace platform
