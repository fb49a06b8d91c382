#include "analytics/anonymizing.h"

#include <gtest/gtest.h>

#include "analytics/record_replacements.h"
#include "platform/bundle/fake/fake_bundle_provider.h"

#include <string>
#include <vector>

namespace wendrix {
namespace {

using R = AnonymizingReplacements;

TEST(AnonymizeTest, AppliesPairsInListOrder) {
  struct Case {
    const char* label;
    std::string text;
    R pairs;
    std::string expected;
  };
  const Case cases[] = {
      {"every occurrence, case-sensitive", "Code and Code but not code", R{{"Code", "APP_NAME"}},
       "APP_NAME and APP_NAME but not code"},
      {"empty list", "Editor failed", R{}, "Editor failed"},
      {"absent value skipped, later pairs still act", "Editor at /x failed",
       R{{std::nullopt, "APP_BUNDLE_URL"}, {"Editor", "APP_NAME"}}, "APP_NAME at /x failed"},
      {"empty value replaces nothing", "Editor failed",
       R{{"", "APP_BUNDLE_ID"}, {"Editor", "APP_NAME"}}, "APP_NAME failed"},
      // The earlier value contains the later one: the later one is no longer found.
      {"containing value first", "Visual Code crashed",
       R{{"Visual Code", "APP_NAME"}, {"Code", "NAME"}}, "APP_NAME crashed"},
      // The earlier value sits inside the later one: the later one no longer matches.
      {"contained value first", "org.example.Code (Code)",
       R{{"Code", "APP_NAME"}, {"org.example.Code", "APP_BUNDLE_ID"}},
       "org.example.APP_NAME (APP_NAME)"},
      {"placeholder containing the value is not searched again", "NAME", R{{"NAME", "LAYOUT_NAME"}},
       "LAYOUT_NAME"},
      {"adjacent occurrences", "aaaa", R{{"aa", "X"}}, "XX"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(anonymize(c.text, c.pairs), c.expected) << c.label;
}

TEST(AnonymizingReplacementsTest, AppsAndLayoutsGiveTheirPairsInOrder) {
  const AppIdentity editor{"Editor", "org.example.edit",
                           "file:///usr/share/applications/e.desktop"};
  const AppIdentity noUrl{"Term", "org.example.term", std::nullopt};

  EXPECT_EQ(anonymizingReplacementsForApps(std::vector<AppIdentity>{}), R{});
  EXPECT_EQ(anonymizingReplacementsForApps(std::vector{editor, noUrl}),
            (R{{"Editor", "APP_NAME"},
               {"org.example.edit", "APP_BUNDLE_ID"},
               {"file:///usr/share/applications/e.desktop", "APP_BUNDLE_URL"},
               {"Term", "APP_NAME"},
               {"org.example.term", "APP_BUNDLE_ID"},
               {std::nullopt, "APP_BUNDLE_URL"}}));

  const std::vector<LayoutIdentity> layouts{{"Work", {editor}}, {"Home", {noUrl}}};
  const R pairs = anonymizingReplacementsForLayouts(layouts);
  ASSERT_EQ(pairs.size(), 8u);
  EXPECT_EQ(pairs[0], (AnonymizingReplacement{"Work", "LAYOUT_NAME"}));
  EXPECT_EQ(pairs[1].placeholder, "APP_NAME");
  EXPECT_EQ(pairs[4], (AnonymizingReplacement{"Home", "LAYOUT_NAME"}));
  EXPECT_EQ(pairs[7], (AnonymizingReplacement{std::nullopt, "APP_BUNDLE_URL"}));

  EXPECT_EQ(anonymize("Work: Editor (org.example.edit) and Term twice: Term", pairs),
            "LAYOUT_NAME: APP_NAME (APP_BUNDLE_ID) and APP_NAME twice: APP_NAME");
}

TEST(AnonymizingReplacementsTest, EmptyBundleIdNeverLoops) {
  const AppIdentity blank{"", "", ""};
  EXPECT_EQ(anonymize("nothing to hide", anonymizingReplacements(blank)), "nothing to hide");
}

// Saved records give their pairs through their display names: the bundle's
// name when one is installed, else the URL's last component, else the id.
TEST(AnonymizingReplacementsTest, SavedLayoutsGiveTheirAppsPairs) {
  platform::FakeBundleProvider bundles;
  const auto editorUrl = *base::Url::parse("file:///usr/share/applications/e.desktop");
  bundles.add(platform::FakeBundleProvider::makeBundle(editorUrl, "org.example.edit", "Editor"));
  const auto toolUrl = *base::Url::parse("file:///opt/Tool%20Box.desktop");

  const IApp editor{"org.example.edit", editorUrl, {}, std::nullopt};
  const IApp term{"org.example.term", std::nullopt, {}, std::nullopt};
  const IApp tool{std::nullopt, toolUrl, {}, std::nullopt};
  const std::vector<Layout> layouts{{"Work", {editor, term}, std::nullopt},
                                    {"Home", {tool}, std::nullopt}};

  EXPECT_EQ(anonymizingReplacementsForLayouts(layouts, bundles),
            (R{{"Work", "LAYOUT_NAME"},
               {"Editor", "APP_NAME"},
               {"org.example.edit", "APP_BUNDLE_ID"},
               {"file:///usr/share/applications/e.desktop", "APP_BUNDLE_URL"},
               {"org.example.term", "APP_NAME"},
               {"org.example.term", "APP_BUNDLE_ID"},
               {std::nullopt, "APP_BUNDLE_URL"},
               {"Home", "LAYOUT_NAME"},
               {"Tool Box.desktop", "APP_NAME"},
               {std::nullopt, "APP_BUNDLE_ID"},
               {"file:///opt/Tool%20Box.desktop", "APP_BUNDLE_URL"}}));
  EXPECT_EQ(anonymizingReplacementsForApps(std::vector<IApp>{}, bundles), R{});
  EXPECT_EQ(anonymize("Editor lost Editor's window",
                      anonymizingReplacementsForApps(std::vector{editor}, bundles)),
            "APP_NAME lost APP_NAME's window");
  EXPECT_EQ(anonymizingReplacements(tool, bundles)[0],
            (AnonymizingReplacement{"Tool Box.desktop", "APP_NAME"}));
}

}  // namespace
}  // namespace wendrix
