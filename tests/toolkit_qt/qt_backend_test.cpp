#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <thread>

#include "base/utf8.h"
#include "dispatch/main_loop.h"
#include "dispatch/manual_queue.h"
#include "support/temp_dir.h"
#include "toolkit/alert.h"
#include "toolkit/controls.h"
#include "toolkit/file_panels.h"
#include "toolkit/outline_view.h"
#include "toolkit/popover.h"
#include "toolkit/qt/qt_backend.h"
#include "toolkit/qt/qt_loop_host.h"
#include "toolkit/qt/qt_menu.h"

namespace toolkit::qt {
namespace {

// One QApplication for the program, on the offscreen platform.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    app_ = std::make_unique<QApplication>(argc_, argv_);
  }
  void TearDown() override { app_.reset(); }

 private:
  int argc_ = 1;
  char name_[16] = "test_toolkit_qt";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] auto* const environment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

struct Names : OutlineViewDataSource, OutlineViewDelegate {
  std::vector<std::string> names{"Work", "Home", "Focus"};
  std::vector<std::string> journal;
  std::size_t numberOfChildren(OutlineView&, const OutlineItem* item) override {
    return item ? 0 : names.size();
  }
  OutlineItem child(OutlineView&, std::size_t index, const OutlineItem*) override {
    return names[index];
  }
  std::shared_ptr<View> viewFor(OutlineView&, const OutlineItem& item) override {
    auto cell = std::make_shared<TableCellView>();
    auto field = std::make_shared<TextField>();
    field->setStringValue(std::any_cast<std::string>(item));
    cell->setTextField(field);
    return cell;
  }
  void selectionIsChanging(OutlineView&) override { journal.push_back("isChanging"); }
  void selectionDidChange(OutlineView& v) override {
    journal.push_back("didChange " + std::to_string(v.selectedRow()));
  }
};

struct QtBackendTest : ::testing::Test {
  dispatch::ManualQueue queue;
  Application app{queue, {{{"CFBundleName", "Wendrix"}}, {}, nullptr}};
  std::shared_ptr<Window> window = std::make_shared<Window>(app, Rect{{0, 0}, {400, 300}});
  QtBackend backend{app};

  void showWindow() {
    window->makeKeyAndOrderFront();
    QApplication::processEvents();
  }
  QListWidget* showList(const std::shared_ptr<OutlineView>& list,
                        const std::shared_ptr<Names>& names) {
    list->setDataSource(names);
    list->setDelegate(names);
    list->reloadData();
    window->contentView()->addSubview(list);
    showWindow();
    return qobject_cast<QListWidget*>(backend.widgetFor(list.get()));
  }
};

TEST_F(QtBackendTest, ProgramChangesNeverReachUserOnlyCallbacks) {
  auto names = std::make_shared<Names>();
  auto list = std::make_shared<OutlineView>(Rect{{0, 0}, {300, 200}});
  QListWidget* qlist = showList(list, names);
  ASSERT_NE(qlist, nullptr);
  ASSERT_EQ(qlist->count(), 3);

  list->selectRowIndexes({1}, false);
  EXPECT_TRUE(qlist->item(1)->isSelected());
  EXPECT_EQ(names->journal, (std::vector<std::string>{"didChange 1"}));

  QTest::mouseClick(qlist->viewport(), Qt::LeftButton, {},
                    qlist->visualItemRect(qlist->item(2)).center());
  EXPECT_EQ(list->selectedRow(), 2);
  EXPECT_TRUE(qlist->item(2)->isSelected());
  EXPECT_FALSE(qlist->item(1)->isSelected());
  EXPECT_EQ(names->journal, (std::vector<std::string>{"didChange 1", "isChanging", "didChange 2"}));

  // A check box: the program's state change runs nothing, a click runs the action.
  auto box = std::make_shared<Button>(Button::Type::checkbox, Rect{{0, 210}, {100, 20}});
  int clicks = 0;
  box->setAction([&](Button&) { ++clicks; });
  window->contentView()->addSubview(box);
  auto* qbox = qobject_cast<QCheckBox*>(backend.widgetFor(box.get()));
  ASSERT_NE(qbox, nullptr);
  box->setState(ControlState::on);
  EXPECT_TRUE(qbox->isChecked());
  EXPECT_EQ(clicks, 0);
  QTest::mouseClick(qbox, Qt::LeftButton, {}, QPoint(5, qbox->height() / 2));
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(box->state(), ControlState::off);
  EXPECT_FALSE(qbox->isChecked());
}

TEST_F(QtBackendTest, TheDesktopsFocusMakesTheProgramActiveOrNot) {
  std::vector<std::string> seen;
  app.didBecomeActive.connect([&] { seen.push_back("active"); });
  app.didResignActive.connect([&] { seen.push_back("resigned"); });
  Q_EMIT qApp->applicationStateChanged(Qt::ApplicationActive);
  Q_EMIT qApp->applicationStateChanged(Qt::ApplicationActive);
  EXPECT_TRUE(app.isActive());
  Q_EMIT qApp->applicationStateChanged(Qt::ApplicationInactive);
  EXPECT_FALSE(app.isActive());
  EXPECT_EQ(seen, (std::vector<std::string>{"active", "resigned"}));
}

TEST_F(QtBackendTest, AListWithoutSelectionShowsNoRowAsChosenWhenFocused) {
  auto names = std::make_shared<Names>();
  auto list = std::make_shared<OutlineView>(Rect{{0, 0}, {300, 200}});
  QListWidget* qlist = showList(list, names);
  ASSERT_NE(qlist, nullptr);
  qlist->setFocus(Qt::TabFocusReason);
  QApplication::processEvents();
  EXPECT_FALSE(qlist->currentIndex().isValid());
  EXPECT_TRUE(qlist->selectedItems().isEmpty());

  // The model's selection is the current row; dropping it leaves none.
  list->selectRowIndexes({1}, false);
  EXPECT_EQ(qlist->currentRow(), 1);
  list->selectRowIndexes({}, false);
  EXPECT_FALSE(qlist->currentIndex().isValid());
  EXPECT_TRUE(qlist->selectedItems().isEmpty());
}

TEST_F(QtBackendTest, ClickOnEmptySpaceDeselects) {
  auto names = std::make_shared<Names>();
  auto list = std::make_shared<OutlineView>(Rect{{0, 0}, {300, 200}});
  QListWidget* qlist = showList(list, names);
  ASSERT_NE(qlist, nullptr);
  list->selectRowIndexes({0}, false);
  names->journal.clear();

  QTest::mouseClick(qlist->viewport(), Qt::LeftButton, {}, QPoint(10, 190));
  EXPECT_EQ(list->selectedRow(), -1);
  EXPECT_FALSE(qlist->item(0)->isSelected());
  EXPECT_EQ(names->journal, (std::vector<std::string>{"isChanging", "didChange -1"}));
}

TEST_F(QtBackendTest, SheetIsAnsweredThroughItsDialog) {
  showWindow();
  auto alert = std::make_shared<Alert>();
  alert->setMessageText("Delete the layout?");
  alert->addButton("Delete");
  alert->addButton("Cancel");
  std::vector<ModalResponse> answers;
  alert->beginSheetModal(*window, [&](ModalResponse r) { answers.push_back(r); });
  QWidget* sheet = backend.sheetWidget(*window);
  ASSERT_NE(sheet, nullptr);
  EXPECT_TRUE(sheet->isVisible());
  EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
  QPushButton* cancel = nullptr;
  for (auto* button : sheet->findChildren<QPushButton*>())
    if (button->text() == "Cancel") cancel = button;
  ASSERT_NE(cancel, nullptr);
  QTest::mouseClick(cancel, Qt::LeftButton);
  EXPECT_EQ(answers, (std::vector<ModalResponse>{kAlertSecondButtonReturn}));
  EXPECT_EQ(window->attachedSheet(), nullptr);
  EXPECT_EQ(backend.sheetWidget(*window), nullptr);
}

TEST_F(QtBackendTest, AnAlertsTextHasRoomAroundIt) {
  showWindow();
  auto alert = std::make_shared<Alert>();
  alert->setMessageText("Delete layout?\n\"Morning writing with references\"");
  alert->addButton("Delete");
  alert->addButton("Cancel");
  alert->beginSheetModal(*window, [](ModalResponse) {});
  QWidget* sheet = backend.sheetWidget(*window);
  ASSERT_NE(sheet, nullptr);
  QApplication::processEvents();
  auto* message = sheet->findChild<QLabel*>();
  ASSERT_NE(message, nullptr);
  // Each line fits on one line of the label, and the label keeps a margin.
  for (const QString& line : message->text().split('\n'))
    EXPECT_LE(message->fontMetrics().horizontalAdvance(line), message->width());
  const QRect area = message->geometry();
  EXPECT_GE(area.left(), 16);
  EXPECT_GE(sheet->width() - area.right(), 16);
  EXPECT_GE(area.top(), 16);
  window->endSheet(kAlertSecondButtonReturn);
}

TEST_F(QtBackendTest, TypingInAFieldOpenedWithItsTextSelectedReplacesIt) {
  // A suggested name with a narrow no-break space, as dates are written.
  const std::string suggestion = "Dec 11, 2026, 1:20\u202fAM";
  auto alert = std::make_shared<Alert>();
  alert->setMessageText("Name your layout");
  alert->addButton("Done");
  auto field = std::make_shared<TextField>(Rect{{0, 0}, {320, 24}});
  field->setEditable(true);
  field->setStringValue(suggestion);
  field->setSelectedRange(0, base::utf16Length(suggestion));
  alert->setAccessoryView(field);

  QString selected;
  bool focused = false;
  QTimer::singleShot(0, [&] {
    QWidget* dialog = QApplication::activeModalWidget();
    ASSERT_NE(dialog, nullptr);
    auto* edit = dialog->findChild<QLineEdit*>();
    ASSERT_NE(edit, nullptr);
    selected = edit->selectedText();
    focused = dialog->focusWidget() == edit;
    QTest::keyClicks(edit, "Work");
    for (auto* button : dialog->findChildren<QPushButton*>())
      if (button->text() == "Done") QTest::mouseClick(button, Qt::LeftButton);
  });
  EXPECT_EQ(alert->runModal(app), kAlertFirstButtonReturn);
  EXPECT_EQ(selected.toStdString(), suggestion);
  EXPECT_TRUE(focused);
  EXPECT_EQ(field->stringValue(), "Work");
}

TEST_F(QtBackendTest, PanelIsAnsweredWithAPath) {
  showWindow();
  support::TempDir dir;
  WindowFilePanels panels;
  std::optional<base::Url> chosen;
  platform::PanelResponse response = platform::PanelResponse::cancel;
  panels.beginSaveSheet({"Export", "Layouts.json", {"json"}}, window.get(),
                        [&](platform::PanelResponse r, std::optional<base::Url> url) {
                          response = r;
                          chosen = url;
                        });
  auto* dialog = qobject_cast<QFileDialog*>(backend.sheetWidget(*window));
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
  EXPECT_EQ(dialog->defaultSuffix(), "json");
  const std::string path = (dir.path() / "Layouts.json").string();
  dialog->selectFile(QString::fromStdString(path));
  QMetaObject::invokeMethod(dialog, "accept");
  EXPECT_EQ(response, platform::PanelResponse::ok);
  ASSERT_TRUE(chosen);
  EXPECT_EQ(*chosen, base::Url::fromFilePath(path));
}

TEST_F(QtBackendTest, RecorderGivesTheStoredNumberingOfAChord) {
  auto recorder = std::make_shared<ShortcutRecorder>(Rect{{0, 0}, {150, 24}});
  window->contentView()->addSubview(recorder);
  showWindow();
  QWidget* widget = backend.widgetFor(recorder.get());
  ASSERT_NE(widget, nullptr);
  QTest::keyClick(widget, Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
  // N is key code 45; Control is stored as Command (0x100000), Shift is 0x20000.
  EXPECT_EQ(recorder->objectValue(), (KeyChord{45, 0x100000 | 0x20000}));
  QTest::keyClick(widget, Qt::Key_Escape);
  EXPECT_EQ(recorder->objectValue(), std::nullopt);
}

TEST_F(QtBackendTest, WindowLevelKeepsAVisibleWindowOnTop) {
  showWindow();
  QWidget* widget = backend.widgetFor(*window);
  ASSERT_NE(widget, nullptr);
  window->setLevel(25);
  EXPECT_TRUE(widget->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(widget->isVisible());
  window->setLevel(0);
  EXPECT_FALSE(widget->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(widget->isVisible());
  EXPECT_EQ(window->level(), 0);
}

TEST_F(QtBackendTest, OutsideClickClosesATransientPopover) {
  showWindow();
  auto anchor = std::make_shared<Button>(Button::Type::push, Rect{{10, 10}, {80, 24}});
  window->contentView()->addSubview(anchor);
  Popover popover(app);
  popover.setBehavior(Popover::Behavior::transient);
  popover.setContentViewController(std::make_shared<ViewController>());
  popover.setContentSize({120, 80});
  popover.show(anchor->bounds(), *anchor, RectEdge::maxY);
  QWidget* popup = backend.popoverWidget(popover);
  ASSERT_NE(popup, nullptr);
  EXPECT_TRUE(popup->isVisible());
  // The content's size inside a border of one pixel.
  EXPECT_EQ(popup->size(), QSize(122, 82));

  // A press outside the popup, where Qt delivers it while a popup is open.
  QTest::mouseClick(popup, Qt::LeftButton, {}, QPoint(300, 300));
  EXPECT_FALSE(popover.isShown());
  EXPECT_EQ(backend.popoverWidget(popover), nullptr);
}

TEST(QtLoopHostTest, MainLoopTasksAndTimersRunInsideQtsLoop) {
  auto made = dispatch::MainLoop::create();
  ASSERT_TRUE(made.ok());
  auto loop = std::move(made).value();
  QtLoopHost host(*loop);
  std::vector<std::string> ran;
  loop->post([&] { ran.push_back("posted"); });
  loop->after(std::chrono::milliseconds(20), [&] { ran.push_back("timer"); });
  std::thread other([&] { loop->post([&] { ran.push_back("from another thread"); }); });
  other.join();
  loop->after(std::chrono::milliseconds(40), [&] { loop->quit(); });
  // A guard only: the loop's own quit ends exec long before.
  QTimer::singleShot(10000, [] { QCoreApplication::exit(1); });
  EXPECT_EQ(QCoreApplication::exec(), 0);
  EXPECT_EQ(ran, (std::vector<std::string>{"posted", "from another thread", "timer"}));
}

}  // namespace
}  // namespace toolkit::qt
