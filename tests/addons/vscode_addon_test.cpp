#include "addons/vscode_addon.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "addon_test_support.h"
#include "addons/addon_manager.h"
#include "addons/file_paths.h"
#include "coding/plist.h"
#include "element_trees.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"
#include "support/url_literal.h"

namespace wendrix::testing {
namespace {

namespace fs = std::filesystem;
using winsys::fake::WindowSetup;

std::string describe(const std::optional<VSCodeState>& state) {
  if (!state) return "none";
  if (const base::Url* u = state->fileURL()) return "url " + u->absoluteString();
  return "recent " + *state->recentName();
}

// The editor's addon as the registry makes it.
const VSCodeAddon& registeredAddon(const AddonManager& manager) {
  return dynamic_cast<const VSCodeAddon&>(*manager.addonFor(kVSCodeBundleId));
}

// A temporary home folder with a project folder, a file, a workspace file
// and a link to the project folder.
class VSCodeStateTest : public AddonTest {
 protected:
  void SetUp() override {
    fs::create_directories(home / "code" / "wendrix");
    fs::create_directories(home / "ws");
    std::ofstream(home / "notes.txt") << "n";
    std::ofstream(home / "ws" / "proj.code-workspace") << "{}";
    fs::create_directory_symlink(home / "code" / "wendrix", home / "link");
  }

  std::string homeURL() const { return base::Url::fromFilePath(home.string()).absoluteString(); }

  support::TempDir dir;
  fs::path home = dir.path() / "home dir";
  support::ScopedEnvironment environment{{"HOME", home.string()}};
  AddonManager manager;
  const VSCodeAddon& addon = registeredAddon(manager);
};

TEST_F(VSCodeStateTest, ExpandsALeadingTildeToTheHomeFolder) {
  const std::string h = home.string();
  struct Case {
    const char* path;
    std::string expected;
  };
  const Case cases[] = {
      {"~", h},
      {"~/code/wendrix", h + "/code/wendrix"},
      {"~/", h + "/"},
      {"/srv/~x", "/srv/~x"},
      {"code/~", "code/~"},
      {"~no-such-user-of-wendrix/x", "~no-such-user-of-wendrix/x"},
      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(addons::expandingTildeInPath(c.path), c.expected);
  }
  // Another user's home folder, from the password database.
  EXPECT_EQ(addons::expandingTildeInPath("~root/x"), "/root/x");
}

TEST_F(VSCodeStateTest, AnEntryBecomesWhatIsOnDiskElseItsWorkspaceFileElseItsText) {
  const std::string h = homeURL();
  struct Case {
    const char* entry;
    std::string expected;
  };
  const Case cases[] = {
      {"~/code/wendrix", "url " + h + "/code/wendrix/"},
      {"~/notes.txt", "url " + h + "/notes.txt"},
      {"~/link", "url " + h + "/link"},  // the link itself, not a folder
      {"~/ws/proj (Workspace)", "url " + h + "/ws/proj.code-workspace"},
      {"~/ws/proj\t(Remote)", "url " + h + "/ws/proj.code-workspace"},
      {"~/ws/other (Workspace)", "recent ~/ws/other (Workspace)"},
      {"~/ws/proj(Workspace)", "recent ~/ws/proj(Workspace)"},  // no blank before it
      {"~/ws/proj (a (b))", "recent ~/ws/proj (a (b))"},
      {"~/gone", "recent ~/gone"},
      {"/srv/site [SSH: build]", "recent /srv/site [SSH: build]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entry);
    auto tree = editorTree(recentMenu({c.entry}));
    EXPECT_EQ(describe(addon.stateFor(c.entry, tree.window)), c.expected);
  }
  auto tree = editorTree(recentMenu({"~/ws/proj (Workspace)"}));
  EXPECT_EQ(describe(addon.stateFor("x — nothing", tree.window)), "none");
  EXPECT_EQ(
      describe(
          VSCodeAddon(std::nullopt, std::nullopt).stateFor("~/ws/proj (Workspace)", tree.window)),
      "recent ~/ws/proj (Workspace)")
      << "without the workspace expression no workspace file is looked for";
  EXPECT_TRUE(addon.hasSshRegex());
  EXPECT_TRUE(addon.hasWorkspaceRegex());
}

TEST_F(VSCodeStateTest, CapturesWindowsWithAStateAtTheirPositionInTheWholeList) {
  auto tree = editorTree(recentMenu({"~/code/wendrix", "~/gone"}));
  auto windowElement = [&] {
    return tree.application->addChild(element({{UIAttribute::role, "AXWindow"}}));
  };
  auto app = desktop.launch(
      winsys::fake::AppSetup::withId(std::string(kVSCodeBundleId)),
      {WindowSetup::titled("a.cpp — wendrix").asMinimized().withUIElement(windowElement()),
       WindowSetup::titled("Welcome").withUIElement(windowElement()),
       WindowSetup::titled("b.cpp — wendrix")
           .withFrame({1, 2, 3, 4})
           .withUIElement(windowElement()),
       WindowSetup::titled("gone").withUIElement(windowElement())});

  const auto records = addon.captureWindows(app->knownWindows());
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].title, "b.cpp — wendrix");
  EXPECT_EQ(records[0].index, 2);
  EXPECT_EQ(records[0].rect, (Rect{1, 2, 3, 4}));
  EXPECT_EQ(describe(coding::fromPropertyList<VSCodeState>(*records[0].addonState).value()),
            "url " + homeURL() + "/code/wendrix/");
  EXPECT_EQ(records[1].index, 3);
  EXPECT_EQ(describe(coding::fromPropertyList<VSCodeState>(*records[1].addonState).value()),
            "recent ~/gone");
}

TEST(VSCodeAddonTest, StatesCodeAsTheirSourceTypeAndPayload) {
  struct Case {
    VSCodeState state;
    coding::Dictionary form;
  };
  const Case cases[] = {
      {VSCodeState::url(url("file:///srv/wendrix/")),
       {{"sourceType", "url"}, {"url", coding::Dictionary{{"relative", "file:///srv/wendrix/"}}}}},
      {VSCodeState::recent("~/gone"), {{"sourceType", "recent"}, {"name", "~/gone"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(describe(c.state));
    const auto bytes = coding::toPropertyList(c.state).value();
    EXPECT_EQ(coding::decodePropertyList(bytes).value(), coding::Value(c.form));
    EXPECT_EQ(coding::fromPropertyList<VSCodeState>(bytes).value(), c.state);
  }
  for (const coding::Dictionary& bad :
       {coding::Dictionary{{"sourceType", "url"}, {"name", "x"}},
        coding::Dictionary{{"sourceType", "recent"}, {"url", "file:///x"}},
        coding::Dictionary{{"sourceType", "file"}, {"name", "x"}}}) {
    EXPECT_FALSE(coding::fromPropertyList<VSCodeState>(
        coding::encodePropertyList(coding::Value(bad)).value()));
  }
}

TEST(VSCodeAddonTest, ShowsAURLsNameWithoutItsExtension) {
  const VSCodeAddon addon(std::nullopt, std::nullopt);
  struct Case {
    VSCodeState state;
    std::optional<std::string> title;
  };
  const Case cases[] = {
      {VSCodeState::url(url("file:///srv/ws/proj.code-workspace")), "proj"},
      {VSCodeState::url(url("file:///srv/wendrix/")), "wendrix"},
      {VSCodeState::url(url("file:///srv/my%20app.v2/")), "my app"},
      {VSCodeState::url(url("file:///srv/.config/")), ".config"},
      {VSCodeState::recent("~/gone"), std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(describe(c.state));
    const auto shown = addon.display(c.state);
    EXPECT_EQ(shown ? shown->title : std::nullopt, c.title);
  }
}

}  // namespace
}  // namespace wendrix::testing
