#include "addons/xcode_addon.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "addon_test_support.h"
#include "coding/plist.h"
#include "element_trees.h"

namespace wendrix::testing {
namespace {

using winsys::fake::WindowSetup;

constexpr const char* kWorkspace = "Xcode.WorkspaceWindow";
constexpr const char* kTabContent = "Workspace window tab content";

Element tabContent(std::optional<std::string> path) {
  auto child = element({{UIAttribute::identifier, kTabContent}});
  if (path) child->set(UIAttribute::path, *path);
  return child;
}

Element splitGroup() {
  return element({{UIAttribute::role, "AXSplitGroup"}});
}

std::string describe(const std::optional<XcodeAddonState>& state) {
  if (!state) return "none";
  std::string out(rawValue(state->windowType()));
  if (const std::string* path = state->projectPath()) out += " " + *path;
  return out;
}

TEST(XcodeAddonTest, ClassifiesWindowsByIdentifierThenSubroleThenChildren) {
  struct Case {
    const char* name;
    Element window;
    const char* expected;
  };
  auto failingChildren = [](Element e) {
    e->addChild(tabContent("/ignored"));
    e->failChildren();
    return e;
  };
  const Case cases[] = {
      {"no element", nullptr, "none"},
      {"documentation before subrole",
       element({{UIAttribute::identifier, "Documentation Viewer Window"},
                {UIAttribute::subrole, "AXDialog"}}),
       "documentation"},
      {"organizer before subrole",
       element({{UIAttribute::identifier, "_IDEProductsUI:OrganizerWindow"},
                {UIAttribute::subrole, "AXSystemFloatingWindow"}}),
       "archives"},
      {"dialog before children",
       withChildren(
           element({{UIAttribute::identifier, kWorkspace}, {UIAttribute::subrole, "AXDialog"}}),
           {tabContent("/p/A.xcodeproj")}),
       "welcome"},
      {"floating window", element({{UIAttribute::subrole, "AXSystemFloatingWindow"}}), "touchbar"},
      {"tab content path first",
       withChildren(element({{UIAttribute::identifier, kWorkspace},
                             {UIAttribute::document, "/p/Doc.xcworkspace"}}),
                    {splitGroup(), tabContent(std::nullopt), tabContent("/p/A.xcodeproj")}),
       "project /p/A.xcodeproj"},
      {"document path without tab path",
       withChildren(element({{UIAttribute::identifier, kWorkspace},
                             {UIAttribute::document, "/p/B.xcworkspace"}}),
                    {splitGroup(), tabContent(std::nullopt)}),
       "project /p/B.xcworkspace"},
      {"document path when children fail",
       failingChildren(element(
           {{UIAttribute::identifier, kWorkspace}, {UIAttribute::document, "/p/C.xcodeproj"}})),
       "project /p/C.xcodeproj"},
      {"workspace with split group and no paths",
       withChildren(element({{UIAttribute::identifier, kWorkspace}}),
                    {tabContent(std::nullopt), splitGroup()}),
       "devices"},
      {"workspace with nothing", element({{UIAttribute::identifier, kWorkspace}}), "unsupported"},
      {"paths count only in a workspace window",
       withChildren(
           element({{UIAttribute::identifier, "Other"}, {UIAttribute::document, "/p/D.xcodeproj"}}),
           {tabContent("/p/D.xcodeproj")}),
       "unsupported"},
      {"split group of any window", withChildren(element(), {splitGroup()}), "devices"},
      {"comparisons are case-sensitive",
       withChildren(element({{UIAttribute::identifier, "xcode.workspacewindow"},
                             {UIAttribute::subrole, "AXdialog"},
                             {UIAttribute::document, "/p/E.xcodeproj"}}),
                    {element({{UIAttribute::role, "AXSplitgroup"}})}),
       "unsupported"},
      {"failing children of another window", failingChildren(element()), "unsupported"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(describe(XcodeAddon::classifyWindow(c.window)), c.expected);
  }
}

TEST(XcodeAddonTest, StatesCodeAsTheirTagAndProjectPath) {
  struct Case {
    XcodeAddonState state;
    coding::Dictionary form;
  };
  const Case cases[] = {
      {XcodeAddonState::project("/p/A.xcodeproj"),
       {{"windowType", "project"}, {"project", "/p/A.xcodeproj"}}},
      {XcodeAddonState::documentation(), {{"windowType", "documentation"}}},
      {XcodeAddonState::archives(), {{"windowType", "archives"}}},
      {XcodeAddonState::welcome(), {{"windowType", "welcome"}}},
      {XcodeAddonState::devices(), {{"windowType", "devices"}}},
      {XcodeAddonState::touchbar(), {{"windowType", "touchbar"}}},
      {XcodeAddonState::unsupported(), {{"windowType", "unsupported"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(describe(c.state));
    const auto bytes = coding::toPropertyList(c.state).value();
    EXPECT_EQ(coding::decodePropertyList(bytes).value(), coding::Value(c.form));
    EXPECT_EQ(coding::fromPropertyList<XcodeAddonState>(bytes).value(), c.state);
  }
  for (const coding::Dictionary& bad :
       {coding::Dictionary{{"windowType", "Project"}},
        coding::Dictionary{{"windowType", "project"}}, coding::Dictionary{{"project", "/p"}},
        coding::Dictionary{{"windowType", 3}}}) {
    EXPECT_FALSE(coding::fromPropertyList<XcodeAddonState>(
        coding::encodePropertyList(coding::Value(bad)).value()));
  }
}

class XcodeCaptureTest : public AddonTest {
 protected:
  static WindowSetup windowWith(std::string title, Element e) {
    return WindowSetup::titled(std::move(title)).withUIElement(std::move(e));
  }
  XcodeAddon addon;
};

TEST_F(XcodeCaptureTest, SavesClassifiedWindowsWithTheirPositionInTheWholeList) {
  auto app = desktop.launch(
      winsys::fake::AppSetup::withId("com.apple.dt.Xcode"),
      {windowWith("Docs", element({{UIAttribute::identifier, "Documentation Viewer Window"}}))
           .asMinimized(),
       windowWith("Odd", element()), WindowSetup::titled("No element"),
       windowWith("A", withChildren(element({{UIAttribute::identifier, kWorkspace}}),
                                    {tabContent("/p/A.xcodeproj")}))
           .withFrame({10, 20, 300, 200})
           .withDocument("/p/A.xcodeproj/main.swift"),
       windowWith("Welcome", element({{UIAttribute::subrole, "AXDialog"}}))});

  const auto records = addon.captureWindows(app->knownWindows());
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].title, "A");
  EXPECT_EQ(records[0].index, 3);
  EXPECT_EQ(records[0].rect, (Rect{10, 20, 300, 200}));
  EXPECT_EQ(records[0].doc, "/p/A.xcodeproj/main.swift");
  EXPECT_EQ(coding::fromPropertyList<XcodeAddonState>(*records[0].addonState).value(),
            XcodeAddonState::project("/p/A.xcodeproj"));
  EXPECT_EQ(records[1].title, "Welcome");
  EXPECT_EQ(records[1].index, 4);
  EXPECT_EQ(coding::fromPropertyList<XcodeAddonState>(*records[1].addonState).value(),
            XcodeAddonState::welcome());
}

TEST_F(XcodeCaptureTest, ListsEachDistinctLabelOnceInFirstSeenOrder) {
  auto saved = [](std::optional<XcodeAddonState> state) {
    IWindow w;
    if (state) w.addonState = coding::toPropertyList(*state).value();
    return w;
  };
  IApp app;
  app.windows = {saved(XcodeAddonState::devices()),
                 saved(XcodeAddonState::project("/p/B.xcworkspace")),
                 saved(std::nullopt),
                 saved(XcodeAddonState::welcome()),
                 saved(XcodeAddonState::unsupported()),
                 saved(XcodeAddonState::devices()),
                 saved(XcodeAddonState::project("/q/A.xcodeproj/")),
                 saved(XcodeAddonState::project("/p/B.xcworkspace")),
                 saved(XcodeAddonState::documentation()),
                 saved(XcodeAddonState::archives()),
                 saved(XcodeAddonState::touchbar())};
  app.windows[2].addonState = base::Bytes{'n', 'o', 'p', 'e'};

  std::vector<std::string> titles;
  for (const auto& d : addon.displays(app)) {
    EXPECT_FALSE(d.image);
    titles.push_back(d.title.value_or("<none>"));
  }
  EXPECT_EQ(titles, (std::vector<std::string>{"Devices", "B.xcworkspace", "A.xcodeproj", "Docs",
                                              "Archives", "Touch Bar"}));
  EXPECT_TRUE(errorEvents().empty()) << "undecodable states are skipped without a report";
}

}  // namespace
}  // namespace wendrix::testing
