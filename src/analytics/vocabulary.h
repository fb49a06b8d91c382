#pragma once

#include <array>
#include <optional>
#include <string_view>

// The usage-event vocabulary: every event name, property key, value text,
// anonymizing placeholder and error location that the program sends.
namespace wendrix {

namespace events {
inline constexpr std::string_view kError = "Error";
inline constexpr std::string_view kLayoutSaved = "Layout_Saved";
inline constexpr std::string_view kClosedApps = "Closed_Apps";
inline constexpr std::string_view kToggleAutoCloseApps = "Toggle_Auto_Close_Apps";
inline constexpr std::string_view kButtonClick = "Button_Click";
inline constexpr std::string_view kSettingChanged = "SettingChanged";
inline constexpr std::string_view kOpenEditWindow = "OpenEditWindow";
inline constexpr std::string_view kUnsupportedMultipleWindows = "UnsupportedMultipleWindows";
// Sent directly by the components that own them.
inline constexpr std::string_view kLayoutRestored = "Layout_Restored";
inline constexpr std::string_view kAppRestored = "App_Restored";
inline constexpr std::string_view kRestoredWithAddon = "Restored_With_Addon";
inline constexpr std::string_view kURLHandled = "URL_Handled";
inline constexpr std::string_view kNewFeatureHighlight = "NewFeatureHighlight";
inline constexpr std::string_view kMenuOpen = "Menu_Open";
inline constexpr std::string_view kMenuClose = "Menu_Close";
inline constexpr std::string_view kDataExported = "Data_Exported";
inline constexpr std::string_view kDataImported = "Data_Imported";
}  // namespace events

namespace keys {
inline constexpr std::string_view kErrorDescription = "ErrorDescription";      // string
inline constexpr std::string_view kErrorLocation = "ErrorLocation";            // string
inline constexpr std::string_view kTimeInSec = "TimeInSec";                    // double
inline constexpr std::string_view kNumberOfAppsClosed = "NumberOfAppsClosed";  // int64
inline constexpr std::string_view kCloseAppsSource = "CloseAppsSource";        // string
inline constexpr std::string_view kSettingsValue = "SettingsValue";            // bool
inline constexpr std::string_view kButtonName = "ButtonName";                  // string
inline constexpr std::string_view kButtonSource = "ButtonSource";              // string
inline constexpr std::string_view kSettingsName = "SettingsName";              // string
inline constexpr std::string_view kSource = "Source";                          // string
inline constexpr std::string_view kAppName = "AppName";                        // string
inline constexpr std::string_view kWindowType = "WindowType";                  // string
inline constexpr std::string_view kTotalApps = "TotalApps";                    // int64
inline constexpr std::string_view kSuccessApps = "SuccessApps";                // int64
inline constexpr std::string_view kTimeoutApps = "TimeoutApps";                // int64
inline constexpr std::string_view kErrorApps = "ErrorApps";                    // int64
inline constexpr std::string_view kExpected = "Expected";                      // int64
inline constexpr std::string_view kActual = "Actual";                          // int64
inline constexpr std::string_view kOpened = "Opened";                          // int64
inline constexpr std::string_view kFeatureName = "FeatureName";                // string
inline constexpr std::string_view kTimeClosedInSec = "TimeClosedInSec";        // double
inline constexpr std::string_view kTimeOpenInSec = "TimeOpenInSec";            // double
}  // namespace keys

namespace values {
// CloseAppsSource of "Closed_Apps".
inline constexpr std::string_view kCloseLayoutApps = "CloseLayoutApps";
inline constexpr std::string_view kCloseOtherApps = "CloseOtherApps";
inline constexpr std::string_view kAutoClose = "AutoClose";
// FeatureName of "NewFeatureHighlight".
inline constexpr std::string_view kEditLayoutsWindow = "EditLayoutsWindow";
// ErrorDescription of the "Error" sent when a restore opened too many windows.
inline constexpr std::string_view kTooManyWindowsRestored = "Too many windows restored";
}  // namespace values

namespace placeholders {
inline constexpr std::string_view kAppName = "APP_NAME";
inline constexpr std::string_view kAppBundleId = "APP_BUNDLE_ID";
inline constexpr std::string_view kAppBundleURL = "APP_BUNDLE_URL";
inline constexpr std::string_view kLayoutName = "LAYOUT_NAME";
inline constexpr std::string_view kWindowTitle = "WINDOW_TITLE";
inline constexpr std::string_view kWindowDoc = "WINDOW_DOC";
inline constexpr std::string_view kLayoutNewName = "LAYOUT_NEW_NAME";
inline constexpr std::string_view kEncodedValue = "ENCODED_VALUE";
inline constexpr std::string_view kName = "NAME";
}  // namespace placeholders

// The catching sites that report errors: area.operation_NNN. Unique per site,
// except that typed setting storages of every value type share kStorageEncodeValue000.
namespace error_location {
inline constexpr std::string_view kSplitFishbowlSetup000 = "split.fishbowlSetup_000";
inline constexpr std::string_view kSplitRename000 = "split.rename_000";
inline constexpr std::string_view kListLayoutsReceived000 = "list.layoutsReceived_000";
inline constexpr std::string_view kDetailsOpenApps000 = "details.openApps_000";
inline constexpr std::string_view kDetailsRestoreLayout000 = "details.restoreLayout_000";
inline constexpr std::string_view kDetailsRestoreApps000 = "details.restoreApps_000";
inline constexpr std::string_view kDetailsCloseApps000 = "details.closeApps_000";
inline constexpr std::string_view kDetailsRename000 = "details.rename_000";
inline constexpr std::string_view kDetailsCloseOtherApps000 = "details.closeOtherApps_000";
inline constexpr std::string_view kPrefsCloseBehavior000 = "prefs.closeBehavior_000";
inline constexpr std::string_view kPrefsExport000 = "prefs.export_000";
inline constexpr std::string_view kPrefsImport000 = "prefs.import_000";
inline constexpr std::string_view kPrefsExport001 = "prefs.export_001";
inline constexpr std::string_view kMenuHighlightEditWindow001 = "menu.highlightEditWindow_001";
inline constexpr std::string_view kMenuSaveLayout000 = "menu.saveLayout_000";
inline constexpr std::string_view kMenuRestoreLayout000 = "menu.restoreLayout_000";
inline constexpr std::string_view kMenuHighlightHideMenuItem000 = "menu.highlightHideMenuItem_000";
inline constexpr std::string_view kMenuRestoreLayout001 = "menu.restoreLayout_001";
inline constexpr std::string_view kMenuHideLayout000 = "menu.hideLayout_000";
inline constexpr std::string_view kLegacymenuRestoreApp000 = "legacymenu.restoreApp_000";
inline constexpr std::string_view kLegacymenuCloseApps000 = "legacymenu.closeApps_000";
inline constexpr std::string_view kLegacymenuAddWindows000 = "legacymenu.addWindows_000";
inline constexpr std::string_view kAppdelegateMenuUpdater000 = "appdelegate.menuUpdater_000";
inline constexpr std::string_view kAppdelegateButtonIcon000 = "appdelegate.buttonIcon_000";
inline constexpr std::string_view kUrlhandlerHandleURL000 = "urlhandler.handleURL_000";
inline constexpr std::string_view kUrlhandlerSave000 = "urlhandler.save_000";
inline constexpr std::string_view kUrlhandlerRestore000 = "urlhandler.restore_000";
inline constexpr std::string_view kUrlhandlerClose000 = "urlhandler.close_000";
inline constexpr std::string_view kActionsRestoreApp000 = "actions.restoreApp_000";
inline constexpr std::string_view kActionsRestoreWindow000 = "actions.restoreWindow_000";
inline constexpr std::string_view kActionsUpdateMinimized000 = "actions.updateMinimized_000";
inline constexpr std::string_view kActionsCloseApps000 = "actions.closeApps_000";
inline constexpr std::string_view kTypedAddonFindState000 = "typedAddon.findState_000";
inline constexpr std::string_view kTypedAddonStateDisplay000 = "typedAddon.stateDisplay_000";
inline constexpr std::string_view kStorageEncodeValue000 = "storage.encodeValue_000";
inline constexpr std::string_view kStorageDecodeValue000 = "storage.decodeValue_000";
// A stored value that did not decode was kept under a backup key before a
// write replaced it (or could not be kept, and the write was skipped).
inline constexpr std::string_view kStorageBackupValue000 = "storage.backupValue_000";

inline constexpr std::array kAll = {
    kSplitFishbowlSetup000,
    kSplitRename000,
    kListLayoutsReceived000,
    kDetailsOpenApps000,
    kDetailsRestoreLayout000,
    kDetailsRestoreApps000,
    kDetailsCloseApps000,
    kDetailsRename000,
    kDetailsCloseOtherApps000,
    kPrefsCloseBehavior000,
    kPrefsExport000,
    kPrefsImport000,
    kPrefsExport001,
    kMenuHighlightEditWindow001,
    kMenuSaveLayout000,
    kMenuRestoreLayout000,
    kMenuHighlightHideMenuItem000,
    kMenuRestoreLayout001,
    kMenuHideLayout000,
    kLegacymenuRestoreApp000,
    kLegacymenuCloseApps000,
    kLegacymenuAddWindows000,
    kAppdelegateMenuUpdater000,
    kAppdelegateButtonIcon000,
    kUrlhandlerHandleURL000,
    kUrlhandlerSave000,
    kUrlhandlerRestore000,
    kUrlhandlerClose000,
    kActionsRestoreApp000,
    kActionsRestoreWindow000,
    kActionsUpdateMinimized000,
    kActionsCloseApps000,
    kTypedAddonFindState000,
    kTypedAddonStateDisplay000,
    kStorageEncodeValue000,
    kStorageDecodeValue000,
    kStorageBackupValue000,
};
}  // namespace error_location

// Values sent as property ButtonName.
enum class ButtonName {
  mainMenu,
  saveLayout,
  saveQuick,
  customize,
  promptAccessibility,
  layoutRestore,
  layoutRename,
  layoutDelete,
  layoutAdd,
  layoutEdit,
  layoutHide,
  appRestore,
  appDelete,
  preferences,
  about,
  quit,
  autoClose,
  closeLayoutApps,
  closeOtherApps,
  exportLayouts,
  importLayouts,
};

// Values sent as property ButtonSource. `menu` is sent as "MainMenu".
enum class ButtonClickSource { menu, mainWindow, button, rightClick, other };

// Values sent as property SettingsName.
enum class SettingsName { autoUpdate, launchAtLogin, sendAnalytics };

// Values sent as property Source of "OpenEditWindow".
enum class EditWindowSource { editMenuItem, layoutEditMenuItem };

std::string_view text(ButtonName value);
std::string_view text(ButtonClickSource value);
std::string_view text(SettingsName value);
std::string_view text(EditWindowSource value);

// The case whose text is `text`; none for any other text.
template <class E>
std::optional<E> fromText(std::string_view text);

template <>
std::optional<ButtonName> fromText<ButtonName>(std::string_view text);
template <>
std::optional<ButtonClickSource> fromText<ButtonClickSource>(std::string_view text);
template <>
std::optional<SettingsName> fromText<SettingsName>(std::string_view text);
template <>
std::optional<EditWindowSource> fromText<EditWindowSource>(std::string_view text);

}  // namespace wendrix
