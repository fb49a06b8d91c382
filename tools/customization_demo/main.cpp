// Shows the customization window on Qt and saves screenshots of it: the
// window built by the program's own factory over a fake desktop, the
// system's desktop entries and icons, and an in-memory store: just opened,
// with a layout of several applications selected, its delete confirmation,
// then the preferences tab with two applications' shortcuts.
//   customization_demo <folder for the PNG files>

#include <QApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "dispatch/main_loop.h"
#include "engine/windows_provider.h"
#include "model/layout.h"
#include "model/shortcut.h"
#include "platform/bundle/fake/fake_bundle_provider.h"
#include "platform/bundle/linux/desktop_bundle_provider.h"
#include "platform/defaults/memory_user_defaults.h"
#include "platform/icons/linux/desktop_icon_provider.h"
#include "platform/login_item/fake/memory_login_item.h"
#include "rx/scheduler.h"
#include "storage/defaults_storage.h"
#include "toolkit/application.h"
#include "toolkit/qt/qt_backend.h"
#include "toolkit/qt/qt_loop_host.h"
#include "toolkit/qt/qt_text_metrics.h"
#include "ui/customization_navigation.h"
#include "ui/customization_window.h"
#include "winsys/fake/fake_desktop.h"

namespace {

using namespace wendrix;
using winsys::fake::AppSetup;
using winsys::fake::WindowSetup;

IApp app(std::string bundleId, int windows) {
  IApp a;
  // An installed program is saved with its desktop entry.
  const std::string entry = "/usr/share/applications/" + bundleId + ".desktop";
  if (std::filesystem::exists(entry)) a.bundleURL = base::Url::fromFilePath(entry);
  a.bundleId = std::move(bundleId);
  for (int i = 0; i < windows; ++i) {
    IWindow w;
    w.title = "Window " + std::to_string(i + 1);
    a.windows.push_back(std::move(w));
  }
  return a;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: customization_demo <folder for the PNG file>\n");
    return 2;
  }
  const std::string path = std::string(argv[1]) + "/customization.png";
  const std::string openedPath = std::string(argv[1]) + "/customization-open.png";
  const std::string deletePath = std::string(argv[1]) + "/delete.png";
  const std::string preferencesPath = std::string(argv[1]) + "/preferences.png";
  QApplication qtApp(argc, argv);
  auto loop = dispatch::MainLoop::create();
  if (!loop.ok()) return 1;
  dispatch::MainLoop& queue = *loop.value();
  toolkit::qt::QtLoopHost host(queue);
  toolkit::Application application(
      queue, {{{"CFBundleName", "Wendrix"}}, {}, std::make_shared<toolkit::qt::QtTextMetrics>()});
  toolkit::qt::QtBackend backend(application);

  // Mail (two windows) and Notes run; Terminal runs outside the layout;
  // Calendar is saved but not running.
  rx::QueueScheduler scheduler(queue);
  winsys::fake::FakeDesktop desktop(queue);
  desktop.launch(AppSetup::withId("Mail"),
                 {WindowSetup::titled("Inbox"), WindowSetup::titled("Drafts")});
  desktop.launch(AppSetup::withId("Notes"), {WindowSetup::titled("Notes")});
  desktop.launch(AppSetup::withId("Terminal"), {WindowSetup::titled("sh")});
  auto provider = std::make_shared<WindowsProvider>(desktop.windowSystem(), desktop.trust(),
                                                    desktop.bundles(), scheduler);
  provider->warmUp();
  auto storage =
      std::make_shared<DefaultsStorage>(std::make_shared<platform::MemoryUserDefaults>(), "1");
  const Layout work{
      "Work",
      {app("featherpad", 2), app("debian-xterm", 1), app("Mail", 2), app("Calendar", 1)},
      true};
  storage->saveLayout(work);
  storage->saveLayout(Layout{"Evening", {app("Notes", 1)}, std::nullopt});
  storage->saveLayout(Layout{"Presentation", {app("Terminal", 1)}, std::nullopt});
  // Two applications with their own New Window shortcuts (Ctrl+N and
  // Ctrl+Shift+T), for the preferences tab.
  storage->saveAppSettings({{"Mail", IAppSettings{IShortcut{45, 0x100000}}},
                            {"Terminal", IAppSettings{IShortcut{17, 0x120000}}}});
  platform::MemoryLoginItem loginItem;
  (void)loginItem.setEnabled(true);
  // The system's desktop entries and their icons, for the installed programs.
  platform::DesktopBundleProvider bundles(
      platform::DesktopEntryDirectories::fromEnvironment(), "C",
      platform::FakeBundleProvider::makeBundle(*base::Url::parse("file:///usr/bin/wendrix"),
                                               "app.Wendrix", "Wendrix"));
  const auto icons = platform::DesktopIconProvider::fromEnvironment();

  CustomizationContext context;
  context.application = &application;
  context.storage = storage;
  context.windowsProvider = provider;
  context.bundles = &bundles;
  context.icons = &icons;
  context.loginItem = &loginItem;
  CustomizationWindows factory(context);
  auto controller = factory.makeController();
  if (!controller) return 1;
  controller->showWindow();

  int failures = 0;
  auto grab = [&](const std::string& file) {
    auto* window = dynamic_cast<ui::CustomizationWindowController*>(controller.get());
    QWidget* widget = window ? backend.widgetFor(*window->window()) : nullptr;
    if (!widget || !widget->grab().save(QString::fromStdString(file))) {
      std::fprintf(stderr, "customization_demo: cannot write %s\n", file.c_str());
      ++failures;
    }
  };
  // Give the window manager time to map the window, then take the pictures:
  // the layout, then the preferences tab.
  auto* window = dynamic_cast<ui::CustomizationWindowController*>(controller.get());
  QTimer::singleShot(1500, [&] {
    grab(openedPath);
    controller->select(NavigationSelection::layout(work));
    QTimer::singleShot(500, [&] {
      grab(path);
      window->splitViewController().details().deleteLayout();
      QTimer::singleShot(700, [&] {
        QScreen* screen = QGuiApplication::primaryScreen();
        if (!screen || !screen->grabWindow(0).save(QString::fromStdString(deletePath))) ++failures;
        window->window()->endSheet(toolkit::kAlertSecondButtonReturn);
        controller->select(NavigationSelection::navigation(NavigationOption::Preferences));
        QTimer::singleShot(500, [&] {
          grab(preferencesPath);
          QCoreApplication::exit(0);
        });
      });
    });
  });
  QApplication::exec();
  return failures == 0 ? 0 : 1;
}
