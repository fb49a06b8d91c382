#pragma once

// What the files implementing `Actions` share and its callers do not need:
// the time limits of restoring and activating, and the activation queue's
// streams.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "engine/activation_queue.h"
#include "rx/disposable.h"
#include "rx/observable.h"
#include "rx/subjects.h"

namespace wendrix {

// How long an activation waits for its application to become frontmost.
inline constexpr auto kActivationTimeout = std::chrono::seconds(3);
// How long an activation still waits once its application is frontmost.
inline constexpr auto kActivationGrace = std::chrono::milliseconds(100);

// How long one application's restore may take, from its start.
inline constexpr auto kRestoreTimeout = std::chrono::seconds(20);
// How long the window list is awaited after each "New Window" keystroke or
// reopen request.
inline constexpr auto kNewWindowWait = std::chrono::seconds(20);
// How long each "New Window" keystroke waits when the restore had to launch
// the application (it needs time to take keyboard input).
inline constexpr auto kLaunchedKeystrokeDelay = std::chrono::seconds(2);

// Applications whose "quit" closes their windows instead: the file manager
// that owns the desktop (this bundle identifier), and the program itself (its
// main bundle's).
inline constexpr std::string_view kFinderBundleId = "com.apple.finder";

// The activation queue of `Actions` (activation_queue.cpp).
struct ActivationQueueState {
  explicit ActivationQueueState(rx::Observable<std::string> activeApps)
      : activeApp(std::move(activeApps)) {}

  rx::DisposeBag disposeBag;
  rx::PublishSubject<ActivationQueueItem> activateAppSubject;
  rx::PublishSubject<std::int32_t> cancelAppActivationSubject;
  // The bundle identifier of each new frontmost application.
  rx::Observable<std::string> activeApp;
};

}  // namespace wendrix
