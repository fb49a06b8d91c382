#pragma once

// Two small views of the customization window: a drawn miniature window and
// the cell of an application row.

#include <array>
#include <memory>

#include "toolkit/controls.h"
#include "toolkit/view.h"

namespace wendrix {

// A stylized miniature window: a rounded frame with a border on the window
// background and, optionally, the three title-bar buttons as grey dots.
// Colours are semantic, so a change of appearance only asks for a redraw.
class WindowLookAlike final : public toolkit::View {
 public:
  static constexpr double kDotInset = 6;
  static constexpr double kDotDiameter = 8;
  static constexpr double kDotSpacing = 4;
  static constexpr double kCornerRadius = 6;

  explicit WindowLookAlike(toolkit::Rect frame = {});

  bool displayWindowButtons() const { return displayWindowButtons_; }
  // Hides or shows the dots; they keep their place either way.
  void setDisplayWindowButtons(bool display);
  // The dots, left to right.
  const std::array<std::shared_ptr<toolkit::View>, 3>& circles() const { return circles_; }
  // The desktop switched between light and dark.
  void appearanceChanged();

 private:
  void updateBorderColor();
  void updateCircleColors();

  bool displayWindowButtons_ = true;
  std::array<std::shared_ptr<toolkit::View>, 3> circles_;
};

// The cell of an application row: text, icon, and the addon's displays of
// the application's saved windows.
class AppCellView : public toolkit::TableCellView {
 public:
  static constexpr const char* kIdentifier = "AppCell";

  // A cell `width` wide: icon, name, then the displays.
  explicit AppCellView(double width = 300, double height = 26);

  toolkit::StackView* addonDisplays() const { return addonDisplays_.get(); }
  // The row's leading inset.
  double leadingConstraint() const { return leading_; }
  void setLeadingConstraint(double leading);

 private:
  void layOut();

  std::shared_ptr<toolkit::StackView> addonDisplays_;
  double leading_ = 4;
};

}  // namespace wendrix
