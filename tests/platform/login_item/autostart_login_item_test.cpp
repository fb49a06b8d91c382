// Starting at login through an XDG autostart entry, on a temporary
// $XDG_CONFIG_HOME: the state is what the file says.

#include "platform/login_item/linux/autostart_login_item.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/bundle/linux/desktop_entry.h"
#include "platform/bundle/linux/exec_line.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"

namespace platform {
namespace {

class AutostartLoginItemTest : public ::testing::Test {
 protected:
  std::filesystem::path entry() const { return home.path() / "autostart" / "app.Wendrix.desktop"; }
  void writeEntry(const std::string& text) {
    std::filesystem::create_directories(entry().parent_path());
    std::ofstream(entry()) << text;
  }
  std::string readEntry() const {
    std::ifstream in(entry());
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  support::TempDir home{"login-item"};
  support::ScopedEnvironment env{{"XDG_CONFIG_HOME", home.path().string()}};
  AutostartLoginItem item{"app.Wendrix", "Wendrix", "/opt/wendrix/bin/wendrix"};
};

TEST_F(AutostartLoginItemTest, SwitchingWritesAndRemovesTheEntry) {
  EXPECT_EQ(item.entryPath(), entry());
  EXPECT_FALSE(item.isEnabled());
  ASSERT_TRUE(item.setEnabled(true).ok());
  EXPECT_TRUE(item.isEnabled());
  auto parsed = DesktopEntry::parse(readEntry());
  ASSERT_TRUE(parsed.ok());
  EXPECT_EQ(parsed.value().string("Type"), "Application");
  EXPECT_EQ(parsed.value().string("Name"), "Wendrix");
  EXPECT_EQ(parsed.value().string("Exec"), "/opt/wendrix/bin/wendrix");

  ASSERT_TRUE(item.setEnabled(false).ok());
  EXPECT_FALSE(std::filesystem::exists(entry()));
  EXPECT_FALSE(item.isEnabled());
  // Switching off what is off is no error.
  EXPECT_TRUE(item.setEnabled(false).ok());
}

TEST_F(AutostartLoginItemTest, ReadsTheStateOthersLeftInTheFile) {
  struct Case {
    const char* text;
    bool enabled;
  };
  const Case cases[] = {
      {"[Desktop Entry]\nType=Application\nExec=wendrix\n", true},
      {"[Desktop Entry]\nType=Application\nExec=wendrix\nHidden=true\n", false},
      {"[Desktop Entry]\nType=Application\nExec=wendrix\nX-GNOME-Autostart-enabled=false\n", false},
      {"[Desktop Entry]\nType=Application\n", false},
      {"not a desktop entry", false},
  };
  for (const auto& c : cases) {
    writeEntry(c.text);
    EXPECT_EQ(item.isEnabled(), c.enabled) << c.text;
  }
}

TEST_F(AutostartLoginItemTest, AProgramPathWithReservedCharactersIsQuoted) {
  const std::string program = "/home/a b/\"x\"/$HOME/wendrix";
  AutostartLoginItem odd("app.Wendrix", "Wendrix", program);
  ASSERT_TRUE(odd.setEnabled(true).ok());
  auto parsed = DesktopEntry::parse(readEntry());
  ASSERT_TRUE(parsed.ok());
  auto exec = ExecLine::parse(*parsed.value().raw("Exec"));
  ASSERT_TRUE(exec.ok());
  EXPECT_EQ(exec.value().program(), program);
}

TEST_F(AutostartLoginItemTest, AFailedWriteLeavesItOff) {
  // The config folder cannot hold the autostart folder.
  std::ofstream(home.path() / "autostart") << "a file";
  EXPECT_FALSE(item.setEnabled(true).ok());
  EXPECT_FALSE(item.isEnabled());
}

}  // namespace
}  // namespace platform
