// Well-known applications under their Linux ids get the built-in "New
// Window" keystrokes and the quit rule of the ids the tables name.

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/composition.h"
#include "engine/restore_fixture.h"
#include "model/bundle_aliases.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"

namespace wendrix::testing {
namespace {

const std::string kFiles = "org.example.Files";

class BundleAliasesTest : public RestoreTest {
 protected:
  void SetUp() override {
    // The user's file manager, from a temporary mimeapps.list.
    write("config/mimeapps.list",
          "[Added Associations]\ninode/directory=other.desktop;\n"
          "[Default Applications]\ntext/plain=editor.desktop\n"
          "inode/directory=missing.desktop;" +
              kFiles + ".desktop;\n");
    write("data/applications/" + kFiles + ".desktop",
          "[Desktop Entry]\nType=Application\nName=Files\nExec=files %U\n");
    support::ScopedEnvironment environment{{"XDG_CONFIG_HOME", (temp.path() / "config").string()},
                                           {"XDG_CONFIG_DIRS", (temp.path() / "none").string()},
                                           {"XDG_CURRENT_DESKTOP", std::nullopt}};
    aliases = std::make_shared<const BundleIdAliases>(
        desktopAliases(platform::DesktopEntryDirectories({(temp.path() / "data").string()})));

    provider->warmUp();
    queue.runUntilIdle();
    ActionsContext c = restoreContext();
    c.aliases = aliases;
    actions = Actions::make(c);
  }

  void write(const std::string& relative, const std::string& text) {
    const auto path = temp.path() / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << text;
  }

  support::TempDir temp{"wendrix-aliases"};
  std::shared_ptr<const BundleIdAliases> aliases;
};

TEST_F(BundleAliasesTest, EachAliasGetsItsTablesNewWindowKeystroke) {
  EXPECT_EQ(aliases->table().size(), 3u);
  struct Case {
    std::string bundleId;
    IShortcut keystroke;
  };
  const std::vector<Case> cases = {
      {"google-chrome", IShortcut{45, kMaskCommand}},
      {"code", IShortcut{45, kMaskCommand | kMaskShift}},
      {kFiles, IShortcut{45, kMaskCommand}},
  };
  std::int32_t pid = 900;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bundleId);
    const std::size_t before = desktop.keyboard().posted().size();
    desktop.launch(AppSetup::withId(c.bundleId).withPid(++pid), {liveWindow("one")});
    desktop.scriptNewWindow(pid, NewWindowScript::opening(1));
    IApp saved = app(c.bundleId, {savedWindow("one", rect(0, 0)), savedWindow("two", rect(50, 0))});
    auto outcome = run(actions->launcher().openAppWindows(saved, 2));
    EXPECT_TRUE(outcome->succeeded());
    ASSERT_GT(desktop.keyboard().posted().size(), before);
    const auto& key = desktop.keyboard().posted()[before];
    EXPECT_EQ(key.processIdentifier, pid);
    EXPECT_EQ((IShortcut{key.keyCode, key.flags}), c.keystroke);
  }
}

TEST_F(BundleAliasesTest, TheFileManagerHasItsWindowsClosedInsteadOfQuitting) {
  setCloseBehavior(CloseBehavior::quit);
  auto files = desktop.launch(AppSetup::withId(kFiles), {liveWindow("Home")});
  auto chrome = desktop.launch(AppSetup::withId("google-chrome"), {liveWindow("Tab")});
  auto done = run(actions->closer().applyCloseBehavior({files, chrome}));
  EXPECT_TRUE(done->succeeded());
  EXPECT_EQ(files->quitRequests(), 0);
  EXPECT_TRUE(files->windows().empty());
  EXPECT_EQ(chrome->quitRequests(), 1);
}

}  // namespace
}  // namespace wendrix::testing
