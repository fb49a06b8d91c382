#include "ui/row_views.h"

#include <gtest/gtest.h>

namespace wendrix {
namespace {

TEST(WindowLookAlike, DotsSitInARowAndHideWithoutMoving) {
  WindowLookAlike view(toolkit::Rect{{0, 0}, {200, 100}});
  EXPECT_EQ(view.layer(), (toolkit::LayerStyle{6, 1, toolkit::Color::separator,
                                               toolkit::Color::windowBackground}));
  const double xs[] = {6, 18, 30};
  for (std::size_t i = 0; i < 3; ++i) {
    const auto& dot = *view.circles()[i];
    EXPECT_EQ(dot.frame(), (toolkit::Rect{{xs[i], 6}, {8, 8}}));
    EXPECT_EQ(dot.layer().cornerRadius, 4);
    EXPECT_EQ(dot.layer().backgroundColor, toolkit::Color::tertiaryLabel);
    EXPECT_DOUBLE_EQ(dot.alpha(), 0.8);
  }
  view.setDisplayWindowButtons(false);
  for (const auto& dot : view.circles()) {
    EXPECT_TRUE(dot->isHidden());
    EXPECT_EQ(dot->superview(), &view);
  }
  EXPECT_EQ(view.circles()[2]->frame().origin.x, 30);
  view.setDisplayWindowButtons(true);
  for (const auto& dot : view.circles())
    EXPECT_FALSE(dot->isHidden());
}

}  // namespace
}  // namespace wendrix
