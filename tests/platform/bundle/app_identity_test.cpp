#include "platform/bundle/app_identity.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(AppIdentityTest, IsInstalledOnceAndReadingItEarlierIsAWiringError) {
  AppIdentity::setSharedForTesting();
  EXPECT_DEATH(AppIdentity::current(), "before AppIdentity::install");

  EXPECT_TRUE(AppIdentity::install({"First", "org.example.First", "7", "1.0", {}}));
  EXPECT_FALSE(AppIdentity::install({"Second", "org.example.Second", "8", "2.0", {}}));
  const AppIdentity identity = AppIdentity::current();
  EXPECT_EQ(identity.bundleName, "First");
  EXPECT_EQ(identity.bundleIdentifier, "org.example.First");
  EXPECT_EQ(identity.bundleVersion, "7");
  EXPECT_EQ(identity.shortVersion, "1.0");

  AppIdentity::setSharedForTesting();
}

TEST(AppIdentityTest, AnAbsentSwitchTakesTheReadersDefault) {
  const AppIdentity identity{"P", "org.example.P", "1", "1.0", {{"Off", false}, {"On", true}}};
  EXPECT_FALSE(identity.switchOn("Off", true));
  EXPECT_TRUE(identity.switchOn("On", false));
  EXPECT_TRUE(identity.switchOn("Absent", true));
  EXPECT_FALSE(identity.switchOn("Absent", false));
}

}  // namespace
}  // namespace platform
