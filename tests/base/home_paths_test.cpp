#include "base/home_paths.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace base {
namespace {

TEST(HomePathsTest, HomeFoldersAndUserNamesBecomeUser) {
  const struct {
    const char* text;
    std::optional<std::string_view> home;
    const char* expected;
  } cases[] = {
      {"cannot write \"/home/alice/.config/app.Wendrix/.defaults.plist.tmp-1-0\": No space left",
       "/home/alice",
       "cannot write \"/home/USER/.config/app.Wendrix/.defaults.plist.tmp-1-0\": No space left"},
      // Other users' folders too, anywhere in the text, and at a name's end.
      {"copy /home/bob/a to /mnt/home/carol/b", std::nullopt,
       "copy /home/USER/a to /mnt/home/USER/b"},
      {"cannot open \"/home/dave\": denied; /home/erin: gone, '/home/f.g'", std::nullopt,
       "cannot open \"/home/USER\": denied; /home/USER: gone, '/home/USER'"},
      {"ends in /home/zed", std::nullopt, "ends in /home/USER"},
      // A home folder elsewhere, with or without a slash at its end.
      {"cannot read /var/lib/alice/x and /var/lib/alice", "/var/lib/alice/",
       "cannot read /home/USER/x and /home/USER"},
      // Only whole names: a longer name is not the home folder.
      {"/var/lib/alice2/x", "/var/lib/alice", "/var/lib/alice2/x"},
      // Nothing to hide, or nothing usable as a home folder.
      {"/home//x /homework/y /home/", "/", "/home//x /homework/y /home/"},
      {"/tmp/x", "relative/home", "/tmp/x"},
      {"already /home/USER/x", "/home/alice", "already /home/USER/x"},
      {"", "/home/alice", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(anonymizeHomePaths(c.text, c.home), c.expected);
  }
}

}  // namespace
}  // namespace base
