#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "coding/value.h"
#include "dispatch/queue.h"
#include "platform/bundle/fake/fake_bundle_provider.h"
#include "platform/keyboard/fake/recording_keyboard.h"
#include "platform/running_apps/fake/fake_running_applications.h"
#include "platform/workspace/fake/fake_workspace.h"
#include "winsys/event_notifier.h"
#include "winsys/fake/fake_accessibility_trust.h"
#include "winsys/window_system.h"

namespace wendrix::winsys::fake {

class FakeDesktop;

// How the fake answers a property write or an initialization: after `delay`
// (zero: on the next turn of the queue), with the change made, or rejected
// with `error` and nothing changed.
struct WriteScript {
  dispatch::Duration delay{0};
  std::optional<base::Error> error;

  static WriteScript after(dispatch::Duration d) { return WriteScript{d, std::nullopt}; }
  static WriteScript rejected(base::Error e, dispatch::Duration d = {}) {
    return WriteScript{d, std::move(e)};
  }
};

// How a fake window starts out.
struct WindowSetup {
  std::string title;
  Rect frame;
  std::optional<std::string> document;
  bool minimized = false;
  bool closable = true;
  UIElementPtr uiElement;

  // Builders, so tests name only what matters.
  static WindowSetup titled(std::string title) {
    WindowSetup setup;
    setup.title = std::move(title);
    return setup;
  }
  WindowSetup& withFrame(Rect r) { return frame = r, *this; }
  WindowSetup& withDocument(std::string d) { return document = std::move(d), *this; }
  WindowSetup& asMinimized() { return minimized = true, *this; }
  WindowSetup& notClosable() { return closable = false, *this; }
  WindowSetup& withUIElement(UIElementPtr e) { return uiElement = std::move(e), *this; }
};

// How a fake application starts out.
struct AppSetup {
  std::optional<std::string> bundleIdentifier;
  std::optional<base::Url> bundleURL;
  // 0: the desktop picks a free one.
  std::int32_t processIdentifier = 0;
  bool hidden = false;
  // quit() does nothing.
  bool ignoresQuit = false;
  // When set, the application's bundle is installed with this information
  // dictionary (plus its identifier) at its bundle URL, or at a made-up URL
  // when it has none.
  std::optional<coding::Dictionary> info;

  static AppSetup withId(std::string bundleIdentifier) {
    AppSetup setup;
    setup.bundleIdentifier = std::move(bundleIdentifier);
    return setup;
  }
  AppSetup& withURL(base::Url url) { return bundleURL = std::move(url), *this; }
  AppSetup& withPid(std::int32_t pid) { return processIdentifier = pid, *this; }
  AppSetup& asHidden() { return hidden = true, *this; }
  AppSetup& ignoringQuit() { return ignoresQuit = true, *this; }
  AppSetup& withInfo(coding::Dictionary d) { return info = std::move(d), *this; }
};

class FakeApplication;

class FakeWindow final : public Window, public std::enable_shared_from_this<FakeWindow> {
 public:
  FakeWindow(FakeDesktop& desktop, std::weak_ptr<FakeApplication> app, WindowSetup setup,
             std::uint64_t identity);

  ApplicationPtr application() const override;
  std::string title() const override { return setup_.title; }
  Rect frame() const override { return setup_.frame; }
  Promise<Rect> setFrame(Rect frame) override;
  bool isMinimized() const override { return setup_.minimized; }
  Promise<bool> setMinimized(bool minimized) override;
  std::optional<std::string> document() const override { return setup_.document; }
  UIElementPtr uiElement() const override { return setup_.uiElement; }
  base::Status close() override;
  std::uint64_t identity() const override { return identity_; }

  bool alive() const { return alive_; }
  // Scripts for every later write of the property.
  void scriptFrameWrites(WriteScript script) { frameScript_ = std::move(script); }
  void scriptMinimizedWrites(WriteScript script) { minimizedScript_ = std::move(script); }
  void setDocument(std::optional<std::string> document) { setup_.document = std::move(document); }
  void setClosable(bool closable) { setup_.closable = closable; }
  int frameWrites() const { return frameWrites_; }
  int minimizedWrites() const { return minimizedWrites_; }

 private:
  friend class FakeDesktop;

  FakeDesktop* desktop_;
  std::weak_ptr<FakeApplication> app_;
  WindowSetup setup_;
  std::uint64_t identity_;
  bool alive_ = true;
  WriteScript frameScript_;
  WriteScript minimizedScript_;
  int frameWrites_ = 0;
  int minimizedWrites_ = 0;
};

class FakeApplication final : public Application,
                              public std::enable_shared_from_this<FakeApplication> {
 public:
  FakeApplication(FakeDesktop& desktop, AppSetup setup, std::uint64_t identity);

  std::optional<std::string> bundleIdentifier() const override { return setup_.bundleIdentifier; }
  std::optional<base::Url> bundleURL() const override { return setup_.bundleURL; }
  std::int32_t processIdentifier() const override { return setup_.processIdentifier; }
  std::vector<WindowPtr> knownWindows() const override;
  WindowPtr mainWindow() const override { return mainWindow_; }
  bool isHidden() const override { return setup_.hidden; }
  Promise<bool> setHidden(bool hidden) override;
  void quit() override;
  std::uint64_t identity() const override { return identity_; }

  bool running() const { return running_; }
  const std::vector<std::shared_ptr<FakeWindow>>& windows() const { return windows_; }
  void scriptHiddenWrites(WriteScript script) { hiddenScript_ = std::move(script); }
  int quitRequests() const { return quitRequests_; }

 private:
  friend class FakeDesktop;

  FakeDesktop* desktop_;
  AppSetup setup_;
  std::uint64_t identity_;
  bool running_ = true;
  std::vector<std::shared_ptr<FakeWindow>> windows_;
  std::shared_ptr<FakeWindow> mainWindow_;
  WriteScript hiddenScript_;
  int quitRequests_ = 0;
};

// What a "New Window" keystroke to a process does: after `delay`, `count`
// new windows (0: none). `keyCode` limits it to one key. A process has one
// script per key and one for every other key; a script without a key
// replaces all of the process's scripts.
struct NewWindowScript {
  std::optional<std::uint16_t> keyCode;
  int count = 1;
  dispatch::Duration delay{0};
  // Windows get this setup; an empty title becomes "Untitled <n>".
  WindowSetup window;
  // All windows exist before their creation events are delivered, as when a
  // real system reports a burst of windows late: every event then sees the
  // full list.
  bool inOneBurst = false;

  static NewWindowScript opening(int count, dispatch::Duration delay = {}) {
    NewWindowScript script;
    script.count = count;
    script.delay = delay;
    return script;
  }
  NewWindowScript& forKey(std::uint16_t key) { return keyCode = key, *this; }
  NewWindowScript& withWindow(WindowSetup setup) { return window = std::move(setup), *this; }
  NewWindowScript& asOneBurst() { return inOneBurst = true, *this; }
};

// What a launch or open request at one application URL does, after `delay`.
struct LaunchScript {
  enum class Outcome { launch, fail, neither };
  Outcome outcome = Outcome::launch;
  dispatch::Duration delay{0};
  // The application started when none with this URL runs; its URL defaults
  // to the request's.
  AppSetup app;
  // Its windows at launch.
  std::vector<WindowSetup> windows;
  // Windows added when the application was running already (a reopen).
  std::vector<WindowSetup> reopenWindows;
  // For open requests with documents: one new window per document, titled by
  // its last path component, with the document's path; or, with
  // `documentWindow`, made by it (none: no window for that document).
  bool windowPerDocument = false;
  std::function<std::optional<WindowSetup>(const base::Url&)> documentWindow;
  // The error of Outcome::fail.
  base::Error error{"Wendrix.WorkspaceError", 2, "The application could not be launched."};

  static LaunchScript launching(AppSetup app, std::vector<WindowSetup> windows = {},
                                dispatch::Duration delay = {}) {
    LaunchScript script;
    script.app = std::move(app);
    script.windows = std::move(windows);
    script.delay = delay;
    return script;
  }
  static LaunchScript failing(dispatch::Duration delay = {}) {
    LaunchScript script;
    script.outcome = Outcome::fail;
    script.delay = delay;
    return script;
  }
  // Completes with neither an application nor an error.
  static LaunchScript answeringNothing(dispatch::Duration delay = {}) {
    LaunchScript script;
    script.outcome = Outcome::neither;
    script.delay = delay;
    return script;
  }
  LaunchScript& withReopenWindows(std::vector<WindowSetup> w) {
    return reopenWindows = std::move(w), *this;
  }
  LaunchScript& withWindowPerDocument() { return windowPerDocument = true, *this; }
  LaunchScript& withWindowPerDocument(
      std::function<std::optional<WindowSetup>(const base::Url&)> make) {
    windowPerDocument = true;
    documentWindow = std::move(make);
    return *this;
  }
  LaunchScript& withError(base::Error e) { return error = std::move(e), *this; }
};

// When an activation request makes the application frontmost: after `delay`,
// or never.
struct ActivationScript {
  std::optional<dispatch::Duration> delay = dispatch::Duration{0};

  static ActivationScript after(dispatch::Duration d) { return ActivationScript{d}; }
  static ActivationScript never() { return ActivationScript{std::nullopt}; }
};

// A scriptable desktop in memory, on the given (virtual-time) queue: running
// applications with windows, the window-system layer over them, and the
// fake platform services that act on them (workspace, keyboard, running
// applications, accessibility trust).
//
// Test-side mutations take effect at once and deliver their events to the
// initialized notifier synchronously, in order. Answers to the program's own
// requests (writes, launches, keystrokes, activations) come later on the
// queue, as scripted.
// The desktop must outlive every later run of the queue.
class FakeDesktop {
 public:
  explicit FakeDesktop(dispatch::Queue& mainQueue);
  ~FakeDesktop();
  FakeDesktop(const FakeDesktop&) = delete;
  FakeDesktop& operator=(const FakeDesktop&) = delete;

  // The fake services the program is given.
  WindowSystem& windowSystem();
  platform::FakeWorkspace& workspace() { return workspace_; }
  platform::RecordingKeyboard& keyboard() { return keyboard_; }
  platform::FakeRunningApplications& runningApplications() { return runningApps_; }
  FakeAccessibilityTrust& trust() { return trust_; }
  platform::FakeBundleProvider& bundles() { return bundles_; }
  dispatch::Queue& queue() { return queue_; }

  // Applications and windows.
  std::shared_ptr<FakeApplication> launch(AppSetup setup, std::vector<WindowSetup> windows = {});
  void terminate(const std::shared_ptr<FakeApplication>& app);
  std::shared_ptr<FakeWindow> addWindow(const std::shared_ptr<FakeApplication>& app,
                                        WindowSetup setup);
  void destroyWindow(const std::shared_ptr<FakeWindow>& window);
  void setTitle(const std::shared_ptr<FakeWindow>& window, std::string title);
  void moveWindow(const std::shared_ptr<FakeWindow>& window, Rect frame);
  void setMinimized(const std::shared_ptr<FakeWindow>& window, bool minimized);
  void setHidden(const std::shared_ptr<FakeApplication>& app, bool hidden);
  void setMainWindow(const std::shared_ptr<FakeApplication>& app,
                     const std::shared_ptr<FakeWindow>& window);
  void setFrontmost(const std::shared_ptr<FakeApplication>& app);

  std::vector<std::shared_ptr<FakeApplication>> applications() const { return apps_; }
  std::shared_ptr<FakeApplication> applicationWithPid(std::int32_t pid) const;
  std::shared_ptr<FakeApplication> applicationWithURL(const base::Url& url) const;
  std::shared_ptr<FakeApplication> frontmost() const { return frontmost_; }

  // Scripts.
  void scriptInitialization(WriteScript script) { initScript_ = std::move(script); }
  void scriptNewWindow(std::int32_t pid, NewWindowScript script);
  void scriptLaunch(const base::Url& applicationURL, LaunchScript script);
  void scriptActivation(std::int32_t pid, ActivationScript script);

  int initializations() const { return initializations_; }

 private:
  friend class FakeWindow;
  friend class FakeApplication;
  class System;
  class LiveState;

  template <class T, class Apply>
  Promise<T> answerWrite(const WriteScript& script, Apply apply);
  template <class E, class P>
  void emit(P subject);

  Promise<StatePtr> initialize(EventNotifier& notifier);
  void onKeystroke(const platform::Keystroke& keystroke);
  void onOpenRequest(const platform::FakeWorkspace::Request& request,
                     platform::OpenCompletion completion);
  void onActivation(const platform::FakeRunningApplications::Activation& activation);
  void removeWindow(const std::shared_ptr<FakeWindow>& window);
  std::int32_t freePid();

  dispatch::Queue& queue_;
  platform::FakeWorkspace workspace_;
  platform::RecordingKeyboard keyboard_;
  platform::FakeRunningApplications runningApps_;
  FakeAccessibilityTrust trust_;
  platform::FakeBundleProvider bundles_;
  std::unique_ptr<System> system_;

  EventNotifier* notifier_ = nullptr;
  std::vector<std::shared_ptr<FakeApplication>> apps_;
  std::shared_ptr<FakeApplication> frontmost_;
  std::uint64_t nextIdentity_ = 1;
  std::int32_t nextPid_ = 1000;
  int untitled_ = 0;
  int initializations_ = 0;
  WriteScript initScript_;
  // By process and key (none: every other key).
  std::map<std::pair<std::int32_t, std::optional<std::uint16_t>>, NewWindowScript>
      newWindowScripts_;
  std::map<std::string, LaunchScript> launchScripts_;
  std::map<std::int32_t, ActivationScript> activationScripts_;
};

}  // namespace wendrix::winsys::fake
