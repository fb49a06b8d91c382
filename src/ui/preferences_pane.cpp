#include "ui/preferences_pane.h"

#include <utility>

#include "analytics/track.h"
#include "analytics/vocabulary.h"
#include "engine/actions.h"
#include "platform/login_item/login_item.h"
#include "platform/updater/updater.h"
#include "rx/rx.h"
#include "storage/defaults_storage.h"
#include "storage/layout_transfer.h"
#include "telemetry/analytics/analytics.h"
#include "toolkit/alert.h"
#include "toolkit/application.h"
#include "toolkit/file_panels.h"

namespace wendrix {

using toolkit::Button;
using toolkit::ControlState;

namespace {

constexpr double kMargin = 16;

bool isOn(const Button& button) {
  return button.state() == ControlState::on;
}

ControlState stateOf(bool on) {
  return on ? ControlState::on : ControlState::off;
}

}  // namespace

// --- general preferences -----------------------------------------------------------

GeneralPrefsViewController::GeneralPrefsViewController(CustomizationContext context,
                                                       Outlets outlets)
    : context_(std::move(context)), outlets_(std::move(outlets)) {}

void GeneralPrefsViewController::setup(const std::shared_ptr<toolkit::View>& view) {
  view_ = view;
  auto& o = outlets_;
  o.launchAtLogin->setState(stateOf(context_.loginItem && context_.loginItem->isEnabled()));
  o.launchAtLogin->setEnabled(context_.loginItem != nullptr);
  auto actions = context_.actions.lock();
  o.checkForUpdates->setState(
      stateOf(actions && actions->updater().automaticallyChecksForUpdates()));
  o.checkForUpdates->setEnabled(actions != nullptr);
  o.sendAnalytics->setState(stateOf(tlm::TLMAnalytics::isEnabled()));

  std::weak_ptr<GeneralPrefsViewController> weak = shared_from_this();
  o.launchAtLogin->setAction([weak](Button& sender) {
    if (auto self = weak.lock()) self->onLaunchAtLoginToggled(sender);
  });
  o.checkForUpdates->setAction([weak](Button& sender) {
    if (auto self = weak.lock()) self->onCheckForUpdatesToggled(sender);
  });
  o.sendAnalytics->setAction([weak](Button& sender) {
    if (auto self = weak.lock()) self->onSendAnalyticsToggled(sender);
  });
  o.closeBehaviorButton->setAction([weak](toolkit::PopUpButton& sender) {
    if (auto self = weak.lock()) self->onCloseBehaviorChanged(sender);
  });

  if (!context_.storage) return;
  context_.storage->closeBehavior()
      .valueStream()
      .subscribe(
          [weak](const CloseBehavior& behavior) {
            if (auto self = weak.lock()) self->showCloseBehavior(behavior);
          },
          [](const base::Error& error) {
            Track::errorWithLocation(error, error_location::kPrefsCloseBehavior000);
          })
      .disposed(disposeBag_);
}

void GeneralPrefsViewController::showCloseBehavior(CloseBehavior behavior) {
  auto& popUp = *outlets_.closeBehaviorButton;
  const std::string text(toString(behavior));
  auto textOf = [](const toolkit::PopUpButton::Item& item) -> const std::string* {
    return std::any_cast<std::string>(&item.representedObject);
  };
  if (const auto* selected = popUp.selectedItem()) {
    const std::string* current = textOf(*selected);
    if (current && *current == text) return;
  }
  int found = -1;
  for (std::size_t i = 0; i < popUp.items().size() && found < 0; ++i) {
    const std::string* candidate = textOf(popUp.items()[i]);
    if (candidate && *candidate == text) found = static_cast<int>(i);
  }
  popUp.selectItem(found);
}

void GeneralPrefsViewController::onLaunchAtLoginToggled(const Button& sender) {
  const bool on = isOn(sender);
  if (context_.loginItem) {
    if (auto changed = context_.loginItem->setEnabled(on); !changed) {
      // The box shows what the desktop will do, not what was asked for.
      outlets_.launchAtLogin->setState(stateOf(context_.loginItem->isEnabled()));
      showFailure(on ? "Wendrix could not be set to start at login."
                     : "Wendrix could not be kept from starting at login.",
                  changed.error().description);
      return;
    }
  }
  Track::settingChanged(SettingsName::launchAtLogin, on);
}

void GeneralPrefsViewController::onCheckForUpdatesToggled(const Button& sender) {
  const bool on = isOn(sender);
  if (auto actions = context_.actions.lock())
    actions->updater().setAutomaticallyChecksForUpdates(on);
  Track::settingChanged(SettingsName::autoUpdate, on);
}

void GeneralPrefsViewController::onSendAnalyticsToggled(const Button& sender) {
  const bool on = isOn(sender);
  tlm::TLMAnalytics::setEnabled(on);
  Track::settingChanged(SettingsName::sendAnalytics, on);
}

void GeneralPrefsViewController::onCloseBehaviorChanged(const toolkit::PopUpButton& sender) {
  const auto* item = sender.selectedItem();
  const std::any* object = item ? &item->representedObject : nullptr;
  const auto* text = object ? std::any_cast<std::string>(object) : nullptr;
  const auto behavior = text ? closeBehaviorFromString(*text) : std::nullopt;
  if (behavior) {
    if (context_.storage) context_.storage->closeBehavior().setValue(*behavior);
    return;
  }
  std::string shown = "<nil>";
  if (text) {
    shown = *text;
  } else if (object && object->has_value()) {
    shown = object->type().name();
  }
  Track::error(base::Error("Wendrix.Preferences", 0, "Failed to set close behavior: " + shown));
}

toolkit::Window* GeneralPrefsViewController::window() const {
  auto view = view_.lock();
  return view ? view->window() : nullptr;
}

std::optional<LayoutTransfer> GeneralPrefsViewController::transfer() const {
  auto actions = context_.actions.lock();
  if (!actions) return std::nullopt;
  std::shared_ptr<platform::FilePanels> panels = context_.panels;
  if (!panels) panels = std::make_shared<toolkit::WindowFilePanels>();
  // The bundle provider outlives the window (see CustomizationContext).
  std::shared_ptr<const platform::BundleProvider> bundles(std::shared_ptr<void>(),
                                                          context_.bundles);
  return LayoutTransfer(actions->storage(), std::move(panels), std::move(bundles));
}

void GeneralPrefsViewController::onExportLayouts() {
  Track::buttonClick(ButtonName::exportLayouts, ButtonClickSource::menu);
  toolkit::Window* parent = window();
  auto layouts = transfer();
  if (!parent || !layouts) return;
  std::weak_ptr<const void> owner = context_.actions.lock();
  std::weak_ptr<GeneralPrefsViewController> weak = shared_from_this();
  using Outcome = std::pair<std::optional<base::Url>, bool>;
  layouts->showLayoutsExportPanel(parent)
      .flatMap([layouts, owner](const std::optional<base::Url>& url) {
        return layouts->exportLayoutsToFile(url, owner).map([url](const bool& written) {
          return Outcome(url, written);
        });
      })
      .subscribe(
          [weak](const Outcome& outcome) {
            if (outcome.second) {
              Track::dataExported();
            } else if (outcome.first) {
              // A file was chosen and could not be written (the write
              // reported the cause as an "Error" event).
              if (auto self = weak.lock())
                self->showFailure(
                    "The layouts could not be exported.",
                    "The file \"" + outcome.first->path() + "\" could not be written.");
            }
          },
          [](const base::Error& error) {
            Track::errorWithLocation(error, error_location::kPrefsExport000);
          })
      .disposed(disposeBag_);
}

void GeneralPrefsViewController::onImportLayouts() {
  Track::buttonClick(ButtonName::importLayouts, ButtonClickSource::menu);
  toolkit::Window* parent = window();
  auto layouts = transfer();
  if (!parent || !layouts) return;
  std::weak_ptr<const void> owner = context_.actions.lock();
  std::weak_ptr<GeneralPrefsViewController> weak = shared_from_this();
  layouts->showLayoutsImportPanel(parent)
      .flatMap([layouts, owner](const std::optional<base::Url>& url) {
        return layouts->importLayoutsFromFile(url, owner);
      })
      .subscribe(
          [](const bool& imported) {
            if (imported) Track::dataImported();
          },
          [weak](const base::Error& error) {
            Track::errorWithLocation(error, error_location::kPrefsImport000);
            // Nothing was stored; the user learns why.
            if (auto self = weak.lock())
              self->showFailure(
                  "The layouts could not be imported.",
                  DataExportErrors::is(error, DataExportError::FailedToParseImportedFile)
                      ? "The file does not hold layouts exported by Wendrix."
                      : error.description);
          })
      .disposed(disposeBag_);
}

void GeneralPrefsViewController::showFailure(const std::string& message,
                                             const std::string& detail) {
  toolkit::Window* parent = window();
  if (!parent) return;
  auto alert = std::make_shared<toolkit::Alert>();
  alert->setMessageText(message);
  alert->setInformativeText(detail);
  alert->addButton("OK");
  alert->beginSheetModal(*parent, [](toolkit::ModalResponse) {});
}

// --- the tab -------------------------------------------------------------------------

SettingsViewController::SettingsViewController(CustomizationContext context)
    : context_(std::move(context)) {}

namespace {

std::shared_ptr<toolkit::TextField> label(std::string text, toolkit::Rect frame, bool bold) {
  auto field = std::make_shared<toolkit::TextField>(frame);
  field->setStringValue(std::move(text));
  if (bold) field->setFont({0, true});
  return field;
}

std::shared_ptr<Button> checkbox(std::string identifier, std::string title, double y) {
  auto box =
      std::make_shared<Button>(Button::Type::checkbox, toolkit::Rect{{kMargin + 16, y}, {360, 22}});
  box->setIdentifier(std::move(identifier));
  box->setTitle(std::move(title));
  return box;
}

}  // namespace

void SettingsViewController::loadView() {
  auto view = std::make_shared<toolkit::View>(toolkit::Rect{{0, 0}, {kPaneWidth, kPaneHeight}});
  view->setIdentifier("preferences");

  GeneralPrefsViewController::Outlets o;
  o.launchAtLogin = checkbox("launchAtLogin", "Start Wendrix at login", 40);
  o.checkForUpdates = checkbox("checkForUpdates", "Check for updates automatically", 64);
  o.sendAnalytics = checkbox("sendAnalytics", "Send anonymous usage data", 88);
  o.closeBehaviorButton =
      std::make_shared<toolkit::PopUpButton>(toolkit::Rect{{220, 118}, {200, 26}});
  o.closeBehaviorButton->setIdentifier("closeBehavior");
  o.closeBehaviorButton->addItem("Close their windows", std::string("close"));
  o.closeBehaviorButton->addItem("Quit them", std::string("quit"));
  o.closeBehaviorButton->addItem("Hide them", std::string("hide"));
  o.closeBehaviorButton->addItem("Minimize their windows", std::string("minimize"));
  exportButton_ =
      std::make_shared<Button>(Button::Type::push, toolkit::Rect{{kMargin + 16, 154}, {150, 26}});
  exportButton_->setIdentifier("exportLayouts");
  exportButton_->setTitle("Export Layouts...");
  importButton_ =
      std::make_shared<Button>(Button::Type::push, toolkit::Rect{{kMargin + 174, 154}, {150, 26}});
  importButton_->setIdentifier("importLayouts");
  importButton_->setTitle("Import Layouts...");

  auto list = std::make_shared<toolkit::OutlineView>(
      toolkit::Rect{{kMargin, 226}, {kPaneWidth - 2 * kMargin, 186}});
  list->setIdentifier("appSettingsList");
  auto edit = std::make_shared<toolkit::SegmentedControl>(toolkit::Rect{{kMargin, 422}, {240, 26}});
  edit->setIdentifier("appSettingsActions");
  edit->setSegmentCount(4);
  const char* labels[] = {"Export...", "Import...", "\u2212", "+"};
  for (std::size_t i = 0; i < 4; ++i)
    edit->setLabel(labels[i], i);

  view->addSubview(label("General", {{kMargin, 14}, {300, 20}}, true));
  view->addSubview(o.launchAtLogin);
  view->addSubview(o.checkForUpdates);
  view->addSubview(o.sendAnalytics);
  view->addSubview(label("When closing other apps:", {{kMargin + 16, 121}, {200, 20}}, false));
  view->addSubview(o.closeBehaviorButton);
  view->addSubview(exportButton_);
  view->addSubview(importButton_);
  view->addSubview(label("New Window shortcuts", {{kMargin, 198}, {300, 20}}, true));
  view->addSubview(list);
  view->addSubview(edit);
  helpButton_ = std::make_shared<Button>(Button::Type::push,
                                         toolkit::Rect{{kPaneWidth - kMargin - 26, 422}, {26, 26}});
  helpButton_->setIdentifier("shortcutHelp");
  helpButton_->setTitle("?");
  view->addSubview(helpButton_);
  setView(view);

  generalPrefs_ = std::make_shared<GeneralPrefsViewController>(context_, std::move(o));
  appSettings_ = std::make_shared<AppSettingsViewController>(context_, list, edit);
  std::weak_ptr<GeneralPrefsViewController> weak = generalPrefs_;
  exportButton_->setAction([weak](Button&) {
    if (auto prefs = weak.lock()) prefs->onExportLayouts();
  });
  importButton_->setAction([weak](Button&) {
    if (auto prefs = weak.lock()) prefs->onImportLayouts();
  });
  std::weak_ptr<AppSettingsViewController> weakApps = appSettings_;
  helpButton_->setAction([weakApps](Button& sender) {
    if (auto apps = weakApps.lock()) apps->showHelp(sender);
  });
}

void SettingsViewController::viewDidLoad() {
  if (generalPrefs_) generalPrefs_->setup(view());
  if (appSettings_) appSettings_->setup();
}

}  // namespace wendrix
