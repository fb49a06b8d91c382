#include "platform/bundle/fake/fake_bundle_provider.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(BundleTest, InfoReadersAreTypeStrict) {
  Bundle bundle{*base::Url::parse("file:///opt/a.desktop"),
                coding::Dictionary{{"LSUIElement", true}, {"CFBundleName", 1}, {"Other", "yes"}}};
  EXPECT_EQ(bundle.infoBool(kUIElementKey), std::optional<bool>(true));
  EXPECT_EQ(bundle.infoBool("Other"), std::nullopt);
  EXPECT_EQ(bundle.infoString(kBundleNameKey), std::nullopt);
  EXPECT_EQ(bundle.identifier(), std::nullopt);
}

TEST(FakeBundleProviderTest, FindsByWholeUrlAndExactIdentifier) {
  FakeBundleProvider bundles;
  const auto first = *base::Url::parse("file:///opt/a.desktop");
  const auto second = *base::Url::parse("file:///opt/b.desktop");
  bundles.add(FakeBundleProvider::makeBundle(first, "org.example.A", "A1"));
  bundles.add(FakeBundleProvider::makeBundle(second, "org.example.A", "A2"));

  EXPECT_EQ(bundles.bundleAt(second)->infoString(kBundleNameKey), "A2");
  EXPECT_EQ(bundles.bundleWithIdentifier("org.example.A")->url, first);
  EXPECT_FALSE(bundles.bundleWithIdentifier("org.example.a"));
  EXPECT_FALSE(bundles.bundleAt(*base::Url::parse("file:///opt/a.desktop/")));
  EXPECT_EQ(bundles.mainBundle().identifier(), "test.Wendrix");
}

}  // namespace
}  // namespace platform
