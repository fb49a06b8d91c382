#include "platform/device/linux/linux_device_probe.h"
#include "support/x_server_required.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include <gtest/gtest.h>

#include "platform/device/linux/x11_screen.h"
#include "support/scoped_environment.h"

extern char** environ;

namespace platform {
namespace {

namespace fs = std::filesystem;

LinuxDeviceProbe::Environment environmentOf(std::map<std::string, std::string> values) {
  return [values = std::move(values)](const char* name) -> std::optional<std::string> {
    const auto it = values.find(name);
    if (it == values.end()) return std::nullopt;
    return it->second;
  };
}

TEST(LinuxDeviceProbeTest, ParsesLocaleNames) {
  struct Case {
    std::string name;
    std::optional<LocaleParts> expected;
  };
  const Case cases[] = {
      {"en_US.UTF-8", LocaleParts{"en", "", "US"}},
      {"sr_RS.UTF-8@latin", LocaleParts{"sr", "Latn", "RS"}},
      {"uz_UZ@cyrillic", LocaleParts{"uz", "Cyrl", "UZ"}},
      {"de_DE@euro", LocaleParts{"de", "", "DE"}},
      {"zh-hans-cn", LocaleParts{"zh", "Hans", "CN"}},
      {"es_419", LocaleParts{"es", "", "419"}},
      {"ast", LocaleParts{"ast", "", ""}},
      {"en_USA", LocaleParts{"en", "", ""}},
      {"C", std::nullopt},
      {"C.UTF-8", std::nullopt},
      {"POSIX", std::nullopt},
      {"", std::nullopt},
      {"_US", std::nullopt},
      {"e1_US", std::nullopt},
  };
  for (const auto& c : cases)
    EXPECT_EQ(parseLocaleName(c.name), c.expected) << c.name;
}

TEST(LinuxDeviceProbeTest, LocaleNamesFollowTheVariablesPrecedence) {
  struct Case {
    std::map<std::string, std::string> environment;
    std::optional<std::string> preferred, current;
  };
  const Case cases[] = {
      {{{"LANGUAGE", ":pt_BR:pt"}, {"LANG", "de_DE.UTF-8"}}, "pt_BR", "de_DE.UTF-8"},
      {{{"LANGUAGE", ""}, {"LC_ALL", ""}, {"LC_MESSAGES", "fr_FR"}, {"LANG", "de_DE"}},
       "fr_FR",
       "fr_FR"},
      {{{"LC_ALL", "C"}, {"LANG", "de_DE"}}, "C", "C"},
      {{{"LANG", "de_DE"}}, "de_DE", "de_DE"},
      {{}, std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    const LinuxDeviceProbe probe("/nonexistent", environmentOf(c.environment));
    EXPECT_EQ(probe.preferredLanguage(), c.preferred) << c.preferred.value_or("(none)");
    EXPECT_EQ(probe.currentLocale(), c.current) << c.current.value_or("(none)");
  }
}

TEST(LinuxDeviceProbeTest, ReadsDmiValuesTrimmedAndTheKernel) {
  const fs::path dir = fs::path(::testing::TempDir()) / "dmi-probe";
  fs::create_directories(dir);
  std::ofstream(dir / "product_name") << "  ThinkPad X1 Carbon\n";
  std::ofstream(dir / "sys_vendor") << "\n";  // empty after trimming
  const LinuxDeviceProbe probe(dir, environmentOf({}));
  EXPECT_EQ(probe.model(), "ThinkPad X1 Carbon");
  EXPECT_FALSE(probe.manufacturer());
  EXPECT_FALSE(LinuxDeviceProbe("/nonexistent", environmentOf({})).model());
  EXPECT_EQ(probe.osName(), "Linux");
  ASSERT_TRUE(probe.osRelease());
  EXPECT_FALSE(probe.osRelease()->empty());
  fs::remove_all(dir);
}

TEST(LinuxDeviceProbeTest, UtcOffsetFollowsTheTimeZone) {
  support::ScopedEnvironment zone({{"TZ", "IST-5:30"}});
  const LinuxDeviceProbe probe("/nonexistent", environmentOf({}));
  EXPECT_EQ(probe.utcOffsetSeconds(std::chrono::system_clock::now()), 19800);
}

TEST(X11ScreenTest, NoDisplayGivesNone) {
  EXPECT_FALSE(x11MainScreenSize(":4093"));
}

// A private X server that reports its display number once it accepts
// connections; skipped where no server program is installed.
TEST(X11ScreenTest, ReadsTheDefaultScreenOfARealServer) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const std::string fd = std::to_string(fds[1]);
  const char* argv[] = {"Xvfb",        "-displayfd", fd.c_str(), "-screen", "0",
                        "1024x768x24", "-nolisten",  "tcp",      nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned =
      posix_spawnp(&pid, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (spawned != 0) {
    ::close(fds[0]);
    WENDRIX_NO_X_SERVER("Xvfb is not installed");
  }

  std::string display;
  pollfd ready{fds[0], POLLIN, 0};
  // Generous guard against a server that never comes up; it answers in well
  // under a second.
  while (::poll(&ready, 1, 20000) == 1) {
    char c = 0;
    if (::read(fds[0], &c, 1) != 1 || c == '\n') break;
    display += c;
  }
  ::close(fds[0]);

  if (!display.empty()) {
    EXPECT_EQ(x11MainScreenSize((":" + display).c_str()), (ScreenSize{1024, 768}));
  }
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (display.empty()) {
    WENDRIX_NO_X_SERVER("Xvfb did not start");
  }
}

}  // namespace
}  // namespace platform
