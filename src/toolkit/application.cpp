#include "toolkit/application.h"

#include <algorithm>

#include "toolkit/alert.h"
#include "toolkit/controls.h"
#include "toolkit/popover.h"
#include "toolkit/status_item.h"

namespace toolkit {

Application::Application(dispatch::Queue& mainQueue, Options options)
    : mainQueue_(mainQueue), options_(std::move(options)), textMetrics_(options_.textMetrics) {
  if (!textMetrics_) textMetrics_ = std::make_shared<FixedTextMetrics>();
}

std::optional<std::string> Application::bundleInfo(const std::string& key) const {
  auto it = options_.bundleInfo.find(key);
  if (it == options_.bundleInfo.end()) return std::nullopt;
  return it->second;
}

std::optional<Image> Application::imageNamed(const std::string& name) const {
  if (!options_.imageFiles.contains(name)) return std::nullopt;
  return Image::named(name);
}

std::optional<std::string> Application::imageFile(const std::string& name) const {
  auto it = options_.imageFiles.find(name);
  if (it == options_.imageFiles.end()) return std::nullopt;
  return it->second;
}

void Application::setAppearance(Appearance appearance) {
  if (appearance == appearance_) return;
  appearance_ = appearance;
  appearanceChanged.emit();
}

void Application::finishLaunching() {
  if (auto delegate = delegate_.lock()) delegate->applicationDidFinishLaunching();
  didFinishLaunching.emit();
}

void Application::openURLs(const std::vector<std::string>& urls) {
  if (auto delegate = delegate_.lock()) delegate->applicationOpenURLs(urls);
  urlsOpened.emit(urls);
}

void Application::becomeActive() {
  if (active_) return;
  active_ = true;
  if (auto delegate = delegate_.lock()) delegate->applicationDidBecomeActive();
  didBecomeActive.emit();
}

void Application::resignActive() {
  if (!active_) return;
  active_ = false;
  if (auto delegate = delegate_.lock()) delegate->applicationDidResignActive();
  didResignActive.emit();
}

void Application::activate(bool /*ignoringOtherApps*/) {
  ++activationRequests_;
  becomeActive();
}

void Application::terminate() {
  if (terminated_) return;
  terminated_ = true;
  if (auto delegate = delegate_.lock()) delegate->applicationWillTerminate();
  willTerminate.emit();
  if (terminateHandler_) terminateHandler_();
}

ModalResponse Application::runModal(Alert& alert) {
  modalAlertMessages_.push_back(alert.messageText());
  if (modalRunner_) return modalRunner_(alert);
  if (modalAnswers_.empty()) return kModalResponseAbort;
  ModalAnswer answer = std::move(modalAnswers_.front());
  modalAnswers_.pop_front();
  if (answer.typedText) {
    if (auto* field = dynamic_cast<TextField*>(alert.accessoryView().get()))
      field->userType(*answer.typedText);
  }
  return answer.response;
}

std::shared_ptr<StatusItem> Application::makeStatusItem() {
  auto item = std::make_shared<StatusItem>(*this);
  statusItems_.push_back(item);
  statusItemAdded.emit(*item);
  return item;
}

std::vector<std::shared_ptr<StatusItem>> Application::statusItems() const {
  return statusItems_;
}

void Application::userClickOutsidePopovers() {
  // A copy: closing changes the list.
  auto shown = popovers_;
  for (Popover* popover : shown)
    if (popover->behavior() != Popover::Behavior::applicationDefined) popover->close();
}

void Application::windowMade(Window* window) {
  windows_.push_back(window);
  windowAdded.emit(*window);
}

void Application::windowGone(Window* window) {
  if (keyWindow_ == window) keyWindow_ = nullptr;
  std::erase(windows_, window);
  windowRemoved.emit(*window);
}

void Application::notePopoverShown(Popover* popover) {
  popovers_.push_back(popover);
  popoverShown.emit(*popover);
}

void Application::notePopoverClosed(Popover* popover) {
  std::erase(popovers_, popover);
  popoverClosed.emit(*popover);
}

}  // namespace toolkit
