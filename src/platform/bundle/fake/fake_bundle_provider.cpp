#include "platform/bundle/fake/fake_bundle_provider.h"

namespace platform {
namespace {

Bundle defaultMainBundle() {
  Bundle bundle = FakeBundleProvider::makeBundle(
      base::Url::fromFilePath("/usr/share/applications/test.Wendrix.desktop"), "test.Wendrix",
      "Wendrix");
  bundle.info.set(std::string(kBundleExecutableKey), "wendrix");
  bundle.info.set(std::string(kBundleVersionKey), "1");
  bundle.info.set(std::string(kBundleShortVersionKey), "0.1.0");
  return bundle;
}

}  // namespace

FakeBundleProvider::FakeBundleProvider() : main_(defaultMainBundle()) {}

FakeBundleProvider::FakeBundleProvider(Bundle mainBundle) : main_(std::move(mainBundle)) {}

void FakeBundleProvider::add(Bundle bundle) {
  bundles_.push_back(std::move(bundle));
}

Bundle FakeBundleProvider::makeBundle(const base::Url& url,
                                      std::optional<std::string_view> identifier,
                                      std::optional<std::string_view> name) {
  Bundle bundle{url, {}};
  if (identifier) bundle.info.set(std::string(kBundleIdentifierKey), *identifier);
  if (name) bundle.info.set(std::string(kBundleNameKey), *name);
  return bundle;
}

std::optional<Bundle> FakeBundleProvider::bundleAt(const base::Url& url) const {
  for (const Bundle& bundle : bundles_) {
    if (bundle.url == url) return bundle;
  }
  return std::nullopt;
}

std::optional<Bundle> FakeBundleProvider::bundleWithIdentifier(std::string_view identifier) const {
  for (const Bundle& bundle : bundles_) {
    if (bundle.identifier() == identifier) return bundle;
  }
  return std::nullopt;
}

}  // namespace platform
