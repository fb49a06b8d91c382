#include "ui/layout_list.h"

#include <utility>

#include "analytics/track.h"
#include "engine/actions.h"
#include "storage/defaults_storage.h"
#include "toolkit/application.h"
#include "toolkit/window.h"

namespace wendrix {

using toolkit::OutlineItem;
using toolkit::OutlineView;

const std::vector<NavigationOption>& navigationOptions() {
  static const std::vector<NavigationOption> options{NavigationOption::Preferences,
                                                     NavigationOption::About};
  return options;
}

std::string followRename(const std::string& name, std::vector<LayoutRename>& renames) {
  for (auto it = renames.begin(); it != renames.end(); ++it) {
    if (it->from != name) continue;
    std::string to = it->to;
    renames.erase(it);
    return to;
  }
  return name;
}

// --- navigation list -------------------------------------------------------

NavigationListManager::NavigationListManager() = default;

rx::Observable<std::optional<NavigationOption>> NavigationListManager::selectionStream() {
  if (!selectionStream_) selectionStream_ = selectionSubject_.asObservable().share(1);
  return *selectionStream_;
}

void NavigationListManager::selectionChanged(OutlineView& view) {
  const auto* option = [&]() -> const NavigationOption* {
    const OutlineItem* item = view.itemAtRow(view.selectedRow());
    return item ? std::any_cast<NavigationOption>(item) : nullptr;
  }();
  if (!option) {
    selectionSubject_.onNext(std::nullopt);
    return;
  }
  Track::buttonClick(
      *option == NavigationOption::Preferences ? ButtonName::preferences : ButtonName::about,
      ButtonClickSource::mainWindow);
  selectionSubject_.onNext(*option);
}

std::size_t NavigationListManager::numberOfChildren(OutlineView&, const OutlineItem*) {
  return navigationOptions().size();
}

OutlineItem NavigationListManager::child(OutlineView&, std::size_t index, const OutlineItem*) {
  const auto& options = navigationOptions();
  return index < options.size() ? OutlineItem(options[index]) : OutlineItem();
}

std::shared_ptr<toolkit::View> NavigationListManager::viewFor(OutlineView& view,
                                                              const OutlineItem& item) {
  const auto* option = std::any_cast<NavigationOption>(&item);
  if (!option) return nullptr;
  auto cell =
      view.makeView(*option == NavigationOption::Preferences ? "PreferencesCell" : "AboutCell");
  return std::dynamic_pointer_cast<toolkit::TableCellView>(cell);
}

// --- layout list -----------------------------------------------------------

LayoutListManager::LayoutListManager(const toolkit::TextMetrics& metrics) : metrics_(metrics) {}

rx::Observable<std::optional<Layout>> LayoutListManager::layoutStream() {
  if (!layoutStream_) layoutStream_ = layoutSubject_.asObservable().share(1);
  return *layoutStream_;
}

void LayoutListManager::selectLayout(const std::optional<Layout>& layout) {
  if (!outlineView) return;
  if (!layout) {
    outlineView->deselectAll();
    return;
  }
  for (std::size_t i = 0; i < layouts_.size(); ++i) {
    if (layouts_[i].name != layout->name) continue;
    outlineView->selectRowIndexes({i}, false);
    if (auto* window = outlineView->window()) window->makeFirstResponder(outlineView.get());
    return;
  }
}

void LayoutListManager::bindLayouts(DefaultsStorage& storage) {
  std::weak_ptr<LayoutListManager> weak = weak_from_this();
  storage.layoutListStream()
      .subscribe(
          [weak](const std::vector<Layout>& layouts) {
            if (auto self = weak.lock()) self->layoutsReceived(layouts);
          },
          [](const base::Error& error) {
            Track::errorWithLocation(error, "list.layoutsReceived_000");
          })
      .disposed(disposeBag_);
}

void LayoutListManager::layoutsReceived(std::vector<Layout> layouts) {
  // The previous selection comes from the rows as they were last loaded.
  std::optional<Layout> previous;
  if (outlineView) {
    if (const auto* item = outlineView->itemAtRow(outlineView->selectedRow())) {
      if (const auto* layout = std::any_cast<Layout>(item)) previous = *layout;
    }
  }
  layouts_ = std::move(layouts);
  if (outlineView) outlineView->reloadData();
  if (!previous) return;

  const std::string name = followRename(previous->name, renames);
  for (std::size_t i = 0; i < layouts_.size(); ++i) {
    if (layouts_[i].name != name) continue;
    if (outlineView) outlineView->selectRowIndexes({i}, false);
    layoutSubject_.onNext(layouts_[i]);
    return;
  }
  layoutSubject_.onNext(std::nullopt);
}

void LayoutListManager::selectionChanged(OutlineView& view) {
  const OutlineItem* item = view.itemAtRow(view.selectedRow());
  const auto* layout = item ? std::any_cast<Layout>(item) : nullptr;
  layoutSubject_.onNext(layout ? std::optional<Layout>(*layout) : std::nullopt);
}

std::size_t LayoutListManager::numberOfChildren(OutlineView&, const OutlineItem*) {
  return layouts_.size();
}

OutlineItem LayoutListManager::child(OutlineView&, std::size_t index, const OutlineItem*) {
  return index < layouts_.size() ? OutlineItem(layouts_[index]) : OutlineItem();
}

std::shared_ptr<toolkit::View> LayoutListManager::viewFor(OutlineView& view,
                                                          const OutlineItem& item) {
  const auto* layout = std::any_cast<Layout>(&item);
  if (!layout) return nullptr;
  auto cell = std::dynamic_pointer_cast<toolkit::TableCellView>(view.makeView("LayoutCell"));
  if (!cell || !cell->textField()) return nullptr;
  cell->textField()->setStringValue(layout->name);
  cell->textField()->sizeToFit(metrics_);
  return cell;
}

// --- sidebar ---------------------------------------------------------------

namespace {

constexpr double kSidebarHeight = 480;
constexpr double kEllipsisSize = 28;

std::shared_ptr<toolkit::TableCellView> makeTextCell(double width, std::string text,
                                                     std::optional<toolkit::Image> image) {
  auto cell =
      std::make_shared<toolkit::TableCellView>(toolkit::Rect{{0, 0}, {width, kSidebarRowHeight}});
  double x = 8;
  if (image) {
    auto imageView = std::make_shared<toolkit::ImageView>(toolkit::Rect{{x, 5}, {16, 16}});
    imageView->setImage(image->withSize({16, 16}));
    cell->setImageView(imageView);
    x += 22;
  }
  auto field = std::make_shared<toolkit::TextField>(toolkit::Rect{{x, 4}, {width - x - 8, 18}});
  field->setStringValue(std::move(text));
  cell->setTextField(field);
  return cell;
}

}  // namespace

LayoutListViewController::LayoutListViewController(CustomizationContext context)
    : context_(std::move(context)) {}

rx::Observable<NavigationSelection> LayoutListViewController::selectionStream() {
  if (!selectionStream_) selectionStream_ = selectionSubject_.asObservable().share(1);
  return *selectionStream_;
}

void LayoutListViewController::loadView() {
  const double width = kWidth;
  auto view = std::make_shared<toolkit::View>(toolkit::Rect{{0, 0}, {width, kSidebarHeight}});
  view->setIdentifier("sidebar");

  layoutListManager_ = std::make_shared<LayoutListManager>(context_.application->textMetrics());
  auto layouts = std::make_shared<OutlineView>();
  layouts->setIdentifier("layoutList");
  layouts->setRowHeight(kSidebarRowHeight);
  layouts->registerCell("LayoutCell", [width] { return makeTextCell(width, "", std::nullopt); });
  layouts->setDataSource(layoutListManager_);
  layouts->setDelegate(layoutListManager_);
  layoutListManager_->outlineView = layouts;

  navigationListManager_ = std::make_shared<NavigationListManager>();
  auto navigation = std::make_shared<OutlineView>();
  navigation->setIdentifier("navigationList");
  navigation->setRowHeight(kSidebarRowHeight);
  navigation->registerCell("PreferencesCell", [width] {
    return makeTextCell(width, "Preferences", toolkit::Image::symbol("preferences-system"));
  });
  navigation->registerCell("AboutCell", [width] {
    return makeTextCell(width, "About", toolkit::Image::symbol("help-about"));
  });
  navigation->setDataSource(navigationListManager_);
  navigation->setDelegate(navigationListManager_);
  navigationListManager_->outlineView = navigation;

  ellipsisMenu_ = std::make_shared<toolkit::Menu>();
  std::weak_ptr<LayoutListViewController> weak =
      std::static_pointer_cast<LayoutListViewController>(shared_from_this());
  ellipsisMenu_->addItem(toolkit::MenuItem::make("Check for Updates...", [weak](auto&) {
    if (auto self = weak.lock()) self->checkForUpdates();
  }));
  ellipsisMenu_->addItem(toolkit::MenuItem::separator());
  ellipsisMenu_->addItem(toolkit::MenuItem::make("Quit Wendrix", [weak](auto&) {
    if (auto self = weak.lock()) self->quitApp();
  }));
  ellipsisButton_ = std::make_shared<toolkit::Button>(toolkit::Button::Type::push);
  ellipsisButton_->setIdentifier("ellipsisButton");
  ellipsisButton_->setImage(toolkit::Image::symbol("emblem-system").withSize({16, 16}));
  ellipsisButton_->setBezelStyle(toolkit::Button::BezelStyle::texturedRounded);
  ellipsisButton_->setAction([weak](toolkit::Button& sender) {
    if (auto self = weak.lock()) self->openEllipsisMenu(sender);
  });

  view->addSubview(layouts);
  view->addSubview(navigation);
  view->addSubview(ellipsisButton_);
  setView(view);
}

void LayoutListViewController::viewDidLoad() {
  auto& navigation = *navigationListManager_->outlineView;
  navigation.reloadData();
  const std::size_t n = navigation.numberOfRows();
  const auto insets = navigation.contentInsets();
  navigationHeight_ = (n ? navigation.rectOfRow(static_cast<int>(n) - 1).maxY() : 0) +
                      (n ? navigation.rectOfRow(0).minY() : 0) + insets.top + insets.bottom +
                      static_cast<double>(n) * navigation.intercellSpacing().height + 14;

  // The layouts fill the sidebar above the lower list and the ellipsis button.
  const double width = view()->frame().size.width;
  const double height = view()->frame().size.height;
  const double bottom = height - kEllipsisSize - 8;
  navigation.setFrame({{0, bottom - navigationHeight_}, {width, navigationHeight_}});
  layoutListManager_->outlineView->setFrame({{0, 0}, {width, bottom - navigationHeight_ - 4}});
  ellipsisButton_->setFrame({{8, bottom + 2}, {kEllipsisSize, kEllipsisSize - 4}});

  if (context_.storage) layoutListManager_->bindLayouts(*context_.storage);

  std::weak_ptr<LayoutListViewController> weak =
      std::static_pointer_cast<LayoutListViewController>(shared_from_this());
  navigationListManager_->selectionStream()
      .subscribe([weak](const std::optional<NavigationOption>& option) {
        auto self = weak.lock();
        if (!self) return;
        self->layoutListManager_->outlineView->deselectAll();
        if (option) self->selectionSubject_.onNext(NavigationSelection::navigation(*option));
      })
      .disposed(disposeBag_);
  layoutListManager_->layoutStream()
      .subscribe([weak](const std::optional<Layout>& layout) {
        auto self = weak.lock();
        if (!self) return;
        self->navigationListManager_->outlineView->deselectAll();
        self->selectionSubject_.onNext(layout ? NavigationSelection::layout(*layout)
                                              : NavigationSelection::none());
      })
      .disposed(disposeBag_);
  selectionStream()
      .subscribe([weak](const NavigationSelection& selection) {
        if (auto self = weak.lock()) self->applySelection(selection);
      })
      .disposed(disposeBag_);
}

void LayoutListViewController::applySelection(const NavigationSelection& selection) {
  auto& layouts = *layoutListManager_->outlineView;
  auto& navigation = *navigationListManager_->outlineView;
  if (const Layout* layout = selection.layout()) {
    navigation.deselectAll();
    layoutListManager_->selectLayout(*layout);
  } else if (const NavigationOption* option = selection.navigation()) {
    layouts.deselectAll();
    const auto& options = navigationOptions();
    for (std::size_t i = 0; i < options.size(); ++i) {
      if (options[i] != *option) continue;
      navigation.selectRowIndexes({i}, false);
      if (auto* window = navigation.window())
        window->makeFirstResponder(navigation.viewAtRow(static_cast<int>(i)));
      break;
    }
  } else {
    layouts.deselectAll();
    navigation.deselectAll();
  }
}

void LayoutListViewController::openEllipsisMenu(const toolkit::View& sender) {
  if (!ellipsisMenu_) return;
  const auto bounds = sender.bounds();
  ellipsisMenu_->popUp(nullptr, {bounds.midX(), bounds.midY()}, &sender);
}

void LayoutListViewController::checkForUpdates() {
  if (auto actions = context_.actions.lock()) actions->checkForUpdates();
}

void LayoutListViewController::quitApp() {
  if (!context_.actions.lock()) return;
  Track::buttonClick(ButtonName::quit, ButtonClickSource::mainWindow);
  context_.application->terminate();
}

}  // namespace wendrix
