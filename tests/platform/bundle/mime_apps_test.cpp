#include "platform/bundle/linux/mime_apps.h"

#include <gtest/gtest.h>

#include "support/scoped_environment.h"
#include "xdg_test_dir.h"

namespace platform::testing {
namespace {

class MimeAppsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* id : {"org.example.Files", "org.example.Nemo", "org.example.Thunar"})
      xdg.write(std::string("system/applications/") + id + ".desktop",
                XdgTestDir::entry(id, "files %U"));
    xdg.write("system/applications/org.example.Gone.desktop",
              XdgTestDir::entry("Gone", "gone", "Hidden=true\n"));
  }
  std::optional<std::string> fileManager() {
    return defaultFileManagerId(DesktopEntryDirectories(xdg.dataDirs()));
  }

  XdgTestDir xdg;
  support::ScopedEnvironment environment{{"XDG_CONFIG_HOME", xdg.root() + "/config"},
                                         {"XDG_CONFIG_DIRS", xdg.root() + "/etc"},
                                         {"XDG_CURRENT_DESKTOP", "Example:Other"}};
};

TEST_F(MimeAppsTest, TheFirstInstalledDefaultInTheMostImportantFileWins) {
  EXPECT_EQ(fileManager(), std::nullopt);

  xdg.write("system/applications/mimeapps.list",
            "[Default Applications]\ninode/directory=org.example.Thunar.desktop\n");
  EXPECT_EQ(fileManager(), "org.example.Thunar");

  // The user's file before the data folders'; entries not installed are skipped.
  xdg.write("config/mimeapps.list",
            "# comment\n[Added Associations]\ninode/directory=org.example.Files.desktop;\n"
            "[Default Applications]\n inode/directory = org.example.Gone.desktop;"
            "org.example.Missing.desktop;org.example.Nemo.desktop;\n");
  EXPECT_EQ(fileManager(), "org.example.Nemo");

  // A desktop's own file before the generic one of the same folder.
  xdg.write("etc/example-mimeapps.list",
            "[Default Applications]\ninode/directory=org.example.Files.desktop\n");
  EXPECT_EQ(fileManager(), "org.example.Nemo");
  xdg.write("config/other-mimeapps.list",
            "[Default Applications]\ninode/directory=org.example.Files.desktop\n");
  EXPECT_EQ(fileManager(), "org.example.Files");
}

}  // namespace
}  // namespace platform::testing
