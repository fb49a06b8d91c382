// Shows the UI toolkit on Qt and saves screenshots: a tray icon with its
// menu open, and a window with a list and the common controls.
//   toolkit_demo <folder for the PNG files>

#include <QApplication>
#include <QMenu>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <string>

#include "dispatch/main_loop.h"
#include "toolkit/application.h"
#include "toolkit/controls.h"
#include "toolkit/menu.h"
#include "toolkit/outline_view.h"
#include "toolkit/qt/qt_backend.h"
#include "toolkit/qt/qt_loop_host.h"
#include "toolkit/qt/qt_text_metrics.h"
#include "toolkit/status_item.h"

namespace {

using namespace toolkit;

struct Layouts : OutlineViewDataSource, OutlineViewDelegate {
  std::vector<std::string> names{"Work", "Evening", "Deep Work", "Presentation"};
  std::size_t numberOfChildren(OutlineView&, const OutlineItem* item) override {
    return item ? 0 : names.size();
  }
  OutlineItem child(OutlineView&, std::size_t index, const OutlineItem*) override {
    return names[index];
  }
  std::shared_ptr<View> viewFor(OutlineView&, const OutlineItem& item) override {
    auto cell = std::make_shared<TableCellView>();
    auto field = std::make_shared<TextField>(Rect{{8, 4}, {200, 18}});
    field->setStringValue(std::any_cast<std::string>(item));
    cell->setTextField(field);
    return cell;
  }
};

std::shared_ptr<Menu> makeMenu() {
  auto menu = std::make_shared<Menu>();
  auto noop = [](MenuItem&) {};
  menu->addItem(MenuItem::make("Save windows layout...", noop, "s"));
  menu->addItem(MenuItem::separator());
  for (const char* name : {"Work", "Evening"}) {
    auto layout = std::make_shared<Menu>(name);
    layout->addItem(MenuItem::make("Restore layout", noop));
    layout->addItem(MenuItem::make("Hide layout windows", noop));
    auto item = MenuItem::make(name);
    item->setSubmenu(layout);
    menu->addItem(item);
  }
  menu->addItem(MenuItem::separator());
  menu->addItem(MenuItem::make("Edit layouts...", noop));
  auto close = MenuItem::make("Close other apps", noop);
  close->setState(ControlState::on);
  menu->addItem(close);
  menu->addItem(MenuItem::separator());
  menu->addItem(MenuItem::make("Quit Wendrix", noop, "q"));
  return menu;
}

bool save(const QPixmap& pixmap, const std::string& path) {
  if (pixmap.save(QString::fromStdString(path))) return true;
  std::fprintf(stderr, "toolkit_demo: cannot write %s\n", path.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: toolkit_demo <folder for the PNG files>\n");
    return 2;
  }
  const std::string folder = argv[1];
  QApplication qtApp(argc, argv);
  auto loop = dispatch::MainLoop::create();
  if (!loop.ok()) return 1;
  toolkit::qt::QtLoopHost host(*loop.value());
  Application app(*loop.value(), {{{"CFBundleName", "Wendrix"}},
                                  {{"Menu Icon", WENDRIX_MENU_ICON}},
                                  std::make_shared<toolkit::qt::QtTextMetrics>()});
  toolkit::qt::QtBackend backend(app);

  auto status = app.makeStatusItem();
  status->setImage(app.imageNamed("Menu Icon"));
  status->setToolTip("Wendrix");
  status->setMenu(makeMenu());

  auto window = std::make_shared<Window>(app, Rect{{120, 160}, {460, 300}});
  window->setTitle("Customize Wendrix");
  auto layouts = std::make_shared<Layouts>();
  auto list = std::make_shared<OutlineView>(Rect{{12, 12}, {200, 276}});
  list->setDataSource(layouts);
  list->setDelegate(layouts);
  list->reloadData();
  list->selectRowIndexes({0}, false);
  auto name = std::make_shared<TextField>(Rect{{228, 12}, {220, 26}});
  name->setEditable(true);
  name->setBezeled(true);
  name->setStringValue("Work");
  auto closeOthers = std::make_shared<Button>(Button::Type::checkbox, Rect{{228, 50}, {220, 24}});
  closeOthers->setTitle("Close other apps on restore");
  closeOthers->setState(ControlState::on);
  auto segments = std::make_shared<SegmentedControl>(Rect{{228, 86}, {220, 28}});
  segments->setSegmentCount(3);
  segments->setLabel("Restore", 0);
  segments->setLabel("Close", 1);
  segments->setLabel("Remove", 2);
  segments->setEnabled(false, 2);
  auto behavior = std::make_shared<PopUpButton>(Rect{{228, 126}, {220, 28}});
  for (const char* option : {"Close windows", "Quit apps", "Hide apps", "Minimize windows"})
    behavior->addItem(option);
  auto recorder = std::make_shared<ShortcutRecorder>(Rect{{228, 166}, {220, 26}});
  recorder->setObjectValue(KeyChord{45, kCommandKeyMask | kShiftKeyMask});
  for (const std::shared_ptr<View>& view : std::initializer_list<std::shared_ptr<View>>{
           list, name, closeOthers, segments, behavior, recorder})
    window->contentView()->addSubview(view);
  window->makeKeyAndOrderFront();

  int failures = 0;
  // Give the window manager and the tray time to map everything, then open
  // the status menu as a click does and take the pictures.
  QTimer::singleShot(1500, [&] { status->userClick(); });
  QTimer::singleShot(2500, [&] {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!save(screen->grabWindow(0), folder + "/desktop.png")) ++failures;
    if (QWidget* w = backend.widgetFor(*window)) {
      if (!save(w->grab(), folder + "/window.png")) ++failures;
    }
    if (QWidget* m = backend.menuWidget(*status->menu())) {
      if (!save(m->grab(), folder + "/menu.png")) ++failures;
    }
    QCoreApplication::exit(0);
  });
  QApplication::exec();
  return failures == 0 ? 0 : 1;
}
