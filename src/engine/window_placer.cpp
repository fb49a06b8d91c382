#include "engine/window_placer.h"

#include <memory>
#include <utility>
#include <vector>

#include "analytics/track.h"
#include "engine/activation_queue.h"
#include "engine/capture.h"
#include "engine/display_matching.h"
#include "rx/single.h"
#include "winsys/errors.h"
#include "winsys/promise_single.h"

namespace wendrix {

using rx::Unit;
using winsys::Promise;
using winsys::WindowPtr;

WindowPlacer::WindowPlacer(std::shared_ptr<ActivationQueue> activationQueue)
    : activationQueue_(std::move(activationQueue)) {}

rx::Single<Unit> WindowPlacer::restoreWindows(const MatchedWindows& matched, const IApp& app) {
  if (matched.empty()) return rx::Single<Unit>::just({});
  const WindowPtr& first = matched.front().window;
  const winsys::ApplicationPtr owner = first ? first->application() : nullptr;
  const std::int32_t pid = owner ? owner->processIdentifier() : 0;

  std::vector<rx::Single<Unit>> placements;
  placements.reserve(matched.size());
  for (const auto& pair : matched) {
    if (!pair.window) continue;  // nothing to place
    // A single pair without a document stands for the application's main
    // window when one was saved.
    const Rect& frame = matched.size() == 1 && !pair.target.doc && app.mainWindow
                            ? app.mainWindow->rect
                            : pair.target.rect;
    // The replacements are made only when there is an error to report.
    placements.push_back(setWindowFrame(pair.window, toWindowRect(frame))
                             .catchError([title = pair.target.title,
                                          doc = pair.target.doc](const base::Error& error) {
                               Track::errorWithLocation(
                                   error, error_location::kActionsRestoreWindow000,
                                   {{title, std::string(placeholders::kWindowTitle)},
                                    {doc, std::string(placeholders::kWindowDoc)}});
                               return rx::Single<Unit>::just({});
                             }));
  }

  std::weak_ptr<WindowPlacer> weak = weak_from_this();
  return rx::zip(std::move(placements))
      .flatMap([weak, bundleId = app.bundleId, pid](const std::vector<Unit>&) {
        auto self = weak.lock();
        if (!self || !bundleId) return rx::Single<Unit>::just({});
        return self->activationQueue_->activateApp(*bundleId, pid);
      });
}

rx::Single<Unit> WindowPlacer::setWindowFrame(const WindowPtr& window, winsys::Rect frame) {
  // One handler per write: the frame, then leaving the minimized state. A
  // failed frame write is left as it is; a failed un-minimize is reported;
  // a cancellation of either write fails the placement.
  return rx::Single<Unit>::deferred([window, frame] {
    const Promise<winsys::Rect> written = window->setFrame(frame);
    auto [placed, resolver] = Promise<Unit>::pending(written.queue());
    written.done([window, resolver = resolver](const base::Result<winsys::Rect>& framed) {
      if (!framed.ok() && winsys::PromiseCancelled::is(framed.error())) {
        resolver.reject(framed.error());
        return;
      }
      window->setMinimized(false).done([window, resolver](const base::Result<bool>& restored) {
        if (restored.ok()) {
          resolver.fulfill({});
          return;
        }
        if (winsys::PromiseCancelled::is(restored.error())) {
          resolver.reject(restored.error());
          return;
        }
        Track::errorWithLocation(restored.error(), error_location::kActionsUpdateMinimized000,
                                 {{window->title(), std::string(placeholders::kWindowTitle)},
                                  {window->document(), std::string(placeholders::kWindowDoc)}});
        resolver.fulfill({});
      });
    });
    return winsys::toSingle(placed);
  });
}

}  // namespace wendrix
