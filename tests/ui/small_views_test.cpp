// The item row, the empty placeholder, the help popover, the restoring panel
// and the About pane, on the headless toolkit with fixed text metrics.

#include <gtest/gtest.h>

#include "dispatch/manual_queue.h"
#include "toolkit/alert.h"
#include "toolkit/application.h"
#include "toolkit/headless/driver.h"
#include "toolkit/popover.h"
#include "toolkit/window.h"
#include "ui/about_pane.h"
#include "ui/alert_popover.h"
#include "ui/item_views.h"

namespace wendrix {
namespace {

using toolkit::Rect;

TEST(ItemView, TheImageSitsCentredInAFixedBoxBesideTheText) {
  ItemView item(Rect{{0, 0}, {300, 60}});
  EXPECT_EQ(item.imageSize(), 28);
  EXPECT_EQ(item.imageContainer().frame(), (Rect{{0, 6}, {48, 48}}));
  EXPECT_EQ(item.imageView().frame(), (Rect{{10, 10}, {28, 28}}));
  EXPECT_EQ(item.imageView().scaling(), toolkit::ImageView::Scaling::proportionallyUpOrDown);
  for (const toolkit::TextField* field : {&item.titleView(), &item.subtitleView()}) {
    EXPECT_FALSE(field->isEditable());
    EXPECT_FALSE(field->isBezeled());
    EXPECT_FALSE(field->drawsBackground());
  }

  item.setImage(toolkit::Image::named("AppIcon"));
  item.setTitle("Mail");
  item.setSubtitle("2 windows");
  EXPECT_EQ(item.imageView().image(), toolkit::Image::named("AppIcon"));
  EXPECT_EQ(item.titleView().stringValue(), "Mail");
  EXPECT_EQ(item.subtitleView().stringValue(), "2 windows");
  EXPECT_FALSE(item.subtitleView().isHidden());
  // Title over subtitle, centred as one block beside the box.
  EXPECT_EQ(item.titleView().superview()->frame(), (Rect{{48, 11}, {252, 38}}));

  // A new image size resizes the image inside the unchanged box.
  item.setImageSize(40);
  EXPECT_EQ(item.imageContainer().frame(), (Rect{{0, 6}, {48, 48}}));
  EXPECT_EQ(item.imageView().frame(), (Rect{{4, 4}, {40, 40}}));

  // Without a subtitle the old one does not linger.
  item.setSubtitle(std::nullopt);
  EXPECT_TRUE(item.subtitleView().isHidden());
  EXPECT_EQ(item.subtitleView().stringValue(), "");
  EXPECT_EQ(item.titleView().superview()->frame(), (Rect{{48, 20}, {252, 20}}));
}

TEST(EmptyViewController, ItsViewIsOnePointSquare) {
  EmptyViewController empty;
  EXPECT_EQ(empty.view()->bounds(), (Rect{{0, 0}, {1, 1}}));
  EXPECT_TRUE(empty.view()->subviews().empty());
}

class SmallViewsTest : public ::testing::Test {
 protected:
  dispatch::ManualQueue queue;
  toolkit::Application application{queue, {{{"CFBundleName", "Wendrix"}}, {}, nullptr}};
  toolkit::headless::Driver driver{application};
};

TEST_F(SmallViewsTest, TheAlertPopoverIsAsTallAsItsText) {
  // Fixed metrics: 6.5 points a character, 16.25 a line; 296 points hold 45
  // characters a line.
  const struct {
    const char* message;
    double lines;
  } cases[] = {{"One short line.", 1}, {kNewWindowShortcutHelp, 5}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    AlertPopoverViewController alert(application);
    alert.setMessage(c.message);
    const auto& view = alert.view();
    EXPECT_EQ(view.get(), alert.container());
    const double text = c.lines * 16.25;
    EXPECT_EQ(alert.textView()->frame(), (Rect{{12, 15}, {296, text}}));
    EXPECT_EQ(view->frame(), (Rect{{0, 0}, {320, text + 28}}));
    EXPECT_EQ(alert.textView()->string(), c.message);
    EXPECT_FALSE(alert.textView()->isEditable());
    EXPECT_FALSE(alert.textView()->drawsBackground());
    EXPECT_EQ(alert.textView()->font(), toolkit::Font{});
  }
}

TEST_F(SmallViewsTest, TheShortcutHelpOpensUnderTheHelpButtonAndClosesOnAClickElsewhere) {
  auto help = std::make_shared<toolkit::View>(Rect{{100, 200}, {21, 21}});
  auto popover = showNewWindowShortcutHelp(application, *help);
  ASSERT_TRUE(popover->isShown());
  EXPECT_EQ(popover->behavior(), toolkit::Popover::Behavior::transient);
  EXPECT_EQ(popover->anchor().view, help.get());
  EXPECT_EQ(popover->anchor().rect, help->bounds());
  EXPECT_EQ(popover->anchor().edge, toolkit::RectEdge::maxY);
  auto* content = dynamic_cast<AlertPopoverViewController*>(popover->contentViewController().get());
  ASSERT_NE(content, nullptr);
  EXPECT_EQ(content->message(),
            "To support multiple windows, Wendrix needs to know the \"New Window\" shortcut for "
            "each app. use the + button to select an app, and record the keyboard shortcut "
            "needed to create a new window for that app.");
  EXPECT_EQ(popover->contentSize(), (toolkit::Size{320, 5 * 16.25 + 28}));
  driver.clickOutsidePopovers();
  EXPECT_FALSE(popover->isShown());
}

TEST_F(SmallViewsTest, TheRestoringPanelShowsItsText) {
  RestoringViewController restoring;
  restoring.setText("Restoring Work...");
  restoring.view();
  ASSERT_NE(restoring.label(), nullptr);
  EXPECT_EQ(restoring.label()->stringValue(), "Restoring Work...");
}

TEST_F(SmallViewsTest, TheAboutPaneShowsTheVersionWhenTheBundleHasOne) {
  toolkit::Application versioned(
      queue, {{{"CFBundleName", "Wendrix"}, {"CFBundleShortVersionString", "1.4.2"}}, {}, nullptr});
  auto about = std::make_shared<AboutViewController>(versioned);
  about->view();
  EXPECT_EQ(about->versionText()->stringValue(), "Version 1.4.2");

  auto bare = std::make_shared<AboutViewController>(application);
  bare->view();
  EXPECT_EQ(bare->versionText()->stringValue(), "");
}

TEST_F(SmallViewsTest, AcknowledgementsOpenAsASheetOnThePanesWindow) {
  auto about = std::make_shared<AboutViewController>(application);
  // Not in a window: nothing to attach the sheet to.
  about->showAcknowledgements();

  toolkit::Window window(application, Rect{{0, 0}, {560, 480}});
  window.setContentViewController(about);
  window.makeKeyAndOrderFront();
  auto* button =
      dynamic_cast<toolkit::Button*>(about->view()->findByIdentifier("acknowledgementsButton"));
  ASSERT_NE(button, nullptr);
  ASSERT_TRUE(driver.click(*button));

  auto* alert = dynamic_cast<toolkit::Alert*>(window.attachedSheet());
  ASSERT_NE(alert, nullptr);
  EXPECT_EQ(alert->messageText(), "Third-party software acknowledgements");
  EXPECT_EQ(alert->buttons(), (std::vector<std::string>{"Close"}));
  // One row per library: its name, then its licence.
  ASSERT_TRUE(alert->accessoryView());
  const auto& fields = alert->accessoryView()->subviews();
  ASSERT_EQ(fields.size(), 2 * acknowledgements().size());
  for (std::size_t i = 0; i < acknowledgements().size(); ++i) {
    const auto& expected = acknowledgements()[i];
    EXPECT_FALSE(expected.licence.empty());
    EXPECT_EQ(static_cast<toolkit::TextField&>(*fields[2 * i]).stringValue(), expected.library);
    EXPECT_EQ(static_cast<toolkit::TextField&>(*fields[2 * i + 1]).stringValue(), expected.licence);
  }
  ASSERT_TRUE(driver.answerAlert(window, 0));
  EXPECT_EQ(window.attachedSheet(), nullptr);
}

}  // namespace
}  // namespace wendrix
