#include "analytics/record_replacements.h"

#include <span>

#include "model/display_name.h"

namespace wendrix {
namespace {

AppIdentity identityOf(const IApp& app, const platform::BundleProvider& bundles) {
  AppIdentity identity{appDisplayName(bundles, app), app.bundleId, std::nullopt};
  if (app.bundleURL) identity.bundleURL = app.bundleURL->absoluteString();
  return identity;
}

std::vector<AppIdentity> identitiesOf(const std::vector<IApp>& apps,
                                      const platform::BundleProvider& bundles) {
  std::vector<AppIdentity> identities;
  identities.reserve(apps.size());
  for (const IApp& app : apps)
    identities.push_back(identityOf(app, bundles));
  return identities;
}

}  // namespace

AnonymizingReplacements anonymizingReplacements(const IApp& app,
                                                const platform::BundleProvider& bundles) {
  return anonymizingReplacements(identityOf(app, bundles));
}

AnonymizingReplacements anonymizingReplacementsForApps(const std::vector<IApp>& apps,
                                                       const platform::BundleProvider& bundles) {
  const std::vector<AppIdentity> identities = identitiesOf(apps, bundles);
  return anonymizingReplacementsForApps(std::span<const AppIdentity>(identities));
}

AnonymizingReplacements anonymizingReplacementsForLayouts(const std::vector<Layout>& layouts,
                                                          const platform::BundleProvider& bundles) {
  std::vector<LayoutIdentity> identities;
  identities.reserve(layouts.size());
  for (const Layout& layout : layouts)
    identities.push_back(LayoutIdentity{layout.name, identitiesOf(layout.apps, bundles)});
  return anonymizingReplacementsForLayouts(std::span<const LayoutIdentity>(identities));
}

}  // namespace wendrix
