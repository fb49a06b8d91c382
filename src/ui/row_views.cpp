#include "ui/row_views.h"

#include <algorithm>

namespace wendrix {

using toolkit::Color;
using toolkit::LayerStyle;

WindowLookAlike::WindowLookAlike(toolkit::Rect frame) : View(frame) {
  for (std::size_t i = 0; i < circles_.size(); ++i) {
    const double x = kDotInset + (kDotDiameter + kDotSpacing) * static_cast<double>(i);
    auto dot = std::make_shared<View>(toolkit::Rect{{x, kDotInset}, {kDotDiameter, kDotDiameter}});
    dot->setLayer(LayerStyle{kDotDiameter / 2, 0, Color::clear, Color::label});
    dot->setAlpha(0.8);
    circles_[i] = dot;
    addSubview(dot);
  }
  updateCircleColors();
  updateBorderColor();
  setNeedsDisplay();
}

void WindowLookAlike::setDisplayWindowButtons(bool display) {
  displayWindowButtons_ = display;
  setNeedsDisplay();
  updateBorderColor();
  for (auto& dot : circles_)
    dot->setHidden(!display);
}

void WindowLookAlike::appearanceChanged() {
  updateBorderColor();
  updateCircleColors();
}

void WindowLookAlike::updateBorderColor() {
  // The frame is filled with the window background under a 1-point border.
  setLayer(LayerStyle{kCornerRadius, 1, Color::separator, Color::windowBackground});
}

void WindowLookAlike::updateCircleColors() {
  for (auto& dot : circles_) {
    auto layer = dot->layer();
    layer.backgroundColor = Color::tertiaryLabel;
    dot->setLayer(layer);
  }
}

AppCellView::AppCellView(double width, double height)
    : TableCellView(toolkit::Rect{{0, 0}, {width, height}}) {
  setImageView(std::make_shared<toolkit::ImageView>());
  auto field = std::make_shared<toolkit::TextField>();
  setTextField(field);
  addonDisplays_ = std::make_shared<toolkit::StackView>();
  addonDisplays_->setSpacing(4);
  addSubview(addonDisplays_);
  layOut();
}

void AppCellView::setLeadingConstraint(double leading) {
  leading_ = leading;
  layOut();
}

void AppCellView::layOut() {
  const double width = frame().size.width;
  const double height = frame().size.height;
  const double icon = 16;
  imageView()->setFrame(toolkit::Rect{{leading_, (height - icon) / 2}, {icon, icon}});
  const double textX = leading_ + icon + 6;
  const double nameWidth = std::max(0.0, width * 0.45 - textX);
  textField()->setFrame(toolkit::Rect{{textX, (height - 18) / 2}, {nameWidth, 18}});
  const double displaysX = textX + nameWidth + 4;
  addonDisplays_->setFrame(
      toolkit::Rect{{displaysX, (height - 20) / 2}, {std::max(0.0, width - displaysX - 4), 20}});
}

}  // namespace wendrix
