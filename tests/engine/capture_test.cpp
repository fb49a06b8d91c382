#include "engine/capture.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "dispatch/manual_queue.h"
#include "winsys/fake/fake_desktop.h"

namespace wendrix {
namespace {

using winsys::fake::AppSetup;
using winsys::fake::FakeDesktop;
using winsys::fake::WindowSetup;

base::Url url(const char* text) {
  return *base::Url::parse(text);
}

base::Bytes bytesOf(const std::string& text) {
  return base::Bytes(text.begin(), text.end());
}

// An addon whose state is the window title, and whose capture keeps only the
// first window.
class TitleAddon final : public AddonCapture {
 public:
  std::optional<base::Bytes> encodedState(const winsys::Window& window) const override {
    return bytesOf("state:" + window.title());
  }
  std::vector<IWindow> captureWindows(
      const std::vector<winsys::WindowPtr>& windows) const override {
    auto records = iwindow::fromWindows(windows, this);
    records.resize(std::min<std::size_t>(records.size(), 1));
    return records;
  }
};

class OneAddonRegistry final : public AddonRegistry {
 public:
  const AddonCapture* addon(std::string_view id) const override {
    return id == "org.example.Addon" ? &addon_ : nullptr;
  }

 private:
  TitleAddon addon_;
};

class CaptureTest : public ::testing::Test {
 protected:
  dispatch::ManualQueue queue;
  FakeDesktop desktop{queue};
};

TEST_F(CaptureTest, RecordsVisibleWindowsInOrderWithDocumentsAndMainWindow) {
  auto app = desktop.launch(
      AppSetup::withId("org.example.Editor").withURL(url("file:///apps/editor.desktop")),
      {WindowSetup::titled("A").withFrame({0, 0, 10, 10}).asMinimized(),
       WindowSetup::titled("B").withFrame({1, 2, 3, 4}).withDocument("/docs/b.txt"),
       WindowSetup::titled("C").withFrame({5, 6, 7, 8})});
  // The first window (minimized) is the main window.
  ASSERT_EQ(app->mainWindow()->title(), "A");

  const IApp record = iapp::fromApplication(*app);
  EXPECT_EQ(record.bundleId, "org.example.Editor");
  EXPECT_EQ(record.bundleURL, url("file:///apps/editor.desktop"));
  ASSERT_EQ(record.windows.size(), 2u);
  EXPECT_EQ(record.windows[0].title, "B");
  EXPECT_EQ(record.windows[0].index, 0);
  EXPECT_EQ(record.windows[0].rect, (Rect{1, 2, 3, 4}));
  EXPECT_EQ(record.windows[0].doc, "/docs/b.txt");
  EXPECT_FALSE(record.windows[0].addonState);
  EXPECT_EQ(record.windows[1].title, "C");
  EXPECT_EQ(record.windows[1].index, 1);
  EXPECT_FALSE(record.windows[1].doc);
  ASSERT_TRUE(record.mainWindow);
  EXPECT_EQ(record.mainWindow->title, "A");
  EXPECT_EQ(record.mainWindow->index, 0);
  EXPECT_EQ(record.mainWindow->rect, (Rect{0, 0, 10, 10}));
}

TEST_F(CaptureTest, AllMinimizedGivesNoWindowsButKeepsTheMainWindow) {
  auto app = desktop.launch(AppSetup::withId("org.example.Editor"),
                            {WindowSetup::titled("A").asMinimized()});
  const IApp record = iapp::fromApplication(*app);
  EXPECT_TRUE(record.windows.empty());
  ASSERT_TRUE(record.mainWindow);
  EXPECT_EQ(record.mainWindow->title, "A");
}

TEST_F(CaptureTest, ApplicationsWithoutIdentifierOrURLKeepTheirOrder) {
  desktop.launch(AppSetup{}, {WindowSetup::titled("x")});
  desktop.launch(AppSetup{}.withURL(url("file:///proc/77/exe")), {WindowSetup::titled("y")});
  desktop.launch(AppSetup::withId("org.example.Empty"));
  const auto apps = desktop.applications();

  const auto records =
      iapp::fromApplications(std::vector<winsys::ApplicationPtr>(apps.begin(), apps.end()));
  ASSERT_EQ(records.size(), 3u);
  EXPECT_FALSE(records[0].bundleId);
  EXPECT_FALSE(records[0].bundleURL);
  EXPECT_EQ(records[0].windows.size(), 1u);
  EXPECT_FALSE(records[1].bundleId);
  EXPECT_EQ(records[1].bundleURL, url("file:///proc/77/exe"));
  EXPECT_EQ(records[2].bundleId, "org.example.Empty");
  EXPECT_TRUE(records[2].windows.empty());
  EXPECT_FALSE(records[2].mainWindow);
}

TEST_F(CaptureTest, AnAddonCapturesItsApplicationsWindowsAndMainWindowState) {
  OneAddonRegistry registry;
  auto withAddon = desktop.launch(AppSetup::withId("org.example.Addon"),
                                  {WindowSetup::titled("P"), WindowSetup::titled("Q")});
  auto without = desktop.launch(AppSetup::withId("org.example.Plain"), {WindowSetup::titled("R")});

  const IApp a = iapp::fromApplication(*withAddon, &registry);
  ASSERT_EQ(a.windows.size(), 1u) << "the addon's capture replaces the generic one";
  EXPECT_EQ(a.windows[0].addonState, bytesOf("state:P"));
  ASSERT_TRUE(a.mainWindow);
  EXPECT_EQ(a.mainWindow->addonState, bytesOf("state:P"));

  const IApp b = iapp::fromApplication(*without, &registry);
  ASSERT_EQ(b.windows.size(), 1u);
  EXPECT_FALSE(b.windows[0].addonState);
  EXPECT_FALSE(b.mainWindow->addonState);

  EmptyAddonRegistry empty;
  EXPECT_EQ(iapp::fromApplication(*withAddon, &empty).windows.size(), 2u);
}

TEST_F(CaptureTest, MatchesApplication) {
  const auto editorURL = url("file:///apps/editor.desktop");
  auto editor = desktop.launch(AppSetup::withId("org.example.Editor").withURL(editorURL));
  auto anonymous = desktop.launch(AppSetup{}.withURL(editorURL));

  auto saved = [](std::optional<std::string> id, std::optional<base::Url> at) {
    IApp app;
    app.bundleId = std::move(id);
    app.bundleURL = std::move(at);
    return app;
  };
  struct Case {
    const char* name;
    IApp saved;
    bool matchesEditor;
    bool matchesAnonymous;
  };
  const Case cases[] = {
      {"id decides alone", saved("org.example.Editor", url("file:///elsewhere")), true, false},
      {"other id", saved("org.example.Other", editorURL), false, false},
      {"url only", saved(std::nullopt, editorURL), true, true},
      {"neither", saved(std::nullopt, std::nullopt), false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(iapp::matchesApplication(c.saved, *editor), c.matchesEditor);
    EXPECT_EQ(iapp::matching(c.saved)(*anonymous), c.matchesAnonymous);
  }
}

TEST_F(CaptureTest, BundleOfApplicationPrefersTheURLThenTheIdentifier) {
  const auto there = url("file:///apps/there.desktop");
  desktop.bundles().add(
      platform::FakeBundleProvider::makeBundle(there, "org.example.There", "At URL"));
  desktop.bundles().add(platform::FakeBundleProvider::makeBundle(url("file:///apps/byid.desktop"),
                                                                 "org.example.ById", "By id"));

  auto atURL = desktop.launch(AppSetup::withId("org.example.ById").withURL(there));
  auto byId = desktop.launch(AppSetup::withId("org.example.ById").withURL(url("file:///gone")));
  auto none = desktop.launch(AppSetup{});

  EXPECT_EQ(bundleOfApplication(desktop.bundles(), *atURL)->infoString(platform::kBundleNameKey),
            "At URL");
  EXPECT_EQ(bundleOfApplication(desktop.bundles(), *byId)->infoString(platform::kBundleNameKey),
            "By id");
  EXPECT_FALSE(bundleOfApplication(desktop.bundles(), *none));

  // The fake desktop installs an application's own information dictionary.
  auto agent = desktop.launch(
      AppSetup::withId("org.example.Agent").withInfo(coding::Dictionary{{"LSUIElement", true}}));
  auto bundle = bundleOfApplication(desktop.bundles(), *agent);
  ASSERT_TRUE(bundle);
  EXPECT_EQ(bundle->infoBool(platform::kUIElementKey), true);
}

IApp appRecord(const char* id, std::vector<std::string> titles) {
  IApp app;
  app.bundleId = id;
  for (std::size_t i = 0; i < titles.size(); ++i) {
    IWindow w;
    w.title = titles[i];
    w.index = static_cast<std::int64_t>(i);
    app.windows.push_back(w);
  }
  return app;
}

std::vector<std::string> ids(const std::vector<IApp>& apps) {
  std::vector<std::string> out;
  for (const auto& a : apps)
    out.push_back(a.bundleId.value_or("-"));
  return out;
}

TEST(LayoutAppsTest, ReplaceOrAppendKeepsLengthAndOrder) {
  const std::vector<IApp> apps = {appRecord("a", {"1"}), appRecord("b", {"1"}), appRecord("c", {})};

  auto replaced = replaceOrAppendApp(apps, appRecord("b", {"new", "newer"}));
  EXPECT_EQ(ids(replaced), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(replaced[1].windows.size(), 2u);

  auto appended = replaceOrAppendApp(apps, appRecord("d", {}));
  EXPECT_EQ(ids(appended), (std::vector<std::string>{"a", "b", "c", "d"}));

  // Removing one application by filtering.
  std::vector<IApp> kept;
  for (const auto& a : apps) {
    if (isDifferentApp(a, appRecord("b", {}))) kept.push_back(a);
  }
  EXPECT_EQ(ids(kept), (std::vector<std::string>{"a", "c"}));
}

TEST(LayoutAppsTest, AddWindowIndexesAfterExistingWindowsOrAddsTheApplication) {
  IWindow added;
  added.title = "added";
  auto withMain = appRecord("a", {"1", "2"});
  withMain.mainWindow = withMain.windows[0];
  const std::vector<IApp> apps = {withMain};

  auto grown = addWindowToLayoutApps(apps, appRecord("a", {}), added);
  ASSERT_EQ(grown.size(), 1u);
  ASSERT_EQ(grown[0].windows.size(), 3u);
  EXPECT_EQ(grown[0].windows[2].title, "added");
  EXPECT_EQ(grown[0].windows[2].index, 2);
  EXPECT_EQ(grown[0].mainWindow->title, "1");

  auto fresh = addWindowToLayoutApps(apps, appRecord("b", {"ignored"}), added);
  ASSERT_EQ(fresh.size(), 2u);
  ASSERT_EQ(fresh[1].windows.size(), 1u);
  EXPECT_EQ(fresh[1].windows[0].title, "added");
  EXPECT_EQ(fresh[1].windows[0].index, 0);
  ASSERT_TRUE(fresh[1].mainWindow);
  EXPECT_EQ(fresh[1].mainWindow->title, "added");
}

}  // namespace
}  // namespace wendrix
