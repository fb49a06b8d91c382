#include "addons/sourcetree_addon.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "addon_test_support.h"
#include "coding/plist.h"
#include "element_trees.h"
#include "support/url_literal.h"

namespace wendrix::testing {
namespace {

using winsys::fake::WindowSetup;

std::string describe(const std::optional<SourcetreeState>& state) {
  if (!state) return "none";
  if (const base::Url* path = state->path()) return "repo " + path->absoluteString();
  return "browser";
}

TEST(SourcetreeAddonTest, TellsRepositoriesFromTheBrowserByIdentifier) {
  struct Case {
    std::optional<std::string> identifier;
    const char* expected;
  };
  const Case cases[] = {
      {"repobrowser", "browser"},
      {"repo:/home/u/src/wendrix", "repo file:///home/u/src/wendrix/"},
      {"repo:/srv/my repo/", "repo file:///srv/my%20repo/"},
      {"repository", "none"},
      {"Repo:/srv/x", "none"},
      {"", "none"},
      {std::nullopt, "none"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.identifier.value_or("<no identifier>"));
    auto e = element();
    if (c.identifier) e->set(UIAttribute::identifier, *c.identifier);
    EXPECT_EQ(describe(SourcetreeAddon::stateOfElement(e)), c.expected);
  }
  EXPECT_EQ(describe(SourcetreeAddon::stateOfElement(nullptr)), "none");
}

TEST(SourcetreeAddonTest, StatesCodeAsTheirTagAndFolderURL) {
  const auto repo = SourcetreeState::repo(url("file:///srv/wendrix/"));
  const auto repoBytes = coding::toPropertyList(repo).value();
  EXPECT_EQ(coding::decodePropertyList(repoBytes).value(),
            coding::Value(coding::Dictionary{
                {"windowType", "repo"},
                {"path", coding::Dictionary{{"relative", "file:///srv/wendrix/"}}}}));
  EXPECT_EQ(coding::fromPropertyList<SourcetreeState>(repoBytes).value(), repo);

  const auto browserBytes = coding::toPropertyList(SourcetreeState::browser()).value();
  EXPECT_EQ(coding::decodePropertyList(browserBytes).value(),
            coding::Value(coding::Dictionary{{"windowType", "browser"}}));
  EXPECT_EQ(coding::fromPropertyList<SourcetreeState>(browserBytes).value(),
            SourcetreeState::browser());

  for (const coding::Dictionary& bad :
       {coding::Dictionary{{"windowType", "repo"}},
        coding::Dictionary{{"windowType", "repo"}, {"path", 1}},
        coding::Dictionary{{"windowType", "tab"}}, coding::Dictionary{}}) {
    EXPECT_FALSE(coding::fromPropertyList<SourcetreeState>(
        coding::encodePropertyList(coding::Value(bad)).value()));
  }
}

using SourcetreeCaptureTest = AddonTest;

TEST_F(SourcetreeCaptureTest, SavesEveryVisibleWindowAndLabelsEachRepositoryWindow) {
  SourcetreeAddon addon;
  auto app = desktop.launch(
      winsys::fake::AppSetup::withId("com.torusknot.SourceTreeNotMAS"),
      {WindowSetup::titled("wendrix").withUIElement(
           element({{UIAttribute::identifier, "repo:/srv/wendrix"}})),
       WindowSetup::titled("gone").asMinimized().withUIElement(
           element({{UIAttribute::identifier, "repo:/srv/gone"}})),
       WindowSetup::titled("Browser").withUIElement(
           element({{UIAttribute::identifier, "repobrowser"}})),
       WindowSetup::titled("Prefs"),
       WindowSetup::titled("wendrix again")
           .withUIElement(element({{UIAttribute::identifier, "repo:/srv/wendrix"}}))});

  IApp saved;
  saved.windows = addon.captureWindows(app->knownWindows());
  ASSERT_EQ(saved.windows.size(), 4u);
  std::vector<std::string> states;
  for (const auto& w : saved.windows) {
    states.push_back(
        std::to_string(w.index) + " " +
        (w.addonState ? describe(coding::fromPropertyList<SourcetreeState>(*w.addonState).value())
                      : "no state"));
  }
  EXPECT_EQ(states, (std::vector<std::string>{"0 repo file:///srv/wendrix/", "1 browser",
                                              "2 no state", "3 repo file:///srv/wendrix/"}));

  std::vector<std::string> titles;
  for (const auto& d : addon.displays(saved))
    titles.push_back(d.title.value_or("<none>"));
  EXPECT_EQ(titles, (std::vector<std::string>{"wendrix", "wendrix"}));
}

}  // namespace
}  // namespace wendrix::testing
