#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "platform/bundle/bundle.h"

namespace platform {

// Bundles held in memory. Lookups by URL compare the whole URL; lookups by
// identifier give the first added bundle with that identifier.
class FakeBundleProvider : public BundleProvider {
 public:
  // The main bundle: "Wendrix", "test.Wendrix", version "1", at
  // file:///usr/share/applications/test.Wendrix.desktop.
  FakeBundleProvider();
  explicit FakeBundleProvider(Bundle mainBundle);

  void add(Bundle bundle);
  void setMainBundle(Bundle bundle) { main_ = std::move(bundle); }

  // Convenience for tests: a bundle at `url` with the given identifier and
  // name (each left out of the info dictionary when nullopt).
  static Bundle makeBundle(const base::Url& url, std::optional<std::string_view> identifier,
                           std::optional<std::string_view> name);

  std::optional<Bundle> bundleAt(const base::Url& url) const override;
  std::optional<Bundle> bundleWithIdentifier(std::string_view identifier) const override;
  const Bundle& mainBundle() const override { return main_; }

 private:
  Bundle main_;
  std::vector<Bundle> bundles_;
};

}  // namespace platform
