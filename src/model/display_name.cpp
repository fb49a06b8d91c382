#include "model/display_name.h"

namespace wendrix {

std::string lastPathComponent(const base::Url& url) {
  std::string path = url.path();
  if (path.empty()) return path;
  const auto end = path.find_last_not_of('/');
  if (end == std::string::npos) return "/";
  path.resize(end + 1);
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::optional<std::string> appDisplayName(const platform::BundleProvider& bundles,
                                          const std::optional<base::Url>& bundleURL,
                                          const std::optional<std::string>& bundleId) {
  std::optional<platform::Bundle> bundle;
  if (bundleURL) bundle = bundles.bundleAt(*bundleURL);
  if (!bundle && bundleId) bundle = bundles.bundleWithIdentifier(*bundleId);

  if (bundle) {
    if (auto name = bundle->infoString(platform::kBundleNameKey)) return name;
    return bundle->infoString(platform::kBundleExecutableKey);
  }
  if (bundleURL) {
    std::string component = lastPathComponent(*bundleURL);
    if (!component.empty()) return component;
  }
  return bundleId;
}

}  // namespace wendrix
