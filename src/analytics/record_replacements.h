#pragma once

// Anonymizing replacement lists of saved records: what an error text about
// an application or a layout must not give away.

#include <vector>

#include "analytics/anonymizing.h"
#include "model/app.h"
#include "model/layout.h"
#include "platform/bundle/bundle.h"

namespace wendrix {

// (the app's display name, "APP_NAME"), (bundleId, "APP_BUNDLE_ID"),
// (bundleURL's absolute string, "APP_BUNDLE_URL"); a missing value replaces
// nothing.
AnonymizingReplacements anonymizingReplacements(const IApp& app,
                                                const platform::BundleProvider& bundles);
// The three pairs of each app, apps in list order.
AnonymizingReplacements anonymizingReplacementsForApps(const std::vector<IApp>& apps,
                                                       const platform::BundleProvider& bundles);
// Per layout, in list order: (name, "LAYOUT_NAME"), then the pairs of its apps.
AnonymizingReplacements anonymizingReplacementsForLayouts(const std::vector<Layout>& layouts,
                                                          const platform::BundleProvider& bundles);

}  // namespace wendrix
