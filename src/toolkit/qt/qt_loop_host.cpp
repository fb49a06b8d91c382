#include "toolkit/qt/qt_loop_host.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <chrono>

namespace toolkit::qt {

QtLoopHost::QtLoopHost(dispatch::MainLoop& loop) : loop_(loop), timer_(std::make_unique<QTimer>()) {
  timer_->setSingleShot(true);
  timer_->setTimerType(Qt::PreciseTimer);
  QObject::connect(timer_.get(), &QTimer::timeout, [this] { step(); });
  loop_.setHosted();
  step();
}

QtLoopHost::~QtLoopHost() = default;

void QtLoopHost::step() {
  // A task may run a nested Qt loop (a modal dialog) whose notifiers call
  // back here; the outer pass will look again when it is done.
  if (stepping_) return;
  stepping_ = true;
  const auto waits = loop_.runPending();
  stepping_ = false;
  // exit(), not quit(): quit() first asks every window to close, which
  // windows that only hide on close refuse.
  if (waits.quit) QCoreApplication::exit(0);

  std::map<std::pair<int, unsigned>, std::unique_ptr<QSocketNotifier>> next;
  for (const auto& key : waits.fds) {
    for (unsigned type : {dispatch::MainLoop::kReadable, dispatch::MainLoop::kWritable}) {
      if (!(key.second & type)) continue;
      const std::pair<int, unsigned> id{key.first, type};
      if (auto it = notifiers_.find(id); it != notifiers_.end()) {
        next.emplace(id, std::move(it->second));
        continue;
      }
      auto notifier = std::make_unique<QSocketNotifier>(
          key.first,
          type == dispatch::MainLoop::kReadable ? QSocketNotifier::Read : QSocketNotifier::Write);
      QObject::connect(notifier.get(), &QSocketNotifier::activated, [this] { step(); });
      next.emplace(id, std::move(notifier));
    }
  }
  // Notifiers of fds no longer watched go; their fds may be closed already.
  for (auto& [id, notifier] : notifiers_)
    if (notifier) notifier->setEnabled(false);
  notifiers_ = std::move(next);

  using std::chrono::milliseconds;
  if (waits.busy) {
    timer_->start(0);
  } else if (waits.nextTimer && *waits.nextTimer != dispatch::SteadyTime::max()) {
    const auto left = *waits.nextTimer - std::chrono::steady_clock::now();
    // Rounded up, so the timer is due when Qt wakes.
    const auto ms = std::chrono::ceil<milliseconds>(std::max(left, dispatch::Duration::zero()));
    timer_->start(static_cast<int>(std::min<milliseconds::rep>(ms.count(), 24L * 3600 * 1000)));
  } else {
    timer_->stop();
  }
}

}  // namespace toolkit::qt
