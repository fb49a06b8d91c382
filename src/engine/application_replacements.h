#pragma once

#include <vector>

#include "analytics/anonymizing.h"
#include "platform/bundle/bundle.h"
#include "winsys/window_system.h"

namespace wendrix {

// Per running application, in list order: (its display name,
// "APP_NAME"), (its bundle identifier, "APP_BUNDLE_ID"), (its bundle URL's
// absolute string, "APP_BUNDLE_URL"); missing values replace nothing.
AnonymizingReplacements anonymizingReplacementsForApplications(
    const std::vector<winsys::ApplicationPtr>& applications,
    const platform::BundleProvider& bundles);

}  // namespace wendrix
