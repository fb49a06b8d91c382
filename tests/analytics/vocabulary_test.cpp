#include "analytics/vocabulary.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

namespace wendrix {
namespace {

// Every case of an enumeration, in order: the cases are numbered from 0 and
// each has a text, so the walk ends at the first number without one.
template <class E>
std::vector<E> allCases() {
  std::vector<E> cases;
  for (int i = 0; !text(static_cast<E>(i)).empty(); ++i)
    cases.push_back(static_cast<E>(i));
  return cases;
}

// Each case has its own UpperCamelCase text, and the text reads back as the
// case. `last` is the enumeration's last case: the walk must reach it, so no
// case before it lacks a text.
template <class E>
void expectWellFormedTexts(E last) {
  const std::regex upperCamel("[A-Z][A-Za-z]*");
  const std::vector<E> cases = allCases<E>();
  ASSERT_FALSE(cases.empty());
  EXPECT_EQ(cases.back(), last) << "a case before the last has no text";
  std::set<std::string_view> seen;
  for (const E value : cases) {
    const std::string_view name = text(value);
    SCOPED_TRACE(std::string(name));
    EXPECT_TRUE(std::regex_match(std::string(name), upperCamel));
    EXPECT_TRUE(seen.insert(name).second) << "two cases share the text";
    EXPECT_EQ(fromText<E>(name), value);
  }
}

TEST(VocabularyTest, EveryCaseHasItsOwnTextThatReadsBack) {
  expectWellFormedTexts(ButtonName::importLayouts);
  expectWellFormedTexts(ButtonClickSource::other);
  expectWellFormedTexts(SettingsName::sendAnalytics);
  expectWellFormedTexts(EditWindowSource::layoutEditMenuItem);
}

TEST(VocabularyTest, TheMenuSourceIsSentAsMainMenu) {
  // The one text that is not the case's name.
  EXPECT_EQ(text(ButtonClickSource::menu), "MainMenu");
  EXPECT_EQ(text(ButtonName::mainMenu), "MainMenu");
}

TEST(VocabularyTest, UnknownTextsGiveNoCase) {
  EXPECT_EQ(fromText<ButtonClickSource>("Menu"), std::nullopt);
  EXPECT_EQ(fromText<ButtonName>("mainMenu"), std::nullopt);
  EXPECT_EQ(fromText<SettingsName>(""), std::nullopt);
  EXPECT_EQ(fromText<EditWindowSource>("EditMenuItem "), std::nullopt);
}

TEST(VocabularyTest, ErrorLocationsAreWellFormedAndUnique) {
  const std::regex form(R"([a-z][A-Za-z]*\.[a-z][A-Za-z]*_[0-9]{3})");
  std::set<std::string_view> seen;
  for (const auto location : error_location::kAll) {
    EXPECT_TRUE(std::regex_match(std::string(location), form)) << location;
    EXPECT_TRUE(seen.insert(location).second) << "duplicate " << location;
  }
  EXPECT_EQ(seen.size(), 37u);
}

}  // namespace
}  // namespace wendrix
