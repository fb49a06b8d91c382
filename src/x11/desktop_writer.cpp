#include "x11/desktop_writer.h"

#include <signal.h>
#include <unistd.h>

#include <cmath>

#include "platform/xconn/ewmh.h"
#include "winsys/errors.h"
#include "x11/desktop.h"

namespace wendrix::x11::detail {

using winsys::Promise;
using winsys::Rect;
using winsys::WindowSystemError;
using winsys::WindowSystemErrorCode;

Promise<Rect> DesktopWriter::setFrame(XWindow& w, Rect frame) {
  auto [promise, resolver] = Promise<Rect>::pending(desktop_.queue());
  if (!w.alive || desktop_.conn_->broken()) {
    resolver.reject(gone());
    return promise;
  }
  const Rect target{std::round(frame.x), std::round(frame.y), std::round(frame.width),
                    std::round(frame.height)};
  // X coordinates are 16-bit signed, sizes 16-bit unsigned.
  auto fits = [](double v, double lo, double hi) { return std::isfinite(v) && v >= lo && v <= hi; };
  if (!fits(target.x, -32768, 32767) || !fits(target.y, -32768, 32767) ||
      !fits(target.width, 1, 32767) || !fits(target.height, 1, 32767)) {
    resolver.reject(base::Error(std::string(WindowSystemError::kDomain),
                                static_cast<std::int64_t>(WindowSystemErrorCode::failed),
                                "The frame is outside what the window system can set."));
    return promise;
  }
  if (w.minimized) {
    // Window managers may ignore a configure request while a window is
    // iconic, so the frame is applied again when it is shown.
    const Rect before = w.frame();
    w.pendingFrame = target;
    if (before != target)
      desktop_.events_->emitLater<winsys::WindowFrameChangedEvent>(w.shared_from_this());
    sendMoveResize(w, target);
    desktop_.conn_->flush();
    resolver.fulfill(target);
    return promise;
  }
  // A new frame replaces one still being applied after de-iconifying.
  if (w.reapplying) w.pendingFrame = target;
  if (w.frame_ == target && !w.written && desktop_.properties_.frame(w.xid) == target) {
    // Nothing to move: a request would only risk the window manager's
    // rounding. The server is asked, as the window may have moved since the
    // last event was read.
    if (w.reapplying) finishReapply(w);
    resolver.fulfill(target);
    return promise;
  }
  sendMoveResize(w, target);
  desktop_.conn_->flush();
  w.frameWaits.add(desktop_.queue(), desktop_.options_.writeTimeout, target, resolver,
                   [weak = desktop_.weak_from_this(), win = w.weak_from_this()](auto& wait) {
                     auto self = weak.lock();
                     auto window = win.lock();
                     if (!self || !window) return;
                     // `written` stays: a window manager slower than the
                     // time-out may still place the window, shifted by the
                     // client's border, and the frame is corrected then.
                     self->refreshFrame(*window);
                     if (window->frame() == wait.target) {
                       wait.resolver.fulfill(wait.target);
                     } else {
                       wait.resolver.reject(refused());
                     }
                     self->conn_->flush();
                   });
  return promise;
}

Promise<bool> DesktopWriter::setMinimized(XWindow& w, bool minimized) {
  auto [promise, resolver] = Promise<bool>::pending(desktop_.queue());
  if (!w.alive || desktop_.conn_->broken()) {
    resolver.reject(gone());
    return promise;
  }
  if (w.minimized == minimized && !(!minimized && w.reapplying)) {
    resolver.fulfill(minimized);
    return promise;
  }
  if (w.minimized != minimized) {
    if (minimized) {
      XIconifyWindow(desktop_.display_, w.xid, DefaultScreen(desktop_.display_));
    } else {
      // Mapping an iconic window asks the window manager to show it.
      XMapWindow(desktop_.display_, w.xid);
    }
  }
  desktop_.conn_->flush();
  w.minimizedWaits.add(desktop_.queue(), desktop_.options_.writeTimeout, minimized, resolver,
                       [weak = desktop_.weak_from_this(), win = w.weak_from_this()](auto& wait) {
                         auto self = weak.lock();
                         auto window = win.lock();
                         if (!self || !window) return;
                         self->refreshMinimized(*window);
                         if (window->minimized == wait.target && !window->reapplying) {
                           wait.resolver.fulfill(wait.target);
                         } else {
                           wait.resolver.reject(refused());
                         }
                         self->conn_->flush();
                       });
  return promise;
}

base::Status DesktopWriter::close(XWindow& w) {
  if (!w.alive || desktop_.conn_->broken()) return gone();
  if (!w.closable) return WindowSystemError::make(WindowSystemErrorCode::cannotClose);
  xconn::sendRootMessage(*desktop_.conn_, w.xid, desktop_.atoms_.netCloseWindow,
                         {static_cast<long>(CurrentTime), 2});
  desktop_.conn_->flush();
  return {};
}

Promise<bool> DesktopWriter::setHidden(XApplication& app, bool hidden) {
  auto [promise, resolver] = Promise<bool>::pending(desktop_.queue());
  if (!app.running || desktop_.conn_->broken()) {
    resolver.reject(gone());
    return promise;
  }
  if (!hidden) {
    if (app.hidden) unhide(app, /*later=*/true);
    resolver.fulfill(false);
    return promise;
  }
  if (app.hidden && !app.hiding) {
    resolver.fulfill(true);
    return promise;
  }
  if (!app.hidden) {
    app.hidden = true;
    app.hiding = true;
    // Queued before anything the requests bring in, so it comes first.
    desktop_.events_->emitLater<winsys::ApplicationIsHiddenChangedEvent>(app.shared_from_this());
    for (const auto& w : app.windows) {
      if (w->minimized) continue;
      app.hiddenByUs.push_back(w->xid);
      XIconifyWindow(desktop_.display_, w->xid, DefaultScreen(desktop_.display_));
    }
    desktop_.conn_->flush();
  }
  app.hideWaits.add(desktop_.queue(), desktop_.options_.writeTimeout, true, resolver,
                    [weak = desktop_.weak_from_this(), weakApp = app.weak_from_this()](auto& wait) {
                      auto self = weak.lock();
                      auto a = weakApp.lock();
                      if (!self || !a) return;
                      if (self->writer_.allHiddenIconic(*a)) {
                        wait.resolver.fulfill(true);
                      } else {
                        wait.resolver.reject(refused());
                      }
                      if (a->hideWaits.empty()) a->hiding = false;
                      self->conn_->flush();
                    });
  settleHide(app);
  return promise;
}

void DesktopWriter::quit(XApplication& app) {
  for (std::int32_t pid : app.pids) {
    if (pid > 0 && pid != ::getpid()) ::kill(pid, SIGTERM);
  }
}

void DesktopWriter::sendMoveResize(XWindow& w, const Rect& r) {
  // Static gravity: x and y place the client area itself. Source: a pager.
  constexpr long kFlags =
      StaticGravity | (1L << 8) | (1L << 9) | (1L << 10) | (1L << 11) | (2L << 12);
  const long offset = w.placementOffset.value_or(0);
  w.written = r;
  xconn::sendRootMessage(*desktop_.conn_, w.xid, desktop_.atoms_.netMoveresizeWindow,
                         {kFlags, static_cast<long>(r.x) - offset, static_cast<long>(r.y) - offset,
                          static_cast<long>(r.width), static_cast<long>(r.height)});
}

bool DesktopWriter::correctPlacement(XWindow& w) {
  // X borders are small; a larger shift is the window manager's own choice.
  constexpr double kMaxBorder = 64;
  if (!w.written || w.placementOffset || w.minimized) return false;
  const Rect& target = *w.written;
  const double dx = w.frame_.x - target.x;
  const double dy = w.frame_.y - target.y;
  if (w.frame_.width != target.width || w.frame_.height != target.height || dx != dy || dx <= 0 ||
      dx > kMaxBorder) {
    return false;
  }
  w.placementOffset = static_cast<int>(dx);
  sendMoveResize(w, target);
  desktop_.conn_->flush();
  return true;
}

// Shown again with a frame written while minimized: unless the window has it
// already, the frame is sent once more, and the window counts as shown only
// once it has come back (or the time-out has passed).
void DesktopWriter::reapplyFrame(XWindow& w) {
  desktop_.refreshFrame(w);
  if (w.pendingFrame == w.frame_) {
    w.pendingFrame.reset();
    return;
  }
  sendMoveResize(w, *w.pendingFrame);
  desktop_.conn_->flush();
  w.reapplying = true;
  w.reapplyTimer = desktop_.queue().after(
      desktop_.options_.writeTimeout, [weak = desktop_.weak_from_this(), win = w.weak_from_this()] {
        auto self = weak.lock();
        auto x = win.lock();
        if (!self || !x || !x->reapplying) return;
        self->refreshFrame(*x);
        if (x->reapplying) {
          const Rect before = x->frame();
          x->reapplying = false;
          x->pendingFrame.reset();
          if (x->frame() != before) {
            self->events_->emit<winsys::WindowFrameChangedEvent>(winsys::WindowPtr(x));
          }
          self->writer_.settleMinimized(*x);
        }
        self->conn_->flush();
      });
}

void DesktopWriter::finishReapply(XWindow& w) {
  w.reapplying = false;
  w.pendingFrame.reset();
  w.reapplyTimer.cancel();
  settleMinimized(w);
}

void DesktopWriter::settleMinimized(XWindow& w) {
  w.minimizedWaits.settleIf(
      [&](bool target) { return target == w.minimized && !(!target && w.reapplying); },
      base::Result<bool>(w.minimized));
}

bool DesktopWriter::allHiddenIconic(const XApplication& app) const {
  for (::Window xid : app.hiddenByUs) {
    auto w = desktop_.find(xid);
    if (w && !w->minimized) return false;
  }
  return true;
}

void DesktopWriter::settleHide(XApplication& app) {
  if (!app.hiding || !allHiddenIconic(app)) return;
  app.hiding = false;
  app.hideWaits.settleAll(base::Result<bool>(true));
}

// Clears the hidden flag and shows the windows the hide iconified.
void DesktopWriter::unhide(XApplication& app, bool later) {
  app.hidden = false;
  app.hiding = false;
  app.hideWaits.settleAll(base::Result<bool>(refused()));
  if (later) {
    desktop_.events_->emitLater<winsys::ApplicationIsHiddenChangedEvent>(app.shared_from_this());
  } else {
    desktop_.events_->emit<winsys::ApplicationIsHiddenChangedEvent>(
        winsys::ApplicationPtr(app.shared_from_this()));
  }
  for (::Window xid : app.hiddenByUs) {
    auto w = desktop_.find(xid);
    if (w && w->minimized) XMapWindow(desktop_.display_, xid);
  }
  app.hiddenByUs.clear();
  desktop_.conn_->flush();
}

}  // namespace wendrix::x11::detail
