#include "engine/display_matching.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "dispatch/manual_queue.h"
#include "winsys/fake/fake_desktop.h"

namespace wendrix {
namespace {

// A live window: a name to tell it apart and its document.
struct Live {
  std::string name;
  std::optional<std::string> doc;
};

// Saved windows are told apart by their titles.
IWindow saved(std::string title, std::optional<std::string> doc = std::nullopt) {
  IWindow window;
  window.title = std::move(title);
  window.doc = std::move(doc);
  return window;
}

using Pairs = std::vector<std::pair<std::string, std::string>>;

// (live name, saved title) of each pair, in result order.
Pairs match(const std::vector<IWindow>& savedWindows, const std::vector<Live>& live) {
  const auto matched =
      DisplayMatching::match(savedWindows, live, [](const Live& w) { return w.doc; });
  Pairs pairs;
  for (const auto& m : matched)
    pairs.emplace_back(m.window.name, m.target.title);
  return pairs;
}

const std::string kComposed = "Caf\u00e9.txt";     // é as one scalar
const std::string kDecomposed = "Cafe\u0301.txt";  // e and a combining accent

struct MatchCase {
  const char* name;
  std::vector<IWindow> saved;
  std::vector<Live> live;
  Pairs expected;
};

class DisplayMatchingCases : public ::testing::TestWithParam<MatchCase> {};

TEST_P(DisplayMatchingCases, PairsByDocumentThenByPosition) {
  EXPECT_EQ(match(GetParam().saved, GetParam().live), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DisplayMatchingCases,
    ::testing::Values(MatchCase{"DocumentsFirstThenPosition",
                                {saved("A", "a"), saved("B", "b"), saved("C", "c")},
                                {{"c", "c"}, {"x", "x"}, {"a", "a"}},
                                {{"a", "A"}, {"c", "C"}, {"x", "B"}}},
                      // Missing keys end in reverse input order on both sides, so the
                      // last live window takes the last saved one.
                      MatchCase{"NoDocumentsPairFromTheEnd",
                                {saved("S0"), saved("S1"), saved("S2")},
                                {{"L0", {}}, {"L1", {}}},
                                {{"L1", "S2"}, {"L0", "S1"}}},
                      MatchCase{"ExtraLiveWindowsStayUnpaired",
                                {saved("S0")},
                                {{"L0", {}}, {"L1", {}}, {"L2", {}}},
                                {{"L2", "S0"}}},
                      MatchCase{"ExtraLiveWindowWithADocumentStaysUnpaired",
                                {saved("A", "a")},
                                {{"z", "z"}, {"a", "a"}, {"n", {}}},
                                {{"a", "A"}}},
                      MatchCase{"WindowsWithoutDocumentsTakeWhatIsLeft",
                                {saved("A", "a"), saved("B"), saved("C")},
                                {{"x", {}}, {"y", "a"}, {"z", {}}},
                                {{"y", "A"}, {"z", "C"}, {"x", "B"}}},
                      MatchCase{"DocumentsCompareInComposedForm",
                                {saved("S", kDecomposed)},
                                {{"other", "Aaa"}, {"cafe", kComposed}},
                                {{"cafe", "S"}}},
                      // In composed form "é" (U+00E9) sorts after "f"; decomposed bytes
                      // would put it first and swap the positional pairs.
                      MatchCase{"PositionalOrderFollowsComposedForm",
                                {saved("F", "f"), saved("E", "e\u0301")},
                                {{"m", {}}, {"n", {}}},
                                {{"n", "F"}, {"m", "E"}}},
                      MatchCase{"NoSavedWindows", {}, {{"a", "a"}, {"b", {}}}, {}},
                      MatchCase{"NoLiveWindows", {saved("A", "a"), saved("B")}, {}, {}}),
    [](const ::testing::TestParamInfo<MatchCase>& tested) { return tested.param.name; });

TEST(DisplayMatchingTest, SavedWindowsSharingADocumentEachTakeOneLiveWindow) {
  const std::vector<IWindow> savedWindows = {saved("T1", "d"), saved("T2", "d"), saved("T3")};

  // Which of the equal saved windows a live one gets is not fixed; each is
  // taken once.
  const auto two = match(savedWindows, {{"L1", "d"}, {"L2", "d"}});
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0].first, "L2");
  EXPECT_EQ(two[1].first, "L1");
  EXPECT_EQ((std::set<std::string>{two[0].second, two[1].second}),
            (std::set<std::string>{"T1", "T2"}));

  // A third live window with that document finds none left and takes the
  // window without a document by position.
  const auto three = match(savedWindows, {{"L1", "d"}, {"L2", "d"}, {"L3", "d"}});
  ASSERT_EQ(three.size(), 3u);
  EXPECT_EQ((std::set<std::string>{three[0].second, three[1].second}),
            (std::set<std::string>{"T1", "T2"}));
  EXPECT_EQ(three[2], std::make_pair(std::string("L1"), std::string("T3")));
}

TEST(DisplayMatchingTest, KeyOrder) {
  using Key = DisplayMatching::Key;
  struct Case {
    Key a;
    Key b;
    int expected;  // sign
  };
  const Case cases[] = {
      {"a", "b", -1},
      {"ab", "a", 1},           // a proper prefix first
      {"a", std::nullopt, -1},  // a missing key last
      {std::nullopt, "a", 1},
      {std::nullopt, std::nullopt, 0},
      {kComposed, kDecomposed, 0},   // canonically equal
      {"z", "\u00e9", -1},           // by scalar value
      {"\uff5e", "\U0001f600", -1},  // by scalar value, not by UTF-16 unit
  };
  for (const auto& c : cases) {
    const int result = DisplayMatching::compareKeys(c.a, c.b);
    EXPECT_EQ((result > 0) - (result < 0), c.expected)
        << c.a.value_or("<none>") << " vs " << c.b.value_or("<none>");
  }
}

TEST(DisplayMatchingTest, WindowSystemWindowsPairByTheirDocuments) {
  dispatch::ManualQueue queue;
  winsys::fake::FakeDesktop desktop{queue};
  auto app = desktop.launch(winsys::fake::AppSetup::withId("org.example.Editor"),
                            {winsys::fake::WindowSetup::titled("untitled"),
                             winsys::fake::WindowSetup::titled("notes").withDocument("/n.txt")});

  const auto pairs = DisplayMatching::match({saved("S1"), saved("S2", "/n.txt")},
                                            app->knownWindows(), DisplayMatching::documentKey);
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_EQ(pairs[0].window->title(), "notes");
  EXPECT_EQ(pairs[0].target.title, "S2");
  EXPECT_EQ(pairs[1].window->title(), "untitled");
  EXPECT_EQ(pairs[1].target.title, "S1");
}

TEST(DisplayMatchingTest, InvalidUtf8IsReplacedNotKept) {
  EXPECT_EQ(DisplayMatching::normalized("a\xff\xc3"), "a\uFFFD\uFFFD");
}

}  // namespace
}  // namespace wendrix
