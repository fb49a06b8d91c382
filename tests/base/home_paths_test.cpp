#include "base/home_paths.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/scoped_environment.h"

namespace base {
namespace {

TEST(HomePathsTest, HomeFoldersAndUserNamesBecomeUser) {
  const struct {
    const char* text;
    std::optional<std::string_view> home;
    const char* expected;
    std::optional<std::string_view> login;
  } cases[] = {
      {"cannot write \"/home/alice/.config/app.Wendrix/.defaults.plist.tmp-1-0\": No space left",
       "/home/alice",
       "cannot write \"/home/USER/.config/app.Wendrix/.defaults.plist.tmp-1-0\": No space left",
       std::nullopt},
      // Other users' folders too, anywhere in the text, and at a name's end.
      {"copy /home/bob/a to /mnt/home/carol/b", std::nullopt,
       "copy /home/USER/a to /mnt/home/USER/b", std::nullopt},
      {"cannot open \"/home/dave\": denied; /home/erin: gone, '/home/f.g'", std::nullopt,
       "cannot open \"/home/USER\": denied; /home/USER: gone, '/home/USER'", std::nullopt},
      {"ends in /home/zed", std::nullopt, "ends in /home/USER", std::nullopt},
      // A home folder elsewhere, with or without a slash at its end.
      {"cannot read /var/lib/alice/x and /var/lib/alice", "/var/lib/alice/",
       "cannot read /home/USER/x and /home/USER", std::nullopt},
      // Only whole names: a longer name is not the home folder.
      {"/var/lib/alice2/x", "/var/lib/alice", "/var/lib/alice2/x", std::nullopt},
      // Nothing to hide, or nothing usable as a home folder.
      {"/home//x /homework/y /home/", "/", "/home//x /homework/y /home/", std::nullopt},
      {"/tmp/x", "relative/home", "/tmp/x", std::nullopt},
      {"already /home/USER/x", "/home/alice", "already /home/USER/x", std::nullopt},
      {"", "/home/alice", "", std::nullopt},
      // The login name as a whole path element, wherever the folder lives.
      {"cannot write /data/alice/app.Wendrix/store.sqlite or /srv/alice", std::nullopt,
       "cannot write /data/USER/app.Wendrix/store.sqlite or /srv/USER", "alice"},
      {"/data/alice2/x /data/malice/y alice", std::nullopt, "/data/alice2/x /data/malice/y alice",
       "alice"},
      {"/home/alice/x /mnt/alice", "/home/alice", "/home/USER/x /mnt/USER", "alice"},
      {"/data/a b/x", std::nullopt, "/data/a b/x", "a b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(anonymizeHomePaths(c.text, c.home, c.login), c.expected);
  }
}

TEST(HomePathsTest, OwnHomeFolderComesFromTheEnvironment) {
  support::ScopedEnvironment env({{"HOME", "/srv/users/alice"}});
  EXPECT_EQ(homeFolder(), "/srv/users/alice");
  EXPECT_EQ(anonymizeHomePaths("at /srv/users/alice/x"), "at /home/USER/x");
}

}  // namespace
}  // namespace base
