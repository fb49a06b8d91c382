#include "app/app_delegate.h"

#include <utility>

#include "analytics/track.h"
#include "analytics/vocabulary.h"
#include "app/menus/main_menu_provider.h"
#include "app/url_handler.h"
#include "engine/windows_provider.h"
#include "storage/defaults_storage.h"
#include "telemetry/sdk/daraveved.h"
#include "toolkit/menu.h"
#include "toolkit/status_item.h"

namespace wendrix {
namespace {

constexpr std::string_view kAppDelegateErrorDomain = "Wendrix.AppDelegate";

// Offering to move the program into the applications folder: a program
// installed on Linux is where the package put it, so there is nothing to do.
void moveToApplicationsFolderIfNecessary() {}

}  // namespace

AppDelegate::AppDelegate(AppDelegateContext context)
    : application_(*context.application),
      appSecret_(std::move(context.appSecret)),
      telemetryServices_(std::move(context.telemetryServices)) {
  statusItem_ = application_.makeStatusItem();
  statusItem_->setVisible(false);

  storage_ = DefaultsStorage::shared();
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
  actions_ = Actions::make(std::move(actionsContext));

  urlHandler_ = std::make_shared<URLHandler>(actions_, storage_);

  menuContext.actions = actions_;
  menuProvider_ = MainMenuProvider::make(std::move(menuContext));
}

AppDelegate::~AppDelegate() = default;

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

void AppDelegate::applicationOpenURLs(const std::vector<std::string>& urls) {
  urlHandler_->handleURLs(urls);
}

// The one place the status menu is bound to the status item.
rx::Observable<std::shared_ptr<toolkit::Menu>> AppDelegate::mainMenuStream() {
  return menuProvider_->mainMenuStream();
}

}  // namespace wendrix
