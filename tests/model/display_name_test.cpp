#include "model/display_name.h"
#include "url_literal.h"

#include <gtest/gtest.h>

#include "platform/bundle/fake/fake_bundle_provider.h"

namespace wendrix {
namespace {

using platform::Bundle;
using platform::FakeBundleProvider;

using testing::url;

TEST(AppDisplayNameTest, EachBranch) {
  FakeBundleProvider bundles;
  const base::Url editorUrl = url("file:///usr/share/applications/org.example.Editor.desktop");
  bundles.add(FakeBundleProvider::makeBundle(editorUrl, "org.example.Editor", "Editor"));

  Bundle onlyExecutable = FakeBundleProvider::makeBundle(url("file:///opt/tool.desktop"),
                                                         "org.example.Tool", std::nullopt);
  onlyExecutable.info.set("CFBundleName", 42);  // not a string: ignored
  onlyExecutable.info.set("CFBundleExecutable", "tool");
  bundles.add(onlyExecutable);

  bundles.add(FakeBundleProvider::makeBundle(url("file:///opt/nameless.desktop"),
                                             "org.example.Nameless", std::nullopt));
  // A program's file, named only by its executable; its desktop entry has the name.
  Bundle program = FakeBundleProvider::makeBundle(url("file:///usr/bin/featherpad"),
                                                  "org.example.Pad", std::nullopt);
  program.info.set("CFBundleExecutable", "featherpad");
  bundles.add(program);
  bundles.add(FakeBundleProvider::makeBundle(url("file:///usr/share/applications/pad.desktop"),
                                             "org.example.PadEntry", "FeatherPad"));
  bundles.add(
      FakeBundleProvider::makeBundle(url("file:///opt/empty.desktop"), "org.example.Empty", ""));

  struct Case {
    const char* name;
    std::optional<base::Url> bundleURL;
    std::optional<std::string> bundleId;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"nothing given", std::nullopt, std::nullopt, std::nullopt},
      {"unknown id alone", std::nullopt, "org.example.Missing", "org.example.Missing"},
      {"bundle at URL wins over id", editorUrl, "org.example.Tool", "Editor"},
      {"executable when the name is not a string", std::nullopt, "org.example.Tool", "tool"},
      {"found bundle without names", url("file:///opt/nameless.desktop"), std::nullopt,
       std::nullopt},
      {"no bundle at URL, found by id", url("file:///nowhere/x.desktop"), "org.example.Editor",
       "Editor"},
      {"no bundle: last path component, decoded", url("file:///Applications/My%20App.app/"),
       "org.example.Missing", "My App.app"},
      {"no bundle, empty component: the id", url("http://example.com"), "org.example.Missing",
       "org.example.Missing"},
      {"no bundle, no id: the component", url("file:///opt/thing.desktop"), std::nullopt,
       "thing.desktop"},
      {"the entry's name over the program's executable", url("file:///usr/bin/featherpad"),
       "org.example.PadEntry", "FeatherPad"},
      {"an empty name names nothing", url("file:///opt/empty.desktop"), "org.example.Tool", "tool"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(appDisplayName(bundles, c.bundleURL, c.bundleId), c.expected);
  }

  IApp app{"org.example.Editor", std::nullopt, {}, std::nullopt};
  EXPECT_EQ(appDisplayName(bundles, app), std::optional<std::string>("Editor"));
}

}  // namespace
}  // namespace wendrix
