#pragma once

// The applications of the layout details pane: the outline of the layout's
// apps (dimmed when not running, with their addons' displays), its selection,
// and the segmented control of commands on them.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "toolkit/controls.h"
#include "toolkit/outline_view.h"
#include "ui/customization_context.h"
#include "ui/layout_details_state.h"

namespace wendrix {

class LayoutAppList final : public toolkit::OutlineViewDataSource,
                            public toolkit::OutlineViewDelegate,
                            public std::enable_shared_from_this<LayoutAppList> {
 public:
  LayoutAppList(CustomizationContext context, std::shared_ptr<const LayoutDetailsState> state);

  // Makes the outline and the segmented control in the given frames; a click
  // on a segment calls `onSegment`. The outline refers to the list weakly.
  void loadViews(toolkit::Rect outlineFrame, toolkit::Rect segmentsFrame,
                 std::function<void(const toolkit::SegmentedControl&)> onSegment);

  const std::shared_ptr<toolkit::OutlineView>& outlineView() const { return outlineView_; }
  const std::shared_ptr<toolkit::SegmentedControl>& segments() const { return segments_; }

  // The saved apps of the selected rows, in row order.
  std::vector<IApp> selectedApps() const;
  bool hasSelection() const;
  // Whether a close command has something to close.
  bool canCloseApps() const;
  // Enables the segments for the selection and the running apps.
  void updateSegments();

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
  void selectionDidChange(toolkit::OutlineView&) override { updateSegments(); }

 private:
  std::shared_ptr<toolkit::View> appRow(toolkit::OutlineView& view, const IApp& app);

  CustomizationContext context_;
  std::shared_ptr<const LayoutDetailsState> state_;
  std::shared_ptr<toolkit::OutlineView> outlineView_;
  std::shared_ptr<toolkit::SegmentedControl> segments_;
};

}  // namespace wendrix
