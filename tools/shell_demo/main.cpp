// Shows the program's shell on Qt and saves screenshots: the application
// delegate over a fake desktop and an in-memory store, its home popover
// under the tray icon, the About pane with its acknowledgements sheet, the
// "New Window" shortcut help popover under a help button, the tray menu with
// a layout's submenu open, the save dialog just opened and the alert of
// Check For Updates.
//   shell_demo <folder for the PNG files>
// The telemetry SDK starts for real: point XDG_DATA_HOME somewhere
// temporary.

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QMenu>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/app_delegate.h"
#include "app/build_info.h"
#include "app/composition.h"
#include "dispatch/main_loop.h"
#include "engine/windows_provider.h"
#include "platform/defaults/memory_user_defaults.h"
#include "platform/defaults/user_defaults.h"
#include "rx/scheduler.h"
#include "storage/defaults_storage.h"
#include "toolkit/application.h"
#include "toolkit/controls.h"
#include "toolkit/menu.h"
#include "toolkit/popover.h"
#include "toolkit/qt/qt_backend.h"
#include "toolkit/qt/qt_loop_host.h"
#include "toolkit/qt/qt_text_metrics.h"
#include "toolkit/status_item.h"
#include "toolkit/window.h"
#include "ui/about_pane.h"
#include "ui/alert_popover.h"
#include "ui/customization_window.h"
#include "ui/customization_window_opener.h"
#include "winsys/fake/fake_desktop.h"

namespace {

using namespace wendrix;

bool save(QWidget* widget, const std::string& path) {
  if (widget && widget->grab().save(QString::fromStdString(path))) return true;
  std::fprintf(stderr, "shell_demo: cannot write %s\n", path.c_str());
  return false;
}

// Dismisses the open dialogs (as Escape would).
void dismissDialogs() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (auto* dialog = qobject_cast<QDialog*>(widget); dialog && dialog->isVisible())
      dialog->reject();
  }
}

bool saveScreen(const std::string& path) {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen && screen->grabWindow(0).save(QString::fromStdString(path))) return true;
  std::fprintf(stderr, "shell_demo: cannot write %s\n", path.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: shell_demo <folder for the PNG files>\n");
    return 2;
  }
  const std::string folder = argv[1];
  platform::AppIdentity::install(app::buildIdentity());
  const platform::AppIdentity identity = platform::AppIdentity::current();
  QApplication qtApp(argc, argv);
  auto loop = dispatch::MainLoop::create();
  if (!loop.ok()) return 1;
  dispatch::MainLoop& queue = *loop.value();
  toolkit::qt::QtLoopHost host(queue);
  toolkit::Application application(queue, {{{"CFBundleName", identity.bundleName},
                                            {"CFBundleShortVersionString", identity.shortVersion}},
                                           {{"Menu Icon", WENDRIX_RESOURCE_DIR "/menu-icon.png"},
                                            {"AppIcon", WENDRIX_RESOURCE_DIR "/app-icon.png"}},
                                           std::make_shared<toolkit::qt::QtTextMetrics>()});
  toolkit::qt::QtBackend backend(application);

  rx::QueueScheduler scheduler(queue);
  winsys::fake::FakeDesktop desktop(queue);
  platform::UserDefaults::setSharedForTesting(std::make_shared<platform::MemoryUserDefaults>());
  DefaultsStorage::configureShared(std::make_shared<platform::MemoryUserDefaults>(),
                                   identity.bundleVersion);
  DefaultsStorage::shared()->saveLayout(Layout{"Work", {}, std::nullopt});
  DefaultsStorage::shared()->saveLayout(Layout{"Evening", {}, std::nullopt});
  WindowsProvider::configureShared(desktop.windowSystem(), desktop.trust(), desktop.bundles(),
                                   scheduler);

  AppDelegateContext context;
  context.application = &application;
  context.appSecret = "00000000-0000-0000-0000-000000000000";
  context.trust = &desktop.trust();
  context.actions.runningApplications = &desktop.runningApplications();
  context.actions.bundles = &desktop.bundles();
  context.actions.scheduler = &scheduler;
  context.actions.clock = &queue.clock();
  context.actions.makeUpdater = [&application] { return makeProgramUpdater(application); };
  CustomizationContext windowContext;
  windowContext.application = &application;
  windowContext.bundles = &desktop.bundles();
  auto windows = std::make_shared<CustomizationWindows>(windowContext);
  context.customizationWindows = windows;
  auto delegate = std::make_shared<AppDelegate>(std::move(context));
  windows->setActions(delegate->actions());
  application.setDelegate(delegate);
  application.finishLaunching();

  // A window with a help button, as the per-application settings have one.
  toolkit::Window helpWindow(application, toolkit::Rect{{80, 380}, {360, 90}});
  helpWindow.setTitle("New Window shortcuts");
  auto helpButton = std::make_shared<toolkit::Button>(toolkit::Button::Type::push,
                                                      toolkit::Rect{{20, 30}, {28, 28}});
  helpButton->setTitle("?");
  helpWindow.contentView()->addSubview(helpButton);
  std::shared_ptr<toolkit::Popover> help;

  int failures = 0;
  // Each step after the previous one had the time to be drawn.
  std::vector<std::function<void()>> steps{
      // Give the window manager and the tray time to map everything, then
      // open the home popover as the delegate's status action does.
      [&] { delegate->statusAction(); },
      [&] {
        if (!saveScreen(folder + "/popover-desktop.png")) ++failures;
        if (!save(backend.popoverWidget(*delegate->popover()), folder + "/popover.png")) ++failures;
        delegate->statusAction();
        delegate->customizationWindow()->showAbout(ButtonClickSource::other);
      },
      [&] {
        auto controller = std::dynamic_pointer_cast<ui::CustomizationWindowController>(
            delegate->customizationWindow()->openEditLayoutWindowController());
        if (!controller || !save(backend.widgetFor(*controller->window()), folder + "/about.png"))
          ++failures;
        auto* about = controller ? dynamic_cast<AboutViewController*>(
                                       controller->splitViewController().tabsSplitViewItem().child(
                                           CustomizationSplitViewController::kAboutTab))
                                 : nullptr;
        if (about) about->showAcknowledgements();
      },
      [&] {
        auto controller = std::dynamic_pointer_cast<ui::CustomizationWindowController>(
            delegate->customizationWindow()->openEditLayoutWindowController());
        if (!controller ||
            !save(backend.sheetWidget(*controller->window()), folder + "/acknowledgements.png"))
          ++failures;
        if (controller) controller->window()->endSheet(toolkit::kAlertFirstButtonReturn);
        if (controller) controller->window()->close();
        helpWindow.makeKeyAndOrderFront();
      },
      [&] { help = showNewWindowShortcutHelp(application, *helpButton); },
      [&] {
        if (!save(backend.popoverWidget(*help), folder + "/alert-popover.png")) ++failures;
        if (!saveScreen(folder + "/alert-popover-desktop.png")) ++failures;
        help->close();
        helpWindow.close();
        // The tray menu, then the first layout's submenu in it.
        delegate->statusItem()->userClick();
      },
      [&] {
        auto* menu = qobject_cast<QMenu*>(backend.menuWidget(*delegate->statusItem()->menu()));
        QAction* work = nullptr;
        for (QAction* action : menu ? menu->actions() : QList<QAction*>())
          if (action->text() == "Work") work = action;
        if (!work) {
          std::fprintf(stderr, "shell_demo: no layout in the tray menu\n");
          ++failures;
          return;
        }
        menu->setActiveAction(work);
        work->menu()->popup(menu->actionGeometry(work).topRight() + menu->pos());
      },
      [&] {
        if (!saveScreen(folder + "/menu-layout.png")) ++failures;
        auto* menu = qobject_cast<QMenu*>(backend.menuWidget(*delegate->statusItem()->menu()));
        if (menu) menu->hide();
        // The save dialog runs its own loop: the picture is taken from it.
        QTimer::singleShot(400, &qtApp, [&] {
          if (!saveScreen(folder + "/save-dialog.png")) ++failures;
          dismissDialogs();
        });
        toolkit::Menu& statusMenu = *delegate->statusItem()->menu();
        if (toolkit::MenuItem* item = statusMenu.itemWithTitle("Save windows layout..."))
          statusMenu.performItem(*item);
      },
      [&] {
        QTimer::singleShot(400, &qtApp, [&] {
          if (!saveScreen(folder + "/updates.png")) ++failures;
          dismissDialogs();
        });
        delegate->actions()->checkForUpdates();
      },
      [&] { QCoreApplication::exit(0); },
  };
  for (std::size_t i = 0; i < steps.size(); ++i)
    QTimer::singleShot(1500 + 700 * static_cast<int>(i), &qtApp, steps[i]);
  const int status = QApplication::exec();
  if (help) help->close();
  application.setDelegate({});
  delegate.reset();
  WindowsProvider::setSharedForTesting();
  DefaultsStorage::setSharedForTesting();
  platform::UserDefaults::setSharedForTesting();
  return status == 0 && failures == 0 ? 0 : 1;
}
