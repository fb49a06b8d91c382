#include "platform/paths/paths.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <string>

#include "support/scoped_environment.h"

namespace platform::paths {
namespace {

namespace fs = std::filesystem;
using support::ScopedEnvironment;

struct HomeFolderCase {
  const char* variable;
  std::function<fs::path()> lookup;
  fs::path underHome;
};

const HomeFolderCase kHomeFolders[] = {
    {"XDG_CONFIG_HOME", configHome, ".config"},
    {"XDG_DATA_HOME", dataHome, ".local/share"},
    {"XDG_CACHE_HOME", cacheHome, ".cache"},
};

TEST(PathsTest, AnAbsoluteValueIsUsedAndARelativeOrMissingOneFallsBackToTheHomeFolder) {
  ScopedEnvironment home({{"HOME", "/home/probe"}});
  EXPECT_EQ(knownHomeDirectory(), fs::path("/home/probe"));
  for (const auto& folder : kHomeFolders) {
    SCOPED_TRACE(folder.variable);
    ScopedEnvironment environment({{folder.variable, "/srv/elsewhere"}});
    EXPECT_EQ(folder.lookup(), fs::path("/srv/elsewhere"));
    environment.set(folder.variable, "relative/folder");
    EXPECT_EQ(folder.lookup(), fs::path("/home/probe") / folder.underHome);
    environment.set(folder.variable, "");
    EXPECT_EQ(folder.lookup(), fs::path("/home/probe") / folder.underHome);
    environment.set(folder.variable, std::nullopt);
    EXPECT_EQ(folder.lookup(), fs::path("/home/probe") / folder.underHome);
  }
}

TEST(PathsTest, ARelativeHomeGivesWayToThePasswordEntry) {
  const passwd* entry = ::getpwuid(::getuid());
  ASSERT_NE(entry, nullptr);
  for (const char* home : {"relative/home", ""}) {
    ScopedEnvironment environment({{"HOME", home}, {"XDG_CONFIG_HOME", std::nullopt}});
    EXPECT_EQ(homeDirectory(), fs::path(entry->pw_dir));
    EXPECT_EQ(knownHomeDirectory(), fs::path(entry->pw_dir));
    EXPECT_EQ(configHome(), fs::path(entry->pw_dir) / ".config");
  }
}

TEST(PathsTest, TheLoginNameIsThePasswordEntrysName) {
  const passwd* entry = ::getpwuid(::getuid());
  ASSERT_NE(entry, nullptr);
  ScopedEnvironment environment({{"USER", "someone-else"}});
  EXPECT_EQ(loginName(), std::string(entry->pw_name));
}

TEST(PathsTest, TheRuntimeFolderHasNoDefault) {
  ScopedEnvironment environment({{"XDG_RUNTIME_DIR", "/run/user/1000"}});
  EXPECT_EQ(runtimeDirectory(), fs::path("/run/user/1000"));
  environment.set("XDG_RUNTIME_DIR", "run/user/1000");
  EXPECT_EQ(runtimeDirectory(), std::nullopt);
  environment.set("XDG_RUNTIME_DIR", std::nullopt);
  EXPECT_EQ(runtimeDirectory(), std::nullopt);
}

TEST(PathsTest, DataDirectoriesKeepTheAbsoluteEntriesInOrderElseTheDefaults) {
  const std::vector<fs::path> defaults{"/usr/local/share", "/usr/share"};
  struct Case {
    std::optional<std::string> value;
    std::vector<fs::path> expected;
  };
  const Case cases[] = {
      {"/opt/a:relative:/opt/b::", {"/opt/a", "/opt/b"}},
      {"relative:other", defaults},
      {"", defaults},
      {std::nullopt, defaults},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value.value_or("(unset)"));
    ScopedEnvironment environment({{"XDG_DATA_DIRS", c.value}});
    EXPECT_EQ(dataDirectories(), c.expected);
  }
}

TEST(PathsTest, ConfigDirectoriesKeepTheAbsoluteEntriesInOrderElseTheDefault) {
  const struct {
    std::optional<std::string> value;
    std::vector<fs::path> expected;
  } cases[] = {
      {"/opt/xdg:relative::/etc/other", {"/opt/xdg", "/etc/other"}},
      {"relative", {"/etc/xdg"}},
      {std::nullopt, {"/etc/xdg"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value.value_or("(unset)"));
    ScopedEnvironment environment({{"XDG_CONFIG_DIRS", c.value}});
    EXPECT_EQ(configDirectories(), c.expected);
  }
}

TEST(PathsTest, CurrentDesktopsAreTheNamesInOrderWithoutEmptyOnes) {
  const struct {
    std::optional<std::string> value;
    std::vector<std::string> expected;
  } cases[] = {
      {"ubuntu:GNOME", {"ubuntu", "GNOME"}},
      {":KDE::", {"KDE"}},
      {"", {}},
      {std::nullopt, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value.value_or("(unset)"));
    ScopedEnvironment environment({{"XDG_CURRENT_DESKTOP", c.value}});
    EXPECT_EQ(currentDesktops(), c.expected);
  }
}

}  // namespace
}  // namespace platform::paths
