#include "analytics/vocabulary.h"

#include <utility>

namespace wendrix {
namespace {

template <class E>
using Table = std::pair<E, std::string_view>;

constexpr Table<ButtonName> kButtonNames[] = {
    {ButtonName::mainMenu, "MainMenu"},
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
    {ButtonName::importLayouts, "ImportLayouts"},
};

constexpr Table<ButtonClickSource> kButtonClickSources[] = {
    {ButtonClickSource::menu, "MainMenu"}, {ButtonClickSource::mainWindow, "MainWindow"},
    {ButtonClickSource::button, "Button"}, {ButtonClickSource::rightClick, "RightClick"},
    {ButtonClickSource::other, "Other"},
};

constexpr Table<SettingsName> kSettingsNames[] = {
    {SettingsName::autoUpdate, "AutoUpdate"},
    {SettingsName::launchAtLogin, "LaunchAtLogin"},
    {SettingsName::sendAnalytics, "SendAnalytics"},
};

constexpr Table<EditWindowSource> kEditWindowSources[] = {
    {EditWindowSource::editMenuItem, "EditMenuItem"},
    {EditWindowSource::layoutEditMenuItem, "LayoutEditMenuItem"},
};

template <class E, std::size_t N>
std::string_view lookupText(const Table<E> (&table)[N], E value) {
  for (const auto& [e, t] : table)
    if (e == value) return t;
  return {};
}

template <class E, std::size_t N>
std::optional<E> lookupCase(const Table<E> (&table)[N], std::string_view text) {
  for (const auto& [e, t] : table)
    if (t == text) return e;
  return std::nullopt;
}

}  // namespace

std::string_view text(ButtonName value) {
  return lookupText(kButtonNames, value);
}
std::string_view text(ButtonClickSource value) {
  return lookupText(kButtonClickSources, value);
}
std::string_view text(SettingsName value) {
  return lookupText(kSettingsNames, value);
}
std::string_view text(EditWindowSource value) {
  return lookupText(kEditWindowSources, value);
}

template <>
std::optional<ButtonName> fromText<ButtonName>(std::string_view text) {
  return lookupCase(kButtonNames, text);
}
template <>
std::optional<ButtonClickSource> fromText<ButtonClickSource>(std::string_view text) {
  return lookupCase(kButtonClickSources, text);
}
template <>
std::optional<SettingsName> fromText<SettingsName>(std::string_view text) {
  return lookupCase(kSettingsNames, text);
}
template <>
std::optional<EditWindowSource> fromText<EditWindowSource>(std::string_view text) {
  return lookupCase(kEditWindowSources, text);
}

}  // namespace wendrix
