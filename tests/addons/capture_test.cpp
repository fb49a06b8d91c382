// Saving layouts with the addon registry: the actions capture each addon
// application's windows through its addon, and the states come back from the
// store.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "addon_test_support.h"
#include "addons/addon_manager.h"
#include "addons/sourcetree_addon.h"
#include "addons/vscode_addon.h"
#include "addons/xcode_addon.h"
#include "coding/plist.h"
#include "element_trees.h"
#include "engine/actions_fixture.h"

namespace wendrix::testing {
namespace {

using winsys::fake::AppSetup;
using winsys::fake::WindowSetup;

// A saved window as "index title: state".
template <class State>
std::string describe(const IWindow& window, std::string (*state)(const State&)) {
  std::string out = std::to_string(window.index) + " " + window.title + ": ";
  if (!window.addonState) return out + "no state";
  auto decoded = coding::fromPropertyList<State>(*window.addonState);
  return out + (decoded ? state(*decoded) : "undecodable");
}

std::string xcode(const XcodeAddonState& s) {
  return std::string(rawValue(s.windowType())) + (s.projectPath() ? " " + *s.projectPath() : "");
}
std::string sourcetree(const SourcetreeState& s) {
  return s.path() ? "repo " + s.path()->absoluteString() : "browser";
}
std::string vscode(const VSCodeState& s) {
  return s.fileURL() ? "url " + s.fileURL()->absoluteString() : "recent " + *s.recentName();
}

template <class State>
std::vector<std::string> describeAll(const IApp& app, std::string (*state)(const State&)) {
  std::vector<std::string> out;
  for (const auto& w : app.windows)
    out.push_back(describe(w, state));
  return out;
}

const IApp* appWithId(const Layout& layout, std::string_view id) {
  for (const auto& app : layout.apps) {
    if (app.bundleId == id) return &app;
  }
  return nullptr;
}

class AddonCaptureTest : public ActionsTest {
 protected:
  void SetUp() override {
    provider->warmUp();
    queue.runUntilIdle();
    auto c = context();
    c.addons = manager;
    actions = Actions::make(c);
  }

  std::optional<Layout> stored(std::string_view name) {
    for (auto& layout : storage->loadLayouts()) {
      if (layout.name == name) return layout;
    }
    return std::nullopt;
  }

  std::shared_ptr<AddonManager> manager = std::make_shared<AddonManager>();
  EditorTree editor = editorTree(recentMenu({"/nonexistent/wendrix"}));
};

TEST_F(AddonCaptureTest, SavedLayoutsCarryEachAddonsStatesIntoTheStore) {
  desktop.launch(
      AppSetup::withId("com.apple.dt.Xcode"),
      {WindowSetup::titled("Docs").asMinimized().withUIElement(
           element({{UIAttribute::identifier, "Documentation Viewer Window"}})),
       WindowSetup::titled("A").withUIElement(
           element({{UIAttribute::identifier, "Xcode.WorkspaceWindow"},
                    {UIAttribute::document, "/p/A.xcodeproj"}})),
       WindowSetup::titled("Odd").withUIElement(element()),
       WindowSetup::titled("Organizer")
           .withUIElement(element({{UIAttribute::identifier, "_IDEProductsUI:OrganizerWindow"}}))});
  desktop.launch(AppSetup::withId("com.torusknot.SourceTreeNotMAS"),
                 {WindowSetup::titled("wendrix").withUIElement(
                      element({{UIAttribute::identifier, "repo:/srv/wendrix"}})),
                  WindowSetup::titled("Settings")});
  desktop.launch(AppSetup::withId("com.zodoradud.VSCode"),
                 {WindowSetup::titled("Welcome").withUIElement(
                      editor.application->addChild(element({{UIAttribute::role, "AXWindow"}}))),
                  WindowSetup::titled("main.cpp — wendrix").withUIElement(editor.window)});
  desktop.launch(AppSetup::withId("org.example.Plain"), {WindowSetup::titled("Plain")});

  auto done = watch(actions->saveLayout("Work"), queue);
  queue.runUntilIdle();
  ASSERT_TRUE(done->succeeded());

  const auto layout = stored("Work");
  ASSERT_TRUE(layout);
  const IApp* x = appWithId(*layout, "com.apple.dt.Xcode");
  ASSERT_TRUE(x);
  EXPECT_EQ(describeAll(*x, xcode),
            (std::vector<std::string>{"1 A: project /p/A.xcodeproj", "3 Organizer: archives"}));
  ASSERT_TRUE(x->mainWindow);
  EXPECT_EQ(describe(*x->mainWindow, xcode), "0 Docs: documentation");

  const IApp* s = appWithId(*layout, "com.torusknot.SourceTreeNotMAS");
  ASSERT_TRUE(s);
  EXPECT_EQ(
      describeAll(*s, sourcetree),
      (std::vector<std::string>{"0 wendrix: repo file:///srv/wendrix/", "1 Settings: no state"}));

  const IApp* v = appWithId(*layout, "com.zodoradud.VSCode");
  ASSERT_TRUE(v);
  EXPECT_EQ(describeAll(*v, vscode),
            (std::vector<std::string>{"1 main.cpp — wendrix: recent /nonexistent/wendrix"}));

  const IApp* plain = appWithId(*layout, "org.example.Plain");
  ASSERT_TRUE(plain);
  EXPECT_EQ(describeAll(*plain, xcode), (std::vector<std::string>{"0 Plain: no state"}));

  // The layout details' labels come from the stored states.
  std::vector<std::string> labels;
  for (const auto& d : manager->addonFor(kXcodeBundleId)->displays(*x))
    labels.push_back(*d.title);
  EXPECT_EQ(labels, (std::vector<std::string>{"A.xcodeproj", "Archives"}));
}

TEST_F(AddonCaptureTest, AWindowAddedToALayoutCarriesItsState) {
  auto xcodeApp =
      desktop.launch(AppSetup::withId("com.apple.dt.Xcode"),
                     {WindowSetup::titled("Devices").withUIElement(withChildren(
                         element(), {element({{UIAttribute::role, "AXSplitGroup"}})}))});
  auto plainApp = desktop.launch(AppSetup::withId("org.example.Plain"), {WindowSetup::titled("P")});
  storage->saveLayout(layout("Work"));

  actions->addWindowToLayout(*xcodeApp->windows()[0], *stored("Work"));
  actions->addWindowToLayout(*plainApp->windows()[0], *stored("Work"));
  queue.runUntilIdle();

  const auto work = stored("Work");
  ASSERT_TRUE(work);
  const IApp* x = appWithId(*work, "com.apple.dt.Xcode");
  ASSERT_TRUE(x);
  EXPECT_EQ(describeAll(*x, xcode), (std::vector<std::string>{"0 Devices: devices"}));
  const IApp* plain = appWithId(*work, "org.example.Plain");
  ASSERT_TRUE(plain);
  EXPECT_EQ(describeAll(*plain, xcode), (std::vector<std::string>{"0 P: no state"}));
}

using AddonManagerTest = AddonTest;

TEST_F(AddonManagerTest, HoldsTheThreeAddonsUnderTheirBundleIdentifiers) {
  const AddonManager manager;
  std::vector<std::string> keys;
  for (const auto& [key, addon] : manager.addonMap())
    keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{"com.apple.dt.Xcode", "com.torusknot.SourceTreeNotMAS",
                                            "com.zodoradud.VSCode"}));
  EXPECT_TRUE(dynamic_cast<const XcodeAddon*>(manager.addonFor("com.apple.dt.Xcode")));
  EXPECT_TRUE(
      dynamic_cast<const SourcetreeAddon*>(manager.addonFor("com.torusknot.SourceTreeNotMAS")));
  EXPECT_TRUE(dynamic_cast<const VSCodeAddon*>(manager.addonFor("com.zodoradud.VSCode")));
  EXPECT_EQ(manager.addon("com.zodoradud.VSCode"), manager.addonFor("com.zodoradud.VSCode"));
  EXPECT_FALSE(manager.addonFor("com.apple.dt.xcode"));
  EXPECT_FALSE(manager.addonFor(""));
}

TEST_F(AddonManagerTest, ThisDesktopsIdentifiersReachTheAddonsThroughTheAliases) {
  const AddonManager plain;
  EXPECT_FALSE(plain.addonFor("code"));
  const AddonManager manager(
      std::make_shared<const BundleIdAliases>(BundleIdAliases::standard("org.gnome.Nautilus")));
  EXPECT_TRUE(dynamic_cast<const VSCodeAddon*>(manager.addonFor("code")));
  EXPECT_TRUE(dynamic_cast<const VSCodeAddon*>(manager.addonFor("com.zodoradud.VSCode")));
  EXPECT_FALSE(manager.addonFor("org.gnome.Nautilus"));
  EXPECT_FALSE(manager.addonFor("google-chrome"));
}

TEST_F(AddonManagerTest, EncodesAWindowsStateThroughItsApplicationsAddon) {
  const AddonManager manager;
  auto docs = element({{UIAttribute::identifier, "Documentation Viewer Window"}});
  auto xcodeApp = desktop.launch(
      AppSetup::withId("com.apple.dt.Xcode"),
      {WindowSetup::titled("Docs").withUIElement(docs), WindowSetup::titled("No element")});
  auto unnamed = desktop.launch(AppSetup{}, {WindowSetup::titled("Docs").withUIElement(docs)});
  auto other = desktop.launch(AppSetup::withId("org.example.Other"),
                              {WindowSetup::titled("Docs").withUIElement(docs)});

  auto bytes = manager.encodedState(*xcodeApp->windows()[0]);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(coding::fromPropertyList<XcodeAddonState>(*bytes).value(),
            XcodeAddonState::documentation());
  EXPECT_FALSE(manager.encodedState(*xcodeApp->windows()[1]));
  EXPECT_FALSE(manager.encodedState(*unnamed->windows()[0]));
  EXPECT_FALSE(manager.encodedState(*other->windows()[0]));
}

TEST(AddonManagerSharedTest, IsMadeOnceAndKeptUntilReset) {
  auto first = AddonManager::shared();
  EXPECT_EQ(AddonManager::shared(), first);
  AddonManager::setSharedForTesting();
  EXPECT_NE(AddonManager::shared(), first);
  AddonManager::setSharedForTesting();
}

}  // namespace
}  // namespace wendrix::testing
