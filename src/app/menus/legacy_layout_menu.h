#pragma once

// An older, richer submenu of a layout: besides restoring, it lists the
// layout's applications (each with Restore and Delete), adds running
// applications to the layout, puts the layout's or the other applications
// away, toggles closing the other applications on restore, and renames and
// removes the layout. The status menu uses the plain LayoutMenu; nothing in
// the program makes this one.

#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "app/menus/layout_menu.h"
#include "base/url.h"
#include "rx/disposable.h"
#include "toolkit/image.h"
#include "winsys/window_system.h"

namespace wendrix {

class AddonRegistry;
class MainMenuDelegate;

// Images of applications for menu items.
class AppIconImages {
 public:
  virtual ~AppIconImages() = default;
  // The icon of the application at `bundleURL`, 16 by 16 points.
  virtual std::optional<toolkit::Image> appIcon(
      const std::optional<base::Url>& bundleURL) const = 0;
  // The icons of several applications combined into one.
  virtual std::optional<toolkit::Image> combinedIcon(
      std::span<const std::optional<base::Url>> bundleURLs) const = 0;
};

// What the attached objects of the legacy menu's items are.
using AppInLayout = std::pair<winsys::ApplicationPtr, Layout>;
using WindowInLayout = std::pair<winsys::WindowPtr, Layout>;
using LayoutAndApp = std::pair<Layout, IApp>;
using ApplicationList = std::vector<winsys::ApplicationPtr>;

class LegacyLayoutMenu final : public LayoutMenu {
 public:
  // `addons` captures added applications' windows (none: no addon state);
  // `icons` gives the items' images (none: no images).
  static std::shared_ptr<LegacyLayoutMenu> make(
      MenuContext context, Layout layout, std::shared_ptr<MainMenuDelegate> mainMenuDelegate,
      std::shared_ptr<const AddonRegistry> addons = nullptr,
      std::shared_ptr<const AppIconImages> icons = nullptr);
  ~LegacyLayoutMenu() override;

  const std::shared_ptr<toolkit::MenuItem>& closeAppsItem() const { return closeApps_; }
  const std::shared_ptr<toolkit::MenuItem>& closeOthersToggle() const { return closeOthersToggle_; }
  const std::shared_ptr<toolkit::MenuItem>& renameItem() const { return renameItem_; }
  const std::shared_ptr<toolkit::MenuItem>& removeItem() const { return removeItem_; }
  const std::shared_ptr<toolkit::MenuItem>& addWindowItem() const { return addWindowItem_; }

  // The commands; each acts on the object attached to the sending item, or
  // on the layout where the item carries none.
  void closeUnusedAppsWithItem(toolkit::MenuItem& sender);
  void renameWithItem(toolkit::MenuItem& sender);
  void removeWithItem(toolkit::MenuItem& sender);
  void addWindowToLayoutWithItem(toolkit::MenuItem& sender);
  void addAppToLayoutWithItem(toolkit::MenuItem& sender);
  void restoreAppWithItem(toolkit::MenuItem& sender);
  void removeAppWithItem(toolkit::MenuItem& sender);
  void closeLayoutAppsWithItem(toolkit::MenuItem& sender);
  void closeOtherAppsWithItem(toolkit::MenuItem& sender);
  void toggleCloseUnusedAppsWhenRestoringWithItem(toolkit::MenuItem& sender);
  void customizeItem(toolkit::MenuItem& sender);

 private:
  friend class LayoutMenu;
  LegacyLayoutMenu(MenuContext context, Layout layout,
                   std::shared_ptr<MainMenuDelegate> mainMenuDelegate,
                   std::shared_ptr<const AddonRegistry> addons,
                   std::shared_ptr<const AppIconImages> icons);

  void setupItems() override;
  void refreshMenu() override;
  void buildMenu() override;

  // "Hide "<name>" apps" and "Hide other apps", kept current from the
  // applications with windows.
  std::shared_ptr<toolkit::Menu> closeAppsSubmenu();
  // The running applications, each adding itself to the layout.
  std::shared_ptr<toolkit::Menu> addWindowSubmenu();
  // An application of the layout with Restore and Delete.
  std::shared_ptr<toolkit::MenuItem> appEntry(const IApp& app);
  std::string entryTitle(const std::optional<base::Url>& bundleURL,
                         const std::optional<std::string>& bundleId, std::size_t windows) const;
  std::optional<toolkit::Image> iconOf(const std::optional<base::Url>& bundleURL) const;
  void putAway(const ApplicationList& apps);

  std::shared_ptr<MainMenuDelegate> mainMenuDelegate_;
  std::shared_ptr<const AddonRegistry> addons_;
  std::shared_ptr<const AppIconImages> icons_;
  std::vector<rx::Disposable> appWindowsDisposables_;
  std::shared_ptr<toolkit::MenuItem> closeApps_;
  std::shared_ptr<toolkit::MenuItem> closeOthersToggle_;
  std::shared_ptr<toolkit::MenuItem> renameItem_;
  std::shared_ptr<toolkit::MenuItem> removeItem_;
  std::shared_ptr<toolkit::MenuItem> addWindowItem_;
};

}  // namespace wendrix
