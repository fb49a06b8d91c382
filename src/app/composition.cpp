#include "app/composition.h"

#include <filesystem>
#include <functional>
#include <iostream>
#include <optional>
#include <utility>

#include "addons/addon_manager.h"
#include "app/app_delegate.h"
#include "app/telemetry_wiring.h"
#include "engine/windows_provider.h"
#include "model/bundle_aliases.h"
#include "platform/bundle/linux/desktop_bundle_id_resolver.h"
#include "platform/bundle/linux/launch_registry.h"
#include "platform/bundle/linux/mime_apps.h"
#include "platform/defaults/user_defaults.h"
#include "platform/icons/linux/desktop_icon_provider.h"
#include "platform/keyboard/linux/x11_keyboard.h"
#include "platform/login_item/linux/autostart_login_item.h"
#include "platform/running_apps/linux/x11_running_applications.h"
#include "platform/updater/linux/package_manager_updater.h"
#include "platform/workspace/linux/desktop_workspace.h"
#include "platform/xconn/connection.h"
#include "rx/scheduler.h"
#include "storage/defaults_storage.h"
#include "toolkit/alert.h"
#include "ui/customization_window.h"
#include "x11/x11_accessibility_trust.h"
#include "x11/x11_window_system.h"

namespace wendrix {

std::shared_ptr<platform::Updater> makeProgramUpdater(toolkit::Application& application) {
  auto showNotice = [&application](const std::string& title, const std::string& text) {
    // After the menu that asked has closed.
    application.mainQueue().async([&application, title, text] {
      auto alert = std::make_shared<toolkit::Alert>();
      alert->setMessageText(title);
      alert->setInformativeText(text);
      alert->addButton("OK");
      alert->runModal(application);
    });
  };
  return std::make_shared<platform::PackageManagerUpdater>(std::move(showNotice),
                                                           platform::UserDefaults::standard());
}

// Members in the order they are built; destroyed in reverse.
struct Agent::Parts {
  Parts(dispatch::MainLoop& mainLoop, toolkit::Application& app,
        std::shared_ptr<platform::xconn::Connection> display, const AgentOptions& options)
      : loop(mainLoop),
        application(app),
        scheduler(mainLoop),
        connection(std::move(display)),
        bundles(directories, locale,
                platform::DesktopBundleProvider::makeMainBundle(options.identity, directories)),
        windowSystem(connection, resolver, &bundles,
                     x11::X11WindowSystemOptions{options.identity.bundleIdentifier}),
        trust(connection, std::cerr),
        workspace(mainLoop, directories, locale, launches),
        keyboard(connection, processGroup()),
        runningApplications(connection, options.identity.bundleIdentifier, processGroup()),
        loginItem(options.identity.bundleIdentifier, options.identity.bundleName, programPath()) {}

  // The processes of the application a process belongs to, as the window
  // system groups them.
  std::function<std::vector<std::int32_t>(std::int32_t)> processGroup() {
    return [system = &windowSystem](std::int32_t pid) { return system->processesOf(pid); };
  }

  // The running program, which starting at login runs.
  static std::filesystem::path programPath() {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path("wendrix") : path;
  }

  dispatch::MainLoop& loop;
  toolkit::Application& application;
  rx::QueueScheduler scheduler;
  std::shared_ptr<platform::xconn::Connection> connection;
  platform::DesktopEntryDirectories directories =
      platform::DesktopEntryDirectories::fromEnvironment();
  std::string locale = platform::messagesLocaleFromEnvironment();
  std::shared_ptr<platform::LaunchRegistry> launches = std::make_shared<platform::LaunchRegistry>();
  platform::DesktopBundleIdResolver resolver{directories, launches};
  platform::DesktopBundleProvider bundles;
  x11::X11WindowSystem windowSystem;
  x11::X11AccessibilityTrust trust;
  platform::DesktopWorkspace workspace;
  platform::X11Keyboard keyboard;
  platform::X11RunningApplications runningApplications;
  platform::DesktopIconProvider icons = platform::DesktopIconProvider::fromEnvironment();
  platform::AutostartLoginItem loginItem;
  std::shared_ptr<CustomizationWindows> customizationWindows;
  std::shared_ptr<AppDelegate> delegate;
  std::optional<TelemetryForwarderHooks> telemetryHooks;
  // The main queue as the telemetry services, which outlive the agent, hold it.
  std::shared_ptr<MainQueueRelay> telemetryMainQueue = std::make_shared<MainQueueRelay>(loop);
  bool launched = false;
  struct PendingURLs {
    std::vector<std::string> urls;
    std::function<void(const base::Status&)> done;
  };
  std::vector<PendingURLs> pendingURLs;
};

BundleIdAliases desktopAliases(const platform::DesktopEntryDirectories& directories) {
  return BundleIdAliases::standard(platform::defaultFileManagerId(directories));
}

base::Result<std::unique_ptr<Agent>> Agent::make(dispatch::MainLoop& loop,
                                                 toolkit::Application& application,
                                                 AgentOptions options) {
  auto connection = platform::xconn::Connection::open(loop, options.display);
  if (!connection.ok()) return connection.error();
  auto parts = std::make_unique<Parts>(loop, application, connection.value(), options);

  DefaultsStorage::configureShared(platform::UserDefaults::standard(),
                                   options.identity.bundleVersion);
  WindowsProvider::configureShared(parts->windowSystem, parts->trust, parts->bundles,
                                   parts->scheduler);

  AppDelegateContext context;
  context.application = &application;
  context.appSecret = options.appSecret;
  context.telemetryServices = programTelemetryServices();
  context.trust = &parts->trust;
  ActionsContext& actions = context.actions;
  actions.runningApplications = &parts->runningApplications;
  actions.bundles = &parts->bundles;
  actions.scheduler = &parts->scheduler;
  actions.clock = &loop.clock();
  actions.workspace = &parts->workspace;
  actions.keyboard = &parts->keyboard;
  actions.makeUpdater = [&application] { return makeProgramUpdater(application); };
  actions.aliases = std::make_shared<const BundleIdAliases>(desktopAliases(parts->directories));
  AddonManager::configureShared(actions.aliases);
  actions.addons = AddonManager::shared();
  actions.addonRestores = AddonManager::shared();
  CustomizationContext windowContext;
  windowContext.application = &application;
  windowContext.bundles = &parts->bundles;
  windowContext.icons = &parts->icons;
  windowContext.addons = AddonManager::shared();
  windowContext.loginItem = &parts->loginItem;
  parts->customizationWindows = std::make_shared<CustomizationWindows>(std::move(windowContext));
  context.customizationWindows = parts->customizationWindows;
  configureTelemetry(options.logUrl, parts->telemetryMainQueue);
  parts->delegate = std::make_shared<AppDelegate>(std::move(context));
  parts->customizationWindows->setActions(parts->delegate->actions());
  application.setDelegate(parts->delegate);
  parts->telemetryHooks.emplace(application);
  return std::unique_ptr<Agent>(new Agent(std::move(parts)));
}

Agent::Agent(std::unique_ptr<Parts> parts) : parts_(std::move(parts)) {}

Agent::~Agent() {
  parts_->telemetryHooks.reset();
  parts_->telemetryMainQueue->detach();
  parts_->application.setDelegate({});
  parts_->delegate.reset();
  WindowsProvider::setSharedForTesting();
  DefaultsStorage::setSharedForTesting();
}

const std::shared_ptr<AppDelegate>& Agent::delegate() const {
  return parts_->delegate;
}

void Agent::finishLaunching() {
  if (parts_->launched) return;
  parts_->application.finishLaunching();
  parts_->launched = true;
  for (auto& pending : std::exchange(parts_->pendingURLs, {}))
    openURLs(std::move(pending.urls), std::move(pending.done));
}

void Agent::openURLs(std::vector<std::string> urls, std::function<void(const base::Status&)> done) {
  if (urls.empty()) {
    if (done) done({});
    return;
  }
  if (!parts_->launched) {
    parts_->pendingURLs.push_back({std::move(urls), std::move(done)});
    return;
  }
  parts_->delegate->openURLs(urls, std::move(done));
}

}  // namespace wendrix
