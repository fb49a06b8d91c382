#include "dispatch/main_loop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace dispatch {

struct WatchRegistry {
  struct Watch {
    int fd;
    unsigned events;
    std::shared_ptr<MainLoop::WatchCallback> callback;
  };

  std::shared_ptr<MainLoop::WatchCallback> find(std::uint64_t id) {
    std::lock_guard lock(mutex);
    auto it = watches.find(id);
    return it == watches.end() ? nullptr : it->second.callback;
  }

  void remove(std::uint64_t id) {
    std::shared_ptr<MainLoop::WatchCallback> doomed;  // destroyed after the lock is released
    std::lock_guard lock(mutex);
    auto it = watches.find(id);
    if (it == watches.end()) return;
    doomed = std::move(it->second.callback);
    watches.erase(it);
    // A host waits on the watched fds: tell it the set changed.
    if (hostWakeFd >= 0) {
      const std::uint64_t one = 1;
      [[maybe_unused]] const ssize_t written = ::write(hostWakeFd, &one, sizeof one);
    }
  }

  std::mutex mutex;
  std::map<std::uint64_t, Watch> watches;  // keyed by id, so in the order added
  std::uint64_t nextId = 1;
  int hostWakeFd = -1;  // the loop's wake fd once hosted
};

namespace {

short toPoll(unsigned events) {
  short out = 0;
  if (events & MainLoop::kReadable) out |= POLLIN;
  if (events & MainLoop::kWritable) out |= POLLOUT;
  return out;
}

unsigned fromPoll(short revents) {
  unsigned out = 0;
  if (revents & (POLLIN | POLLPRI)) out |= MainLoop::kReadable;
  if (revents & POLLOUT) out |= MainLoop::kWritable;
  if (revents & POLLHUP) out |= MainLoop::kHangup;
  if (revents & (POLLERR | POLLNVAL)) out |= MainLoop::kError;
  return out;
}

timespec toTimespec(Duration d) {
  const auto ns = std::max<Duration::rep>(d.count(), 0);
  return timespec{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

}  // namespace

WatchHandle::WatchHandle(WatchHandle&& other) noexcept
    : registry_(std::move(other.registry_)), id_(std::exchange(other.id_, 0)) {}

WatchHandle& WatchHandle::operator=(WatchHandle&& other) noexcept {
  if (this != &other) {
    cancel();
    registry_ = std::move(other.registry_);
    id_ = std::exchange(other.id_, 0);
  }
  return *this;
}

void WatchHandle::cancel() {
  if (auto registry = registry_.lock()) registry->remove(id_);
  registry_.reset();
  id_ = 0;
}

bool WatchHandle::active() const {
  auto registry = registry_.lock();
  return registry && registry->find(id_) != nullptr;
}

base::Result<std::unique_ptr<MainLoop>> MainLoop::create() {
  const int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    return base::Error("dispatch", err,
                       std::string("cannot create the main loop's eventfd: ") + std::strerror(err));
  }
  return std::unique_ptr<MainLoop>(new MainLoop(fd));
}

MainLoop::MainLoop(int wakeFd)
    : wakeFd_(wakeFd),
      owner_(std::this_thread::get_id()),
      watches_(std::make_shared<WatchRegistry>()) {}

MainLoop::~MainLoop() {
  // Pending tasks are destroyed outside the lock; their captures may post
  // again while being destroyed, hence the loop.
  for (;;) {
    std::deque<Posted> posted;
    std::vector<Task> timers;
    {
      std::lock_guard lock(mutex_);
      posted.swap(posted_);
      timers_.clear(timers);
    }
    if (posted.empty() && timers.empty()) break;
  }
  ::close(wakeFd_);
}

void MainLoop::async(Task task) {
  {
    std::lock_guard lock(mutex_);
    posted_.push_back(Posted{sequence_++, std::move(task)});
  }
  // On the loop's own thread the queue is looked at before the next poll.
  wakeIfNeeded();
}

TimerHandle MainLoop::after(Duration delay, Task task) {
  TimerHandle handle;
  {
    std::lock_guard lock(mutex_);
    handle = timers_.add(dueAfter(delay), std::move(task));
  }
  wakeIfNeeded();
  return handle;
}

const Clock& MainLoop::clock() const {
  return SystemClock::instance();
}

WatchHandle MainLoop::watch(int fd, unsigned events, WatchCallback callback) {
  std::uint64_t id;
  {
    std::lock_guard lock(watches_->mutex);
    id = watches_->nextId++;
    watches_->watches.emplace(
        id, WatchRegistry::Watch{fd, events, std::make_shared<WatchCallback>(std::move(callback))});
  }
  wakeIfNeeded();
  return WatchHandle(watches_, id);
}

void MainLoop::run() {
  loop(nullptr, std::nullopt);
}

bool MainLoop::runUntil(const std::function<bool()>& done, Duration timeout) {
  return loop(&done, dueAfter(timeout)) || done();
}

void MainLoop::quit() {
  {
    std::lock_guard lock(mutex_);
    if (!quitRequested_) {
      quitRequested_ = true;
      quitBefore_ = sequence_;
    }
  }
  if (!isCurrentThread()) wake();
}

std::optional<Task> MainLoop::popRunnable() {
  std::lock_guard lock(mutex_);
  if (posted_.empty()) return std::nullopt;
  if (quitRequested_ && posted_.front().sequence >= quitBefore_) return std::nullopt;
  Task task = std::move(posted_.front().task);
  posted_.pop_front();
  return task;
}

MainLoop::QuitState MainLoop::quitState() {
  std::lock_guard lock(mutex_);
  if (!quitRequested_) return QuitState::none;
  if (!posted_.empty() && posted_.front().sequence < quitBefore_) return QuitState::draining;
  quitRequested_ = false;
  return QuitState::done;
}

void MainLoop::wake() {
  const std::uint64_t one = 1;
  // Fails only when the counter is about to overflow, and then a wake-up is
  // pending anyway.
  [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

void MainLoop::drainWakeFd() {
  std::uint64_t count;
  [[maybe_unused]] const ssize_t got = ::read(wakeFd_, &count, sizeof count);
}

void MainLoop::setHosted() {
  {
    std::lock_guard lock(watches_->mutex);
    watches_->hostWakeFd = wakeFd_;
  }
  hosted_.store(true);
  owner_.store(std::this_thread::get_id());
  wake();
}

MainLoop::HostWaits MainLoop::runPending() {
  HostWaits waits;
  if (running_.exchange(true)) return waits;
  owner_.store(std::this_thread::get_id());
  const std::function<bool()> never = [] { return false; };
  drainWakeFd();
  runQueued(never);
  const timespec now{0, 0};
  pollWatches(&now, never);
  running_.store(false);

  waits.quit = quitState() == QuitState::done;
  std::tie(waits.busy, waits.nextTimer) = nextWork();
  waits.fds.emplace_back(wakeFd_, kReadable);
  std::lock_guard lock(watches_->mutex);
  for (const auto& [id, w] : watches_->watches)
    waits.fds.emplace_back(w.fd, w.events);
  return waits;
}

bool MainLoop::runQueued(const std::function<bool()>& satisfied) {
  // Timers now due join the queue; this pass runs what is queued now.
  std::size_t budget;
  {
    std::vector<Task> due;
    std::lock_guard lock(mutex_);
    timers_.takeDue(std::chrono::steady_clock::now(), due);
    for (Task& task : due)
      posted_.push_back(Posted{sequence_++, std::move(task)});
    budget = posted_.size();
  }
  for (; budget > 0; --budget) {
    std::optional<Task> task = popRunnable();
    if (!task) break;
    (*task)();
    task.reset();
    if (satisfied()) return true;
  }
  return false;
}

std::pair<bool, std::optional<SteadyTime>> MainLoop::nextWork() {
  std::vector<Task> cancelled;  // destroyed after the lock is released
  std::lock_guard lock(mutex_);
  return {!posted_.empty(), timers_.nextDue(cancelled)};
}

bool MainLoop::pollWatches(const timespec* timeout, const std::function<bool()>& satisfied) {
  std::vector<pollfd> fds{pollfd{wakeFd_, POLLIN, 0}};
  std::vector<std::uint64_t> ids;
  {
    std::lock_guard lock(watches_->mutex);
    for (const auto& [id, w] : watches_->watches) {
      fds.push_back(pollfd{w.fd, toPoll(w.events), 0});
      ids.push_back(id);
    }
  }
  // Errors (EINTR, a transient ENOMEM) just start the next pass.
  if (::ppoll(fds.data(), fds.size(), timeout, nullptr) <= 0) return false;
  if (fds[0].revents != 0) drainWakeFd();
  for (std::size_t i = 1; i < fds.size(); ++i) {
    if (fds[i].revents == 0) continue;
    const std::uint64_t id = ids[i - 1];
    // A callback run earlier in this pass may have removed this watch.
    auto callback = watches_->find(id);
    if (!callback) continue;
    if (fds[i].revents & POLLNVAL) watches_->remove(id);
    (*callback)(fromPoll(fds[i].revents));
    if (satisfied()) return true;
  }
  return false;
}

bool MainLoop::loop(const std::function<bool()>* done, std::optional<SteadyTime> deadline) {
  const std::function<bool()> satisfied = [done] { return done != nullptr && (*done)(); };
  if (running_.exchange(true)) return satisfied();
  owner_.store(std::this_thread::get_id());

  bool stopped = satisfied();
  while (!stopped) {
    if ((stopped = runQueued(satisfied))) break;
    const QuitState quit = quitState();
    if (quit == QuitState::done) break;
    if (quit == QuitState::draining) continue;

    auto [busy, wakeAt] = nextWork();
    const SteadyTime now = std::chrono::steady_clock::now();
    if (deadline) {
      if (now >= *deadline) break;
      if (!wakeAt || *deadline < *wakeAt) wakeAt = deadline;
    }
    timespec timeout{0, 0};
    const timespec* timeoutPtr = &timeout;
    if (!busy) {
      if (wakeAt && *wakeAt != SteadyTime::max())
        timeout = toTimespec(*wakeAt - now);
      else
        timeoutPtr = nullptr;  // nothing to wait for but fds and posts
    }
    stopped = pollWatches(timeoutPtr, satisfied);
  }
  running_.store(false);
  return stopped;
}

}  // namespace dispatch
