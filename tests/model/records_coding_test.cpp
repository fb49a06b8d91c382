#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "coding/json.h"
#include "coding/plist.h"
#include "model/close_behavior.h"
#include "model/json_coders.h"
#include "model/layout.h"
#include "model/shortcut.h"
#include "support/url_literal.h"

namespace wendrix {
namespace {

using testing::url;

IWindow window(std::string title, std::int64_t index, std::optional<std::string> doc = {},
               std::optional<base::Bytes> addonState = {}) {
  return IWindow{std::move(title), Rect{10.5, -20, 800, 600.25}, index, std::move(doc),
                 std::move(addonState)};
}

// A layout using every field, and one app with every optional absent.
Layout fullLayout() {
  IApp full{"com.example.Editor",
            url("file:///usr/share/applications/Editor%20X.desktop"),
            {window("One", 0, "/home/u/a.txt", base::Bytes{0, 1, 2, 250}),
             window("Two", std::numeric_limits<std::int64_t>::min())},
            window("Main", 0, std::nullopt, base::Bytes{7})};
  IApp bare{std::nullopt, std::nullopt, {window("Bare", -1)}, std::nullopt};
  return Layout{"Work", {full, bare}, true};
}

void expectSameWindow(const IWindow& a, const IWindow& b) {
  EXPECT_EQ(a, b);
  EXPECT_EQ(a.addonState, b.addonState);  // not part of ==
}

void expectSameLayout(const Layout& a, const Layout& b) {
  EXPECT_EQ(a.name, b.name);
  EXPECT_EQ(a.alwaysCloseOtherApps, b.alwaysCloseOtherApps);
  ASSERT_EQ(a.apps.size(), b.apps.size());
  for (std::size_t i = 0; i < a.apps.size(); ++i) {
    SCOPED_TRACE("app " + std::to_string(i));
    EXPECT_EQ(a.apps[i], b.apps[i]);
    ASSERT_EQ(a.apps[i].windows.size(), b.apps[i].windows.size());
    for (std::size_t w = 0; w < a.apps[i].windows.size(); ++w) {
      expectSameWindow(a.apps[i].windows[w], b.apps[i].windows[w]);
    }
    ASSERT_EQ(a.apps[i].mainWindow.has_value(), b.apps[i].mainWindow.has_value());
    if (a.apps[i].mainWindow) expectSameWindow(*a.apps[i].mainWindow, *b.apps[i].mainWindow);
  }
}

TEST(RecordCodingTest, WindowWithoutOptionalsHasExactlyTheRequiredKeys) {
  IWindow w{"Title", Rect{1, 2, 3, 4}, 0, std::nullopt, std::nullopt};
  auto text = coding::toJson(w);
  ASSERT_TRUE(text.ok());
  EXPECT_EQ(*text, R"({"title":"Title","rect":[[1.0,2.0],[3.0,4.0]],"index":0})");
  auto back = coding::fromJson<IWindow>(*text);
  ASSERT_TRUE(back.ok()) << back.error();
  expectSameWindow(*back, w);

  auto plist = coding::decodePropertyList(*coding::toPropertyList(w));
  ASSERT_TRUE(plist.ok());
  EXPECT_EQ(*plist, coding::Value(coding::Dictionary{
                        {"title", "Title"},
                        {"rect", coding::Array{coding::Array{1.0, 2.0}, coding::Array{3.0, 4.0}}},
                        {"index", 0}}));
}

TEST(RecordCodingTest, LayoutRoundTripsThroughJsonAndBothPropertyListFormats) {
  const Layout layout = fullLayout();
  {
    SCOPED_TRACE("JSON");
    auto text = sharedJSONEncoder().encode(std::vector<Layout>{layout});
    ASSERT_TRUE(text.ok()) << text.error();
    auto back = sharedJSONDecoder().decode<std::vector<Layout>>(*text);
    ASSERT_TRUE(back.ok()) << back.error();
    ASSERT_EQ(back->size(), 1u);
    expectSameLayout((*back)[0], layout);
  }
  for (auto format : {coding::PlistFormat::binary, coding::PlistFormat::xml}) {
    SCOPED_TRACE(format == coding::PlistFormat::binary ? "binary plist" : "XML plist");
    auto bytes = coding::toPropertyList(std::vector<Layout>{layout}, format);
    ASSERT_TRUE(bytes.ok()) << bytes.error();
    auto back = coding::fromPropertyList<std::vector<Layout>>(*bytes);
    ASSERT_TRUE(back.ok()) << back.error();
    ASSERT_EQ(back->size(), 1u);
    expectSameLayout((*back)[0], layout);
  }
}

TEST(RecordCodingTest, BytesAndUrlsTakeEachFormatsForm) {
  IApp app{std::nullopt,
           url("file:///usr/share/applications/Editor%20X.desktop"),
           {window("W", 0, std::nullopt, base::Bytes{0, 1, 2, 250})},
           std::nullopt};

  auto json = coding::decodeJson(*coding::toJson(app));
  ASSERT_TRUE(json.ok());
  coding::Reader j(*json);
  EXPECT_EQ(j.at("bundleURL")->value(),
            coding::Value("file:///usr/share/applications/Editor%20X.desktop"));
  EXPECT_EQ(j.at("windows")->elements()->at(0).at("addonState")->value(),
            coding::Value("AAEC+g=="));
  EXPECT_FALSE(j.value().getIf<coding::Dictionary>()->contains("bundleId"));
  EXPECT_FALSE(j.value().getIf<coding::Dictionary>()->contains("mainWindow"));

  auto plist = coding::decodePropertyList(*coding::toPropertyList(app));
  ASSERT_TRUE(plist.ok());
  coding::Reader p(*plist);
  EXPECT_EQ(p.at("bundleURL")->value(),
            coding::Value(coding::Dictionary{
                {"relative", "file:///usr/share/applications/Editor%20X.desktop"}}));
  EXPECT_EQ(p.at("windows")->elements()->at(0).at("addonState")->value(),
            coding::Value(base::Bytes{0, 1, 2, 250}));
}

TEST(RecordCodingTest, PropertyListUrlWithBaseDecodesResolved) {
  coding::Value tree(coding::Dictionary{
      {"bundleURL",
       coding::Dictionary{{"relative", "Editor.desktop"},
                          {"base", coding::Dictionary{{"relative", "file:///usr/share/apps/"}}}}},
      {"windows", coding::Array{}}});
  auto bytes = coding::encodePropertyList(tree);
  ASSERT_TRUE(bytes.ok());
  auto app = coding::fromPropertyList<IApp>(*bytes);
  ASSERT_TRUE(app.ok()) << app.error();
  EXPECT_EQ(app->bundleURL, url("file:///usr/share/apps/Editor.desktop"));
}

TEST(RecordCodingTest, ShortcutMasksAtOrAboveTwoTo63RoundTripThroughPropertyLists) {
  AppSettingsMap settings{
      {"a.high", IAppSettings{IShortcut{45, 0x8000000000100000ull}}},
      {"b.max", IAppSettings{IShortcut{65535, std::numeric_limits<std::uint64_t>::max()}}},
      {"c.none", IAppSettings{}},
  };
  for (auto format : {coding::PlistFormat::binary, coding::PlistFormat::xml}) {
    auto back = coding::fromPropertyList<AppSettingsMap>(*coding::toPropertyList(settings, format));
    ASSERT_TRUE(back.ok()) << back.error();
    EXPECT_EQ(*back, settings);
  }
  auto json = coding::fromJson<AppSettingsMap>(*coding::toJson(settings));
  ASSERT_TRUE(json.ok()) << json.error();
  EXPECT_EQ(*json, settings);
}

TEST(RecordCodingTest, CloseBehaviorCodesAsItsString) {
  for (auto b :
       {CloseBehavior::close, CloseBehavior::quit, CloseBehavior::hide, CloseBehavior::minimize}) {
    auto text = coding::toJson(std::vector<CloseBehavior>{b});
    ASSERT_TRUE(text.ok());
    EXPECT_EQ(*text, "[\"" + std::string(toString(b)) + "\"]");
    auto back = coding::fromJson<std::vector<CloseBehavior>>(*text);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back->at(0), b);
  }
}

// Each malformed input fails the whole decoding with an error naming where.
TEST(RecordCodingTest, MalformedLayoutsFailWithThePathOfTheFault) {
  struct Case {
    const char* name;
    std::string json;
    coding::ErrorCode code;
    const char* path;
  };
  auto layoutWith = [](std::string window, std::string app = "") {
    return R"({"name":"L","apps":[{"windows":[)" + window + "]" + app + "}]}";
  };
  const std::string goodWindow = R"({"title":"T","rect":[[0,0],[1,1]],"index":0})";
  const Case cases[] = {
      {"missing apps", R"({"name":"L"})", coding::ErrorCode::keyNotFound, "<root>:"},
      {"name is a number", R"({"name":1,"apps":[]})", coding::ErrorCode::typeMismatch, "name:"},
      {"flag is 1", R"({"name":"L","apps":[],"alwaysCloseOtherApps":1})",
       coding::ErrorCode::typeMismatch, "alwaysCloseOtherApps:"},
      {"rect too short", layoutWith(R"({"title":"T","rect":[[0,0]],"index":0})"),
       coding::ErrorCode::valueNotFound, "apps[0].windows[0].rect:"},
      {"rect with text", layoutWith(R"({"title":"T","rect":[[0,"x"],[1,1]],"index":0})"),
       coding::ErrorCode::typeMismatch, "apps[0].windows[0].rect[0][1]:"},
      {"index 1.5", layoutWith(R"({"title":"T","rect":[[0,0],[1,1]],"index":1.5})"),
       coding::ErrorCode::outOfRange, "apps[0].windows[0].index:"},
      {"index beyond 64 bits",
       layoutWith(R"({"title":"T","rect":[[0,0],[1,1]],"index":9223372036854775808})"),
       coding::ErrorCode::outOfRange, "apps[0].windows[0].index:"},
      {"truncated addonState",
       layoutWith(R"({"title":"T","rect":[[0,0],[1,1]],"index":0,"addonState":"AAE"})"),
       coding::ErrorCode::dataCorrupted, "apps[0].windows[0].addonState:"},
      {"invalid URL", layoutWith(goodWindow, R"(,"bundleURL":"not a url")"),
       coding::ErrorCode::dataCorrupted, "apps[0].bundleURL:"},
      {"mainWindow without title",
       layoutWith(goodWindow, R"(,"mainWindow":{"rect":[[0,0],[1,1]],"index":0})"),
       coding::ErrorCode::keyNotFound, "apps[0].mainWindow:"},
      {"garbage", "{\"name\":\"L\",\"apps\":[", coding::ErrorCode::invalidInput, "<root>:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto layout = sharedJSONDecoder().decode<Layout>(c.json);
    ASSERT_FALSE(layout.ok());
    EXPECT_TRUE(coding::isError(layout.error(), c.code)) << layout.error();
    EXPECT_EQ(layout.error().description.rfind(c.path, 0), 0u) << layout.error();
  }

  const struct {
    const char* name;
    const char* json;
    coding::ErrorCode code;
  } settingsCases[] = {
      {"key out of range", R"({"a":{"newWindowShortcut":{"key":65536,"flagsValue":0}}})",
       coding::ErrorCode::outOfRange},
      {"negative flags", R"({"a":{"newWindowShortcut":{"key":1,"flagsValue":-1}}})",
       coding::ErrorCode::outOfRange},
      {"flags missing", R"({"a":{"newWindowShortcut":{"key":1}}})", coding::ErrorCode::keyNotFound},
  };
  for (const auto& c : settingsCases) {
    SCOPED_TRACE(c.name);
    auto settings = sharedJSONDecoder().decode<AppSettingsMap>(c.json);
    ASSERT_FALSE(settings.ok());
    EXPECT_TRUE(coding::isError(settings.error(), c.code)) << settings.error();
    EXPECT_EQ(settings.error().description.rfind("a.newWindowShortcut", 0), 0u) << settings.error();
  }

  auto behavior = coding::fromJson<CloseBehavior>("\"Quit\"");
  ASSERT_FALSE(behavior.ok());
  EXPECT_TRUE(coding::isError(behavior.error(), coding::ErrorCode::dataCorrupted));
}

// The stored list read in place gives what decoding each record of the tree
// gives, or nothing when a record of the tree does not decode.
TEST(RecordCodingTest, StoredLayoutsReadInPlaceAsFromTheTree) {
  using coding::Array;
  using coding::Dictionary;
  using coding::Value;
  const Value full = fullLayout().encode();
  auto withWindow = [](Value window) {
    return Value(Dictionary{
        {"name", "W"},
        {"apps", Array{Dictionary{{"windows", Array{std::move(window)}}, {"mainWindow", "x"}}}}});
  };
  auto window = [](Value rect, Value index) {
    return Dictionary{{"title", "T"}, {"rect", std::move(rect)}, {"index", std::move(index)}};
  };
  const Value rect = Array{Array{1, 2}, Array{3, 4}};
  auto withApp = [](Value app) {
    return Value(Dictionary{{"name", "A"}, {"apps", Array{std::move(app)}}});
  };
  auto appWithUrl = [](Value bundleURL) {
    return Dictionary{{"bundleURL", std::move(bundleURL)}, {"windows", Array{}}};
  };
  const struct {
    const char* name;
    Value list;
    bool inPlace;
  } cases[] = {
      {"every field", Array{full, Layout{"Caf\xC3\xA9 \xE2\x9C\x93", {}, std::nullopt}.encode()},
       true},
      {"no layouts", Array{}, true},
      {"other keys and whole reals",
       Array{Dictionary{
           {"name", "N"},
           {"extra", Array{1, "two"}},
           {"apps", Array{Dictionary{{"windows", Array{Dictionary{{"title", "T"},
                                                                  {"rect", Array{Array{1.5, 2, 9},
                                                                                 Array{3, 4}, 5}},
                                                                  {"index", 2.0},
                                                                  {"more", true}}}}}}}}},
       true},
      {"URL with a base",
       Array{withApp(appWithUrl(Dictionary{{"relative", "E.desktop"},
                                           {"base", Dictionary{{"relative", "file:///a/"}}}}))},
       true},
      {"index with a fraction", Array{full, withWindow(window(rect, 2.5))}, false},
      {"rect of one pair", Array{withWindow(window(Array{Array{1, 2}}, 0))}, false},
      {"rect pair of one number", Array{withWindow(window(Array{Array{1}, Array{3, 4}}, 0))},
       false},
      {"window without a title", Array{withWindow(Dictionary{{"rect", rect}, {"index", 0}})},
       false},
      {"main window that is not one", Array{withWindow(window(rect, 0))}, false},
      {"URL that is not one", Array{withApp(appWithUrl(Dictionary{{"relative", "no scheme"}}))},
       false},
      {"flag that is not one",
       Array{Dictionary{{"name", "N"}, {"apps", Array{}}, {"alwaysCloseOtherApps", 1}}}, false},
      {"not a list", full, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto bytes = coding::encodePropertyList(c.list);
    ASSERT_TRUE(bytes.ok()) << bytes.error();
    const auto inPlace = decodeStoredLayouts(*bytes);
    ASSERT_EQ(inPlace.has_value(), c.inPlace);
    auto fromTree = coding::fromPropertyList<std::vector<Layout>>(*bytes);
    ASSERT_EQ(fromTree.ok(), c.inPlace);
    if (!inPlace) continue;
    ASSERT_EQ(inPlace->size(), fromTree->size());
    for (std::size_t i = 0; i < inPlace->size(); ++i) {
      expectSameLayout((*inPlace)[i], (*fromTree)[i]);
      EXPECT_EQ((*inPlace)[i].encode(), (*fromTree)[i].encode());
    }
  }
  // XML is read from the tree only.
  auto xml = coding::encodePropertyList(Value(Array{full}), coding::PlistFormat::xml);
  ASSERT_TRUE(xml.ok());
  EXPECT_FALSE(decodeStoredLayouts(*xml));
}

TEST(RecordCodingTest, AbsentFlagAndNullOptionalsDecodeAsAbsent) {
  auto layout = sharedJSONDecoder().decode<Layout>(
      R"({"name":"L","apps":[{"bundleId":null,"windows":[],"extra":1}]})");
  ASSERT_TRUE(layout.ok()) << layout.error();
  EXPECT_FALSE(layout->alwaysCloseOtherApps.has_value());
  EXPECT_FALSE(layout->apps.at(0).bundleId.has_value());
}

TEST(AppSettingsJsonTest, DecodesTheSettingsFile) {
  EXPECT_EQ(decodeAppSettingsJSON("{}"), AppSettingsMap{});
  EXPECT_EQ(decodeAppSettingsJSON("not json"), std::nullopt);
  EXPECT_EQ(decodeAppSettingsJSON("[]"), std::nullopt);
  EXPECT_EQ(decodeAppSettingsJSON(R"({"org.example.App":{}})"),
            (AppSettingsMap{{"org.example.App", IAppSettings{}}}));

  AppSettingsMap settings{{"org.example.App", IAppSettings{IShortcut{45, kMaskCommand}}}};
  auto text = sharedJSONEncoder().encode(settings);
  ASSERT_TRUE(text.ok());
  EXPECT_EQ(*text,
            "{\n  \"org.example.App\": {\n    \"newWindowShortcut\": {\n      \"key\": 45,\n"
            "      \"flagsValue\": 1048576\n    }\n  }\n}");
  EXPECT_EQ(decodeAppSettingsJSON(*text), settings);
}

}  // namespace
}  // namespace wendrix
