#pragma once

// The reactive view of the window system: whether the program has
// accessibility access, the window system's state, the running applications,
// the applications with windows, one application by bundle identifier, and
// one application's window list.

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/rx_event_notifier.h"
#include "platform/bundle/bundle.h"
#include "rx/disposable.h"
#include "rx/event.h"
#include "rx/observable.h"
#include "rx/scheduler.h"
#include "rx/subjects.h"
#include "winsys/accessibility.h"
#include "winsys/window_system.h"

namespace wendrix {

using ApplicationList = std::vector<winsys::ApplicationPtr>;

// Turns the window system into shared, replaying streams. Every stream is
// built on first use and kept; later calls return the same stream. Main
// thread only. The collaborators must outlive the provider and every
// subscription to its streams.
class WindowsProvider {
 public:
  // `scheduler` is the main queue's: the re-check after an access
  // notification runs on it.
  WindowsProvider(winsys::WindowSystem& windowSystem, winsys::AccessibilityTrust& trust,
                  const platform::BundleProvider& bundles, rx::Scheduler& scheduler);
  ~WindowsProvider();
  WindowsProvider(const WindowsProvider&) = delete;
  WindowsProvider& operator=(const WindowsProvider&) = delete;

  // The process-wide instance, made on first use from the collaborators given
  // to `configureShared`, and kept until `setSharedForTesting`. Using it unconfigured
  // is a wiring error and aborts.
  static std::shared_ptr<WindowsProvider> shared();
  // Sets what the shared instance is made from; drops an instance already
  // made.
  static void configureShared(winsys::WindowSystem& windowSystem, winsys::AccessibilityTrust& trust,
                              const platform::BundleProvider& bundles, rx::Scheduler& scheduler);
  // Makes `instance` the shared one; none drops the shared instance and its
  // configuration.
  static void setSharedForTesting(std::shared_ptr<WindowsProvider> instance = nullptr);

  // Whether the program has accessibility access: checked (with a prompt)
  // when the stream connects, and again, without a prompt, 0.1 s after each
  // access notification, one value per notification. Replays its last value
  // for the whole run.
  rx::Observable<bool> accessibilityAccessStream();
  // The window system's state, initialized anew on each true value of
  // `accessibilityAccessStream` while connected; nothing while access is
  // denied. A failed initialization ends it with that error, for every later
  // subscriber too. Replays its last value for the whole run.
  rx::Observable<winsys::StatePtr> swindlerStream();

  // Lists of the latest state, emitted at once and again after each event
  // that may change them (also when they did not). Replayed while connected.
  // All running applications; after launches and terminations.
  rx::Observable<ApplicationList> runningApplicationsStream();
  // The running applications that pass `isRegularAppWithWindows`; after
  // window creations and destructions, launches, terminations and hiding.
  rx::Observable<ApplicationList> appsWithWindowsStream();
  // The same list, also after every change of a window or of an
  // application's main or focused window.
  rx::Observable<ApplicationList> appsIncludingWindowsStream();

  // The running application with exactly this bundle identifier (the first
  // one in the state's order), or nullptr: at once from the running
  // applications, then the application each time one with this identifier
  // launches, and nullptr each time one terminates. Replayed while connected.
  // While a returned stream is held (a copy of it, or a subscription), later
  // calls for the identifier return that stream.
  rx::Observable<winsys::ApplicationPtr> application(const std::string& bundleIdentifier);

  // One value per launch and per termination; passing them on feeds the
  // streams of `application`.
  rx::Observable<rx::Unit> appLaunchedStream();
  rx::Observable<rx::Unit> appTerminatedStream();
  // One value at once and nothing more; while subscribed it keeps the
  // streams of `application` updated on launches and terminations.
  rx::Observable<rx::Unit> keepAppsUpdatedStream();

  // Starts the window system ahead of need: takes one state, keeping the
  // subscription for the provider's life.
  void warmUp();

  // The filter of the lists: not an agent application (LSUIElement reading
  // as the integer 1), not hidden, and with at least one known window.
  bool isRegularAppWithWindows(const winsys::Application& application) const;

  // The event hub the window system delivers to; made on first use.
  RxEventNotifier& notifier();

  // How many streams of `application` are held now (diagnostics and tests).
  std::size_t heldApplicationStreams() const;

 private:
  // The per-identifier caches; held weakly by the launch and termination
  // side effects so that they do nothing once the provider is gone.
  struct AppCaches;

  std::shared_ptr<RxEventNotifier> notifierPtr();
  rx::Observable<ApplicationList> makeListStream(std::vector<std::string_view> eventTypes,
                                                 bool filtered);
  rx::Observable<rx::Unit> makeTrackingStream(bool launched);

  winsys::WindowSystem& windowSystem_;
  winsys::AccessibilityTrust& trust_;
  const platform::BundleProvider& bundles_;
  rx::Scheduler& scheduler_;

  std::shared_ptr<AppCaches> caches_;
  std::shared_ptr<RxEventNotifier> notifier_;
  std::optional<rx::Observable<bool>> accessibilityAccess_;
  std::optional<rx::Observable<winsys::StatePtr>> swindler_;
  std::optional<rx::Observable<ApplicationList>> runningApplications_;
  std::optional<rx::Observable<ApplicationList>> appsWithWindows_;
  std::optional<rx::Observable<ApplicationList>> appsIncludingWindows_;
  std::optional<rx::Observable<rx::Unit>> appLaunched_;
  std::optional<rx::Observable<rx::Unit>> appTerminated_;
  std::optional<rx::Observable<rx::Unit>> keepAppsUpdated_;
  // Last member: disposed first when the provider goes.
  rx::DisposeBag disposeBag_;
};

// The application's known windows at once, and again after each creation,
// destruction or title change of one of its windows. Not shared: every
// subscription follows the events on its own.
rx::Observable<std::vector<winsys::WindowPtr>> knownWindowsStream(
    RxEventNotifier& notifier, const winsys::ApplicationPtr& application);

}  // namespace wendrix
