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
  std::optional<platform::Bundle> atURL;
  std::optional<platform::Bundle> withId;
  if (bundleURL) atURL = bundles.bundleAt(*bundleURL);
  if (bundleId) withId = bundles.bundleWithIdentifier(*bundleId);
  // An empty value names nothing: the next source is asked. The bundle the
  // URL gives may be the program's file, without the name its desktop entry
  // (found by identifier) gives.
  const auto info = [](const std::optional<platform::Bundle>& bundle, std::string_view key) {
    std::optional<std::string> value;
    if (bundle) value = bundle->infoString(key);
    return value && !value->empty() ? value : std::nullopt;
  };
  for (const std::string_view key : {platform::kBundleNameKey, platform::kBundleExecutableKey}) {
    if (auto name = info(atURL, key)) return name;
    if (auto name = info(withId, key)) return name;
  }
  if (atURL || withId) return std::nullopt;
  if (bundleURL) {
    std::string component = lastPathComponent(*bundleURL);
    if (!component.empty()) return component;
  }
  return bundleId && !bundleId->empty() ? bundleId : std::nullopt;
}

}  // namespace wendrix
