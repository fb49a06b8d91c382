#include <gtest/gtest.h>

#include "toolkit/alert.h"
#include "toolkit/containers.h"
#include "toolkit/controls.h"
#include "toolkit/file_panels.h"
#include "toolkit/popover.h"
#include "toolkit_fixture.h"

namespace toolkit {
namespace {

using testing::Journal;

struct WindowTest : testing::ToolkitTest {
  Journal journal;
  std::shared_ptr<Window> window = std::make_shared<Window>(app, Rect{{10, 20}, {600, 400}});

  std::function<void(ModalResponse)> answerInto(std::string name) {
    return [this, name](ModalResponse r) { journal.add(name + " " + std::to_string(r)); };
  }
};

TEST_F(WindowTest, LevelsAndFramesReadBackExactly) {
  for (int level : {0, 25, 3, -1, 1000}) {
    window->setLevel(level);
    EXPECT_EQ(window->level(), level);
  }
  window->setFrame({{-5, 7}, {123.5, 77}});
  EXPECT_EQ(window->frame(), (Rect{{-5, 7}, {123.5, 77}}));
  EXPECT_EQ(window->contentView()->bounds(), (Rect{{0, 0}, {123.5, 77}}));
}

TEST_F(WindowTest, OneSheetAtATimeTheNextWaits) {
  auto first = std::make_shared<Alert>();
  first->setMessageText("Delete?");
  first->addButton("Delete");
  first->addButton("Cancel");
  auto second = std::make_shared<Alert>();
  second->addButton("OK");

  first->beginSheetModal(*window, answerInto("first"));
  second->beginSheetModal(*window, answerInto("second"));
  EXPECT_EQ(window->attachedSheet(), first.get());
  EXPECT_EQ(window->pendingSheets(), 2u);

  EXPECT_FALSE(driver.answerAlert(*window, 2));  // no third button
  EXPECT_TRUE(driver.answerAlert(*window, 1));
  EXPECT_EQ(window->attachedSheet(), second.get());
  EXPECT_TRUE(driver.answerAlert(*window, 0));
  EXPECT_EQ(window->attachedSheet(), nullptr);
  EXPECT_FALSE(window->endSheet(kModalResponseOK));
  EXPECT_EQ(journal.entries, (std::vector<std::string>{"first 1001", "second 1000"}));
}

TEST_F(WindowTest, AlertTextAccessoryIsFilledBeforeTheAnswer) {
  auto alert = std::make_shared<Alert>();
  alert->addButton("Done");
  auto field = std::make_shared<TextField>(Rect{{0, 0}, {320, 24}});
  field->setEditable(true);
  alert->setAccessoryView(field);
  alert->beginSheetModal(*window, [&](ModalResponse r) {
    journal.add(std::to_string(r) + " " + field->stringValue());
  });
  EXPECT_TRUE(driver.answerAlert(*window, 0, "Focus"));
  EXPECT_EQ(journal.entries, (std::vector<std::string>{"1000 Focus"}));
}

TEST_F(WindowTest, ModalAlertsTakeScriptedAnswers) {
  Alert alert;
  alert.setMessageText("Name the layout");
  alert.addButton("Save");
  alert.addButton("Cancel");
  auto field = std::make_shared<TextField>();
  field->setEditable(true);
  alert.setAccessoryView(field);

  driver.answerNextModal(0, "Evening");
  EXPECT_EQ(alert.runModal(app), kAlertFirstButtonReturn);
  EXPECT_EQ(field->stringValue(), "Evening");
  EXPECT_EQ(alert.runModal(app), kModalResponseAbort);  // nothing scripted
  EXPECT_EQ(app.modalAlertMessages(),
            (std::vector<std::string>{"Name the layout", "Name the layout"}));
}

TEST_F(WindowTest, FilePanelsAreSheetsOrFloating) {
  WindowFilePanels panels;
  std::vector<std::string> answers;
  auto record = [&](platform::PanelResponse r, std::optional<base::Url> url) {
    answers.push_back(std::to_string(static_cast<int>(r)) + " " +
                      (url ? url->absoluteString() : std::string("none")));
  };
  const auto file = base::Url::fromFilePath("/tmp/layouts.json");
  panels.beginSaveSheet({"Export", "Layouts.json", {"json"}}, window.get(), record);
  panels.beginOpenSheet({"Import", "", {"json"}}, window.get(), record);
  panels.beginOpenSheet({"Import", "", {"json"}}, nullptr, record);
  EXPECT_EQ(panels.floatingPanels(), 1u);
  auto* sheet = dynamic_cast<FilePanel*>(window->attachedSheet());
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(sheet->kind(), FilePanel::Kind::save);
  EXPECT_EQ(sheet->options().nameFieldValue, "Layouts.json");

  EXPECT_TRUE(driver.answerPanel(*window, platform::PanelResponse::ok, file));
  EXPECT_TRUE(driver.answerPanel(*window, platform::PanelResponse::cancel, file));
  EXPECT_TRUE(panels.answerFloating(platform::PanelResponse::ok, file));
  EXPECT_FALSE(panels.answerFloating(platform::PanelResponse::ok));
  EXPECT_EQ(answers, (std::vector<std::string>{"1 file:///tmp/layouts.json", "0 none",
                                               "1 file:///tmp/layouts.json"}));

  // An alert is no panel.
  auto alert = std::make_shared<Alert>();
  alert->beginSheetModal(*window, nullptr);
  EXPECT_FALSE(driver.answerPanel(*window, platform::PanelResponse::ok));
}

struct Page : ViewController {
  explicit Page(std::string name) { setTitle(std::move(name)); }
};

struct CloseJournal : WindowDelegate {
  Journal* journal;
  void windowWillClose() override { journal->add("willClose"); }
};

TEST_F(WindowTest, ViewControllersAppearWithTheirWindowAndTab) {
  app.viewControllerDidAppear.connect([&](ViewController& vc) { journal.add(vc.title()); });
  auto split = std::make_shared<SplitViewController>();
  split->setTitle("split");
  auto sidebar = std::make_shared<Page>("sidebar");
  auto tabs = std::make_shared<TabViewController>();
  tabs->setTitle("tabs");
  tabs->addChild(std::make_shared<Page>("details"));
  tabs->addChild(std::make_shared<Page>("preferences"));
  split->addChild(sidebar);
  split->addChild(tabs);
  window->setContentViewController(split);
  auto closer = std::make_shared<CloseJournal>();
  closer->journal = &journal;
  window->setDelegate(closer);
  EXPECT_TRUE(journal.entries.empty());

  window->makeKeyAndOrderFront();
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(app.keyWindow(), window.get());
  EXPECT_EQ(journal.entries, (std::vector<std::string>{"split", "sidebar", "tabs", "details"}));

  tabs->setSelectedTabIndex(1);
  tabs->setSelectedTabIndex(7);  // ignored
  EXPECT_EQ(tabs->selectedTabIndex(), 1);
  EXPECT_EQ(journal.entries.back(), "preferences");
  EXPECT_EQ(tabs->child(1)->view()->superview(), tabs->view().get());
  EXPECT_EQ(tabs->child(0)->view()->superview(), nullptr);

  driver.closeWindow(*window);
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(app.keyWindow(), nullptr);
  EXPECT_FALSE(sidebar->isAppeared());
  EXPECT_EQ(journal.entries.back(), "willClose");
}

TEST_F(WindowTest, FirstResponderIsAViewOfTheWindow) {
  auto field = std::make_shared<TextField>();
  View loose;
  window->contentView()->addSubview(field);
  EXPECT_EQ(field->window(), window.get());
  EXPECT_TRUE(window->makeFirstResponder(field.get()));
  EXPECT_FALSE(window->makeFirstResponder(&loose));
  EXPECT_EQ(window->firstResponder(), field.get());
  field->removeFromSuperview();
  EXPECT_EQ(window->firstResponder(), nullptr);
  EXPECT_EQ(field->window(), nullptr);
}

struct PopoverJournal : PopoverDelegate {
  Journal* journal;
  void popoverDidShow(Popover&) override { journal->add("didShow"); }
  void popoverDidClose(Popover&) override { journal->add("didClose"); }
};

TEST_F(WindowTest, OutsideClickClosesOnlyTransientPopovers) {
  auto delegate = std::make_shared<PopoverJournal>();
  delegate->journal = &journal;
  Popover transient(app);
  transient.setBehavior(Popover::Behavior::transient);
  transient.setDelegate(delegate);
  transient.setContentViewController(std::make_shared<Page>("help"));
  Popover fixed(app);
  View anchor(Rect{{0, 0}, {20, 20}});

  transient.show(anchor.bounds(), anchor, RectEdge::maxY);
  fixed.show(anchor.bounds(), anchor, RectEdge::minY);
  EXPECT_EQ(app.shownPopovers().size(), 2u);
  EXPECT_TRUE(transient.contentViewController()->isAppeared());
  EXPECT_EQ(transient.anchor().edge, RectEdge::maxY);

  driver.clickOutsidePopovers();
  EXPECT_FALSE(transient.isShown());
  EXPECT_TRUE(fixed.isShown());
  EXPECT_FALSE(transient.contentViewController()->isAppeared());
  EXPECT_EQ(journal.entries, (std::vector<std::string>{"didShow", "didClose"}));
  fixed.close();
  EXPECT_TRUE(app.shownPopovers().empty());
}

// Popovers and status items hold their views in windows of their own, which
// the application does not list: menus popped up in them reach the backend,
// and a shown popover's window can be made key.
TEST_F(WindowTest, PopoversAndStatusItemsKeepTheirViewsInUnlistedWindows) {
  std::vector<const View*> poppedUpIn;
  app.menuPoppedUp.connect([&](Menu&, const View* view, Point) { poppedUpIn.push_back(view); });
  const std::size_t listed = app.windows().size();

  auto item = app.makeStatusItem();
  Window* bar = item->button()->window();
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->style(), WindowStyle::statusBar);
  item->setScreenFrame({{900, 0}, {24, 26}});
  EXPECT_EQ(bar->frame(), (Rect{{900, 0}, {24, 26}}));
  EXPECT_EQ(item->button()->bounds(), (Rect{{0, 0}, {24, 26}}));
  item->setMenu(std::make_shared<Menu>());
  ASSERT_TRUE(driver.clickStatusItem(*item));
  EXPECT_EQ(poppedUpIn, (std::vector<const View*>{item->button().get()}));

  Popover popover(app);
  auto page = std::make_shared<Page>("help");
  popover.setContentViewController(page);
  EXPECT_EQ(page->view()->window(), nullptr);
  View anchor(Rect{{0, 0}, {20, 20}});
  popover.show(anchor.bounds(), anchor, RectEdge::maxY);
  Window* holder = page->view()->window();
  ASSERT_NE(holder, nullptr);
  EXPECT_EQ(holder, popover.window());
  EXPECT_EQ(holder->style(), WindowStyle::popover);
  EXPECT_EQ(app.windows().size(), listed);
  holder->makeKeyAndOrderFront();
  EXPECT_EQ(app.keyWindow(), holder);
  auto menu = std::make_shared<Menu>();
  menu->popUp(nullptr, {5, 5}, page->view().get());
  EXPECT_EQ(poppedUpIn.back(), page->view().get());

  popover.close();
  EXPECT_EQ(page->view()->window(), nullptr);
  EXPECT_EQ(popover.window(), nullptr);
  EXPECT_EQ(app.keyWindow(), nullptr);
}

struct AppJournal : ApplicationDelegate {
  Journal* journal;
  void applicationDidFinishLaunching() override { journal->add("launched"); }
  void applicationOpenURLs(const std::vector<std::string>& urls) override {
    journal->add("open " + urls.front());
  }
  void applicationDidBecomeActive() override { journal->add("active"); }
  void applicationDidResignActive() override { journal->add("inactive"); }
  void applicationWillTerminate() override { journal->add("terminate"); }
};

TEST_F(WindowTest, ApplicationTellsItsDelegateThenItsObservers) {
  auto delegate = std::make_shared<AppJournal>();
  delegate->journal = &journal;
  app.setDelegate(delegate);
  app.didBecomeActive.connect([&] { journal.add("observer active"); });
  app.urlsOpened.connect([&](const auto& urls) { journal.add("observer " + urls.front()); });
  bool ended = false;
  app.setTerminateHandler([&] { ended = true; });

  app.finishLaunching();
  driver.openURLs({"wendrix:restore?name=Work"});
  app.activate(true);
  app.activate(true);  // already active: asked, but no second notice
  driver.deactivate();
  app.terminate();
  app.terminate();
  EXPECT_TRUE(ended);
  EXPECT_EQ(app.activationRequests(), 2);
  EXPECT_EQ(journal.entries,
            (std::vector<std::string>{"launched", "open wendrix:restore?name=Work",
                                      "observer wendrix:restore?name=Work", "active",
                                      "observer active", "inactive", "terminate"}));
}

TEST_F(WindowTest, BundleInfoImagesAndAppearance) {
  EXPECT_EQ(app.bundleInfo("CFBundleName"), "Wendrix");
  EXPECT_EQ(app.bundleInfo("Missing"), std::nullopt);
  EXPECT_EQ(app.imageNamed("Menu Icon"), Image::named("Menu Icon"));
  EXPECT_EQ(app.imageNamed("pin"), std::nullopt);
  int changes = 0;
  app.appearanceChanged.connect([&] { ++changes; });
  app.setAppearance(Appearance::dark);
  app.setAppearance(Appearance::dark);
  EXPECT_EQ(app.appearance(), Appearance::dark);
  EXPECT_EQ(changes, 1);
}

}  // namespace
}  // namespace toolkit
