#pragma once

// Placing restored windows: each paired window gets its saved frame and is
// taken out of the minimized state; then the application is queued to come
// to the front.

#include <memory>
#include <vector>

#include "engine/display_matching.h"
#include "model/app.h"
#include "rx/event.h"
#include "rx/single.h"
#include "winsys/window_system.h"

namespace wendrix {

class ActivationQueue;

// Main thread only. Every pending step holds the placer weakly.
class WindowPlacer final : public std::enable_shared_from_this<WindowPlacer> {
 public:
  explicit WindowPlacer(std::shared_ptr<ActivationQueue> activationQueue);

  // Sets the saved frames of the paired windows, takes them out of the
  // minimized state, then queues the application's activation. Never fails
  // from a window's failure.
  rx::Single<rx::Unit> restoreWindows(const MatchedWindows& matched, const IApp& app);
  // Writes the frame (a failure is ignored), then un-minimizes the window (a
  // failure is reported). Fails only on a cancelled write.
  static rx::Single<rx::Unit> setWindowFrame(const winsys::WindowPtr& window, winsys::Rect frame);

 private:
  std::shared_ptr<ActivationQueue> activationQueue_;
};

}  // namespace wendrix
