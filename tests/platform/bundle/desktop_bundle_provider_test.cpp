#include "platform/bundle/linux/desktop_bundle_provider.h"

#include <sys/stat.h>

#include <cstdlib>
#include <map>

#include <gtest/gtest.h>

#include "platform/bundle/xdg_test_dir.h"
#include "support/scoped_environment.h"

namespace platform {
namespace {

using testing::XdgTestDir;

class DesktopBundleProviderTest : public ::testing::Test {
 protected:
  DesktopEntryDirectories directories() const { return DesktopEntryDirectories(xdg.dataDirs()); }
  DesktopBundleProvider provider(std::string locale = "C") const {
    return DesktopBundleProvider(directories(), std::move(locale),
                                 DesktopBundleProvider::makeMainBundle(kInfo, directories()));
  }
  static inline const AppIdentity kInfo{"Wendrix", "app.Wendrix", "42", "1.2.0", {}};

  XdgTestDir xdg;
};

TEST_F(DesktopBundleProviderTest, IdsFollowTheFolderOrderAndSubfolders) {
  const std::string home =
      xdg.write("home/applications/org.example.Edit.desktop", XdgTestDir::entry("Home", "edit"));
  xdg.write("system/applications/org.example.Edit.desktop", XdgTestDir::entry("System", "edit"));
  const std::string nested =
      xdg.write("local/applications/kde4/tools/calc.desktop", XdgTestDir::entry("Calc", "calc"));
  xdg.write("system/applications/readme.txt", "not an entry");

  const DesktopEntryDirectories dirs = directories();
  EXPECT_EQ(dirs.pathForId("org.example.Edit"), home);
  EXPECT_EQ(dirs.pathForId("kde4-tools-calc"), nested);
  EXPECT_EQ(dirs.pathForId("kde4-calc"), std::nullopt);
  EXPECT_EQ(dirs.pathForId("../home/applications/org.example.Edit"), std::nullopt);
  EXPECT_EQ(dirs.idForPath(nested), "kde4-tools-calc");
  EXPECT_EQ(dirs.idForPath("/elsewhere/other.desktop"), "other");
  EXPECT_EQ(dirs.idForPath("/elsewhere/other.txt"), std::nullopt);

  std::vector<std::string> listed;
  for (const DesktopFile& file : dirs.list())
    listed.push_back(file.id + "@" + file.path);
  EXPECT_EQ(listed,
            (std::vector<std::string>{"org.example.Edit@" + home, "kde4-tools-calc@" + nested}));
}

TEST_F(DesktopBundleProviderTest, MapsTheEntryToBundleInformation) {
  const std::string path = xdg.write(
      "home/applications/org.example.Edit.desktop",
      XdgTestDir::entry("Editor", "\"/opt/edit tools/bin/edit\" %F", "Name[de]=Bearbeiter\n"));
  xdg.write("home/applications/hidden-ui.desktop",
            XdgTestDir::entry("UI", "ui", "NoDisplay=true\n"));
  xdg.write("home/applications/agent.desktop",
            XdgTestDir::entry("Agent", "agent", "X-Wendrix-Agent=true\n"));
  xdg.write("home/applications/broken-exec.desktop", XdgTestDir::entry("Broken", "run \"x"));

  const auto bundle = provider("de_DE.UTF-8").bundleWithIdentifier("org.example.Edit");
  ASSERT_TRUE(bundle);
  EXPECT_EQ(bundle->url, base::Url::fromFilePath(path));
  EXPECT_EQ(bundle->identifier(), "org.example.Edit");
  EXPECT_EQ(bundle->infoString(kBundleNameKey), "Bearbeiter");
  EXPECT_EQ(bundle->infoString(kBundleExecutableKey), "edit");
  EXPECT_EQ(bundle->infoBool(kUIElementKey), false);
  EXPECT_EQ(provider().bundleAt(bundle->url)->infoString(kBundleNameKey), "Editor");

  EXPECT_EQ(provider().bundleWithIdentifier("hidden-ui")->infoBool(kUIElementKey), true);
  EXPECT_EQ(provider().bundleWithIdentifier("agent")->infoBool(kUIElementKey), true);
  // An Exec line that does not parse leaves the executable out; the launch reports it.
  const auto broken = provider().bundleWithIdentifier("broken-exec");
  ASSERT_TRUE(broken);
  EXPECT_FALSE(broken->info.contains(kBundleExecutableKey));
}

TEST_F(DesktopBundleProviderTest, EntriesThatAreNotInstalledApplicationsAreNotFound) {
  xdg.write("system/applications/masked.desktop", XdgTestDir::entry("Masked", "masked"));
  const std::string hidden = xdg.write("home/applications/masked.desktop",
                                       XdgTestDir::entry("Masked", "masked", "Hidden=true\n"));
  xdg.write("home/applications/tryexec.desktop",
            XdgTestDir::entry("T", "t", "TryExec=wendrix-no-such-program\n"));
  xdg.write("home/applications/link.desktop",
            "[Desktop Entry]\nType=Link\nName=L\nURL=https://example.org\n");
  xdg.write("home/applications/noname.desktop", "[Desktop Entry]\nType=Application\nExec=x\n");
  xdg.write("home/applications/badbool.desktop",
            XdgTestDir::entry("B", "b", "NoDisplay=sometimes\n"));
  xdg.write("home/applications/garbage.desktop", "\x01\x02 not an entry");
  const std::string fifo = xdg.root() + "/home/applications/fifo.desktop";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);

  const DesktopBundleProvider bundles = provider();
  for (const char* id :
       {"masked", "tryexec", "link", "noname", "badbool", "garbage", "fifo", "missing", ""}) {
    EXPECT_FALSE(bundles.bundleWithIdentifier(id)) << id;
  }
  EXPECT_FALSE(bundles.bundleAt(base::Url::fromFilePath(hidden)));
  EXPECT_FALSE(bundles.bundleAt(base::Url::fromFilePath(fifo)));
  EXPECT_FALSE(bundles.bundleAt(base::Url::fromFilePath("/bin/sh")));
  EXPECT_FALSE(bundles.bundleAt(*base::Url::parse("https://example.org/a.desktop")));
  // A TryExec program that is there keeps the entry.
  xdg.write("home/applications/tryexec.desktop", XdgTestDir::entry("T", "t", "TryExec=sh\n"));
  EXPECT_TRUE(bundles.bundleWithIdentifier("tryexec"));
}

TEST_F(DesktopBundleProviderTest, MainBundleComesFromTheBuildAndLivesAtItsEntryOrExecutable) {
  const Bundle atExecutable = provider().mainBundle();
  ASSERT_TRUE(atExecutable.url.filePath());
  EXPECT_EQ(atExecutable.url.filePath()->substr(atExecutable.url.filePath()->rfind('/') + 1),
            atExecutable.infoString(kBundleExecutableKey));
  EXPECT_EQ(atExecutable.identifier(), "app.Wendrix");
  EXPECT_EQ(atExecutable.infoString(kBundleNameKey), "Wendrix");
  EXPECT_EQ(atExecutable.infoString(kBundleVersionKey), "42");
  EXPECT_EQ(atExecutable.infoString(kBundleShortVersionKey), "1.2.0");
  EXPECT_EQ(atExecutable.infoBool(kUIElementKey), true);

  const std::string entry = xdg.write("system/applications/app.Wendrix.desktop",
                                      XdgTestDir::entry("Other Name", "wendrix"));
  const DesktopBundleProvider installed = provider();
  EXPECT_EQ(installed.mainBundle().url, base::Url::fromFilePath(entry));
  // Its own identifier and URL give the build's information, not the entry's.
  EXPECT_EQ(installed.bundleWithIdentifier("app.Wendrix")->infoString(kBundleNameKey), "Wendrix");
  EXPECT_EQ(installed.bundleAt(installed.mainBundle().url)->infoString(kBundleVersionKey), "42");
}

}  // namespace
}  // namespace platform

namespace platform {
namespace {

using support::ScopedEnvironment;

TEST(DesktopEntryDirectoriesTest, FollowTheXdgVariablesAndTheirDefaults) {
  using Dirs = std::vector<std::string>;
  const struct {
    const char* dataHome;
    const char* dataDirs;
    Dirs expected;
  } cases[] = {
      {"/x/home", "/a:/b/", {"/x/home/applications", "/a/applications", "/b/applications"}},
      {nullptr,
       nullptr,
       {"/h/.local/share/applications", "/usr/local/share/applications",
        "/usr/share/applications"}},
      {"relative", "rel:/a::", {"/h/.local/share/applications", "/a/applications"}},
      {"",
       "",
       {"/h/.local/share/applications", "/usr/local/share/applications",
        "/usr/share/applications"}},
      {"/usr/share", "/usr/share", {"/usr/share/applications"}},
  };
  for (const auto& c : cases) {
    ScopedEnvironment env;
    env.set("HOME", "/h");
    env.set("XDG_DATA_HOME", c.dataHome);
    env.set("XDG_DATA_DIRS", c.dataDirs);
    EXPECT_EQ(DesktopEntryDirectories::fromEnvironment().applicationDirs(), c.expected)
        << (c.dataHome ? c.dataHome : "(unset)") << " " << (c.dataDirs ? c.dataDirs : "(unset)");
  }

  ScopedEnvironment env;
  env.set("LC_ALL", "");
  env.set("LC_MESSAGES", "de_AT.UTF-8");
  env.set("LANG", "fr_FR.UTF-8");
  EXPECT_EQ(messagesLocaleFromEnvironment(), "de_AT.UTF-8");
}

}  // namespace
}  // namespace platform
