#include "analytics/vocabulary.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

namespace wendrix {
namespace {

template <class E>
void expectTexts(std::initializer_list<std::pair<E, const char*>> table) {
  for (const auto& [value, expected] : table) {
    EXPECT_EQ(text(value), expected);
    EXPECT_EQ(fromText<E>(expected), value) << expected;
  }
}

TEST(VocabularyTest, EnumerationTextsRoundTrip) {
  expectTexts<ButtonName>({{ButtonName::mainMenu, "MainMenu"},
                           {ButtonName::saveLayout, "SaveLayout"},
                           {ButtonName::saveQuick, "SaveQuick"},
                           {ButtonName::customize, "Customize"},
                           {ButtonName::promptAccessibility, "PromptAccessibility"},
                           {ButtonName::layoutRestore, "LayoutRestore"},
                           {ButtonName::layoutRename, "LayoutRename"},
                           {ButtonName::layoutDelete, "LayoutDelete"},
                           {ButtonName::layoutAdd, "LayoutAdd"},
                           {ButtonName::layoutEdit, "LayoutEdit"},
                           {ButtonName::layoutHide, "LayoutHide"},
                           {ButtonName::appRestore, "AppRestore"},
                           {ButtonName::appDelete, "AppDelete"},
                           {ButtonName::preferences, "Preferences"},
                           {ButtonName::about, "About"},
                           {ButtonName::quit, "Quit"},
                           {ButtonName::autoClose, "AutoClose"},
                           {ButtonName::closeLayoutApps, "CloseLayoutApps"},
                           {ButtonName::closeOtherApps, "CloseOtherApps"},
                           {ButtonName::exportLayouts, "ExportLayouts"},
                           {ButtonName::importLayouts, "ImportLayouts"}});
  expectTexts<ButtonClickSource>({{ButtonClickSource::menu, "MainMenu"},
                                  {ButtonClickSource::mainWindow, "MainWindow"},
                                  {ButtonClickSource::button, "Button"},
                                  {ButtonClickSource::rightClick, "RightClick"},
                                  {ButtonClickSource::other, "Other"}});
  expectTexts<SettingsName>({{SettingsName::autoUpdate, "AutoUpdate"},
                             {SettingsName::launchAtLogin, "LaunchAtLogin"},
                             {SettingsName::sendAnalytics, "SendAnalytics"}});
  expectTexts<EditWindowSource>({{EditWindowSource::editMenuItem, "EditMenuItem"},
                                 {EditWindowSource::layoutEditMenuItem, "LayoutEditMenuItem"}});
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
