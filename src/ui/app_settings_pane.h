#pragma once

// The lower part of the preferences tab: the applications that have their own
// settings, each with the keystroke that opens a new window of it, and the
// commands that add, clear, remove, export and import them.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "model/app.h"
#include "model/shortcut.h"
#include "rx/disposable.h"
#include "toolkit/controls.h"
#include "toolkit/menu.h"
#include "toolkit/outline_view.h"
#include "toolkit/popover.h"
#include "ui/customization_context.h"
#include "ui/row_views.h"

namespace platform {
class BundleProvider;
}  // namespace platform

namespace wendrix {

// The modifier bits a recorded chord keeps: command, option, shift,
// control, function, numeric pad, caps lock and help.
inline constexpr std::uint64_t kRecordedModifierMask =
    0x100000 | 0x80000 | 0x20000 | 0x40000 | 0x800000 | 0x400000 | 0x10000 | 0x200000;

// The shortcut stored for what a recorder holds (none for a cleared one).
std::optional<IShortcut> shortcutForChord(const std::optional<toolkit::KeyChord>& chord);
// What a recorder shows for a stored shortcut.
std::optional<toolkit::KeyChord> chordForShortcut(const std::optional<IShortcut>& shortcut);

// The shortcut a newly added application gets: command-N.
inline constexpr IShortcut kDefaultNewWindowShortcut{45, 0x100000};

// The commands of the edit control, in segment order.
enum class AppSettingsSegment : std::size_t {
  exportSettings = 0,
  importSettings = 1,
  remove = 2,
  add = 3
};

// What the add-application menu offers: running applications first, then
// those of saved layouts that do not run; neither holds an application
// without bundle id, one already configured, or the program itself. Each
// list is sorted by display name.
struct AddAppMenuSections {
  std::vector<IApp> open;
  std::vector<IApp> saved;
  bool empty() const { return open.empty() && saved.empty(); }
};

// Sorts `apps` by display name (the bundle id without one), equal names by
// bundle id.
void sortByDisplayName(std::vector<IApp>& apps, const platform::BundleProvider* bundles);

// The two sections of the add-application menu from the applications of the
// saved layouts (duplicates allowed), the running ones and the configured
// bundle ids.
AddAppMenuSections addAppMenuSections(const std::vector<IApp>& savedApps,
                                      const std::vector<IApp>& openApps,
                                      const std::set<std::string>& configured,
                                      std::string_view ownBundleId,
                                      const platform::BundleProvider* bundles);

// An application row: the application cell plus a shortcut recorder and the
// button that clears the shortcut.
class AppSettingCellView final : public AppCellView {
 public:
  explicit AppSettingCellView(double width = 300, double height = 26);

  toolkit::ShortcutRecorder* recorderControl() const { return recorder_.get(); }
  toolkit::Button* clearButton() const { return clearButton_.get(); }

 private:
  std::shared_ptr<toolkit::ShortcutRecorder> recorder_;
  std::shared_ptr<toolkit::Button> clearButton_;
};

class AppSettingsViewController final
    : public toolkit::OutlineViewDataSource,
      public toolkit::OutlineViewDelegate,
      public toolkit::ShortcutRecorderDelegate,
      public std::enable_shared_from_this<AppSettingsViewController> {
 public:
  static constexpr const char* kExportPanelTitle = "Export your app settings!";
  static constexpr const char* kImportPanelTitle = "Import your app settings!";

  // The list and the edit control are the pane's; `outlineView` must be in a
  // window for export and import.
  AppSettingsViewController(CustomizationContext context,
                            std::shared_ptr<toolkit::OutlineView> outlineView,
                            std::shared_ptr<toolkit::SegmentedControl> editButtons);

  // Follows the stored settings and what can be added; once.
  void setup();

  toolkit::OutlineView* outlineView() const { return outlineView_.get(); }
  toolkit::SegmentedControl* editButtons() const { return editButtons_.get(); }
  const std::map<std::string, IAppSettings>& apps() const { return apps_; }
  const std::vector<IApp>& appList() const { return appList_; }
  // The add-application menu last popped up, or null.
  const std::shared_ptr<toolkit::Menu>& addAppMenu() const { return addAppMenu_; }
  // What the add menu would offer now.
  const AddAppMenuSections& addAppMenuSections() const { return menuSections_; }

  // The commands.
  void onAddButtonClick(const toolkit::SegmentedControl& sender);
  void addAppWithItem(const toolkit::MenuItem& item);
  void onDeleteShortcutButtonClick(const toolkit::View& sender);
  void exportSettings();
  void importSettings();
  void removeSelectedApp();
  void showAddAppMenu(const toolkit::View& sender);
  // Explains the "New Window" shortcut in a popover under `sender`.
  void showHelp(toolkit::View& sender);
  // The help popover last shown, or null.
  const std::shared_ptr<toolkit::Popover>& helpPopover() const { return helpPopover_; }

  // ShortcutRecorderDelegate.
  void recorderDidEndRecording(toolkit::ShortcutRecorder& recorder) override;

  // OutlineViewDataSource / OutlineViewDelegate.
  std::size_t numberOfChildren(toolkit::OutlineView& view,
                               const toolkit::OutlineItem* item) override;
  toolkit::OutlineItem child(toolkit::OutlineView& view, std::size_t index,
                             const toolkit::OutlineItem* item) override;
  std::shared_ptr<toolkit::View> viewFor(toolkit::OutlineView& view,
                                         const toolkit::OutlineItem& item) override;
  std::optional<double> heightOfRow(toolkit::OutlineView&, const toolkit::OutlineItem&) override {
    return 26;
  }
  void selectionDidChange(toolkit::OutlineView&) override { updateRemoveSegment(); }

 private:
  void rebuild(const AppSettingsMap& settings);
  void updateRemoveSegment();
  // The configured application of the row that holds `view`, or none.
  std::optional<std::string> bundleIdOfRow(const toolkit::View& view) const;
  void store(const std::string& bundleId, std::optional<IShortcut> shortcut);
  void showFailure(const std::string& message, const std::string& detail);

  CustomizationContext context_;
  std::shared_ptr<toolkit::OutlineView> outlineView_;
  std::shared_ptr<toolkit::SegmentedControl> editButtons_;
  std::map<std::string, IAppSettings> apps_;
  std::vector<IApp> appList_;
  AddAppMenuSections menuSections_;
  std::shared_ptr<toolkit::Menu> addAppMenu_;
  std::shared_ptr<toolkit::Popover> helpPopover_;
  rx::DisposeBag disposeBag_;
};

}  // namespace wendrix
