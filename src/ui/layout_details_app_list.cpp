#include "ui/layout_details_app_list.h"

#include <utility>

#include "addons/addon_manager.h"
#include "model/display_name.h"
#include "ui/menu_outline_view.h"
#include "ui/row_views.h"
#include "util/app_icons.h"

namespace wendrix {

using toolkit::Button;
using toolkit::OutlineItem;
using toolkit::OutlineView;

LayoutAppList::LayoutAppList(CustomizationContext context,
                             std::shared_ptr<const LayoutDetailsState> state)
    : context_(std::move(context)), state_(std::move(state)) {}

void LayoutAppList::loadViews(toolkit::Rect outlineFrame, toolkit::Rect segmentsFrame,
                              std::function<void(const toolkit::SegmentedControl&)> onSegment) {
  outlineView_ = std::make_shared<MenuOutlineView>(outlineFrame);
  outlineView_->setIdentifier("appList");
  outlineView_->setAllowsMultipleSelection(true);
  outlineView_->setRowHeight(26);
  const double cellWidth = outlineView_->frame().size.width;
  outlineView_->registerCell(AppCellView::kIdentifier,
                             [cellWidth] { return std::make_shared<AppCellView>(cellWidth, 26); });
  outlineView_->setDataSource(
      std::static_pointer_cast<toolkit::OutlineViewDataSource>(shared_from_this()));
  outlineView_->setDelegate(
      std::static_pointer_cast<toolkit::OutlineViewDelegate>(shared_from_this()));

  segments_ = std::make_shared<toolkit::SegmentedControl>(segmentsFrame);
  segments_->setIdentifier("appActions");
  segments_->setSegmentCount(4);
  const char* labels[] = {"Close", "Restore", "Remove", "Add..."};
  for (std::size_t i = 0; i < 4; ++i)
    segments_->setLabel(labels[i], i);
  segments_->setAction(std::move(onSegment));
}

std::vector<IApp> LayoutAppList::selectedApps() const {
  std::vector<IApp> apps;
  if (!outlineView_) return apps;
  // Read from the rows as last loaded, never from the state by index: the
  // layout may have changed since.
  for (std::size_t row : outlineView_->selectedRowIndexes()) {
    const OutlineItem* item = outlineView_->itemAtRow(static_cast<int>(row));
    if (const auto* app = item ? std::any_cast<IApp>(item) : nullptr) apps.push_back(*app);
  }
  return apps;
}

bool LayoutAppList::hasSelection() const {
  return outlineView_ && !outlineView_->selectedRowIndexes().empty();
}

bool LayoutAppList::canCloseApps() const {
  const auto selected = selectedApps();
  if (selected.empty()) return !state_->openApps.empty();
  for (const auto& app : selected)
    if (state_->isRunning(app)) return true;
  return false;
}

void LayoutAppList::updateSegments() {
  if (!segments_) return;
  const auto& state = *state_;
  if (!outlineView_) {
    for (std::size_t i = 0; i < 3; ++i)
      segments_->setEnabled(false, i);
    segments_->setEnabled(!state.openApps.empty() || !state.otherApps.empty(), 3);
    return;
  }
  const auto selected = selectedApps();
  bool someRunning = false;
  for (const auto& app : selected)
    someRunning = someRunning || state.isRunning(app);
  const auto states =
      segmentStates(selected.size(), someRunning, state.openApps.size(), state.otherApps.size());
  for (std::size_t i = 0; i < states.size(); ++i)
    segments_->setEnabled(states[i], i);
}

std::size_t LayoutAppList::numberOfChildren(OutlineView&, const OutlineItem*) {
  return state_->layoutApps.size();
}

OutlineItem LayoutAppList::child(OutlineView&, std::size_t index, const OutlineItem*) {
  const auto& apps = state_->layoutApps;
  return index < apps.size() ? OutlineItem(apps[index]) : OutlineItem();
}

std::shared_ptr<toolkit::View> LayoutAppList::viewFor(OutlineView& view, const OutlineItem& item) {
  const auto* app = std::any_cast<IApp>(&item);
  return app ? appRow(view, *app) : nullptr;
}

std::shared_ptr<toolkit::View> LayoutAppList::appRow(OutlineView& view, const IApp& app) {
  auto cell = std::dynamic_pointer_cast<AppCellView>(view.makeView(AppCellView::kIdentifier));
  if (!cell) return nullptr;
  std::optional<std::string> name;
  if (context_.bundles) name = appDisplayName(*context_.bundles, app);
  // Never a blank row: the identifier, else the program's file name.
  if (!name || name->empty()) name = app.bundleId;
  if ((!name || name->empty()) && app.bundleURL) name = lastPathComponent(*app.bundleURL);
  cell->textField()->setStringValue(appRowTitle(name.value_or(""), app.windows.size()));
  cell->textField()->setTextColor(state_->isRunning(app) ? toolkit::Color::label
                                                         : toolkit::Color::secondaryLabel);
  std::optional<platform::Image> icon;
  if (context_.icons) icon = appIcon(*context_.icons, app);
  cell->imageView()->setImage(
      icon ? std::optional(toolkit::Image::fromPixels(std::move(*icon)).withSize({16, 16}))
           : std::nullopt);

  auto* displays = cell->addonDisplays();
  for (auto sub : displays->arrangedSubviews()) {
    displays->removeArrangedSubview(*sub);
    sub->removeFromSuperview();
  }
  const Addon* addon =
      app.bundleId && context_.addons ? context_.addons->addonFor(*app.bundleId) : nullptr;
  if (!addon) return cell;
  for (const auto& display : addon->displays(app)) {
    if (!display.title && !display.image) continue;
    auto button = std::make_shared<Button>(Button::Type::toggle, toolkit::Rect{{0, 0}, {0, 20}});
    button->setBezelStyle(Button::BezelStyle::recessed);
    button->setState(toolkit::ControlState::on);
    button->setTitle(display.title.value_or(""));
    if (display.image) button->setImage(toolkit::Image::fromPixels(*display.image));
    button->setEnabled(false);
    displays->addArrangedSubview(button);
  }
  return cell;
}

}  // namespace wendrix
