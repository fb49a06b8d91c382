#include "addons/typed_addon.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "addon_test_support.h"
#include "coding/plist.h"

namespace wendrix::testing {
namespace {

using winsys::fake::WindowSetup;

// A state that is the window's title. A title starting with "broken" gives a
// state the property-list coder refuses: its key holds the title and the
// document, and its value is null.
struct TitleState {
  std::string text;
  std::optional<std::string> doc;

  friend bool operator==(const TitleState&, const TitleState&) = default;

  coding::Value encode() const {
    if (text.starts_with("broken")) {
      return coding::Dictionary{{"key " + text + " " + doc.value_or(""), coding::Value()}};
    }
    return coding::Dictionary{{"text", text}};
  }
  static base::Result<TitleState> decode(const coding::Reader& reader) {
    coding::Fields f(reader);
    TitleState s;
    s.text = f.required<std::string>("text");
    return f.finish(std::move(s));
  }
};

// Windows titled "none…" have no state; states titled "hidden…" have no
// display.
class TitleAddon final : public TypedAddon<TitleState> {
 public:
  std::optional<TitleState> state(const winsys::Window& window) const override {
    if (window.title().starts_with("none")) return std::nullopt;
    return TitleState{window.title(), window.document()};
  }
  std::optional<AddonDisplay> display(const TitleState& state) const override {
    if (state.text.starts_with("hidden")) return std::nullopt;
    return AddonDisplay{state.text, std::nullopt};
  }
};

base::Bytes plist(const coding::Value& value) {
  return coding::encodePropertyList(value).value();
}

IWindow savedWith(std::optional<base::Bytes> state) {
  IWindow w;
  w.addonState = std::move(state);
  return w;
}

std::vector<std::string> titlesOf(const std::vector<AddonDisplay>& displays) {
  std::vector<std::string> out;
  for (const auto& d : displays)
    out.push_back(d.title.value_or("<none>"));
  return out;
}

using TypedAddonTest = AddonTest;

TEST_F(TypedAddonTest, EncodesTheStateAsABinaryPropertyListThatDecodesBackToItsDisplay) {
  TitleAddon addon;
  auto bytes = addon.encodedState(*windowOf("x", WindowSetup::titled("alpha")));
  ASSERT_TRUE(bytes);
  EXPECT_EQ(std::string(bytes->begin(), bytes->begin() + 8), "bplist00");
  EXPECT_EQ(coding::decodePropertyList(*bytes).value(),
            coding::Value(coding::Dictionary{{"text", "alpha"}}));
  auto shown = addon.decodeDisplay(*bytes);
  ASSERT_TRUE(shown);
  EXPECT_EQ(shown->title, "alpha");
  EXPECT_FALSE(shown->image);

  EXPECT_FALSE(addon.encodedState(*windowOf("x", WindowSetup::titled("none"))));
  EXPECT_TRUE(errorEvents().empty());
}

TEST_F(TypedAddonTest, AStateThatCannotBeEncodedIsReportedWithoutTitleOrDocument) {
  TitleAddon addon;
  auto window = windowOf("x", WindowSetup::titled("broken Plan").withDocument("/srv/plan.txt"));
  EXPECT_FALSE(addon.encodedState(*window));
  EXPECT_EQ(
      errorEvents(),
      (std::vector<ErrorEvent>{{"key WINDOW_TITLE WINDOW_DOC: a property list cannot hold null",
                                "typedAddon.findState_000"}}));
}

TEST_F(TypedAddonTest, DisplaysFollowWindowOrderKeepRepeatsAndReportUndecodableStates) {
  TitleAddon addon;
  IApp app;
  app.windows = {savedWith(plist(coding::Dictionary{{"text", "b"}})),
                 savedWith(std::nullopt),
                 savedWith(plist(coding::Dictionary{{"text", "a"}})),
                 savedWith(plist(coding::Dictionary{{"text", "hidden"}})),
                 savedWith(plist(coding::Dictionary{{"other", "c"}})),
                 savedWith(plist(coding::Dictionary{{"text", "b"}}))};
  EXPECT_EQ(titlesOf(addon.displays(app)), (std::vector<std::string>{"b", "a", "b"}));
  const auto errors = errorEvents();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].location, "typedAddon.stateDisplay_000");
  EXPECT_NE(errors[0].description.find("text"), std::string::npos) << errors[0].description;

  EXPECT_TRUE(addon.displays(IApp{}).empty());
}

TEST_F(TypedAddonTest, CapturesTheVisibleWindowsIndexedAmongThemselvesWithTheirStates) {
  TitleAddon addon;
  auto app = desktop.launch(winsys::fake::AppSetup::withId("x"),
                            {WindowSetup::titled("a").asMinimized(), WindowSetup::titled("none"),
                             WindowSetup::titled("c").withFrame({1, 2, 3, 4})});
  const auto records = addon.captureWindows(app->knownWindows());
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].title, "none");
  EXPECT_EQ(records[0].index, 0);
  EXPECT_FALSE(records[0].addonState);
  EXPECT_EQ(records[1].title, "c");
  EXPECT_EQ(records[1].index, 1);
  EXPECT_EQ(records[1].rect, (Rect{1, 2, 3, 4}));
  EXPECT_EQ(records[1].addonState, plist(coding::Dictionary{{"text", "c"}}));
}

TEST_F(TypedAddonTest, TheBaseRestoreSucceedsAtOnceWithNoPairs) {
  TitleAddon addon;
  std::optional<std::size_t> pairs;
  addon.restore(IApp{}, nullptr).subscribe([&](const auto& matched) { pairs = matched.size(); });
  EXPECT_EQ(pairs, 0u);
}

}  // namespace
}  // namespace wendrix::testing
