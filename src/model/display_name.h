#pragma once

#include <optional>
#include <string>

#include "base/url.h"
#include "model/app.h"
#include "platform/bundle/bundle.h"

namespace wendrix {

// An application's name for display, or nullopt:
// 1. the bundle at `bundleURL`, else (no URL, or no bundle there) the bundle
//    with identifier `bundleId`;
// 2. with a bundle: its CFBundleName string, else its CFBundleExecutable
//    string, else nullopt (a found bundle never falls back to the URL);
// 3. without one: the URL's last path component, percent-decoded ("My
//    App.app"), when there is a URL and that component is not empty; else
//    `bundleId` itself.
std::optional<std::string> appDisplayName(const platform::BundleProvider& bundles,
                                          const std::optional<base::Url>& bundleURL,
                                          const std::optional<std::string>& bundleId);

inline std::optional<std::string> appDisplayName(const platform::BundleProvider& bundles,
                                                 const IApp& app) {
  return appDisplayName(bundles, app.bundleURL, app.bundleId);
}

// The last component of the URL's path, percent-decoded, trailing "/"
// ignored; "/" for the root path, "" for an empty path.
std::string lastPathComponent(const base::Url& url);

}  // namespace wendrix
