#include "app/app_delegate.h"

#include <chrono>
#include <iostream>
#include <utility>

#include "analytics/track.h"
#include "analytics/vocabulary.h"
#include "app/menus/main_menu_provider.h"
#include "app/url_handler.h"
#include "engine/windows_provider.h"
#include "platform/defaults/file_user_defaults.h"
#include "platform/window_level/window_level.h"
#include "storage/defaults_storage.h"
#include "telemetry/sdk/daraveved.h"
#include "toolkit/alert.h"
#include "toolkit/menu.h"
#include "toolkit/status_item.h"
#include "toolkit/window.h"
#include "ui/item_views.h"

namespace wendrix {
namespace {

constexpr std::string_view kAppDelegateErrorDomain = "Wendrix.AppDelegate";

constexpr const char* kStoreFailureMessage = "Wendrix cannot store your layouts";

// Tells the user that changes are not reaching the disk: a sheet on a window
// of its own, so that the agent goes on serving (a modal alert would hold
// the main loop until answered).
std::shared_ptr<toolkit::Window> showStoreFailureAlert(toolkit::Application& application,
                                                       const base::Error& error) {
  auto window =
      std::make_shared<toolkit::Window>(application, toolkit::Rect{{380, 260}, {520, 170}});
  window->setTitle("Wendrix");
  window->orderFront();
  auto alert = std::make_shared<toolkit::Alert>();
  alert->setMessageText(kStoreFailureMessage);
  alert->setInformativeText("Layouts and settings are kept in \"" +
                            platform::FileUserDefaults::defaultPath().string() +
                            "\", which cannot be written: " + error.description +
                            ". Layouts saved or changed now are lost when Wendrix quits.");
  alert->setStyle(toolkit::Alert::Style::critical);
  alert->addButton("OK");
  alert->beginSheetModal(*window,
                         [weak = std::weak_ptr<toolkit::Window>(window)](toolkit::ModalResponse) {
                           if (auto shown = weak.lock()) shown->close();
                         });
  return window;
}

// Offering to move the program into the applications folder: a program
// installed on Linux is where the package put it, so there is nothing to do.
void moveToApplicationsFolderIfNecessary() {}

}  // namespace

ShownPopover showPopover(toolkit::Application& application, toolkit::View& view,
                         std::shared_ptr<toolkit::ViewController> content, bool detachedWindow) {
  ShownPopover shown;
  shown.popover = std::make_shared<toolkit::Popover>(application);
  shown.popover->setContentViewController(std::move(content));
  shown.popover->setBehavior(toolkit::Popover::Behavior::transient);
  shown.popover->setAnimates(false);
  toolkit::Window* host = view.window();
  if (detachedWindow && host) {
    // The middle of the host window's bottom edge (y grows downwards).
    const toolkit::Rect frame = host->frame();
    auto anchor = std::make_shared<toolkit::Window>(
        application, toolkit::Rect{{frame.midX(), frame.maxY()}, {1, 1}},
        toolkit::WindowStyle::borderless);
    anchor->setContentViewController(std::make_shared<EmptyViewController>());
    anchor->setLevel(platform::kStatusWindowLevel);
    anchor->orderFront();
    shown.anchorWindow = anchor;
    toolkit::View& anchorView = *anchor->contentView();
    shown.popover->show(anchorView.bounds(), anchorView, toolkit::RectEdge::maxY);
  } else {
    shown.popover->show(view.bounds(), view, toolkit::RectEdge::maxY);
  }
  return shown;
}

AppDelegate::AppDelegate(AppDelegateContext context)
    : application_(*context.application),
      clock_(context.actions.clock ? *context.actions.clock : dispatch::SystemClock::instance()),
      debugOutput_(context.debugOutput ? *context.debugOutput : std::cout),
      appSecret_(std::move(context.appSecret)),
      telemetryServices_(std::move(context.telemetryServices)) {
  statusItem_ = application_.makeStatusItem();
  statusItem_->setVisible(false);

  storage_ = DefaultsStorage::shared();
  // The first write that fails in a run is shown; later ones are not.
  // The handler keeps the alert's window; it goes with the delegate.
  storage_->setWriteFailureHandler([&application = application_, shown = false,
                                    window = std::make_shared<std::shared_ptr<toolkit::Window>>()](
                                       const base::Error& error) mutable {
    if (std::exchange(shown, true)) return;
    // Not inside the write: its caller (a URL client, say) is answered first.
    application.mainQueue().async([&application, error, held = std::weak_ptr(window)] {
      if (auto slot = held.lock()) *slot = showStoreFailureAlert(application, error);
    });
  });
  storage_->applyFirstRunDefaults();

  windowsProvider_ = WindowsProvider::shared();
  windowsProvider_->warmUp();

  ActionsContext actionsContext = std::move(context.actions);
  actionsContext.windowsProvider = windowsProvider_;
  actionsContext.storage = storage_;
  MenuContext menuContext;
  menuContext.windowsProvider = windowsProvider_;
  menuContext.storage = storage_;
  menuContext.application = &application_;
  menuContext.trust = context.trust;
  menuContext.bundles = actionsContext.bundles;
  menuContext.clock = actionsContext.clock;
  menuContext.defaultLayoutName = actionsContext.defaultLayoutName;
  customizationWindow_ = std::make_shared<CustomizationWindowOpener>(
      std::move(context.customizationWindows), *actionsContext.runningApplications);
  actions_ = Actions::make(std::move(actionsContext));

  urlHandler_ = std::make_shared<URLHandler>(actions_, storage_);

  menuContext.actions = actions_;
  menuContext.customizationWindow = customizationWindow_;
  menuProvider_ = MainMenuProvider::make(std::move(menuContext));
}

AppDelegate::~AppDelegate() {
  storage_->setWriteFailureHandler({});
  dropPopover();
}

void AppDelegate::applicationDidFinishLaunching() {
  moveToApplicationsFolderIfNecessary();
  tlm::TLMDarAveved::start(appSecret_, telemetryServices_);

  statusItem_->setVisible(true);
  statusItem_->setBehavior(toolkit::StatusItem::kTerminationOnRemoval);
  statusItem_->setToolTip(application_.bundleInfo("CFBundleName").value_or(kDefaultToolTip));

  std::weak_ptr<AppDelegate> weak = weak_from_this();
  mainMenuStream()
      .subscribe(
          [weak](const std::shared_ptr<toolkit::Menu>& menu) {
            if (auto self = weak.lock()) self->statusItem_->setMenu(menu);
          },
          [](const base::Error& error) {
            Track::errorWithLocation(error, error_location::kAppdelegateMenuUpdater000);
          })
      .disposed(disposeBag_);

  if (auto icon = application_.imageNamed(kMenuIconName)) {
    statusItem_->setImage(std::move(icon));
  } else {
    Track::errorWithLocation(
        base::Error(std::string(kAppDelegateErrorDomain), 1,
                    std::string("The image \"") + kMenuIconName + "\" is missing"),
        error_location::kAppdelegateButtonIcon000);
  }
}

void AppDelegate::statusAction() {
  timerStart_ = clock_.now();
  openPopover();
}

void AppDelegate::openPopover() {
  if (popover_) {
    dropPopover();
    return;
  }
  auto shown = makePopover();
  if (!shown) return;
  shown->popover->setDelegate(std::weak_ptr<toolkit::PopoverDelegate>(shared_from_this()));
  popover_ = std::move(shown);
  // Told only now, so that the delegate finds the popover it shows.
  popoverDidShow(*popover_->popover);
}

void AppDelegate::openMenu() {
  const auto& menu = statusItem_->menu();
  if (!menu) return;
  timerStart_ = clock_.now();
  const auto& button = statusItem_->button();
  menu->popUp(nullptr, {0, button->frame().size.height}, button.get());
}

std::optional<ShownPopover> AppDelegate::makePopover() {
  const auto& button = statusItem_->button();
  if (!button) return std::nullopt;
  auto home = std::make_shared<HomeViewController>(application_);
  home->setActions(actions_);
  home->setCustomizationWindow(customizationWindow_);
  home->setDelegate(std::weak_ptr<HomeViewControllerDelegate>(shared_from_this()));
  return showPopover(application_, *button, std::move(home), true);
}

void AppDelegate::dropPopover() {
  auto shown = std::exchange(popover_, std::nullopt);
  if (!shown) return;
  shown->popover->close();
  if (shown->anchorWindow) shown->anchorWindow->close();
}

void AppDelegate::popoverDidShow(toolkit::Popover& shown) {
  if (timerStart_) {
    const std::chrono::duration<double> elapsed = clock_.now() - *timerStart_;
    debugOutput_ << "OpenTimer: " << elapsed.count() << " s\n";
  } else {
    debugOutput_ << "OpenTimer: no timer was set\n";
  }
  bringPopoverForward(application_, shown);
}

void AppDelegate::popoverDidClose(toolkit::Popover& closed) {
  if (!popover_ || popover_->popover.get() != &closed) return;
  // A transient popover closed by a click elsewhere: its anchor goes too.
  // The popover is still closing: it lives until the next turn of the loop.
  application_.mainQueue().async([keep = popover_->popover] {});
  dropPopover();
}

void AppDelegate::applicationOpenURLs(const std::vector<std::string>& urls) {
  urlHandler_->handleURLs(urls, std::exchange(urlsDone_, {}));
}

void AppDelegate::openURLs(const std::vector<std::string>& urls,
                           std::function<void(const base::Status&)> done) {
  urlsDone_ = std::move(done);
  application_.openURLs(urls);
  // Not handed to this delegate (it is not the application's).
  if (auto missed = std::exchange(urlsDone_, {})) {
    missed(base::Error(std::string(kAppDelegateErrorDomain), 2, "the URLs reached no handler"));
  }
}

// The one place the status menu is bound to the status item.
rx::Observable<std::shared_ptr<toolkit::Menu>> AppDelegate::mainMenuStream() {
  return menuProvider_->mainMenuStream();
}

}  // namespace wendrix
