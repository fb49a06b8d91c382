#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dispatch/queue.h"
#include "toolkit/image.h"
#include "toolkit/signal.h"
#include "toolkit/style.h"
#include "toolkit/text_metrics.h"
#include "toolkit/window.h"

namespace toolkit {

class Alert;
class Menu;
class Popover;
class StatusItem;
class ViewController;

// The program's callbacks from its application object.
class ApplicationDelegate {
 public:
  virtual ~ApplicationDelegate() = default;
  virtual void applicationDidFinishLaunching() {}
  virtual void applicationOpenURLs(const std::vector<std::string>& /*urls*/) {}
  virtual void applicationDidBecomeActive() {}
  virtual void applicationDidResignActive() {}
  virtual void applicationWillTerminate() {}
};

// What the program is told by the desktop and what it asks of it: start-up,
// URLs to open, becoming active, termination; its bundle information, named
// images, appearance, windows, popovers, status items and modal alerts. One
// per program; everything runs on the main queue.
class Application {
 public:
  struct Options {
    // Bundle information of the program ("CFBundleName", "CFBundleVersion", ...).
    std::map<std::string, std::string> bundleInfo;
    // Named images the program ships, by name: the file each is read from.
    std::map<std::string, std::string> imageFiles;
    // Null: fixed metrics.
    std::shared_ptr<const TextMetrics> textMetrics;
  };

  Application(dispatch::Queue& mainQueue, Options options);
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  dispatch::Queue& mainQueue() const { return mainQueue_; }
  const TextMetrics& textMetrics() const { return *textMetrics_; }

  std::optional<std::string> bundleInfo(const std::string& key) const;
  // A named image of the program, or a system symbol, or none.
  std::optional<Image> imageNamed(const std::string& name) const;
  static Image systemSymbol(const std::string& name) { return Image::symbol(name); }
  // The file a named image is read from (for backends).
  std::optional<std::string> imageFile(const std::string& name) const;

  Appearance appearance() const { return appearance_; }
  // Set by the backend (and tests) when the desktop's appearance changes.
  void setAppearance(Appearance appearance);

  std::weak_ptr<ApplicationDelegate> delegate() const { return delegate_; }
  void setDelegate(std::weak_ptr<ApplicationDelegate> delegate) { delegate_ = std::move(delegate); }

  // Entry points of the backend (and of the driver): each tells the delegate,
  // then the observers below.
  void finishLaunching();
  void openURLs(const std::vector<std::string>& urls);
  void becomeActive();
  void resignActive();

  bool isActive() const { return active_; }
  // Brings the program forward; it becomes active when it was not.
  void activate(bool ignoringOtherApps);
  int activationRequests() const { return activationRequests_; }
  // Opens the desktop's character picker (recorded).
  void orderFrontCharacterPalette() { ++characterPaletteRequests_; }
  int characterPaletteRequests() const { return characterPaletteRequests_; }

  // Tells the delegate and observers, then asks the backend to end the program.
  void terminate();
  bool isTerminated() const { return terminated_; }
  // What ends the program (the backend's; none in the headless model).
  void setTerminateHandler(std::function<void()> handler) {
    terminateHandler_ = std::move(handler);
  }

  // Runs `alert` as a modal dialog and answers the button pressed. The
  // backend's runner shows it; the headless runner takes the next answer the
  // driver scripted, or kModalResponseAbort when none was.
  ModalResponse runModal(Alert& alert);
  using ModalRunner = std::function<ModalResponse(Alert&)>;
  void setModalRunner(ModalRunner runner) { modalRunner_ = std::move(runner); }
  // A scripted modal answer: the response and, when the alert has a text
  // field as accessory, the text typed into it first.
  struct ModalAnswer {
    ModalResponse response;
    std::optional<std::string> typedText;
  };
  void scriptModalAnswer(ModalAnswer answer) { modalAnswers_.push_back(std::move(answer)); }
  // The message texts of the alerts run modally so far.
  const std::vector<std::string>& modalAlertMessages() const { return modalAlertMessages_; }

  // The key window, or null.
  Window* keyWindow() const { return keyWindow_; }

  // Status items made so far (status items live in the application).
  std::shared_ptr<StatusItem> makeStatusItem();
  std::vector<std::shared_ptr<StatusItem>> statusItems() const;

  // Popovers on screen, oldest first.
  const std::vector<Popover*>& shownPopovers() const { return popovers_; }
  // A click outside every popover: closes the transient ones.
  void userClickOutsidePopovers();

  // Observers, for the layers that follow the program's life (telemetry).
  Signal<> didFinishLaunching;
  Signal<const std::vector<std::string>&> urlsOpened;
  Signal<> didBecomeActive;
  Signal<> didResignActive;
  Signal<> willTerminate;
  Signal<ViewController&> viewControllerDidAppear;
  Signal<> appearanceChanged;

  // For backends: windows, status items and popovers coming and going.
  std::vector<Window*> windows() const { return windows_; }
  Signal<Window&> windowAdded;
  Signal<Window&> windowRemoved;
  Signal<StatusItem&> statusItemAdded;
  Signal<Popover&> popoverShown;
  Signal<Popover&> popoverClosed;
  // A menu popped up at a point of a view (a context menu, the status menu).
  Signal<Menu&, const View*, Point> menuPoppedUp;

 private:
  friend class Window;
  friend class Popover;
  void windowBecameKey(Window* window) { keyWindow_ = window; }
  void windowMade(Window* window);
  void windowGone(Window* window);
  void notePopoverShown(Popover* popover);
  void notePopoverClosed(Popover* popover);

  dispatch::Queue& mainQueue_;
  Options options_;
  std::shared_ptr<const TextMetrics> textMetrics_;
  Appearance appearance_ = Appearance::light;
  std::weak_ptr<ApplicationDelegate> delegate_;
  bool active_ = false;
  int activationRequests_ = 0;
  int characterPaletteRequests_ = 0;
  bool terminated_ = false;
  std::function<void()> terminateHandler_;
  ModalRunner modalRunner_;
  std::deque<ModalAnswer> modalAnswers_;
  std::vector<std::string> modalAlertMessages_;
  Window* keyWindow_ = nullptr;
  std::vector<Window*> windows_;
  std::vector<std::shared_ptr<StatusItem>> statusItems_;
  std::vector<Popover*> popovers_;
};

}  // namespace toolkit
