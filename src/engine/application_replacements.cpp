#include "engine/application_replacements.h"

#include "model/display_name.h"

namespace wendrix {

AnonymizingReplacements anonymizingReplacementsForApplications(
    const std::vector<winsys::ApplicationPtr>& applications,
    const platform::BundleProvider& bundles) {
  std::vector<AppIdentity> identities;
  identities.reserve(applications.size());
  for (const auto& application : applications) {
    if (!application) continue;
    AppIdentity identity;
    identity.bundleId = application->bundleIdentifier();
    const auto url = application->bundleURL();
    identity.displayName = appDisplayName(bundles, url, identity.bundleId);
    if (url) identity.bundleURL = url->absoluteString();
    identities.push_back(std::move(identity));
  }
  return anonymizingReplacementsForApps(identities);
}

}  // namespace wendrix
