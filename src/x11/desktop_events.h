#pragma once

// The notifications of the X11 desktop, in the order its changes happened:
// sent at once, or, from inside a write call, queued on the loop so that the
// caller's code is not re-entered.

#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "dispatch/main_loop.h"
#include "winsys/event_notifier.h"

namespace wendrix::x11::detail {

// Main thread only.
class DesktopEvents final : public std::enable_shared_from_this<DesktopEvents> {
 public:
  explicit DesktopEvents(dispatch::MainLoop& loop) : loop_(loop) {}

  // Where the events go; none is sent before one is set.
  void setNotifier(winsys::EventNotifier& notifier) { notifier_ = &notifier; }
  // While the first state is read, its windows and applications are not
  // announced.
  void setLoading(bool loading) { loading_ = loading; }

  template <class E, class S>
  void emit(S subject) {
    if (notifier_ && !loading_) notifier_->notify(E(std::move(subject)));
  }
  // From inside a write call, where the caller's code must not be re-entered:
  // the event goes out from the loop soon, and before anything the server or
  // a process reports from now on (a drain of the connection may be queued on
  // the loop already).
  template <class E, class S>
  void emitLater(S subject) {
    deferred_.push_back([this, subject = std::move(subject)] { emit<E>(subject); });
    loop_.async([weak = weak_from_this()] {
      if (auto self = weak.lock()) self->emitDeferred();
    });
  }
  // Sends the events queued by emitLater; called before each new report.
  void emitDeferred();

 private:
  dispatch::MainLoop& loop_;
  winsys::EventNotifier* notifier_ = nullptr;
  bool loading_ = false;
  std::vector<std::function<void()>> deferred_;
};

}  // namespace wendrix::x11::detail
