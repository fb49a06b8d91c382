#pragma once

#include <map>
#include <memory>
#include <utility>

#include "dispatch/main_loop.h"

class QSocketNotifier;
class QTimer;

namespace toolkit::qt {

// Runs the main loop inside Qt's event loop on the same thread: a socket
// notifier per fd the main loop waits for (its wake fd among them) and one
// timer for its next due timer, so nothing polls. A quit() of the main loop
// ends Qt's loop. Needs the QCoreApplication to exist; lives while it does.
class QtLoopHost {
 public:
  explicit QtLoopHost(dispatch::MainLoop& loop);
  ~QtLoopHost();
  QtLoopHost(const QtLoopHost&) = delete;
  QtLoopHost& operator=(const QtLoopHost&) = delete;

 private:
  // Runs the main loop's pending work and waits again for what it names.
  void step();

  dispatch::MainLoop& loop_;
  std::map<std::pair<int, unsigned>, std::unique_ptr<QSocketNotifier>> notifiers_;
  std::unique_ptr<QTimer> timer_;
  bool stepping_ = false;
};

}  // namespace toolkit::qt
