#include "platform/bundle/linux/desktop_entry.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

namespace platform {
namespace {

constexpr const char* kEntry =
    "# comment before the group\r\n"
    "[Desktop Entry]\r\n"
    "Type = Application\r\n"
    "Name=Editor\r\n"
    "Name[de]=Bearbeiter\r\n"
    "Name[de_AT]=Editor AT\r\n"
    "Name[sr@latin]=Urednik\r\n"
    "Comment=line\\none\\stwo\\tthree\\\\four\\rfive\\q\r\n"
    "MimeType=text/plain;a\\;b;c\\\\;;\r\n"
    "NoDisplay=true\r\n"
    "Terminal=0\r\n"
    "\r\n"
    "[Desktop Action new]\r\n"
    "Name=New Window\r\n";

TEST(DesktopEntryTest, ReadsGroupsAndTypedValues) {
  auto entry = DesktopEntry::parse(kEntry);
  ASSERT_TRUE(entry.ok()) << entry.error();
  EXPECT_EQ(entry->string("Type"), "Application");
  EXPECT_EQ(entry->string("Comment"), "line\none two\tthree\\four\rfive\\q");
  EXPECT_EQ(entry->string("Name", "Desktop Action new"), "New Window");
  EXPECT_EQ(entry->string("Exec"), std::nullopt);
  EXPECT_EQ(*entry->stringList("MimeType"),
            (std::vector<std::string>{"text/plain", "a;b", "c\\", ""}));
  EXPECT_EQ(*entry->boolean("NoDisplay"), std::optional<bool>(true));
  EXPECT_EQ(*entry->boolean("Terminal"), std::optional<bool>(false));
  EXPECT_EQ(*entry->boolean("Hidden"), std::nullopt);
}

TEST(DesktopEntryTest, ChoosesTheClosestLocaleVariant) {
  auto entry = DesktopEntry::parse(kEntry);
  ASSERT_TRUE(entry.ok());
  const struct {
    const char* locale;
    const char* name;
  } cases[] = {
      {"de_AT.UTF-8", "Editor AT"},
      {"de_CH.UTF-8", "Bearbeiter"},
      {"de", "Bearbeiter"},
      {"sr_RS@latin", "Urednik"},
      {"sr_RS", "Editor"},
      {"C", "Editor"},
      {"", "Editor"},
      {"fr_FR.UTF-8@euro", "Editor"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(entry->localeString("Name", c.locale), c.name) << c.locale;
  }
}

TEST(DesktopEntryTest, MalformedTextFailsWithTheLine) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"Name=x\n[Desktop Entry]\n", "line 1: key before the first group"},
      {"[Desktop Entry\n", "line 1: group header without ']'"},
      {"[Desktop Entry]\njust words\n", "line 2: not a key=value line"},
      {"[Desktop Entry]\nNa me=x\n", "line 2: invalid key"},
      {"[Desktop Entry]\nName[=x\n", "line 2: invalid key"},
      {"[Desktop Entry]\nName=a\nName=b\n", "line 3: key given twice"},
      {"[Desktop Entry]\n[Desktop Entry]\n", "line 2: group given twice"},
      {"[Other]\nName=x\n", "no [Desktop Entry] group"},
      {"[Desktop Entry]\nName=\xff\n", "not valid UTF-8"},
  };
  for (const auto& c : cases) {
    auto entry = DesktopEntry::parse(c.text);
    ASSERT_FALSE(entry.ok()) << c.text;
    EXPECT_TRUE(entry.error().is(kDesktopEntryErrorDomain, desktopEntryMalformed));
    EXPECT_NE(entry.error().description.find(c.message), std::string::npos)
        << entry.error().description;
  }
}

TEST(DesktopEntryTest, BooleanOfOtherTextIsAnError) {
  auto entry = DesktopEntry::parse("[Desktop Entry]\nHidden=yes\n");
  ASSERT_TRUE(entry.ok());
  auto hidden = entry->boolean("Hidden");
  ASSERT_FALSE(hidden.ok());
  EXPECT_TRUE(hidden.error().is(kDesktopEntryErrorDomain, desktopEntryInvalidValue));
}

// Each group costs the same however many came before: a 1 MiB file of
// 116,000 groups (once 12 s) parses well within the bound even in a
// sanitizer build.
TEST(DesktopEntryTest, ManyGroupsParseInLinearTime) {
  std::string text = "[Desktop Entry]\nType=Application\nName=Many\n";
  char name[16];
  for (int i = 0; i < 116000; ++i) {
    std::snprintf(name, sizeof name, "[%x]\n", i);
    text += name;
  }
  ASSERT_LE(text.size(), std::size_t{1} << 20);

  const auto start = std::chrono::steady_clock::now();
  auto entry = DesktopEntry::parse(text);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(entry.ok()) << entry.error();
  EXPECT_TRUE(entry->hasGroup("1c51f"));
  EXPECT_LT(elapsed, std::chrono::seconds(2));
}

}  // namespace
}  // namespace platform
