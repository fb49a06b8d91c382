#include "platform/bundle/linux/desktop_entry_cache.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/bundle/linux/desktop_applications.h"
#include "xdg_test_dir.h"

namespace platform {
namespace {

using testing::XdgTestDir;

// The parse is kept while the file stays as it was; a file written in place
// or replaced through a rename is read again.
TEST(DesktopEntryCacheTest, KeepsAnEntryUntilItsFileChanges) {
  XdgTestDir xdg;
  const std::string path =
      xdg.write("home/applications/editor.desktop", XdgTestDir::entry("Editor", "editor"));
  DesktopEntryCache cache;
  auto first = cache.entryAt(path);
  ASSERT_TRUE(first.ok()) << first.error();
  EXPECT_EQ((*first)->string("Name"), "Editor");
  auto again = cache.entryAt(path);
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(*again, *first) << "an unchanged file is not parsed again";

  // Written in place with another size (times alone may not move: the
  // kernel's clock for them is coarse).
  xdg.write("home/applications/editor.desktop", XdgTestDir::entry("Long Writer", "editor"));
  auto written = cache.entryAt(path);
  ASSERT_TRUE(written.ok());
  EXPECT_EQ((*written)->string("Name"), "Long Writer");

  // The same size again, in a new inode.
  const std::string next = xdg.write("next.desktop", XdgTestDir::entry("Long Drafts", "editor"));
  std::filesystem::rename(next, path);
  auto replaced = cache.entryAt(path);
  ASSERT_TRUE(replaced.ok());
  EXPECT_EQ((*replaced)->string("Name"), "Long Drafts");

  // A malformed file is kept with its error; a missing one is forgotten.
  xdg.write("home/applications/editor.desktop", "no group\n");
  EXPECT_FALSE(cache.entryAt(path).ok());
  EXPECT_EQ(cache.size(), 1u);
  std::filesystem::remove(path);
  auto missing = cache.entryAt(path);
  ASSERT_FALSE(missing.ok());
  EXPECT_TRUE(missing.error().is(kDesktopEntryErrorDomain, desktopEntryUnreadable));
  EXPECT_EQ(cache.size(), 0u);
}

// Application reads through the cache answer as reads of the file do,
// errors included.
TEST(DesktopEntryCacheTest, ApplicationReadsMatchUncachedOnes) {
  XdgTestDir xdg;
  DesktopEntryCache cache;
  const struct {
    const char* name;
    std::string text;
  } cases[] = {
      {"application", XdgTestDir::entry("Editor", "editor %f", "Icon=ed\n")},
      {"malformed", "[Desktop Entry]\nbroken\n"},
      {"not an application", "[Desktop Entry]\nType=Link\nName=x\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path =
        xdg.write(std::string("home/applications/") + c.name + ".desktop", c.text);
    auto cached = readDesktopApplication(cache, path, "id", "");
    auto direct = readDesktopApplication(path, "id", "");
    ASSERT_EQ(cached.ok(), direct.ok());
    if (direct.ok()) {
      EXPECT_EQ(cached->name, direct->name);
      EXPECT_EQ(cached->icon, direct->icon);
    } else {
      EXPECT_EQ(cached.error(), direct.error());
    }
  }
}

}  // namespace
}  // namespace platform
