#include "ui/app_settings_pane.h"

#include <algorithm>
#include <tuple>
#include <utility>

#include "engine/windows_provider.h"
#include "model/display_name.h"
#include "model/json_coders.h"
#include "platform/bundle/bundle.h"
#include "rx/rx.h"
#include "storage/defaults_storage.h"
#include "storage/text_file.h"
#include "toolkit/alert.h"
#include "toolkit/application.h"
#include "toolkit/file_panels.h"
#include "ui/alert_popover.h"
#include "util/app_icons.h"

namespace wendrix {

using toolkit::OutlineItem;
using toolkit::OutlineView;

std::optional<IShortcut> shortcutForChord(const std::optional<toolkit::KeyChord>& chord) {
  if (!chord) return std::nullopt;
  return IShortcut{chord->keyCode, chord->modifierFlags & kRecordedModifierMask};
}

std::optional<toolkit::KeyChord> chordForShortcut(const std::optional<IShortcut>& shortcut) {
  if (!shortcut) return std::nullopt;
  return toolkit::KeyChord{shortcut->key, shortcut->flagsValue};
}

namespace {

std::string sortName(const IApp& app, const platform::BundleProvider* bundles) {
  std::optional<std::string> name;
  if (bundles) name = appDisplayName(*bundles, app);
  return name ? *name : app.bundleId.value_or("");
}

void appendUnique(std::vector<IApp>& apps, const IApp& app) {
  if (std::find(apps.begin(), apps.end(), app) == apps.end()) apps.push_back(app);
}

}  // namespace

void sortByDisplayName(std::vector<IApp>& apps, const platform::BundleProvider* bundles) {
  std::vector<std::pair<std::string, IApp>> keyed;
  keyed.reserve(apps.size());
  for (auto& app : apps)
    keyed.emplace_back(sortName(app, bundles), std::move(app));
  std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
    return std::tie(a.first, a.second.bundleId) < std::tie(b.first, b.second.bundleId);
  });
  apps.clear();
  for (auto& [name, app] : keyed)
    apps.push_back(std::move(app));
}

AddAppMenuSections addAppMenuSections(const std::vector<IApp>& savedApps,
                                      const std::vector<IApp>& openApps,
                                      const std::set<std::string>& configured,
                                      std::string_view ownBundleId,
                                      const platform::BundleProvider* bundles) {
  auto offered = [&](const IApp& app) {
    return app.bundleId && !configured.contains(*app.bundleId) && *app.bundleId != ownBundleId;
  };
  AddAppMenuSections sections;
  std::set<std::string> openIds;
  for (const auto& app : openApps) {
    if (app.bundleId) openIds.insert(*app.bundleId);
    if (offered(app)) appendUnique(sections.open, app);
  }
  for (const auto& app : savedApps) {
    if (offered(app) && !openIds.contains(*app.bundleId)) appendUnique(sections.saved, app);
  }
  sortByDisplayName(sections.open, bundles);
  sortByDisplayName(sections.saved, bundles);
  return sections;
}

// --- row view -------------------------------------------------------------------

AppSettingCellView::AppSettingCellView(double width, double height) : AppCellView(width, height) {
  // The name takes the left half; the recorder and its clear button the rest.
  const double recorderX = width * 0.5;
  const double clearWidth = 56;
  recorder_ = std::make_shared<toolkit::ShortcutRecorder>(
      toolkit::Rect{{recorderX, (height - 22) / 2}, {width - recorderX - clearWidth - 12, 22}});
  recorder_->setIdentifier("shortcutRecorder");
  clearButton_ = std::make_shared<toolkit::Button>(
      toolkit::Button::Type::push,
      toolkit::Rect{{width - clearWidth - 6, (height - 22) / 2}, {clearWidth, 22}});
  clearButton_->setIdentifier("clearShortcut");
  clearButton_->setTitle("Clear");
  addonDisplays()->setHidden(true);
  addSubview(recorder_);
  addSubview(clearButton_);
}

// --- controller -------------------------------------------------------------------

AppSettingsViewController::AppSettingsViewController(
    CustomizationContext context, std::shared_ptr<toolkit::OutlineView> outlineView,
    std::shared_ptr<toolkit::SegmentedControl> editButtons)
    : context_(std::move(context)),
      outlineView_(std::move(outlineView)),
      editButtons_(std::move(editButtons)) {}

void AppSettingsViewController::setup() {
  std::weak_ptr<AppSettingsViewController> weak = shared_from_this();
  const double cellWidth = outlineView_->frame().size.width;
  outlineView_->setRowHeight(26);
  outlineView_->registerCell(AppCellView::kIdentifier, [cellWidth] {
    return std::make_shared<AppSettingCellView>(cellWidth, 26);
  });
  outlineView_->setDataSource(
      std::static_pointer_cast<toolkit::OutlineViewDataSource>(shared_from_this()));
  outlineView_->setDelegate(
      std::static_pointer_cast<toolkit::OutlineViewDelegate>(shared_from_this()));
  editButtons_->setAction([weak](toolkit::SegmentedControl& sender) {
    if (auto self = weak.lock()) self->onAddButtonClick(sender);
  });
  if (!context_.storage) return;

  // 1. The rows follow the stored settings.
  context_.storage->appSettingsStream()
      .subscribe([weak](const AppSettingsMap& settings) {
        if (auto self = weak.lock()) self->rebuild(settings);
      })
      .disposed(disposeBag_);

  // 2. What can be added: the applications of the saved layouts and the
  // running ones, less the configured ones. Adding is offered only while
  // there is one.
  auto storageApps = context_.storage->savedStream().map([](const std::vector<Layout>& layouts) {
    std::vector<IApp> apps;
    for (const auto& layout : layouts)
      apps.insert(apps.end(), layout.apps.begin(), layout.apps.end());
    return apps;
  });
  rx::Observable<std::vector<IApp>> openApps = rx::Observable<std::vector<IApp>>::just({});
  if (context_.windowsProvider) {
    openApps = context_.windowsProvider->appsWithWindowsStream()
                   .map([](const ApplicationList& running) {
                     std::vector<IApp> apps;
                     for (const auto& application : running) {
                       IApp app;
                       app.bundleId = application->bundleIdentifier();
                       app.bundleURL = application->bundleURL();
                       apps.push_back(std::move(app));
                     }
                     return apps;
                   })
                   .startWith(std::vector<IApp>{})
                   .share(1);
  }
  auto configuredApps = context_.storage->appSettingsStream()
                            .map([](const AppSettingsMap& settings) {
                              std::set<std::string> ids;
                              for (const auto& [id, value] : settings)
                                ids.insert(id);
                              return ids;
                            })
                            .share(1);
  std::string ownId;
  if (context_.bundles) ownId = context_.bundles->mainBundle().identifier().value_or("");
  const platform::BundleProvider* bundles = context_.bundles;
  editButtons_->setEnabled(false, static_cast<std::size_t>(AppSettingsSegment::add));
  rx::combineLatest(storageApps, openApps, configuredApps,
                    [ownId, bundles](const std::vector<IApp>& saved, const std::vector<IApp>& open,
                                     const std::set<std::string>& configured) {
                      return wendrix::addAppMenuSections(saved, open, configured, ownId, bundles);
                    })
      .subscribe([weak](const AddAppMenuSections& sections) {
        auto self = weak.lock();
        if (!self) return;
        self->menuSections_ = sections;
        self->editButtons_->setEnabled(!sections.empty(),
                                       static_cast<std::size_t>(AppSettingsSegment::add));
      })
      .disposed(disposeBag_);

  // 3. Removing needs a selected row.
  updateRemoveSegment();
}

void AppSettingsViewController::rebuild(const AppSettingsMap& settings) {
  std::vector<IApp> list;
  for (const auto& [id, value] : settings) {
    IApp app;
    app.bundleId = id;
    if (context_.bundles) {
      if (auto bundle = context_.bundles->bundleWithIdentifier(id)) app.bundleURL = bundle->url;
    }
    list.push_back(std::move(app));
  }
  sortByDisplayName(list, context_.bundles);
  apps_ = settings;
  appList_ = std::move(list);
  outlineView_->reloadData();
  updateRemoveSegment();
}

void AppSettingsViewController::updateRemoveSegment() {
  editButtons_->setEnabled(outlineView_->selectedRow() >= 0,
                           static_cast<std::size_t>(AppSettingsSegment::remove));
}

std::size_t AppSettingsViewController::numberOfChildren(OutlineView&, const OutlineItem*) {
  return appList_.size();
}

OutlineItem AppSettingsViewController::child(OutlineView&, std::size_t index, const OutlineItem*) {
  return index < appList_.size() ? OutlineItem(appList_[index]) : OutlineItem();
}

std::shared_ptr<toolkit::View> AppSettingsViewController::viewFor(OutlineView& view,
                                                                  const OutlineItem& item) {
  const auto* app = std::any_cast<IApp>(&item);
  auto cell =
      std::dynamic_pointer_cast<AppSettingCellView>(view.makeView(AppCellView::kIdentifier));
  if (!app || !cell) return nullptr;
  std::optional<std::string> name;
  if (context_.bundles) name = appDisplayName(*context_.bundles, *app);
  if (!name) name = app->bundleId;
  std::string title = name.value_or("");
  if (app->windows.size() >= 2) title += " (" + std::to_string(app->windows.size()) + ")";
  cell->textField()->setStringValue(std::move(title));
  std::optional<platform::Image> icon;
  if (context_.icons) icon = appIcon(*context_.icons, *app);
  cell->imageView()->setImage(
      icon ? std::optional(toolkit::Image::fromPixels(std::move(*icon)).withSize({16, 16}))
           : std::nullopt);

  auto* recorder = cell->recorderControl();
  recorder->setDelegate(
      std::static_pointer_cast<toolkit::ShortcutRecorderDelegate>(shared_from_this()));
  std::optional<IShortcut> shortcut;
  if (app->bundleId) {
    auto found = apps_.find(*app->bundleId);
    if (found != apps_.end()) shortcut = found->second.newWindowShortcut;
  }
  recorder->setObjectValue(chordForShortcut(shortcut));
  std::weak_ptr<AppSettingsViewController> weak = shared_from_this();
  cell->clearButton()->setAction([weak](toolkit::Button& sender) {
    if (auto self = weak.lock()) self->onDeleteShortcutButtonClick(sender);
  });
  return cell;
}

std::optional<std::string> AppSettingsViewController::bundleIdOfRow(
    const toolkit::View& view) const {
  const int row = outlineView_->rowForView(&view);
  if (row < 0) return std::nullopt;
  // The row's item as loaded, not `appList_` by index: they agree only until
  // the next change.
  const auto* app = std::any_cast<IApp>(outlineView_->itemAtRow(row));
  if (!app || !app->bundleId || !apps_.contains(*app->bundleId)) return std::nullopt;
  return app->bundleId;
}

void AppSettingsViewController::store(const std::string& bundleId,
                                      std::optional<IShortcut> shortcut) {
  if (!context_.storage) return;
  auto settings = context_.storage->loadAppSettings();
  settings[bundleId] = IAppSettings{shortcut};
  context_.storage->saveAppSettings(settings);
}

void AppSettingsViewController::recorderDidEndRecording(toolkit::ShortcutRecorder& recorder) {
  auto id = bundleIdOfRow(recorder);
  if (!id) return;
  store(*id, shortcutForChord(recorder.objectValue()));
}

void AppSettingsViewController::onDeleteShortcutButtonClick(const toolkit::View& sender) {
  auto id = bundleIdOfRow(sender);
  if (!id) return;
  store(*id, std::nullopt);
}

void AppSettingsViewController::addAppWithItem(const toolkit::MenuItem& item) {
  const auto* app = item.represented<IApp>();
  if (!app || !app->bundleId) return;
  store(*app->bundleId, kDefaultNewWindowShortcut);
}

void AppSettingsViewController::onAddButtonClick(const toolkit::SegmentedControl& sender) {
  switch (sender.selectedSegment()) {
    case static_cast<int>(AppSettingsSegment::exportSettings):
      exportSettings();
      break;
    case static_cast<int>(AppSettingsSegment::importSettings):
      importSettings();
      break;
    case static_cast<int>(AppSettingsSegment::remove):
      removeSelectedApp();
      break;
    case static_cast<int>(AppSettingsSegment::add):
      showAddAppMenu(sender);
      break;
    default:
      break;
  }
}

void AppSettingsViewController::removeSelectedApp() {
  const int row = outlineView_->selectedRow();
  const auto* app = row >= 0 ? std::any_cast<IApp>(outlineView_->itemAtRow(row)) : nullptr;
  if (!app || !app->bundleId || !context_.storage) return;
  auto settings = context_.storage->loadAppSettings();
  settings.erase(*app->bundleId);
  context_.storage->saveAppSettings(settings);
}

void AppSettingsViewController::showAddAppMenu(const toolkit::View& sender) {
  auto menu = std::make_shared<toolkit::Menu>();
  menu->setAutoenablesItems(false);
  std::weak_ptr<AppSettingsViewController> weak = shared_from_this();
  auto addSection = [&](const char* header, const std::vector<IApp>& apps) {
    if (apps.empty()) return;
    auto title = toolkit::MenuItem::make(header);
    title->setEnabled(false);
    menu->addItem(title);
    for (const auto& app : apps) {
      std::optional<std::string> name;
      if (context_.bundles) name = appDisplayName(*context_.bundles, app);
      if (!name) continue;
      auto item = toolkit::MenuItem::make(*name, [weak](toolkit::MenuItem& chosen) {
        if (auto self = weak.lock()) self->addAppWithItem(chosen);
      });
      if (context_.icons && app.bundleURL && app.bundleURL->isFileUrl()) {
        if (auto icon = iconForFileURL(*context_.icons, app.bundleURL))
          item->setImage(toolkit::Image::fromPixels(std::move(*icon)).withSize({16, 16}));
      }
      item->setRepresentedObject(app);
      menu->addItem(item);
    }
  };
  addSection("Open apps:", menuSections_.open);
  addSection("Saved layout apps:", menuSections_.saved);
  addAppMenu_ = menu;
  // Popped up once the click has been handled, with its first item at the
  // control's origin.
  const toolkit::View* anchor = sender.superview() ? sender.superview() : &sender;
  const toolkit::Point origin = sender.superview() ? sender.frame().origin : toolkit::Point{0, 0};
  std::weak_ptr<const toolkit::View> weakAnchor = anchor->shared_from_this();
  context_.application->mainQueue().async([menu, origin, weakAnchor] {
    auto view = weakAnchor.lock();
    if (!view || menu->numberOfItems() == 0) return;
    menu->popUp(menu->itemAt(0), origin, view.get());
  });
}

void AppSettingsViewController::showFailure(const std::string& message, const std::string& detail) {
  toolkit::Window* window = outlineView_->window();
  if (!window) return;
  auto alert = std::make_shared<toolkit::Alert>();
  alert->setMessageText(message);
  alert->setInformativeText(detail);
  alert->addButton("OK");
  alert->beginSheetModal(*window, [](toolkit::ModalResponse) {});
}

namespace {

std::shared_ptr<platform::FilePanels> panelsOf(const CustomizationContext& context) {
  if (context.panels) return context.panels;
  return std::make_shared<toolkit::WindowFilePanels>();
}

platform::FilePanelOptions settingsPanelOptions(const char* title) {
  return platform::FilePanelOptions{title, "WendrixAppSettings", {"json"}};
}

}  // namespace

void AppSettingsViewController::exportSettings() {
  toolkit::Window* window = outlineView_->window();
  if (!window) return;
  std::weak_ptr<AppSettingsViewController> weak = shared_from_this();
  panelsOf(context_)->beginSaveSheet(
      settingsPanelOptions(kExportPanelTitle), window,
      [weak](platform::PanelResponse response, std::optional<base::Url> url) {
        auto self = weak.lock();
        if (!self || response != platform::PanelResponse::ok || !url || !self->context_.storage)
          return;
        // The panels answer file URLs only.
        const std::string path = url->filePath().value_or(url->path());
        auto text = sharedJSONEncoder().encode(self->context_.storage->loadAppSettings());
        base::Status written =
            text ? writeFileAtomically(path, text.value()) : base::Status(text.error());
        if (!written)
          self->showFailure("The app settings could not be exported.", written.error().description);
      });
}

void AppSettingsViewController::importSettings() {
  toolkit::Window* window = outlineView_->window();
  if (!window) return;
  std::weak_ptr<AppSettingsViewController> weak = shared_from_this();
  panelsOf(context_)->beginOpenSheet(
      settingsPanelOptions(kImportPanelTitle), window,
      [weak](platform::PanelResponse response, std::optional<base::Url> url) {
        auto self = weak.lock();
        if (!self || response != platform::PanelResponse::ok || !url || !self->context_.storage)
          return;
        auto text = readUtf8File(url->filePath().value_or(url->path()));
        if (!text) {
          self->showFailure("The app settings could not be imported.", text.error().description);
          return;
        }
        auto settings = decodeAppSettingsJSON(text.value());
        if (!settings) {
          self->showFailure("The app settings could not be imported.",
                            "The file does not hold app settings exported by Wendrix.");
          return;
        }
        // The file's settings replace all of them at once.
        self->context_.storage->saveAppSettings(*settings);
      });
}

void AppSettingsViewController::showHelp(toolkit::View& sender) {
  if (!context_.application) return;
  helpPopover_ = showNewWindowShortcutHelp(*context_.application, sender);
}

}  // namespace wendrix
