#include "engine/window_placer.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "analytics/track.h"
#include "engine/activation_queue.h"
#include "engine/capture.h"
#include "engine/display_matching.h"
#include "rx/hand_written.h"
#include "rx/single.h"
#include "winsys/errors.h"
#include "winsys/promise_single.h"

namespace wendrix {

using rx::Unit;
using winsys::Promise;
using winsys::WindowPtr;

namespace {

// A failed un-minimize (not a cancellation) is reported with the window's
// title and document anonymized.
void reportUnminimizeFailure(const WindowPtr& window, const base::Error& error) {
  Track::errorWithLocation(error, error_location::kActionsUpdateMinimized000,
                           {{window->title(), std::string(placeholders::kWindowTitle)},
                            {window->document(), std::string(placeholders::kWindowDoc)}});
}

// One window to place: the live window, its frame, and what a cancelled
// write is reported with.
struct PlannedWindow {
  WindowPtr window;
  winsys::Rect frame;
  std::string title;
  std::optional<std::string> doc;
};

// One subscription of `restoreWindows`: the writes of every planned window,
// then the activation. It is also the state of the subscription's handle.
class Placement final : public rx::Disposable::Target {
 public:
  // `activationQueue` is the placer's: valid while the placer is.
  Placement(std::shared_ptr<const std::vector<PlannedWindow>> plan, rx::AnyObserver<Unit> observer,
            std::weak_ptr<const WindowPlacer> placer, ActivationQueue* activationQueue,
            std::optional<std::string> bundleId, std::int32_t pid)
      : plan_(std::move(plan)),
        observer_(std::move(observer)),
        placer_(std::move(placer)),
        activationQueue_(activationQueue),
        bundleId_(std::move(bundleId)),
        pid_(pid),
        remaining_(plan_->size()) {}

  // Starts every window's writes in plan order; with none, goes on to the
  // activation at once.
  static void start(const std::shared_ptr<Placement>& self) {
    if (self->remaining_ == 0) {
      self->placedAll();
      return;
    }
    for (std::size_t i = 0; i < self->plan_->size(); ++i)
      place(self, i);
  }

 protected:
  void disposeOnce() override {
    disposed_ = true;
    observer_ = rx::AnyObserver<Unit>();
    activation_.dispose();
  }

 private:
  // Writes the frame (a failure is ignored), then un-minimizes (a failure is
  // reported); a cancellation of either write ends the window's placement
  // with that error. The outcome arrives one queue turn after the last
  // write's handler, as a promise settled there would deliver it.
  static void place(const std::shared_ptr<Placement>& self, std::size_t index) {
    const WindowPtr& window = (*self->plan_)[index].window;
    const Promise<winsys::Rect> written = window->setFrame((*self->plan_)[index].frame);
    dispatch::Queue* queue = &written.queue();
    written.done([self, index, queue](const base::Result<winsys::Rect>& framed) {
      if (!framed.ok() && winsys::PromiseCancelled::is(framed.error())) {
        settle(self, index, *queue, framed.error());
        return;
      }
      (*self->plan_)[index].window->setMinimized(false).done(
          [self, index, queue](const base::Result<bool>& restored) {
            if (!restored.ok()) {
              if (winsys::PromiseCancelled::is(restored.error())) {
                settle(self, index, *queue, restored.error());
                return;
              }
              reportUnminimizeFailure((*self->plan_)[index].window, restored.error());
            }
            settle(self, index, *queue, std::nullopt);
          });
    });
  }

  // A window's placement ended. Its outcome counts one queue turn later, as
  // a promise settled here would deliver it; only a cancellation and the
  // last outcome have anything to do then, so only they take that turn.
  static void settle(const std::shared_ptr<Placement>& self, std::size_t index,
                     dispatch::Queue& queue, std::optional<base::Error> cancelled) {
    const bool last = --self->remaining_ == 0;
    if (!cancelled && !last) return;
    queue.async([self, index, cancelled = std::move(cancelled), last] {
      if (self->disposed_) return;
      if (cancelled) {
        // The replacements are made only when there is an error to report.
        const PlannedWindow& planned = (*self->plan_)[index];
        Track::errorWithLocation(*cancelled, error_location::kActionsRestoreWindow000,
                                 {{planned.title, std::string(placeholders::kWindowTitle)},
                                  {planned.doc, std::string(placeholders::kWindowDoc)}});
      }
      if (last) self->placedAll();
    });
  }

  // Every window is placed: the application is queued to come to the front.
  void placedAll() {
    const auto placer = placer_.lock();
    if (!placer || !bundleId_) {
      const rx::AnyObserver<Unit> observer = observer_;
      observer.onNext({});
      observer.onCompleted();
      return;
    }
    activation_.set(
        activationQueue_->activateApp(*bundleId_, pid_).asObservable().subscribe(observer_));
  }

  std::shared_ptr<const std::vector<PlannedWindow>> plan_;
  rx::AnyObserver<Unit> observer_;
  std::weak_ptr<const WindowPlacer> placer_;
  ActivationQueue* activationQueue_;
  std::optional<std::string> bundleId_;
  std::int32_t pid_;
  std::size_t remaining_;
  rx::SerialSlot activation_;
  bool disposed_ = false;
};

}  // namespace

WindowPlacer::WindowPlacer(std::shared_ptr<ActivationQueue> activationQueue)
    : activationQueue_(std::move(activationQueue)) {}

rx::Single<Unit> WindowPlacer::restoreWindows(const MatchedWindows& matched, const IApp& app) {
  if (matched.empty()) return rx::Single<Unit>::just({});
  const WindowPtr& first = matched.front().window;
  const winsys::ApplicationPtr owner = first ? first->application() : nullptr;
  const std::int32_t pid = owner ? owner->processIdentifier() : 0;

  auto plan = std::make_shared<std::vector<PlannedWindow>>();
  plan->reserve(matched.size());
  for (const auto& pair : matched) {
    if (!pair.window) continue;  // nothing to place
    // A single pair without a document stands for the application's main
    // window when one was saved.
    const Rect& frame = matched.size() == 1 && !pair.target.doc && app.mainWindow
                            ? app.mainWindow->rect
                            : pair.target.rect;
    plan->push_back({pair.window, toWindowRect(frame), pair.target.title, pair.target.doc});
  }

  // One state per subscription rather than an operator chain per window.
  std::weak_ptr<const WindowPlacer> weak = weak_from_this();
  return rx::singleOf(rx::Observable<Unit>(
      [plan = std::shared_ptr<const std::vector<PlannedWindow>>(std::move(plan)), weak,
       queue = activationQueue_.get(), bundleId = app.bundleId,
       pid](const rx::AnyObserver<Unit>& o) {
        auto placement = std::make_shared<Placement>(plan, o, weak, queue, bundleId, pid);
        Placement::start(placement);
        return rx::Disposable::of(placement);
      }));
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
        reportUnminimizeFailure(window, restored.error());
        resolver.fulfill({});
      });
    });
    return winsys::toSingle(placed);
  });
}

}  // namespace wendrix
